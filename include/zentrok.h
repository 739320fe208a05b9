/*
 * ZENTROK serial device driver: the host interface.
 *
 * A host opens a numbered serial port with qen_InitComm, polls it with
 * qen_GetMsg for decoded messages and closes it with qen_CloseComm. Every
 * telegram the device sends is acknowledged with ACK (0x06) once the host
 * has taken everything it produced, or at once when it produces nothing.
 *
 * Threading: each message is handed over inside a host's call. Every
 * qen_GetMsg (for any handle) and qen_CloseComm, on any thread, first runs
 * the hand-offs that are waiting, so while any port is open some thread must
 * keep polling. README.md, "Threading: the host's duty", says more.
 *
 * Windows: zentrok.dll is a 32-bit DLL and needs a 32-bit host process.
 */
#ifndef ZENTROK_H
#define ZENTROK_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define ZENTROK_CALL __stdcall
#define ZENTROK_API
#elif defined(__GNUC__)
#define ZENTROK_CALL
#define ZENTROK_API __attribute__((visibility("default")))
#else
#define ZENTROK_CALL
#define ZENTROK_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Date and time, laid out as the Windows SYSTEMTIME record. */
typedef struct QenSystemTime {
    uint16_t wYear;
    uint16_t wMonth;
    uint16_t wDayOfWeek;
    uint16_t wDay;
    uint16_t wHour;
    uint16_t wMinute;
    uint16_t wSecond;
    uint16_t wMilliseconds;
} QenSystemTime;

/* Length-prefixed strings: Length characters of Chars are meaningful. */
typedef struct QenCode {
    uint8_t Length; /* 0..2 */
    char Chars[2];
} QenCode;

typedef struct QenText {
    uint8_t Length; /* 0..7 */
    char Chars[7];
} QenText;

/* Stamp.wYear of a message that carries no time. */
#define QEN_NO_STAMP 0xFFFFu

/* One decoded message or queued entry: 44 bytes, little-endian. */
typedef struct QenMsg {
    int32_t Number;       /*  0: telegram number */
    uint16_t Channel;     /*  4: channel 0..15 */
    uint8_t Reserved6[2]; /*  6: never written by the driver */
    int32_t Ident;        /*  8: identifier (32-bit pattern) */
    QenCode Code;         /* 12: two-character code */
    QenText Text;         /* 15: seven-character text, upper case */
    uint8_t Reserved23;   /* 23: never written by the driver */
    QenSystemTime Stamp;  /* 24: time stamp; wYear QEN_NO_STAMP = none */
    uint32_t Note;        /* 40: reserved, never written by the driver */
} QenMsg;

#ifdef __cplusplus
#define ZENTROK_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define ZENTROK_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif
ZENTROK_STATIC_ASSERT(sizeof(QenSystemTime) == 16, "QenSystemTime is 16 bytes");
ZENTROK_STATIC_ASSERT(sizeof(QenMsg) == 44, "QenMsg is 44 bytes");
ZENTROK_STATIC_ASSERT(offsetof(QenMsg, Number) == 0, "Number at 0");
ZENTROK_STATIC_ASSERT(offsetof(QenMsg, Channel) == 4, "Channel at 4");
ZENTROK_STATIC_ASSERT(offsetof(QenMsg, Reserved6) == 6, "padding at 6");
ZENTROK_STATIC_ASSERT(offsetof(QenMsg, Ident) == 8, "Ident at 8");
ZENTROK_STATIC_ASSERT(offsetof(QenMsg, Code) == 12, "Code at 12");
ZENTROK_STATIC_ASSERT(offsetof(QenMsg, Text) == 15, "Text at 15");
ZENTROK_STATIC_ASSERT(offsetof(QenMsg, Reserved23) == 23, "padding at 23");
ZENTROK_STATIC_ASSERT(offsetof(QenMsg, Stamp) == 24, "Stamp at 24");
ZENTROK_STATIC_ASSERT(offsetof(QenMsg, Note) == 40, "Note at 40");

/* An open port; null when the port did not open. */
typedef void* QenHandle;

/* The driver's name, "ZENTROK"; stores 65533, 2 and 3 into the non-null
 * out-parameters. The text belongs to the library and stays valid while it
 * is loaded: never free it. */
