// A Mono host on bindings/dotnet: prints the record's layout as marshalled,
// the driver's name, the effect of two system-status lines, and then every
// item a port delivers as "item|number|channel|ident|code|text|stamp|queued"
// until COUNT items or SECONDS have passed.
//
//   dotnet_host.exe PORT COUNT SECONDS
using System;
using System.Diagnostics;
using System.Globalization;
using System.Runtime.InteropServices;
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
        using (var port = new QenPort(int.Parse(args[0])))
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
                string stamp = item.Stamp.HasValue
                    ? item.Stamp.Value.ToString("yyyy-MM-dd HH:mm:ss", CultureInfo.InvariantCulture)
                    : "-";
                Console.WriteLine("{0}|{1}|{2}|{3:X8}|{4}|{5}|{6}|{7}", ++received,
                                  item.IsQueuedEntry ? "-" : item.Number.ToString(), item.Channel, item.Ident,
                                  item.Code, item.Text, stamp, item.IsQueuedEntry ? "yes" : "no");
            }
        }
        Console.WriteLine("{0} items", received);
        return 0;
    }
}
