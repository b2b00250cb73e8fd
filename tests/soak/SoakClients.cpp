#include "SoakClients.h"

#include "ExchangeModel.h"
#include "TcpClient.h"

#include <chrono>
#include <cstdio>
#include <map>
#include <random>

namespace vantor::soak {

namespace {

using test::TcpClient;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto ReplyTimeout = 5s;
constexpr std::uint8_t VanishedOwner = 0xFF; // the tag owner of clients that leave at once
constexpr int TagLength = 4;                 // owner, then a 24-bit request number

std::string Hex(const Bytes& bytes, std::size_t max = 24) {
    std::string out;
    char b[4];
    for (std::size_t i = 0; i < bytes.size() && i < max; ++i) {
        std::snprintf(b, sizeof b, i ? " %02X" : "%02X", bytes[i]);
        out += b;
    }
    return out + (bytes.size() > max ? " ..." : "");
}

// A relayed request: a query the reply cache keeps only 10 ms (second byte
// 50 and up), whose tag makes it unlike any other request of the run.
Bytes TaggedQuery(std::uint8_t owner, std::uint32_t number) {
    return {0x00,
            static_cast<std::uint8_t>(50 + number % 200),
            static_cast<std::uint8_t>(number),
            owner,
            static_cast<std::uint8_t>(number >> 16),
            static_cast<std::uint8_t>(number >> 8),
            static_cast<std::uint8_t>(number)};
}

// The length of the simulator's reply to a query that starts as `head` does
// and carries `tag` bytes after the index.
std::size_t QueryReplyLength(const Bytes& head, int tag) {
    Bytes request{0x00, head[1], head[2]};
    request.resize(3 + tag);
    return sim::ExchangeModel::QueryReply(request).size();
}

// Takes the next whole query reply off the front of `buffer`; empty when
// it is not complete yet.  A buffer that cannot start a query reply is a
// violation and is dropped.
Bytes TakeQueryReply(Bytes& buffer, int tag, Violations& v, const std::string& who) {
    if (buffer.size() < 3) return {};
    if (buffer[0] != 0x00) {
        v.Add(who + " received bytes that answer no query: " + Hex(buffer));
        buffer.clear();
        return {};
    }
    const std::size_t length = QueryReplyLength(buffer, tag);
    if (buffer.size() < length) return {};
    Bytes reply(buffer.begin(), buffer.begin() + static_cast<long>(length));
    buffer.erase(buffer.begin(), buffer.begin() + static_cast<long>(length));
    return reply;
}

class Client {
public:
    Client(int port, ClientCounts& counts, Violations& v, std::string who,
           const std::atomic<bool>& stop, int receiveBuffer = 0)
        : port_(port), counts_(counts), v_(v), who_(std::move(who)), stop_(stop),
          receiveBuffer_(receiveBuffer) {}

protected:
    // A connection, made again after the gateway closed one.
    TcpClient& Connection() {
        while (!tcp_ || !tcp_->connected()) {
            tcp_ = std::make_unique<TcpClient>(port_, receiveBuffer_);
            if (tcp_->connected() || stop_) break;
            std::this_thread::sleep_for(200ms);
        }
        return *tcp_;
    }
    void Drop() { tcp_.reset(); }
    bool Stopping() const { return stop_; }
    void Pause(std::mt19937& rng, int maxMs) {
        std::this_thread::sleep_for(std::chrono::milliseconds(rng() % (maxMs + 1)));
    }

