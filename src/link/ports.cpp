#include "link/ports.h"

#include <mutex>
#include <unordered_map>

#include "link/host_thread.h"

namespace zentrok {
namespace {

// Handles are never reused, so a closed handle stays invalid even when a
// later port's object lands at the same address.
struct OpenPorts {
    std::mutex lock;
    std::uintptr_t lastHandle = 0;
    std::unordered_map<QenHandle, std::shared_ptr<TCommThread>> ports;

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

}  // namespace

QenHandle InitComm(std::int32_t portNumber, std::int32_t recNumber) {
    host_thread::Attach();
    auto port = std::make_shared<TCommThread>();
    if (!port->Open(portNumber, recNumber)) return nullptr;
    port->Start();
    OpenPorts& open = Ports();
    std::lock_guard<std::mutex> guard(open.lock);
    const QenHandle handle = open.NewHandle();
    open.ports.emplace(handle, std::move(port));
    return handle;
}

bool CloseComm(QenHandle handle) {
    std::shared_ptr<TCommThread> port;
    {
        OpenPorts& open = Ports();
        std::lock_guard<std::mutex> guard(open.lock);
        const auto it = open.ports.find(handle);
        if (it == open.ports.end()) return false;
        port = std::move(it->second);
        open.ports.erase(it);
    }
    port->Stop();
    return true;
}

std::shared_ptr<TCommThread> FindPort(QenHandle handle) {
    OpenPorts& open = Ports();
    std::lock_guard<std::mutex> guard(open.lock);
    const auto it = open.ports.find(handle);
    return it != open.ports.end() ? it->second : nullptr;
}

}  // namespace zentrok
