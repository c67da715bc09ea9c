using System;
using System.Runtime.InteropServices;
using System.Text;

// The shim's C API as a test reaches it: the control, blocks and the native
// generator (QueltoSimShim.h).
static class Native
{
    const string Library = "QueltoSimShim";

    [DllImport(Library)] public static extern int QueltoSimShim_ControlCallCount();
    [DllImport(Library)] public static extern int QueltoSimShim_ControlCall(int index, byte[] operation, int capacity, [Out] long[] arguments, int maxArguments, out ulong device);
    [DllImport(Library)] public static extern void QueltoSimShim_ControlClearCalls();
    [DllImport(Library)] public static extern void QueltoSimShim_ControlSetRecording(int on);
    [DllImport(Library)] public static extern void QueltoSimShim_ControlSetFailure(string operation, string exceptionType, string message, int times);
    [DllImport(Library)] public static extern void QueltoSimShim_ControlClearFailures();
    [DllImport(Library)] public static extern int QueltoSimShim_ControlLiveDevices();
    [DllImport(Library)] public static extern int QueltoSimShim_ControlAllocatedDevices();
    [DllImport(Library)] public static extern ulong QueltoSimShim_ControlLatestDevice();
    [DllImport(Library)] public static extern int QueltoSimShim_ControlRaiseBlock(IntPtr block);
    [DllImport(Library)] public static extern int QueltoSimShim_ControlEventThreadId(byte[] text, int capacity);
    [DllImport(Library)] public static extern int QueltoSimShim_ControlLogCount();
    [DllImport(Library)] public static extern int QueltoSimShim_ControlLogLine(int index, byte[] text, int capacity);

    [DllImport(Library)] public static extern int QueltoSimShim_BlockFieldId(string name);
    [DllImport(Library)] public static extern long QueltoSimShim_BlockScalar(IntPtr block, int field);
    [DllImport(Library)] public static extern int QueltoSimShim_BlockShape(IntPtr block, int field, [Out] int[] extents);
    [DllImport(Library)] public static extern int QueltoSimShim_BlockCopy(IntPtr block, int field, byte[] target, long bytes);
    [DllImport(Library)] public static extern void QueltoSimShim_BlockFree(IntPtr block);
    [DllImport(Library)] public static extern IntPtr QueltoSimShim_BlockNew();
    [DllImport(Library)] public static extern int QueltoSimShim_BlockSetScalar(IntPtr block, int field, long value);
    [DllImport(Library)] public static extern int QueltoSimShim_BlockSetArray(IntPtr block, int field, int rank, int[] extents, float[] data);
    [DllImport(Library, EntryPoint = "QueltoSimShim_BlockSetArray")] public static extern int QueltoSimShim_BlockSetArrayU16(IntPtr block, int field, int rank, int[] extents, ushort[] data);

    [DllImport(Library)] public static extern int QueltoSimShim_GeneratorCreate(ulong seed, IntPtr capture, int period, out IntPtr generator);
    [DllImport(Library)] public static extern IntPtr QueltoSimShim_GeneratorNext(IntPtr generator);
    [DllImport(Library)] public static extern void QueltoSimShim_GeneratorFree(IntPtr generator);
    [DllImport(Library)] public static extern int QueltoSimShim_ObjectNew(string className, int insoles, int analogChannels, out IntPtr obj);
    [DllImport(Library)] public static extern int QueltoSimShim_ObjectSet(IntPtr obj, string property, double value);
    [DllImport(Library)] public static extern int QueltoSimShim_ObjectSetFlags(IntPtr obj, string property, byte[] flags, int count);
    [DllImport(Library)] public static extern void QueltoSimShim_ObjectFree(IntPtr obj);

    public static string Text(byte[] zeroTerminated)
    {
        int n = Array.IndexOf(zeroTerminated, (byte)0);
        return Encoding.UTF8.GetString(zeroTerminated, 0, n < 0 ? zeroTerminated.Length : n);
    }

    public struct Call
    {
        public string Operation;
        public long[] Arguments;
        public ulong Device;
    }

    public static Call[] Calls()
    {
        int n = QueltoSimShim_ControlCallCount();
        var calls = new Call[n];
        for (int i = 0; i < n; ++i)
        {
            var op = new byte[128];
            var args = new long[8];
            ulong device;
            int count = QueltoSimShim_ControlCall(i, op, op.Length, args, args.Length, out device);
            Array.Resize(ref args, Math.Max(count, 0));
            calls[i] = new Call { Operation = Text(op), Arguments = args, Device = device };
        }
        return calls;
    }

    public static string EventThreadId()
    {
        var text = new byte[64];
        QueltoSimShim_ControlEventThreadId(text, text.Length);
        return Text(text);
    }

    public static string[] Log()
    {
        int n = QueltoSimShim_ControlLogCount();
        var lines = new string[n];
        for (int i = 0; i < n; ++i)
        {
            var text = new byte[512];
            QueltoSimShim_ControlLogLine(i, text, text.Length);
            lines[i] = Text(text);
        }
        return lines;
    }

    [DllImport("libc", EntryPoint = "pthread_self")] public static extern UIntPtr PthreadSelf();
}
