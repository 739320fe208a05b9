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
// from its open until its reader has closed the device, so a second open of
// it fails also where the system would let the device be opened twice.
struct OpenPorts {
    std::mutex lock;
    std::uintptr_t lastHandle = 0;
    std::unordered_map<QenHandle, std::shared_ptr<TCommThread>> ports;
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
    return it != open.ports.end() ? it->second : nullptr;
}

void ReleaseNumber(std::int32_t number) {
    std::lock_guard<std::mutex> guard(Ports().lock);
    Ports().numbers.erase(number);
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
    if (!port->Start([portNumber] { ReleaseNumber(portNumber); })) return nullptr;
    claim.Keep();  // the reader lets it go
    OpenPorts& open = Ports();
    std::lock_guard<std::mutex> guard(open.lock);
    const QenHandle handle = open.NewHandle();
    open.ports.emplace(handle, std::move(port));
    return handle;
}

// A reader that did not end within the close's bound still runs on the
// object: it is kept for good rather than freed under the reader.
void CloseComm(QenHandle handle) {
    std::shared_ptr<TCommThread> closing;
    OpenPorts& open = Ports();
    {
        std::lock_guard<std::mutex> guard(open.lock);
        const auto it = open.ports.find(handle);
        if (it == open.ports.end()) return;
        closing = std::move(it->second);
        open.ports.erase(it);
    }
    if (!closing->Stop()) new std::shared_ptr<TCommThread>(std::move(closing));
}

bool GetMsg(QenHandle handle, QenMsg* dest) {
    host_thread::RunQueued();
    if (!dest) return false;
    const auto port = FindPort(handle);
    return port && port->GetMsg(*dest);
}

bool GetLineState(QenHandle handle, QenLineState* state) {
    if (!state || state->Size < sizeof(QenLineState)) return false;
    const auto port = FindPort(handle);
    if (port) port->GetLineState(*state);
    return port != nullptr;
}

}  // namespace zentrok
