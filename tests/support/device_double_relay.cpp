// The device double of a Windows build under Wine: the pseudo terminal lives
// on the Linux side, made and relayed by device_relay.py, which this double
// reaches over a TCP connection of its own (frames described there).
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>

#include "device_double.h"

namespace zentrok::test {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kReplyWithin = std::chrono::seconds(10);

[[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error(what + " (Winsock error " + std::to_string(WSAGetLastError()) + ")");
}

struct Winsock {
    Winsock() {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0) Fail("WSAStartup");
    }
};

SOCKET ConnectToRelay() {
    static const Winsock winsock;
    const char* address = std::getenv("ZENTROK_DEVICE_RELAY");
    if (!address) throw std::runtime_error("no ZENTROK_DEVICE_RELAY: run the test under tests/support/device_relay.py");
    const std::string text = address;
    const std::size_t colon = text.rfind(':');
    sockaddr_in relay{};
    relay.sin_family = AF_INET;
    relay.sin_port = htons(static_cast<u_short>(std::stoi(text.substr(colon + 1))));
    inet_pton(AF_INET, text.substr(0, colon).c_str(), &relay.sin_addr);
    const SOCKET connection = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (connection == INVALID_SOCKET) Fail("socket");
    if (connect(connection, reinterpret_cast<const sockaddr*>(&relay), sizeof relay) != 0) Fail("connect to the relay");
    const BOOL noDelay = TRUE;
    setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
    return connection;
}

long MillisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<long>(left) : 0;
}

}  // namespace

struct DeviceDouble::Impl {
    SOCKET connection = ConnectToRelay();
    std::string fromDriver;  // bytes the driver sent, not yet received by the test
    bool hungUp = false;

    ~Impl() { closesocket(connection); }

    void SendFrame(char kind, std::string_view payload) {
        std::string frame(1, kind);
        const auto length = static_cast<std::uint32_t>(payload.size());
        for (int shift = 0; shift < 32; shift += 8) frame += static_cast<char>(length >> shift & 0xFF);
        frame += payload;
        for (std::size_t sent = 0; sent < frame.size();) {
            const int n = send(connection, frame.data() + sent, static_cast<int>(frame.size() - sent), 0);
            if (n <= 0) Fail("send to the relay");
            sent += static_cast<std::size_t>(n);
        }
    }

    // Reads exactly `count` bytes; false when `deadline` passes before the
    // first of them.
    bool ReadExactly(char* dest, std::size_t count, Clock::time_point deadline) {
        for (std::size_t got = 0; got < count;) {
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(connection, &readable);
            const long left = got == 0 ? MillisecondsLeft(deadline) : 10000;  // a frame is read whole
            timeval timeout{left / 1000, left % 1000 * 1000};
            if (select(0, &readable, nullptr, nullptr, &timeout) <= 0) {
                if (got == 0) return false;
                Fail("a frame from the relay broke off");
            }
            const int n = recv(connection, dest + got, static_cast<int>(count - got), 0);
            if (n <= 0) Fail("the relay closed the connection");
            got += static_cast<std::size_t>(n);
        }
        return true;
    }

    // The next frame; false when `deadline` passes first. The driver's
    // bytes are kept, unless the line has been hung up.
    bool NextFrame(char& kind, std::string& payload, Clock::time_point deadline) {
        char header[5];
        if (!ReadExactly(header, sizeof header, deadline)) return false;
        std::uint32_t length = 0;
        for (int i = 4; i >= 1; --i) length = length << 8 | static_cast<unsigned char>(header[i]);
        payload.assign(length, '\0');
        if (length > 0) ReadExactly(payload.data(), length, deadline);
        kind = header[0];
        if (kind == 'D' && !hungUp) fromDriver += payload;
        return true;
    }

    std::string Reply(char kind, std::string_view request = {}) {
        SendFrame(kind, request);
        const auto deadline = Clock::now() + kReplyWithin;
        char got = 0;
        std::string payload;
        do {
            if (!NextFrame(got, payload, deadline)) throw std::runtime_error("the relay did not answer");
        } while (got != kind);
        return payload;
    }
};

DeviceDouble::DeviceDouble(std::int32_t portNumber) : portNumber_(portNumber), impl_(std::make_unique<Impl>()) {
    impl_->Reply('O', std::to_string(portNumber));
}

DeviceDouble::~DeviceDouble() = default;

void DeviceDouble::Send(std::string_view bytes) {
    if (!impl_->hungUp) impl_->SendFrame('S', bytes);
}

std::string DeviceDouble::Receive(std::size_t count, std::chrono::milliseconds within) {
    const auto deadline = Clock::now() + within;
    std::string& pending = impl_->fromDriver;
    char kind = 0;
    std::string payload;
    while (!impl_->hungUp && pending.size() < count && impl_->NextFrame(kind, payload, deadline)) {
    }
    const std::string received = pending.substr(0, count);
    pending.erase(0, received.size());
    return received;
}

LineState DeviceDouble::Line() const {
    std::istringstream reply(impl_->Reply('L'));
    LineState line;
    reply >> line.Baud >> line.TwoStopBits >> line.RtsCts >> line.XonXoffOut >> line.XonXoffIn;
    return line;
}

void DeviceDouble::CloseMaster() {
    if (impl_->hungUp) return;
    impl_->SendFrame('H', {});
    impl_->hungUp = true;
    impl_->fromDriver.clear();
}

// The relay answers once the old terminal's bytes are all relayed, so every
// byte received from here on comes from the new terminal.
void DeviceDouble::Replug() {
    CloseMaster();
    impl_->Reply('R', std::to_string(portNumber_));
    impl_->hungUp = false;
}

}  // namespace zentrok::test