    int port_;
    ClientCounts& counts_;
    Violations& v_;
    std::string who_;
    const std::atomic<bool>& stop_;
    int receiveBuffer_;
    std::unique_ptr<TcpClient> tcp_;
};

// Waits for the reply to the request just sent; `take` consumes what came
// and says whether that reply is among it.  The gateway closing a
// well-behaved client is a violation.
template <class Take>
bool AwaitReply(TcpClient& tcp, const std::atomic<bool>& stop, Take take, ClientCounts& counts,
                Violations& v, const std::string& who, bool& lost) {
    const auto deadline = Clock::now() + ReplyTimeout;
    lost = false;
    while (!stop && Clock::now() < deadline) {
        bool closed = false;
        Bytes some = tcp.ReceiveSome(200ms, closed);
        if (closed) {
            ++counts.closed;
            v.Add(who + ": the gateway closed the connection");
            lost = true;
            return false;
        }
        if (!some.empty() && take(some)) return true;
    }
    if (!stop) ++counts.unanswered;
    return false;
}

class RelayedClient : Client {
public:
    RelayedClient(std::uint8_t id, int port, ClientCounts& c, Violations& v,
                  const std::atomic<bool>& stop)
        : Client(port, c, v, "relayed client " + std::to_string(id), stop), id_(id) {}