ZENTROK_API const char* ZENTROK_CALL Qen_GetName(int32_t* Info1, int32_t* Info2, int32_t* Info3);

/* Opens serial port PortNumber (COM<n>) with the line settings of section
 * "RecNr<RecNumber>" of "Rn.ini" in the current directory. Returns null
 * when the port cannot be opened. */
ZENTROK_API QenHandle ZENTROK_CALL qen_InitComm(int32_t PortNumber, int32_t RecNumber);

/* Stops the port's reader, closes the port and releases the handle.
 * Returns 0; a handle that is not an open port is ignored. */
ZENTROK_API int32_t ZENTROK_CALL qen_CloseComm(QenHandle Handle);

/* Copies the next item of the port (the message, then its queued entries)
 * into Dest. Returns 1 when an item was delivered, 0 when there was none
 * (Dest untouched). A queued entry writes Channel, Ident, Code and Text
 * only; a message's Number is -9..99, so a Number set outside that range
 * before the call and found unchanged marks a queued entry. */
ZENTROK_API int32_t ZENTROK_CALL qen_GetMsg(QenHandle Handle, QenMsg* Dest);

/* The state of an open port's line, for a host that must tell a dead line
 * from a quiet one. The caller sets Size to the size of the record it
 * passes; later versions only add fields at the end. Counters run from
 * qen_InitComm. */
typedef struct QenLineState {
    uint32_t Size;               /*  0: in: sizeof(QenLineState); out: bytes filled */
    uint32_t DevicePresent;      /*  4: 1 the device is there; 0 the port waits for it to come back */
    uint32_t AwayMs;             /*  8: milliseconds since the device went; 0 while it is there */
    uint32_t SinceTelegramMs;    /* 12: milliseconds since the last telegram; QEN_NONE_YET before the first */
    uint32_t BaudRate;           /* 16: the line as the device took it (read back) */
    uint8_t ByteSize;            /* 20: data bits */
    uint8_t Parity;              /* 21: 0 none, 1 odd, 2 even, 3 mark, 4 space */
    uint8_t StopBits;            /* 22: 0 one, 1 one and a half, 2 two */
    uint8_t SettingsKnown;       /* 23: 1 when the device reported its settings; else 16..28 are 0 */
    uint32_t Flags;              /* 24: flow control and modem lines, the Windows DCB flag word */
    uint32_t Telegrams;          /* 28: telegrams received */
    uint32_t AcksSent;           /* 32: ACK bytes written to the line */
    uint32_t Withdrawn;          /* 36: messages withdrawn because the host did not take them in time */
    uint32_t DiscardedTelegrams; /* 40: telegrams discarded for line errors, not acknowledged */
    uint32_t LineErrors;         /* 44: line error reports (overrun, framing, break, overflow) */
    uint32_t Reopens;            /* 48: times the device came back and the port was opened again */
    uint32_t LogLinesNotWritten; /* 52: telegrams the log could not take */
} QenLineState;

/* SinceTelegramMs before the port's first telegram. */
#define QEN_NONE_YET 0xFFFFFFFFu

ZENTROK_STATIC_ASSERT(sizeof(QenLineState) == 56, "QenLineState is 56 bytes");
ZENTROK_STATIC_ASSERT(offsetof(QenLineState, BaudRate) == 16, "BaudRate at 16");
ZENTROK_STATIC_ASSERT(offsetof(QenLineState, Flags) == 24, "Flags at 24");
ZENTROK_STATIC_ASSERT(offsetof(QenLineState, LogLinesNotWritten) == 52, "LogLinesNotWritten at 52");
#undef ZENTROK_STATIC_ASSERT

/* Fills State for the open port Handle. Returns 1; 0 with nothing written
 * when Handle is not an open port, State is null or State->Size is less than
 * sizeof(QenLineState) of this header. Never waits for the reader. */
ZENTROK_API int32_t ZENTROK_CALL qen_GetLineState(QenHandle Handle, QenLineState* State);

/* Decodes one system-status line (length byte first) into the host's status
 * mask and 14-byte status table; sets *SysValue to 2. Returns 0. */
ZENTROK_API int32_t ZENTROK_CALL qen_GetSysMsg(const uint8_t* SysLine, int32_t* StateMask, uint8_t* StateTable,
                                               int32_t* SysValue);

#ifdef __cplusplus
}
#endif

#endif /* ZENTROK_H */
