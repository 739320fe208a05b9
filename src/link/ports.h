// The open ports of the process, by the handles the host holds.
#pragma once

#include <cstdint>
#include <memory>

#include "link/comm_thread.h"
#include "zentrok.h"

namespace zentrok {

// Opens a port and starts its reader; null when the port did not open.
QenHandle InitComm(std::int32_t portNumber, std::int32_t recNumber);

// Stops and releases an open port. False when `handle` is not one.
bool CloseComm(QenHandle handle);

// The open port behind `handle`, kept alive while the caller holds it; null
// for anything that is not an open port.
std::shared_ptr<TCommThread> FindPort(QenHandle handle);

}  // namespace zentrok
