// A port and the items it delivers, as .NET values.
//
// Threading: while any port is open some thread must keep calling
// TryGetMessage (any port, any thread): each call first runs the hand-offs
// that are waiting. README.md, "Threading: the host's duty", says more.
using System;
using System.IO;

namespace Zentrok
{
    // One delivered item: a message, or a queued entry of the message before it.
    public sealed class QenItem
    {
        public int? Number { get; private set; } // null for a queued entry
        public bool IsQueuedEntry { get { return Number == null; } }
        public ushort Channel { get; private set; }
        public uint Ident { get; private set; } // the 32-bit identifier
        public string Code { get; private set; } // up to 2 characters
        public string Text { get; private set; } // up to 7 characters, a-z delivered as A-Z
        public DateTime? Stamp { get; private set; } // null without a time (always for an entry)

        internal static QenItem From(QenMsg msg)
        {
            bool entry = msg.IsQueuedEntry;
            return new QenItem
            {
                Number = entry ? (int?)null : msg.Number,
                Channel = msg.Channel,
                Ident = unchecked((uint)msg.Ident),
                Code = msg.Code.ToString(),
                Text = msg.Text.ToString(),
                Stamp = entry ? null : StampOf(msg.Stamp),
            };
        }

        static DateTime? StampOf(QenSystemTime t)
        {
            if (t.wYear == QenMsg.NoStamp) return null;
            try
            {
                return new DateTime(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
            }
            catch (ArgumentOutOfRangeException)
            {
                return null; // not a date: the driver delivers none such, and the item must not be lost
            }
        }
    }

    public sealed class QenPort : IDisposable
    {
        IntPtr handle;

        // Opens COM<portNumber> with section RecNr<section> of Rn.ini.
        public QenPort(int portNumber, int section = 1)
        {
            handle = QenNative.qen_InitComm(portNumber, section);
            if (handle == IntPtr.Zero) throw new IOException("port " + portNumber + " did not open");
            PortNumber = portNumber;
        }

        public int PortNumber { get; private set; }
        public bool IsOpen { get { return handle != IntPtr.Zero; } }
        // The driver's handle, for the raw calls of QenNative; IntPtr.Zero once closed.
        public IntPtr Handle { get { return handle; } }

        // The next item, if there is one; false (and no exception) otherwise,
        // also once the port is closed. Does not wait.
        public bool TryGetMessage(out QenItem item)
        {
            item = null;
            var msg = QenMsg.WithSentinel();
            if (handle == IntPtr.Zero || QenNative.qen_GetMsg(handle, ref msg) != 1) return false;
            item = QenItem.From(msg);
            return true;
        }

        // The state of the port's line: whether the device is there, the
        // settings it took and the counters since the open; false (and no
        // exception) once the port is closed. Does not wait.
        public bool TryGetLineState(out QenLineState state)
        {
            state = QenLineState.Create();
            return handle != IntPtr.Zero && QenNative.qen_GetLineState(handle, ref state) == 1;
        }

        // Closes the port; again does nothing. Can take up to 7 s while a
        // message is being handed over.
        public void Dispose()
        {
            IntPtr open = handle;
            handle = IntPtr.Zero;
            if (open != IntPtr.Zero) QenNative.qen_CloseComm(open);
        }
    }
}
