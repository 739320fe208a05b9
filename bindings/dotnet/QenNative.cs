// The driver's 44-byte record and its five calls for P/Invoke, and the line
// state of an open port (qen_GetLineState and its 56-byte record).
//
// The library is bound by name: zentrok.dll on Windows, libzentrok.so on
// Linux (Mono and .NET both try the "lib" prefix and ".so" suffix), found by
// the system loader: beside the program or on PATH on Windows, through
// LD_LIBRARY_PATH, the run path or the loader cache on Linux. The DLL is
// 32-bit, so a Windows host runs as an x86 process (PlatformTarget x86).
using System;
using System.Runtime.InteropServices;

namespace Zentrok
{
    // The Windows SYSTEMTIME layout.
    [StructLayout(LayoutKind.Sequential, Pack = 1)]
    public struct QenSystemTime
    {
        public ushort wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
    }

    // A length byte and at most 2 characters; only Length of them are meaningful.
    [StructLayout(LayoutKind.Sequential, Pack = 1)]
    public struct QenCode
    {
        public byte Length;
        public byte Char0, Char1;

        public override string ToString() { return QenChars.Decode(Length, Char0, Char1); }
    }

    // A length byte and at most 7 characters; only Length of them are meaningful.
    [StructLayout(LayoutKind.Sequential, Pack = 1)]
    public struct QenText
    {
        public byte Length;
        public byte Char0, Char1, Char2, Char3, Char4, Char5, Char6;

        public override string ToString()
        {
            return QenChars.Decode(Length, Char0, Char1, Char2, Char3, Char4, Char5, Char6);
        }
    }

    // One message or queued entry, laid out byte for byte as the driver writes it.
    [StructLayout(LayoutKind.Explicit, Size = 44)]
    public struct QenMsg
    {
        public const ushort NoStamp = 0xFFFF; // Stamp.wYear of a message without a time

        [FieldOffset(0)] public int Number;
        [FieldOffset(4)] public ushort Channel;
        // 6: two reserved bytes, never written by the driver
        [FieldOffset(8)] public int Ident;
        [FieldOffset(12)] public QenCode Code;
        [FieldOffset(15)] public QenText Text;
        // 23: one reserved byte, never written by the driver
        [FieldOffset(24)] public QenSystemTime Stamp;
        [FieldOffset(40)] public uint Note; // reserved, never written by the driver

        // A queued entry writes neither Number nor Stamp. Pass a record made
        // by WithSentinel to each qen_GetMsg; after a delivery IsQueuedEntry
        // tells an entry (Number and Stamp still hold the pattern) from a
        // message, whose Number is -9..99.
        const int SentinelNumber = unchecked((int)0xA5A5A5A5);
        const ushort SentinelWord = 0xA5A5;

        public static QenMsg WithSentinel()
        {
            var msg = new QenMsg { Number = SentinelNumber };
            msg.Stamp.wYear = msg.Stamp.wMonth = msg.Stamp.wDayOfWeek = msg.Stamp.wDay = SentinelWord;
            msg.Stamp.wHour = msg.Stamp.wMinute = msg.Stamp.wSecond = msg.Stamp.wMilliseconds = SentinelWord;
            return msg;
        }

        public bool IsQueuedEntry
        {
            get
            {
                var t = Stamp;
                return Number == SentinelNumber && t.wYear == SentinelWord && t.wMonth == SentinelWord &&
                       t.wDayOfWeek == SentinelWord && t.wDay == SentinelWord && t.wHour == SentinelWord &&
                       t.wMinute == SentinelWord && t.wSecond == SentinelWord && t.wMilliseconds == SentinelWord;
            }
        }
    }

    // The state of an open port's line, for a host that must tell a dead
    // line from a quiet one; laid out as the driver fills it. Size must hold
    // the record's size before the call (Create sets it); later versions only
    // add fields at the end. Counters run from the port's open.
    [StructLayout(LayoutKind.Explicit, Size = 56)]
    public struct QenLineState
    {
        public const uint NoneYet = 0xFFFFFFFF; // SinceTelegramMs before the first telegram

        [FieldOffset(0)] public uint Size;                     // in: the record's size; out: bytes filled
        [FieldOffset(4)] public uint DevicePresent;            // 1 the device is there; 0 the port waits for it
        [FieldOffset(8)] public uint AwayMs;                   // since the device went; 0 while it is there
        [FieldOffset(12)] public uint SinceTelegramMs;         // since the last telegram; NoneYet before the first
        [FieldOffset(16)] public uint BaudRate;                // the line as the device took it (read back)
        [FieldOffset(20)] public byte ByteSize;                // data bits
        [FieldOffset(21)] public byte Parity;                  // 0 none, 1 odd, 2 even, 3 mark, 4 space
        [FieldOffset(22)] public byte StopBits;                // 0 one, 1 one and a half, 2 two
        [FieldOffset(23)] public byte SettingsKnown;           // 1 when the device reported them; else 16..28 are 0
        [FieldOffset(24)] public uint Flags;                   // flow control and modem lines, the DCB flag word
        [FieldOffset(28)] public uint Telegrams;               // telegrams received
        [FieldOffset(32)] public uint AcksSent;                // ACK bytes written to the line
        [FieldOffset(36)] public uint Withdrawn;               // messages the host did not take in time
        [FieldOffset(40)] public uint DiscardedTelegrams;      // discarded for line errors, not acknowledged
        [FieldOffset(44)] public uint LineErrors;              // overrun, framing, break, overflow reports
        [FieldOffset(48)] public uint Reopens;                 // times the device came back and was opened again
        [FieldOffset(52)] public uint LogLinesNotWritten;      // telegrams the log could not take

        // A record whose Size says how large it is, ready for qen_GetLineState.
        public static QenLineState Create()
        {
            return new QenLineState { Size = (uint)Marshal.SizeOf(typeof(QenLineState)) };
        }
    }

    static class QenChars
    {
        // Latin-1, never more characters than the field holds.
        public static string Decode(byte length, params byte[] chars)
        {
            var text = new char[Math.Min(length, chars.Length)];
            for (int i = 0; i < text.Length; i++) text[i] = (char)chars[i];
            return new string(text);
        }
    }

    // The calls: __stdcall on 32-bit Windows, the C convention elsewhere
    // (CallingConvention.Winapi is each platform's default).
    public static class QenNative
    {
        public const string Library = "zentrok";
        public const int StateTableSize = 14;

        // Returns the static text "ZENTROK" (never free it); stores 65533, 2, 3.
        [DllImport(Library, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern IntPtr Qen_GetName(out int info1, out int info2, out int info3);

        // An opaque handle, IntPtr.Zero when the port did not open.
        [DllImport(Library, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern IntPtr qen_InitComm(int portNumber, int recNumber);

        // Returns 0; a handle that is not an open port is ignored.
        [DllImport(Library, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int qen_CloseComm(IntPtr handle);

        // 1: the next item was copied into dest; 0: none, dest untouched.
        [DllImport(Library, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int qen_GetMsg(IntPtr handle, ref QenMsg dest);

        // 1: state holds the port's line state; 0, state untouched, when the
        // handle is no open port or state.Size is less than the record's size.
        [DllImport(Library, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int qen_GetLineState(IntPtr handle, ref QenLineState state);

        // sysLine: a length byte, then the characters; stateTable: 14 bytes.
        [DllImport(Library, CallingConvention = CallingConvention.Winapi, ExactSpelling = true)]
        public static extern int qen_GetSysMsg([In] byte[] sysLine, ref int stateMask, [In, Out] byte[] stateTable,
                                               out int sysValue);
    }
}
