#pragma once
// One TCP client of the gateway's relay on 127.0.0.1, for the end-to-end
// tests and the soak.  The relay has no framing of its own: a reply is what
// arrives until the connection stays quiet for a moment, or, for a caller
// that knows the reply's length, exactly that many bytes.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vantor::test {

class TcpClient {
public:
    using Bytes = std::vector<std::uint8_t>;
    using Millis = std::chrono::milliseconds;

    // Connects at once; receiveBuffer > 0 sets SO_RCVBUF first (a small one
    // makes a client that never reads fill up quickly).
    explicit TcpClient(int port, int receiveBuffer = 0);
    ~TcpClient();
    TcpClient(const TcpClient&) = delete;
    TcpClient& operator=(const TcpClient&) = delete;

    bool connected() const { return connected_; }
    // Whole request in one send; false when the connection is gone.
    bool Send(const Bytes& bytes);
    // Everything that arrives until `quiet` passes without a byte; waits up
    // to `firstByte` for the first one.
    Bytes Receive(Millis firstByte = Millis(5000), Millis quiet = Millis(150));
    // What one read gives within `timeout` (empty on time-out); `closed`
    // reports the peer's close or a reset.
    Bytes ReceiveSome(Millis timeout, bool& closed);
    // Reads until `count` bytes are in (or the time is up, or the peer
    // closed): a reply of known length, taken the moment it is complete.
    Bytes ReceiveBytes(std::size_t count, Millis timeout);
    Bytes Ask(const Bytes& request) { return Send(request) ? Receive() : Bytes{}; }
    void Close();

private:
    int fd_ = -1;
    bool connected_ = false;
};

} // namespace vantor::test
