/*
 * A host as an MSVC-style toolchain builds it: compiled for the
 * i686-pc-windows-msvc target and linked by lld-link with its default flags
 * (/safeseh among them) against an import library of zentrok.dll. It uses
 * no C runtime, so that nothing but kernel32 and the driver is linked in,
 * calls each of the six exports and prints what they gave.
 */
#include "zentrok.h"

typedef void* Handle;
__declspec(dllimport) Handle __stdcall GetStdHandle(unsigned long which);
__declspec(dllimport) int __stdcall WriteFile(Handle file, const void* data, unsigned long size, unsigned long* written,
                                              void* overlapped);
__declspec(dllimport) void __stdcall ExitProcess(unsigned int status);

static void put(const char* text) {
    unsigned long size = 0, written = 0;
    while (text[size]) ++size;
    WriteFile(GetStdHandle((unsigned long)-11), text, size, &written, 0);
}

static void put_number(long value) {
    char digits[16];
    int at = sizeof digits - 1;
    int negative = value < 0;
    unsigned long rest = negative ? 0ul - (unsigned long)value : (unsigned long)value;
    digits[at] = '\0';
    do {
        digits[--at] = (char)('0' + rest % 10);
        rest /= 10;
    } while (rest);
    if (negative) digits[--at] = '-';
    put(digits + at);
}

static void sys_line(const char* text, int32_t* mask, uint8_t* table, int32_t* value) {
    uint8_t line[16];
    uint8_t length = 0;
    while (text[length]) {
        line[1 + length] = (uint8_t)text[length];
        ++length;
    }
    line[0] = length;
    qen_GetSysMsg(line, mask, table, value);
}

void __stdcall mainCRTStartup(void) {
    int32_t info1 = 0, info2 = 0, info3 = 0;
    const char* name = Qen_GetName(&info1, &info2, &info3);
    put("Qen_GetName: ");
    put(name);
    put(" ");
    put_number(info1);
    put(" ");
    put_number(info2);
    put(" ");
    put_number(info3);

    int32_t mask = 0, value = 0;
    uint8_t table[14];
    for (int i = 0; i < 14; ++i) table[i] = 0;
    sys_line("   A 03", &mask, table, &value);
    sys_line("   R E2", &mask, table, &value);
    put("\r\nqen_GetSysMsg: mask ");
    put_number(mask);
    put(", entry 2 ");
    put_number(table[1]);
    put(", value ");
    put_number(value);

    QenMsg msg;
    const QenHandle port = qen_InitComm(250, 1);
    put("\r\nqen_InitComm(250, 1): ");
    put(port ? "a handle" : "null");
    QenLineState state;
    state.Size = sizeof state;
    state.Telegrams = 42;
    put("\r\nqen_GetMsg, qen_GetLineState, qen_CloseComm of no port: ");
    put_number(qen_GetMsg(port, &msg));
    put(" ");
    put_number(qen_GetLineState(port, &state));
    put(" (record ");
    put(state.Size == sizeof state && state.Telegrams == 42 ? "untouched" : "written");
    put(") ");
    put_number(qen_CloseComm(port));
    put("\r\n");
    ExitProcess(0);
}
