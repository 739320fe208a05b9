// The library's exported calls. Nothing is raised across the boundary.
#include <cstdint>
#include <string_view>

#include "host/identity.h"
#include "host/sys_msg.h"
#include "link/ports.h"
#include "zentrok.h"

using namespace zentrok;

extern "C" {

ZENTROK_API const char* ZENTROK_CALL Qen_GetName(int32_t* Info1, int32_t* Info2, int32_t* Info3) {
    if (Info1) *Info1 = kInfo1;
    if (Info2) *Info2 = kInfo2;
    if (Info3) *Info3 = kInfo3;
    return kDriverName;
}

ZENTROK_API QenHandle ZENTROK_CALL qen_InitComm(int32_t PortNumber, int32_t RecNumber) {
    try {
        return InitComm(PortNumber, RecNumber);
    } catch (...) {
        return nullptr;
    }
}

ZENTROK_API int32_t ZENTROK_CALL qen_CloseComm(QenHandle Handle) {
    try {
        CloseComm(Handle);
    } catch (...) {
    }
    return 0;
}

ZENTROK_API int32_t ZENTROK_CALL qen_GetMsg(QenHandle Handle, QenMsg* Dest) {
    try {
        return GetMsg(Handle, Dest) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

ZENTROK_API int32_t ZENTROK_CALL qen_GetLineState(QenHandle Handle, QenLineState* State) {
    try {
        return GetLineState(Handle, State) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

ZENTROK_API int32_t ZENTROK_CALL qen_GetSysMsg(const uint8_t* SysLine, int32_t* StateMask, uint8_t* StateTable,
                                               int32_t* SysValue) {
    if (SysValue) *SysValue = 2;
    if (SysLine) {
        const std::string_view line(reinterpret_cast<const char*>(SysLine + 1), SysLine[0]);
        DecodeSysLine(line, StateMask, StateTable);
    }
    return 0;
}

}  // extern "C"
