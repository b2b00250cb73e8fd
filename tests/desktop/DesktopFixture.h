#pragma once
// A Qt loop, the Qt desktop and an application on them, for the view's
// tests; WhenBlocked() plays the user in the next modal window (dialog or
// message box) once it is on the screen.
#include <QApplication>
#include <QKeyEvent>
#include <QtTest/QTest>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>

#include "desktop/FormView.h"
#include "desktop/QtDesktop.h"
#include "desktop/QtLoop.h"
#include "platform/PollLoop.h"
#include "toolkit/Forms.h"

namespace vantor::test {

// Types text as a keyboard would, letters outside ASCII included (QTest's
// key clicks take Latin-1 keys only).
inline void TypeText(QWidget* widget, const QString& text) {
    for (QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &release);
    }
}

// Clicks a check box on its box, as a user does.
inline void ClickBox(QWidget* box) {
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
}

class DesktopFixture : public ::testing::Test {
protected:
    desktop::QtLoop loop{&PollLoop::Readiness};
    desktop::QtDesktop desktop{loop};
    TApplication app{loop, desktop};

    void WhenBlocked(std::function<void(QWidget&)> play) {
        desktop.BeforeBlockingWindow = [this, play](QWidget& window) {
            QTimer::singleShot(0, &window, [&window, play] { play(window); });
            desktop.BeforeBlockingWindow = nullptr; // destroys this lambda: last
        };
    }
    desktop::FormView* ViewOf(const TForm& form) {
        desktop.FlushViews(); // what the window shows a moment later
        return desktop.ViewOf(form);
    }
    template <class W>
    W* WidgetOf(const TForm& form, const TControl& control) {
        desktop::FormView* view = ViewOf(form);
        return view ? qobject_cast<W*>(view->WidgetOf(control)) : nullptr;
    }
    // The windows as they are a moment after the model changed.
    void Sync() { desktop.FlushViews(); }
    // Serves the loop for about `ms` of real time.
    void Pass(int ms) {
        const auto end = loop.monotonicMs() + ms;
        do {
            loop.processEvents();
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        } while (loop.monotonicMs() < end);
    }
};

} // namespace vantor::test
