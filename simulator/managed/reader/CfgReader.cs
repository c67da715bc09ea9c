using System;
using System.Drawing;
using System.Reflection;
using System.Runtime.InteropServices;
using Quelto.Common.Definitions;
using Quelto.Common.Native;

namespace PellimorCfgReader
{
    public interface ICfgReader
    {
        ConfigurationExportBase ReadCfgFile(string path);
    }

    // Reads the simulated SDK's configuration files (docs/configuration-format.md)
    // with the native reader, then copies every field.
    public class CfgReader : ICfgReader
    {
        public ConfigurationExportBase ReadCfgFile(string path)
        {
            if (path == null) throw new ArgumentNullException("path");
            IntPtr native;
            Shim.Check(Shim.QueltoSimShim_ConfigRead(Shim.Utf8(path), out native));
            try
            {
                var result = new ConfigurationExportBase();
                foreach (FieldInfo f in typeof(ConfigurationExportBase).GetFields(BindingFlags.Public | BindingFlags.Instance))
                {
                    f.SetValue(result, Read(native, f));
                }
                return result;
            }
            finally
            {
                Shim.QueltoSimShim_ConfigFree(native);
            }
        }

        private static object Read(IntPtr config, FieldInfo f)
        {
            byte[] name = Shim.Utf8(f.Name);
            Type t = f.FieldType;
            if (t == typeof(ICaptureConfiguration))
            {
                IntPtr o = Shim.QueltoSimShim_ConfigObject(config, name, 0);
                return o == IntPtr.Zero ? null : Take(o, NativeObjects.ToCapture);
            }
            if (t == typeof(float))
            {
                float v;
                Shim.Check(Shim.QueltoSimShim_ConfigFloat(config, name, out v));
                return v;
            }
            int[] extents = new int[2];
            int rank = Shim.QueltoSimShim_ConfigShape(config, name, extents);
            if (t == typeof(ISensorConfiguration[]) && rank == -2)
            {
                // Not a plain array in the shim: element by element.
                var sensors = new ISensorConfiguration[ConfigurationExportBase.SensorCount];
                for (int i = 0; i < sensors.Length; ++i)
                {
                    IntPtr o = Shim.QueltoSimShim_ConfigObject(config, name, i);
                    sensors[i] = o == IntPtr.Zero ? null : Take(o, NativeObjects.ToSensor);
                }
                return sensors;
            }
            if (rank == -1) return null;
            if (rank != t.GetArrayRank()) throw new InvalidOperationException("Configuration field " + f.Name + " has rank " + rank);
            int[] lengths = new int[rank];
            Array.Copy(extents, lengths, rank);
            Type element = t.GetElementType();
            Array result = Array.CreateInstance(element, lengths);
            int count = result.Length;
            if (element == typeof(string))
            {
                for (int i = 0; i < count; ++i) result.SetValue(ReadString(config, name, i), i);
            }
            else if (element == typeof(bool))
            {
                byte[] bytes = Copy<byte>(config, name, count);
                for (int i = 0; i < count; ++i) result.SetValue(bytes[i] != 0, i);
            }
            else if (element == typeof(Color))
            {
                int[] argb = Copy<int>(config, name, count);
                for (int i = 0; i < count; ++i) result.SetValue(Color.FromArgb(argb[i]), i);
            }
            else
            {
                // float, int and enumerations: the native values as they are.
                Pinned(result, p => Shim.Check(Shim.QueltoSimShim_ConfigCopy(config, name, p, count)));
            }
            return result;
        }

        private static T Take<T>(IntPtr o, Func<IntPtr, T> convert)
        {
            try
            {
                return convert(o);
            }
            finally
            {
                Shim.QueltoSimShim_ObjectFree(o);
            }
        }

        private static T[] Copy<T>(IntPtr config, byte[] name, int count)
        {
            var values = new T[count];
            Pinned(values, p => Shim.Check(Shim.QueltoSimShim_ConfigCopy(config, name, p, count)));
            return values;
        }

        private static void Pinned(Array a, Action<IntPtr> use)
        {
            GCHandle pin = GCHandle.Alloc(a, GCHandleType.Pinned);
            try
            {
                use(pin.AddrOfPinnedObject());
            }
            finally
            {
                pin.Free();
            }
        }

        private static string ReadString(IntPtr config, byte[] name, int index)
        {
            int length = Shim.QueltoSimShim_ConfigString(config, name, index, IntPtr.Zero, 0);
            if (length == -1) return null;
            if (length < 0) throw new InvalidOperationException("No text at " + index);
            var text = new char[length];
            if (length > 0) Pinned(text, p => Shim.QueltoSimShim_ConfigString(config, name, index, p, length));
            return new string(text);
        }
    }
}
