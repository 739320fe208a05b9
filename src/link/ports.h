// The open ports of the process, by the handles the host holds.
#pragma once

#include <cstdint>

#include "zentrok.h"

namespace zentrok {

// Opens a port and starts its reader; null when the port did not open.
QenHandle InitComm(std::int32_t portNumber, std::int32_t recNumber);

// Stops and releases an open port; anything that is not one is ignored.
void CloseComm(QenHandle handle);

// qen_GetMsg: runs the calls readers have queued for a host thread, then
// copies the next item of the port behind `handle` into `dest`. False, with
// `dest` untouched, when there is none or `handle` is no open port.
bool GetMsg(QenHandle handle, QenMsg* dest);

// qen_GetLineState: false, writing nothing, when `handle` is no open port
// or `state` is null or smaller than this build's record.
bool GetLineState(QenHandle handle, QenLineState* state);

}  // namespace zentrok
