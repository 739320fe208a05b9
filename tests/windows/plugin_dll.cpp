// A host's plug-in: a DLL of its own that uses zentrok.dll, opens a port
// when its host asks and closes it from its DllMain, as Delphi finalization
// sections and C++ static destructors in a DLL do, both when the host
// unloads it and at process exit. Once the close has returned it writes
// how long it took, in milliseconds, to plugin_closed.txt in the current
// directory.
#include <windows.h>

#include <string>

#include "zentrok.h"

namespace {

QenHandle gPort = nullptr;

void RecordClose(DWORD tookMs) {
    const HANDLE file =
        CreateFileA("plugin_closed.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    const std::string text = std::to_string(tookMs);
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

}  // namespace

extern "C" __declspec(dllexport) int plugin_OpenPort(int portNumber) {
    gPort = qen_InitComm(portNumber, 1);
    return gPort != nullptr;
}

extern "C" __declspec(dllexport) int plugin_Poll() {
    QenMsg msg;
    return gPort ? qen_GetMsg(gPort, &msg) : 0;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_DETACH && gPort) {
        const DWORD start = GetTickCount();
        qen_CloseComm(gPort);
        gPort = nullptr;
        RecordClose(GetTickCount() - start);
    }
    return TRUE;
}
