// The Windows side of the Wine round-trip benchmark, run under Wine on a
// pseudo terminal known to the prefix as COM<port>:
//   echo <port> <count>  a bare host without the driver: reads the port and
//                        writes one ACK per end character;
//   poll <port> <count>  the driver, with a host that calls qen_GetMsg
//                        without sleeping;
//   wait <port> <count>  the driver, with a host that sleeps in
//                        MsgWaitForMultipleObjects between its polls.
// Says "ready" once the port is open and ends after <count> telegrams.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "link/protocol.h"
#include "platform/win32/port_names.h"
#include "zentrok.h"

namespace {

void Ready() {
    std::printf("ready\n");
    std::fflush(stdout);
}

int BareEcho(int port, int count) {
    const std::string name = zentrok::platform::win32::PortDevicePath(port);
    const HANDLE line = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (line == INVALID_HANDLE_VALUE) return 1;
    // With every read time-out 0 a read completes once its bytes have
    // arrived: one byte is waited for, then what is queued behind it is read.
    COMMTIMEOUTS timeouts{};
    SetCommTimeouts(line, &timeouts);
    Ready();
    char bytes[256];
    for (int acked = 0; acked < count;) {
        DWORD got = 0;
        if (!ReadFile(line, bytes, 1, &got, nullptr)) return 1;
        DWORD errors = 0;
        COMSTAT queued{};
        if (ClearCommError(line, &errors, &queued) && queued.cbInQue > 0) {
            DWORD more = 0;
            ReadFile(line, bytes + got, queued.cbInQue < 255 ? queued.cbInQue : 255, &more, nullptr);
            got += more;
        }
        for (DWORD i = 0; i < got; ++i) {
            if (bytes[i] != zentrok::kEndCharacter) continue;
            DWORD written = 0;
            WriteFile(line, &zentrok::kAck, 1, &written, nullptr);
            ++acked;
        }
    }
    CloseHandle(line);
    return 0;
}

int DriverHost(int port, int count, bool sleeps) {
    const QenHandle handle = qen_InitComm(port, 1);
    if (!handle) return 1;
    Ready();
    QenMsg msg;
    for (int received = 0; received < count;) {
        if (qen_GetMsg(handle, &msg)) {
            ++received;
            continue;
        }
        if (!sleeps) continue;
        if (MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT) == WAIT_OBJECT_0) {
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
        }
    }
    qen_CloseComm(handle);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    const int port = std::atoi(argv[2]);
    const int count = std::atoi(argv[3]);
    if (std::strcmp(argv[1], "echo") == 0) return BareEcho(port, count);
    if (std::strcmp(argv[1], "poll") == 0) return DriverHost(port, count, false);
    if (std::strcmp(argv[1], "wait") == 0) return DriverHost(port, count, true);
    return 2;
}
