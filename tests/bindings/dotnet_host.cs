// A Mono host on bindings/dotnet: prints the layout of both records as
// marshalled, the driver's name, the effect of two system-status lines, then
// every item a port delivers as "item|number|channel|ident|code|text|stamp|
// queued" until COUNT items or SECONDS have passed, and the port's line
// state: as the open port gave it at the first queued entry, for a record too
// small, and once closed.
//
//   dotnet_host.exe PORT COUNT SECONDS
using System;
using System.Diagnostics;
using System.Globalization;
using System.Runtime.InteropServices;
using System.Linq;
using System.Threading;
using Zentrok;

static class DotnetHost
{
    static int Offset(string field) { return (int)Marshal.OffsetOf(typeof(QenMsg), field); }

    static void PrintLayout()
    {
        Console.WriteLine("layout: size {0}, Number {1}, Channel {2}, Ident {3}, Code {4} (size {5}), " +
                          "Text {6} (size {7}), Stamp {8} (size {9}), Note {10}",
                          Marshal.SizeOf(typeof(QenMsg)), Offset("Number"), Offset("Channel"), Offset("Ident"),
                          Offset("Code"), Marshal.SizeOf(typeof(QenCode)), Offset("Text"),
                          Marshal.SizeOf(typeof(QenText)), Offset("Stamp"), Marshal.SizeOf(typeof(QenSystemTime)),
                          Offset("Note"));
        Func<string, int> at = field => (int)Marshal.OffsetOf(typeof(QenLineState), field);
        Console.WriteLine("line state layout: size {0}, DevicePresent {1}, BaudRate {2}, ByteSize {3}, " +
                          "SettingsKnown {4}, Flags {5}, Telegrams {6}, LogLinesNotWritten {7}",
                          Marshal.SizeOf(typeof(QenLineState)), at("DevicePresent"), at("BaudRate"), at("ByteSize"),
                          at("SettingsKnown"), at("Flags"), at("Telegrams"), at("LogLinesNotWritten"));
    }

    static byte[] BytesOf(QenLineState state)
    {
        var bytes = new byte[Marshal.SizeOf(typeof(QenLineState))];
        IntPtr copy = Marshal.AllocHGlobal(bytes.Length);
        Marshal.StructureToPtr(state, copy, false);
        Marshal.Copy(copy, bytes, 0, bytes.Length);
        Marshal.FreeHGlobal(copy);
        return bytes;
    }

    // qen_GetLineState on a record whose contents are known: "0, untouched"
    // when the driver gave 0 and wrote nothing.
    static string RawLineState(IntPtr handle, uint size)
    {
        var state = new QenLineState { Size = size, Telegrams = 0xA5A5A5A5 };
        byte[] before = BytesOf(state);
        int answer = QenNative.qen_GetLineState(handle, ref state);
        return answer + (BytesOf(state).SequenceEqual(before) ? ", untouched" : ", written");
    }

    static void PrintNameAndSystemLines()
    {
        QenDriverName driver = QenDriver.GetName();
        Console.WriteLine("driver {0}", driver);
        int mask = 0;
        var table = new byte[QenNative.StateTableSize];
        QenDriver.ApplySystemLine("   A 03", ref mask, table);
        int value = QenDriver.ApplySystemLine("   R E5", ref mask, table);
        Console.WriteLine("system lines: mask {0}, entry 5 {1:X2}, value {2}", mask, table[4], value);
    }

    static int Main(string[] args)
    {
        PrintLayout();
        PrintNameAndSystemLines();
        int count = int.Parse(args[1]);
        var clock = Stopwatch.StartNew();
        int received = 0;
        var port = new QenPort(int.Parse(args[0]));
        IntPtr handle = port.Handle;
        QenLineState state = QenLineState.Create();
        int taken = -1;
        using (port)
        {
            // This thread opened the port, so it keeps polling: each hand-off
            // of a message runs inside its TryGetMessage.
            while (received < count && clock.Elapsed.TotalSeconds < int.Parse(args[2]))
            {
                QenItem item;
                if (!port.TryGetMessage(out item))
                {
                    Thread.Sleep(1);
                    continue;
                }
                // At the first queued entry its telegram is still being
                // handed over: the device waits for the ACK, so it is there.
                if (item.IsQueuedEntry && taken < 0) taken = port.TryGetLineState(out state) ? 1 : 0;
                string stamp = item.Stamp.HasValue
                    ? item.Stamp.Value.ToString("yyyy-MM-dd HH:mm:ss", CultureInfo.InvariantCulture)
                    : "-";
                Console.WriteLine("{0}|{1}|{2}|{3:X8}|{4}|{5}|{6}|{7}", ++received,
                                  item.IsQueuedEntry ? "-" : item.Number.ToString(), item.Channel, item.Ident,
                                  item.Code, item.Text, stamp, item.IsQueuedEntry ? "yes" : "no");
            }
            Console.WriteLine("line state {0}: size {1}, device present {2}, away {3} ms, telegrams {4}, {5} baud, " +
                              "{6} data bits, settings known {7}", taken, state.Size, state.DevicePresent,
                              state.AwayMs, state.Telegrams, state.BaudRate, state.ByteSize, state.SettingsKnown);
            Console.WriteLine("line state of a record too small: {0}",
                              RawLineState(handle, QenLineState.Create().Size - 1));
        }
        QenLineState closed;
        Console.WriteLine("line state after the close: {0}{1}", RawLineState(handle, QenLineState.Create().Size),
                          port.TryGetLineState(out closed) ? "; the port still gives one" : "");
        Console.WriteLine("{0} items", received);
        return 0;
    }
}
