// A host that ends with its plug-in (plugin_dll.cpp) loaded and the
// plug-in's port open: plugin_host <port> <ready event> <end event> opens
// the port through the plug-in, sets the named event <ready>, polls until
// <end> is set and returns from main, which ends the process. Exit status 0;
// 1 when the plug-in or the port did not open.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 4) return 1;
    const HMODULE plugin = LoadLibraryA("windows_plugin.dll");
    if (!plugin) return 1;
    const auto open =
        reinterpret_cast<int (*)(int)>(reinterpret_cast<void (*)()>(GetProcAddress(plugin, "plugin_OpenPort")));
    const auto poll = reinterpret_cast<int (*)()>(reinterpret_cast<void (*)()>(GetProcAddress(plugin, "plugin_Poll")));
    const HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[2]);
    const HANDLE end = OpenEventA(SYNCHRONIZE, FALSE, argv[3]);
    if (!open || !poll || !ready || !end || !open(std::atoi(argv[1]))) return 1;
    SetEvent(ready);
    while (WaitForSingleObject(end, 5) == WAIT_TIMEOUT) poll();
    return 0;
}