    void Run(std::mt19937& rng) {
        std::map<std::uint32_t, Bytes> open; // request number -> request, replies still owed
        Bytes buffer;
        for (std::uint32_t number = 1; !Stopping(); number = (number + 1) & 0xFFFFFF) {
            TcpClient& tcp = Connection();
            if (Stopping()) break;
            const Bytes request = TaggedQuery(id_, number);
            open[number] = request;
            if (open.size() > 512) open.erase(open.begin());
            if (!tcp.Send(request)) {
                Lost(open, buffer);
                continue;
            }
            ++counts_.sent;
            bool lost = false;
            AwaitReply(
                tcp, stop_,
                [&](const Bytes& some) {
                    buffer.insert(buffer.end(), some.begin(), some.end());
                    bool mine = false;
                    for (Bytes r; !(r = TakeQueryReply(buffer, TagLength, v_, who_)).empty();)
                        mine |= Check(r, open, number);
                    return mine;
                },
                counts_, v_, who_, lost);
            if (lost) Lost(open, buffer);
            Pause(rng, 30);
        }
    }

private:
    // A new connection is a new client: nothing of the old one may reach it.
    void Lost(std::map<std::uint32_t, Bytes>& open, Bytes& buffer) {
        open.clear();
        buffer.clear();
        Drop();
    }
    bool Check(const Bytes& reply, std::map<std::uint32_t, Bytes>& open, std::uint32_t current) {
        const std::size_t t = reply.size() - TagLength;
        const std::uint8_t owner = reply[t];
        const std::uint32_t number = reply[t + 1] << 16 | reply[t + 2] << 8 | reply[t + 3];
        if (owner != id_) {
            v_.Add(who_ + " received the reply to request " + std::to_string(number) +
                   " of client " + std::to_string(owner) + ": " + Hex(reply));
            return false;
        }
        auto it = open.find(number);
        if (it == open.end()) {
            v_.Add(who_ + " received a reply to request " + std::to_string(number) +
                   ", which is not waiting for one (doubled?)");
            return false;
        }
        const bool right = reply == sim::ExchangeModel::QueryReply(it->second);
        if (!right)
            v_.Add(who_ + ": the reply to request " + std::to_string(number) +
                   " is not the exchange's answer: " + Hex(reply));
        open.erase(it);
        if (!right) return false;
        if (number == current) {
            ++counts_.answered;
            return true;
        }
        ++counts_.late;
        return false;
    }
    std::uint8_t id_;
};

// Queries the cache keeps a minute (second bytes 23 to 46): the first goes
// to the exchange, the others are answered by the gateway.  Replies carry no
// tag, but each is determined by its question.
class CachedClient : Client {
public:
    using Client::Client;
    void Run(std::mt19937& rng) {
        static constexpr std::uint8_t Subs[] = {23, 30, 38, 46};
        std::map<std::uint16_t, int> open; // (sub, index) -> replies owed
        Bytes buffer;
        while (!Stopping()) {
            TcpClient& tcp = Connection();
            if (Stopping()) break;
            const Bytes request{0x00, Subs[rng() % 4], static_cast<std::uint8_t>(rng() % 4)};
            const std::uint16_t key = request[1] << 8 | request[2];
            if (!tcp.Send(request)) {
                open.clear();
                buffer.clear();
                Drop();
                continue;
            }
            ++counts_.sent;
            ++open[key];
            bool lost = false;
            AwaitReply(
                tcp, stop_,
                [&](const Bytes& some) {
                    buffer.insert(buffer.end(), some.begin(), some.end());
                    bool mine = false;
                    for (Bytes r; !(r = TakeQueryReply(buffer, 0, v_, who_)).empty();) {
                        const std::uint16_t k = r[1] << 8 | r[2];
                        if (r != sim::ExchangeModel::QueryReply(Bytes{0, r[1], r[2]})) {
                            v_.Add(who_ + ": a reply that is not the exchange's answer: " + Hex(r));
                        } else if (open[k] == 0) {
                            v_.Add(who_ + ": a reply to a question it did not ask: " + Hex(r));
                        } else {
                            --open[k];
                            const bool current = k == key && !mine;
                            (current ? counts_.answered : counts_.late)++;
                            mine |= current;
                        }
                    }
                    return mine;
                },
                counts_, v_, who_, lost);
            if (lost) {
                open.clear();
                buffer.clear();
                Drop();
            }
            Pause(rng, 40);
        }
    }
};

// The line-state or SW request: answered from the gateway's snapshot or
// forwarded; either way a reply of fixed length and form.
class SnapshotClient : Client {
public:
    SnapshotClient(Bytes request, std::size_t length, int port, ClientCounts& c, Violations& v,
                   std::string who, const std::atomic<bool>& stop)
        : Client(port, c, v, std::move(who), stop), request_(std::move(request)), length_(length) {}
    void Run(std::mt19937& rng) {
        int owed = 0;
        Bytes buffer;
        while (!Stopping()) {
            TcpClient& tcp = Connection();
            if (Stopping()) break;
            if (!tcp.Send(request_)) {
                owed = 0;
                buffer.clear();
                Drop();
                continue;
            }
            ++counts_.sent;
            ++owed;
            bool lost = false;
            AwaitReply(
                tcp, stop_,
                [&](const Bytes& some) {
                    buffer.insert(buffer.end(), some.begin(), some.end());
                    // Replies are alike: any that comes now answers the
                    // current request; more than were asked is a fault.
                    int got = 0;
                    while (buffer.size() >= length_) {
                        Bytes r(buffer.begin(), buffer.begin() + static_cast<long>(length_));
                        buffer.erase(buffer.begin(), buffer.begin() + static_cast<long>(length_));
                        if (!WellFormed(r)) {
                            v_.Add(who_ + ": a reply of the wrong form: " + Hex(r));
                            buffer.clear();
                        } else if (owed == 0) {
                            v_.Add(who_ + ": a reply it did not ask for: " + Hex(r));
                        } else {
                            --owed;
                            ++got;
                        }
                    }
                    if (got == 0) return false;
                    ++counts_.answered;
                    counts_.late += got - 1;
                    return true;
                },
                counts_, v_, who_, lost);
            if (lost) {
                owed = 0;
                buffer.clear();
                Drop();
            }
            Pause(rng, 100);
        }
    }

private:
    bool WellFormed(const Bytes& r) const {
        if (request_[0] == 0x0E) return r[0] == 0 && r[7] == 0x5A && r[8] == 0x01;
        if (r[0] != 0 || r[1] != 0x16 || r[2] != 0) return false;
        for (std::size_t i = 3; i + 3 < r.size(); i += 4) {
            const std::uint8_t state = r[i], flags = r[i + 3];
            if (state != 0 && state != 1 && state != 2 && state != 3 && state != 8) return false;
            if (flags & ~0x05) return false;
        }
        return true;
    }
    Bytes request_;
    std::size_t length_;
};

// Reads the gateway's record list: 04 gives the next record (numbers rise
// one by one, each text exactly the exchange's), 05 right after gives the
// same one again.
class AccountingReader : Client {
public:
    using Client::Client;
    void Run(std::mt19937& rng) {
        std::uint64_t last = 0; // the number of the record this reader got last
        while (!Stopping()) {
            TcpClient& tcp = Connection();
            if (Stopping()) break;
            const bool again = last != 0 && rng() % 5 == 0;
            if (!tcp.Send(Bytes{static_cast<std::uint8_t>(again ? 5 : 4)})) {
                Drop();
                continue;
            }
            ++counts_.sent;
            bool closed = false;
            Bytes answer = tcp.ReceiveSome(ReplyTimeout, closed);
            // The answer leaves the gateway in one write; wait a moment for
            // the rest should it come in pieces.
            for (Bytes more;
                 !closed && answer.size() < 11 && !(more = tcp.ReceiveSome(50ms, closed)).empty();)
                answer.insert(answer.end(), more.begin(), more.end());
            if (closed) {
                ++counts_.closed;
                v_.Add(who_ + ": the gateway closed the connection");
                Drop();
                continue;
            }
            if (answer.empty()) {
                ++counts_.unanswered;
                continue;
            }
            ++counts_.answered;
            if (answer == Bytes{0}) {
                if (again)
                    v_.Add(who_ + ": 05 after record " + std::to_string(last) + " gave none");
            } else if (!Record(tcp, answer, again, last)) {
                Drop(); // out of step: a new connection starts clean
                last = 0;
            }
            Pause(rng, 150);
        }
    }

private:
    bool Record(TcpClient& tcp, Bytes& answer, bool again, std::uint64_t& last) {
        const std::string head(answer.begin() + 1,
                               answer.begin() +
                                   std::min<long>(11, static_cast<long>(answer.size())));
        if (answer[0] != 0 || head.size() < 10 || head.compare(0, 4, "REC ") != 0) {
            v_.Add(who_ + ": an accounting answer that is no record: " + Hex(answer));
            return false;
        }
        const std::uint64_t n = std::strtoull(head.c_str() + 4, nullptr, 10);
        const std::string text = sim::ExchangeModel::RecordText(n);
        if (answer.size() < 1 + text.size()) {
            Bytes rest = tcp.ReceiveBytes(1 + text.size() - answer.size(), 2s);
            answer.insert(answer.end(), rest.begin(), rest.end());
        }
        if (std::string(answer.begin() + 1, answer.end()) != text) {
            v_.Add(who_ + ": record " + std::to_string(n) +
                   " is not the exchange's text: " + Hex(answer, 80));
            return false;
        }
        if (again && n != last)
            v_.Add(who_ + ": 05 after record " + std::to_string(last) + " gave record " +
                   std::to_string(n));
        else if (!again && last != 0 && n != last + 1)
            v_.Add(who_ + ": record " + std::to_string(n) + " came after record " +
                   std::to_string(last) + (n <= last ? " (doubled)" : " (some are missing)"));
        last = n;
        return true;
    }
};

// Random bytes of random length, up to beyond the 500-byte receive buffer.
// The first byte is never 0: a query's bytes would stay in the reply cache
// and be taken, by their first bytes, for the cached clients' questions.
class GarbageClient : Client {
public:
    using Client::Client;
    void Run(std::mt19937& rng) {
        for (int n = 0; !Stopping(); ++n) {
            TcpClient& tcp = Connection();
            if (Stopping()) break;
            Bytes junk(1 + rng() % 700);
            for (auto& b : junk) b = static_cast<std::uint8_t>(rng());
            junk[0] = static_cast<std::uint8_t>(1 + rng() % 255);
            if (!tcp.Send(junk)) ++counts_.closed;
            ++counts_.sent;
            bool closed = false;
            while (!tcp.ReceiveSome(30ms, closed).empty()) {}
            if (closed || n % 25 == 24) Drop();
            std::this_thread::sleep_for(100ms);
            Pause(rng, 200);
        }
    }
};

// Connects and leaves at once, after nothing, a relayed request, or a
// line-state or SW request: whatever the gateway owes it goes to nobody.
class VanishingClient : Client {
public:
    using Client::Client;
    void Run(std::mt19937& rng) {
        for (std::uint32_t number = 1; !Stopping(); ++number) {
            TcpClient tcp(port_);
            ++counts_.sent;
            if (!tcp.connected()) {
                ++counts_.closed;
                std::this_thread::sleep_for(100ms);
                continue;
            }
            switch (rng() % 4) {
            case 0: break;
            case 1: tcp.Send(TaggedQuery(VanishedOwner, number & 0xFFFFFF)); break;
            case 2: tcp.Send({0x00, 0x16, 0x00}); break;
            default: tcp.Send({0x0E}); break;
            }
            tcp.Close();
            std::this_thread::sleep_for(50ms);
            Pause(rng, 200);
        }
    }
};

// Asks for the last accounting record again and again (always answered by
// the gateway itself) and never reads: the gateway holds what it cannot send,
// up to its limit, then closes the connection; the client comes back.
class NeverReadingClient : Client {
public:
    NeverReadingClient(int port, ClientCounts& c, Violations& v, const std::atomic<bool>& stop)
        : Client(port, c, v, "never-reading client", stop, 2048) {}
    void Run(std::mt19937&) {
        while (!Stopping()) {
            TcpClient& tcp = Connection();
            if (Stopping()) break;
            if (!tcp.Send({0x05})) {
                ++counts_.closed;
                Drop();
                std::this_thread::sleep_for(200ms);
                continue;
            }
            ++counts_.sent;
            std::this_thread::sleep_for(5ms);
        }
    }
};

} // namespace

void Violations::Add(std::string what) {
    ++count_;
    std::lock_guard lock(mutex_);
    if (first_.size() < 20) first_.push_back(std::move(what));
}

std::vector<std::string> Violations::First() const {
    std::lock_guard lock(mutex_);
    return first_;
}

const char* KindName(ClientKind kind) {
    switch (kind) {
    case ClientKind::Relayed: return "relayed";
    case ClientKind::Cached: return "cached";
    case ClientKind::LineStates: return "line states";
    case ClientKind::SwState: return "SW state";
    case ClientKind::Accounting: return "accounting";
    case ClientKind::Garbage: return "garbage";
    case ClientKind::Vanishing: return "vanishing";
    case ClientKind::NeverReads: return "never read";
    }
    return "?";
}

ClientMix::ClientMix(int port, int ports, std::uint32_t seed, const std::vector<ClientPlan>& plan)
    : port_(port), ports_(ports) {
    for (const ClientPlan& p : plan)
        for (int id = 1; id <= p.count; ++id)
            threads_.emplace_back([this, kind = p.kind, id,
                                   s = seed + 1000 * static_cast<std::uint32_t>(p.kind) +
                                       static_cast<std::uint32_t>(id)] { run(kind, id, s); });
}

void ClientMix::Stop() {
    stop_ = true;
    for (auto& t : threads_)
        if (t.joinable()) t.join();
}

void ClientMix::run(ClientKind kind, int id, std::uint32_t seed) {
    std::mt19937 rng(seed);
    ClientCounts& c = counts_[static_cast<std::size_t>(kind)];
    const std::string who = std::string(KindName(kind)) + " client " + std::to_string(id);
    switch (kind) {
    case ClientKind::Relayed:
        RelayedClient(static_cast<std::uint8_t>(id), port_, c, violations_, stop_).Run(rng);
        break;
    case ClientKind::Cached: CachedClient(port_, c, violations_, who, stop_).Run(rng); break;
    case ClientKind::LineStates:
        SnapshotClient({0x00, 0x16, 0x00}, 3 + 4 * static_cast<std::size_t>(ports_), port_, c,
                       violations_, who, stop_)
            .Run(rng);
        break;
    case ClientKind::SwState:
        SnapshotClient({0x0E}, sim::SwStateSize, port_, c, violations_, who, stop_).Run(rng);
        break;
    case ClientKind::Accounting:
        AccountingReader(port_, c, violations_, who, stop_).Run(rng);
        break;
    case ClientKind::Garbage: GarbageClient(port_, c, violations_, who, stop_).Run(rng); break;
    case ClientKind::Vanishing: VanishingClient(port_, c, violations_, who, stop_).Run(rng); break;
    case ClientKind::NeverReads: NeverReadingClient(port_, c, violations_, stop_).Run(rng); break;
    }
}

} // namespace vantor::soak
