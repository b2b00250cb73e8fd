#include "desktop/QtLoop.h"

#include <QCoreApplication>
#include <QDate>
#include <QDateTime>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>

#include "toolkit/DateTime.h"

namespace vantor::desktop {

struct QtLoop::Timer {
    QTimer* timer = nullptr; // owned by the agent until deleted
    std::shared_ptr<Task> task;
};

struct QtLoop::Watch {
    int fd = -1;
    unsigned events = 0;
    std::shared_ptr<IoHandler> handler;
    QSocketNotifier* read = nullptr;
    QSocketNotifier* write = nullptr;
};

namespace {

// Deleted later, not now: a timer or notifier may be stopped from inside its
// own signal, and Qt must not lose the object it is emitting from.
void Retire(QObject* object) {
    if (!object) return;
    object->disconnect();
    if (auto* timer = qobject_cast<QTimer*>(object)) timer->stop();
    if (auto* notifier = qobject_cast<QSocketNotifier*>(object)) notifier->setEnabled(false);
    object->deleteLater();
}

} // namespace

QtLoop::QtLoop(ReadinessProbe probe)
    : LoopCore([this] {
          // Only post the call, never run it here: the hook runs on any thread.
          QMetaObject::invokeMethod(
              agent_.get(), [this] { serve(); }, Qt::QueuedConnection);
      }),
      probe_(std::move(probe)), agent_(std::make_unique<QObject>()) {}

QtLoop::~QtLoop() {
    tasks_.end();
    for (auto& [h, t] : timers_) Retire(t->timer);
    for (auto& [h, w] : watches_) {
        Retire(w->read);
        Retire(w->write);
    }
    // Queued calls to the agent die with it.
    agent_.reset();
}

void QtLoop::serve() {
    tasks_.runBatch([this] { return stopping(); });
    if (stopping()) QCoreApplication::exit(exitCode());
}

EventLoop::Handle QtLoop::startTimer(std::uint32_t intervalMs, Task onFire) {
    const Handle h = newHandle();
    auto t = std::make_unique<Timer>();
    t->task = std::make_shared<Task>(std::move(onFire));
    t->timer = new QTimer(agent_.get());
    // Precise: ties and order as the other loops keep them, not rounded to
    // coarse slots that could reorder timers of different periods.
    t->timer->setTimerType(Qt::PreciseTimer);
    t->timer->setInterval(static_cast<int>(std::max<std::uint32_t>(intervalMs, 1)));
    std::shared_ptr<Task> task = t->task;
    QObject::connect(t->timer, &QTimer::timeout, agent_.get(), [this, task] {
        if (stopping()) return;
        if (*task) tasks_.guarded(*task);
    });
    t->timer->start();
    timers_[h] = std::move(t);
    return h;
}

void QtLoop::stopTimer(Handle timer) {
    auto it = timers_.find(timer);
    if (it == timers_.end()) return;
    Retire(it->second->timer);
    timers_.erase(it);
}

EventLoop::Handle QtLoop::watchFd(int fd, unsigned events, IoHandler handler) {
    const Handle h = newHandle();
    auto w = std::make_unique<Watch>();
    w->fd = fd;
    w->events = events;
    w->handler = std::make_shared<IoHandler>(std::move(handler));
    w->read = new QSocketNotifier(fd, QSocketNotifier::Read, agent_.get());
    w->write = new QSocketNotifier(fd, QSocketNotifier::Write, agent_.get());
    QObject::connect(w->read, &QSocketNotifier::activated, agent_.get(),
                     [this, h] { deliver(h, true); });
    QObject::connect(w->write, &QSocketNotifier::activated, agent_.get(),
                     [this, h] { deliver(h, false); });
    applyWatch(*w);
    watches_[h] = std::move(w);
    return h;
}

void QtLoop::applyWatch(Watch& w) {
    w.read->setEnabled((w.events & Readable) != 0);
    w.write->setEnabled((w.events & Writable) != 0);
}

void QtLoop::setWatchEvents(Handle watch, unsigned events) {
    auto it = watches_.find(watch);
    if (it == watches_.end()) return;
    it->second->events = events;
    applyWatch(*it->second);
}

void QtLoop::unwatchFd(Handle watch) {
    auto it = watches_.find(watch);
    if (it == watches_.end()) return;
    Retire(it->second->read);
    Retire(it->second->write);
    watches_.erase(it);
}

void QtLoop::deliver(Handle watch, bool readSide) {
    if (stopping()) return;
    auto it = watches_.find(watch);
    if (it == watches_.end()) return;
    Watch& w = *it->second;
    const unsigned always = Error | HangUp;
    unsigned events = readSide ? Readable : Writable;
    if (probe_) {
        const unsigned seen = probe_(w.fd);
        // Hang-up and error ride with the read side when the watch reads,
        // else with the write side, so they are told once per pass.
        const bool carriesErrors = readSide || !(w.events & Readable);
        events = seen & ((readSide ? Readable : Writable) | (carriesErrors ? always : 0u));
    }
    events &= (w.events | always);
    if (events == 0) return;
    std::shared_ptr<IoHandler> keep = w.handler; // the handler may remove its own watch
    if (*keep) tasks_.guarded([&] { (*keep)(events); });
}

void QtLoop::processEvents() {
    tasks_.runBatch([this] { return stopping(); });
    if (stopping()) return;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

int QtLoop::run() {
    return runOnThisThread([this] {
        if (quitRequested()) return;
        // Tasks queued before run() are served by the first pass.
        QMetaObject::invokeMethod(
            agent_.get(), [this] { serve(); }, Qt::QueuedConnection);
        QCoreApplication::exec();
    });
}

double QtLoop::now() const {
    const QDateTime local = QDateTime::currentDateTime();
    const qint64 days = QDate(1899, 12, 30).daysTo(local.date());
    return static_cast<double>(days) +
           static_cast<double>(local.time().msecsSinceStartOfDay()) / MSecsPerDay;
}

} // namespace vantor::desktop
