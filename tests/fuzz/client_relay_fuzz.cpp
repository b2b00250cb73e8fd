// Fuzz target for the relay's handling of client requests: arbitrary reads on
// a few fake client sockets, through the whole local-answer and queue path of
// ClientRelay (snapshots, accounting records, the reply cache, sending at
// once or queueing), with the exchange's replies, time passing and clients
// leaving in between.  The rest of the gateway is played by small fakes over
// the relay's own interfaces.  Checked: a request goes to the exchange only
// while nothing is outstanding, never empty and never longer than the relay's
// buffer; each client waits in the queue at most once; a reply reaches the
// client it belongs to, whole.
#include <algorithm>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "FuzzInput.h"
#include "Recorders.h"
#include "RelayFakes.h"
#include "accounting/AccountingRecordList.h"
#include "core/RequestQueue.h"
#include "core/Settings.h"
#include "exchange/CommandFormatter.h"
#include "relay/ClientRelay.h"
#include "relay/ReplyCache.h"
#include "toolkit/LogWriter.h"
#include "toolkit/TextSource.h"
#include "toolkit/VirtualLoop.h"

using namespace vantor;
using fuzz::Check;
using test::FakeRelayConnections;
using test::FakeRelaySocket;
using Bytes = std::vector<std::uint8_t>;

namespace {

// The link as the relay hands it requests: one request outstanding, the
// gateway's own request queue for the waiting ones (one per client), the
// next served when the reply comes.
class Link final : public ClientRequestSink {
public:
    void SubmitClientRequest(std::int32_t handle, std::span<const std::uint8_t> r) override {
        Check(!r.empty() && r.size() <= ClientRelay::ReceiveBufferSize, "a request of a bad size");
        if (!awaiting && queue.Empty())
            Send(handle, Bytes(r.begin(), r.end()));
        else
            queue.Enqueue(RequestKind::Client, handle, r);
        Check(queue.Count() <= RequestQueue::Capacity, "the queue grew past its capacity");
    }
    void ClientAskedForLineStates() override {}
    void ClientAskedForSW() override {}

    void Send(std::int32_t handle, Bytes request) {
        Check(!awaiting, "a request sent while one is outstanding");
        outstanding = {handle, std::move(request)};
        awaiting = true;
    }
    // The reply came: the next waiting request goes.
    void Answered() {
        awaiting = false;
        if (queue.Empty()) return;
        RequestQueue::Entry next = queue.TakeNext();
        Check(next.relayed != nullptr, "a client entry without its request");
        Send(next.relayed->socketHandle, next.relayed->bytes);
    }

    bool awaiting = false;
    std::pair<std::int32_t, Bytes> outstanding;
    RequestQueue queue;
};

struct NumberTexts : TextSource {
    std::string Msg(int n) const override { return n % 2 ? std::to_string(n) : std::string(); }
    std::string Text(int n) override { return Msg(n); }
};

Bytes Take(fuzz::FuzzInput& in, std::size_t most) {
    const auto b = in.Bytes(in.Number(0, static_cast<int>(most)));
    return Bytes(b.begin(), b.end());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput in(data, size);
    VirtualLoop loop;
    Settings settings;
    const std::uint8_t switches = in.Byte();
    settings.TCPIP_In = switches & 1;
    settings.TCPIP_Out = (switches >> 1) & 1;
    settings.Com_In = (switches >> 2) & 1;
    settings.Com_Out = (switches >> 3) & 1;
    settings.Com_LocOut = (switches >> 4) & 1;
    settings.ReadUct = (switches >> 5) & 1;
    settings.SendUct = (switches >> 6) & 1;
    test::RecordingLog log;
    NumberTexts texts;
    CommandFormatter formatter(texts);
    ReplyCache cache(in.Byte() % 6, [&loop] { return loop.now(); });
    AccountingRecordList records;
    for (int i = 0, n = in.Byte() % 5; i < n; ++i) records.Add("REC " + std::to_string(i));
    Link link;
    test::FakeRelayStore store;
    store.an = Take(in, 40);
    store.sw = Take(in, 12);
    store.anTime = store.swTime = loop.now();
    FakeRelayConnections connections;
    std::deque<FakeRelaySocket> sockets;
    for (int i = 0; i < 4; ++i) connections.sockets.push_back(&sockets.emplace_back(10 + i));
    ClientRelay relay({loop, settings, settings, log, texts, formatter, cache, records, link, store,
                       connections});

    while (!in.Empty()) {
        // Whether the exchange's picture changes with a client's info or
        // configuration reply (the cached replies are then stale).
        store.changes = in.Flag();
        FakeRelaySocket& client = sockets[in.Byte() % sockets.size()];
        switch (in.Byte() % 6) {
        case 0: // a read notification with what has come in
        case 1: {
            const Bytes bytes = Take(in, 700);
            if (std::find(connections.sockets.begin(), connections.sockets.end(), &client) ==
                connections.sockets.end())
                break; // a client that left sends nothing more
            client.inbox.insert(client.inbox.end(), bytes.begin(), bytes.end());
            client.lengthSkew = in.Byte() % 4 == 0 ? in.Number(-3, 3) : 0;
            relay.ClientRead(client);
            client.inbox.clear(); // the socket layer drops what a handler left unread
            break;
        }
        case 2: { // the exchange answers what is outstanding; the next waiting one goes
            if (!link.awaiting) break;
            const Bytes reply = Take(in, 300);
            const auto [handle, request] = link.outstanding;
            FakeRelaySocket* owner = nullptr;
            for (FakeRelaySocket& s : sockets)
                if (s.Handle() == handle) owner = &s;
            const std::size_t before = owner ? owner->sent.size() : 0;
            const bool delivered =
                owner && std::find(connections.sockets.begin(), connections.sockets.end(), owner) !=
                             connections.sockets.end();
            relay.ReplyToClient(handle, reply, request.front());
            if (delivered && !reply.empty())
                Check(owner->sent.size() == before + 1 && owner->sent.back() == reply,
                      "a reply did not reach its client whole");
            if (!reply.empty() && request.front() == 0) cache.Store(request, reply);
            link.Answered();
            break;
        }
        case 3: loop.advance(in.Number(0, 2000)); break;
        case 4: // a client leaves, and sometimes comes back under the same handle
            std::erase(connections.sockets, &client);
            if (in.Flag()) connections.sockets.push_back(&client);
            break;
        case 5: // a snapshot taken now
            (in.Flag() ? store.anTime : store.swTime) = loop.now();
            break;
        }
        for (const FakeRelaySocket& s : sockets)
            Check(std::none_of(s.sent.begin(), s.sent.end(),
                               [](const Bytes& b) { return b.empty(); }),
                  "an empty send to a client");
        std::vector<std::int32_t> waiting;
        for (std::size_t i = 0; i < link.queue.Count(); ++i)
            waiting.push_back(link.queue.At(i).argument);
        std::sort(waiting.begin(), waiting.end());
        Check(std::adjacent_find(waiting.begin(), waiting.end()) == waiting.end(),
              "a client waits twice in the queue");
    }
    return 0;
}
