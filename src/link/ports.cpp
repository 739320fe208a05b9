#include "link/ports.h"

#include <memory>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

#include "link/comm_thread.h"
#include "link/host_thread.h"
#include "link/trace.h"

namespace zentrok {
namespace {

// Handles are never reused, so a closed handle stays invalid even when a
// later port's object lands at the same address. A port number stays taken
// from its open to the end of its close, so a second open of it fails also
// where the system would let the device be opened twice.
struct OpenPorts {
    std::mutex lock;
    std::uintptr_t lastHandle = 0;
    struct Entry {
        std::shared_ptr<TCommThread> Port;
        std::int32_t Number;
    };
    std::unordered_map<QenHandle, Entry> ports;
    std::unordered_set<std::int32_t> numbers;

    QenHandle NewHandle() {
        lastHandle += 16;  // aligned like an object address, never null
        return reinterpret_cast<QenHandle>(lastHandle);
    }
};

// Lives as long as the process, so no reader is torn down at exit.
OpenPorts& Ports() {
    static OpenPorts* ports = new OpenPorts;
    return *ports;
}

// Holds a port number for one open; lets it go again unless Keep is called.
class NumberClaim {
public:
    explicit NumberClaim(std::int32_t number) : number_(number) {
        std::lock_guard<std::mutex> guard(Ports().lock);
        claimed_ = Ports().numbers.insert(number).second;
    }
    ~NumberClaim() {
        if (!claimed_ || kept_) return;
        std::lock_guard<std::mutex> guard(Ports().lock);
        Ports().numbers.erase(number_);
    }
    NumberClaim(const NumberClaim&) = delete;
    NumberClaim& operator=(const NumberClaim&) = delete;

    bool Claimed() const { return claimed_; }
    void Keep() { kept_ = true; }

private:
    std::int32_t number_;
    bool claimed_ = false;
    bool kept_ = false;
};

// The open port behind `handle`, kept alive while the caller holds it; null
// for anything that is not an open port.
std::shared_ptr<TCommThread> FindPort(QenHandle handle) {
    OpenPorts& open = Ports();
    std::lock_guard<std::mutex> guard(open.lock);
    const auto it = open.ports.find(handle);
    return it != open.ports.end() ? it->second.Port : nullptr;
}

}  // namespace

QenHandle InitComm(std::int32_t portNumber, std::int32_t recNumber) {
    NumberClaim claim(portNumber);
    if (!claim.Claimed()) {
        Trace::ForPort(portNumber).AlreadyOpen();
        return nullptr;
    }
    auto port = std::make_shared<TCommThread>();
    if (!port->Open(portNumber, recNumber)) return nullptr;
    // Before the reader starts: it may need the host thread at once.
    host_thread::Attach();
    port->Start();
    OpenPorts& open = Ports();
    std::lock_guard<std::mutex> guard(open.lock);
    const QenHandle handle = open.NewHandle();
    open.ports.emplace(handle, OpenPorts::Entry{std::move(port), portNumber});
    claim.Keep();
    return handle;
}

void CloseComm(QenHandle handle) {
    OpenPorts::Entry closing;
    OpenPorts& open = Ports();
    {
        std::lock_guard<std::mutex> guard(open.lock);
        const auto it = open.ports.find(handle);
        if (it == open.ports.end()) return;
        closing = std::move(it->second);
        open.ports.erase(it);
    }
    closing.Port->Stop();
    std::lock_guard<std::mutex> guard(open.lock);
    open.numbers.erase(closing.Number);
}

bool GetMsg(QenHandle handle, QenMsg* dest) {
    host_thread::RunQueued();
    if (!dest) return false;
    const auto port = FindPort(handle);
    return port && port->GetMsg(*dest);
}

}  // namespace zentrok
