#include "link/ports.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "link/host_thread.h"

namespace zentrok {
namespace {

struct OpenPorts {
    std::mutex lock;
    std::vector<std::shared_ptr<TCommThread>> ports;
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
    open.ports.push_back(port);
    return port.get();
}

bool CloseComm(QenHandle handle) {
    std::shared_ptr<TCommThread> port;
    {
        OpenPorts& open = Ports();
        std::lock_guard<std::mutex> guard(open.lock);
        auto it = std::find_if(open.ports.begin(), open.ports.end(),
                               [handle](const auto& p) { return p.get() == handle; });
        if (it == open.ports.end()) return false;
        port = std::move(*it);
        open.ports.erase(it);
    }
    port->Stop();
    return true;
}

std::shared_ptr<TCommThread> FindPort(QenHandle handle) {
    OpenPorts& open = Ports();
    std::lock_guard<std::mutex> guard(open.lock);
    for (const auto& port : open.ports)
        if (port.get() == handle) return port;
    return nullptr;
}

}  // namespace zentrok
