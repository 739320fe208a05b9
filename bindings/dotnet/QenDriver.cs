// Calls that need no port: the driver's name and the system-status line.
using System;
using System.Runtime.InteropServices;

namespace Zentrok
{
    public sealed class QenDriverName
    {
        public string Name { get; private set; }
        public int Info1 { get; private set; }
        public int Info2 { get; private set; }
        public int Info3 { get; private set; }

        internal QenDriverName(string name, int info1, int info2, int info3)
        {
            Name = name;
            Info1 = info1;
            Info2 = info2;
            Info3 = info3;
        }

        // "ZENTROK (65533, 2, 3)": the name and the three numbers, as text.
        public override string ToString()
        {
            return string.Format("{0} ({1}, {2}, {3})", Name, Info1, Info2, Info3);
        }
    }

    public static class QenDriver
    {
        public static QenDriverName GetName()
        {
            int info1, info2, info3;
            string name = Marshal.PtrToStringAnsi(QenNative.Qen_GetName(out info1, out info2, out info3));
            return new QenDriverName(name, info1, info2, info3);
        }

        // Applies one system-status line (Latin-1, at most 255 characters) to
        // the status mask and the 14-byte status table; returns SysValue.
        public static int ApplySystemLine(string line, ref int stateMask, byte[] stateTable)
        {
            if (line == null) throw new ArgumentNullException("line");
            if (line.Length > 255) throw new ArgumentException("at most 255 characters", "line");
            if (stateTable == null || stateTable.Length != QenNative.StateTableSize)
                throw new ArgumentException("the status table has 14 bytes", "stateTable");
            var sysLine = new byte[line.Length + 1];
            sysLine[0] = (byte)line.Length;
            for (int i = 0; i < line.Length; i++)
            {
                if (line[i] > '\u00FF') throw new ArgumentException("only Latin-1 characters", "line");
                sysLine[i + 1] = (byte)line[i];
            }
            int sysValue;
            QenNative.qen_GetSysMsg(sysLine, ref stateMask, stateTable, out sysValue);
            return sysValue;
        }
    }
}
