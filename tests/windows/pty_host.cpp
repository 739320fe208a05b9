// The host side of the pseudo-terminal port test, linked against zentrok.dll
// as a host program would be. Opens port argv[1] with section 1 and says
// whether it opened; then retrieves window messages and prints every item
// qen_GetMsg delivers, until a line on standard input asks it to close the
// port; says when the close has returned.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

#include "zentrok.h"

namespace {

void Print(const QenMsg& msg) {
    std::printf("msg %d %u %X [%.*s] [%.*s]\n", static_cast<int>(msg.Number), static_cast<unsigned>(msg.Channel),
                static_cast<unsigned>(msg.Ident), msg.Code.Length, msg.Code.Chars, msg.Text.Length, msg.Text.Chars);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const QenHandle handle = qen_InitComm(std::atoi(argv[1]), 1);
    std::printf("open %s\n", handle ? "handle" : "null");
    std::fflush(stdout);
    if (!handle) return 1;

    const HANDLE closeRequested = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread input([closeRequested] {
        char line[16];
        std::fgets(line, sizeof line, stdin);
        SetEvent(closeRequested);
    });

    // The host thread's duty while the port is open: retrieve messages, so
    // that the driver's hand-off runs, and take what it announces.
    while (MsgWaitForMultipleObjects(1, &closeRequested, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
        QenMsg msg;
        while (qen_GetMsg(handle, &msg)) Print(msg);
    }

    qen_CloseComm(handle);
    std::printf("closed\n");
    std::fflush(stdout);
    input.join();
    CloseHandle(closeRequested);
    return 0;
}
