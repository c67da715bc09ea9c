using System;
using System.Runtime.InteropServices;
using System.Text;

namespace Quelto.Common.Native
{
    // The native shim (QueltoSimShim.h): the simulated device, its blocks and
    // the configuration file, shared with the native simulated SDK.
    internal static class Shim
    {
        private const string Library = "QueltoSimShim";

        [DllImport(Library)] internal static extern int QueltoSimShim_LastError(byte[] type, int typeCapacity, byte[] message, int messageCapacity);

        [DllImport(Library)] internal static extern int QueltoSimShim_DeviceCreate(out IntPtr device);
        [DllImport(Library)] internal static extern int QueltoSimShim_DeviceDispose(IntPtr device);
        [DllImport(Library)] internal static extern void QueltoSimShim_DeviceFree(IntPtr device);
        [DllImport(Library)] internal static extern int QueltoSimShim_DeviceCall(IntPtr device, byte[] member, int argument);
        [DllImport(Library)] internal static extern int QueltoSimShim_DeviceConfigureCapture(IntPtr device, IntPtr configuration);
        [DllImport(Library)] internal static extern int QueltoSimShim_DeviceConfigureSensor(IntPtr device, IntPtr configuration, int sensor);
        [DllImport(Library)] internal static extern int QueltoSimShim_DeviceState(IntPtr device, out int state);
        [DllImport(Library)] internal static extern int QueltoSimShim_DeviceVersion(IntPtr device, [Out] int[] version);
        [DllImport(Library)] internal static extern int QueltoSimShim_DeviceIsFast(IntPtr device);
        [DllImport(Library)] internal static extern int QueltoSimShim_DeviceWaitBlock(IntPtr device, out IntPtr block, int timeout_ms);
        [DllImport(Library)] internal static extern void QueltoSimShim_DeviceBlockDone(IntPtr device);

        [DllImport(Library)] internal static extern int QueltoSimShim_BlockFieldId(byte[] name);
        [DllImport(Library)] internal static extern long QueltoSimShim_BlockScalar(IntPtr block, int field);
        [DllImport(Library)] internal static extern int QueltoSimShim_BlockShape(IntPtr block, int field, [Out] int[] extents);
        [DllImport(Library)] internal static extern int QueltoSimShim_BlockCopy(IntPtr block, int field, IntPtr target, long bytes);
        [DllImport(Library)] internal static extern void QueltoSimShim_BlockFree(IntPtr block);

        [DllImport(Library)] internal static extern int QueltoSimShim_ObjectNew(byte[] className, int insoles, int analogChannels, out IntPtr obj);
        [DllImport(Library)] internal static extern void QueltoSimShim_ObjectFree(IntPtr obj);
        [DllImport(Library)] internal static extern int QueltoSimShim_ObjectSet(IntPtr obj, byte[] property, double value);
        [DllImport(Library)] internal static extern int QueltoSimShim_ObjectGet(IntPtr obj, byte[] property, out double value);
        [DllImport(Library)] internal static extern int QueltoSimShim_ObjectHas(IntPtr obj, byte[] property);
        [DllImport(Library)] internal static extern int QueltoSimShim_ObjectSetNull(IntPtr obj, byte[] property);
        [DllImport(Library)] internal static extern int QueltoSimShim_ObjectFlagCount(IntPtr obj, byte[] property);
        [DllImport(Library)] internal static extern int QueltoSimShim_ObjectGetFlags(IntPtr obj, byte[] property, [Out] byte[] flags, int count);
        [DllImport(Library)] internal static extern int QueltoSimShim_ObjectSetFlags(IntPtr obj, byte[] property, byte[] flags, int count);

        [DllImport(Library)] internal static extern int QueltoSimShim_ConfigRead(byte[] path, out IntPtr config);
        [DllImport(Library)] internal static extern void QueltoSimShim_ConfigFree(IntPtr config);
        [DllImport(Library)] internal static extern int QueltoSimShim_ConfigShape(IntPtr config, byte[] field, [Out] int[] extents);
        [DllImport(Library)] internal static extern int QueltoSimShim_ConfigCopy(IntPtr config, byte[] field, IntPtr target, int count);
        [DllImport(Library)] internal static extern int QueltoSimShim_ConfigString(IntPtr config, byte[] field, int index, IntPtr text, int capacity);
        [DllImport(Library)] internal static extern int QueltoSimShim_ConfigFloat(IntPtr config, byte[] field, out float value);
        [DllImport(Library)] internal static extern IntPtr QueltoSimShim_ConfigObject(IntPtr config, byte[] field, int index);

        // NUL-terminated UTF-8.
        internal static byte[] Utf8(string text)
        {
            if (text == null) return null;
            byte[] bytes = new byte[Encoding.UTF8.GetByteCount(text) + 1];
            Encoding.UTF8.GetBytes(text, 0, text.Length, bytes, 0);
            return bytes;
        }

        // Throws the exception the shim reported when `status` is a failure.
        internal static void Check(int status)
        {
            if (status == 0) return;
            byte[] type = new byte[256];
            int length = QueltoSimShim_LastError(type, type.Length, null, 0);
            byte[] message = new byte[length + 1];
            QueltoSimShim_LastError(type, type.Length, message, message.Length);
            throw MakeException(Text(type), Encoding.UTF8.GetString(message, 0, length));
        }

        private static string Text(byte[] zeroTerminated)
        {
            int n = Array.IndexOf(zeroTerminated, (byte)0);
            return Encoding.UTF8.GetString(zeroTerminated, 0, n < 0 ? zeroTerminated.Length : n);
        }

        // The named exception type with exactly `message`; System.Exception
        // naming the type when it is not found.
        internal static Exception MakeException(string typeName, string message)
        {
            Type type = Type.GetType(typeName, false);
            if (type == null)
            {
                foreach (var assembly in AppDomain.CurrentDomain.GetAssemblies())
                {
                    type = assembly.GetType(typeName, false);
                    if (type != null) break;
                }
            }
            if (type != null && typeof(Exception).IsAssignableFrom(type))
            {
                var withInner = type.GetConstructor(new[] { typeof(string), typeof(Exception) });
                if (withInner != null) return (Exception)withInner.Invoke(new object[] { message, null });
                var plain = type.GetConstructor(new[] { typeof(string) });
                if (plain != null) return (Exception)plain.Invoke(new object[] { message });
            }
            return new Exception(typeName + ": " + message);
        }
    }
}
