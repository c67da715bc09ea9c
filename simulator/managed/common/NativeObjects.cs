using System;
using System.Reflection;
using Quelto.Common.Definitions;

namespace Quelto.Common.Native
{
    // Configuration objects to and from their native copies, property by
    // property under the interfaces' names.
    internal static class NativeObjects
    {
        // A native copy of `capture`; the caller frees it.
        internal static IntPtr FromCapture(ICaptureConfiguration capture)
        {
            bool[] insoles = capture.EnabledInsole, analog = capture.EnabledAnalogChannel;
            IntPtr o;
            Shim.Check(Shim.QueltoSimShim_ObjectNew(Shim.Utf8("CaptureConfiguration"), insoles == null ? 0 : insoles.Length,
                                                    analog == null ? 0 : analog.Length, out o));
            try
            {
                foreach (PropertyInfo p in typeof(ICaptureConfiguration).GetProperties())
                {
                    object value = p.GetValue(capture, null);
                    byte[] name = Shim.Utf8(p.Name);
                    if (p.PropertyType == typeof(bool[]))
                    {
                        var flags = (bool[])value;
                        if (flags == null) continue;
                        byte[] bytes = Array.ConvertAll(flags, f => f ? (byte)1 : (byte)0);
                        Shim.Check(Shim.QueltoSimShim_ObjectSetFlags(o, name, bytes, bytes.Length));
                    }
                    else if (p.PropertyType.IsInterface)
                    {
                        if (value == null)
                        {
                            Shim.Check(Shim.QueltoSimShim_ObjectSetNull(o, name));
                            continue;
                        }
                        foreach (PropertyInfo q in p.PropertyType.GetProperties())
                        {
                            Shim.Check(Shim.QueltoSimShim_ObjectSet(o, Shim.Utf8(p.Name + "." + q.Name), ToNumber(q.GetValue(value, null))));
                        }
                    }
                    else
                    {
                        Shim.Check(Shim.QueltoSimShim_ObjectSet(o, name, ToNumber(value)));
                    }
                }
            }
            catch
            {
                Shim.QueltoSimShim_ObjectFree(o);
                throw;
            }
            return o;
        }

        internal static IntPtr FromSensor(ISensorConfiguration sensor)
        {
            IntPtr o;
            Shim.Check(Shim.QueltoSimShim_ObjectNew(Shim.Utf8("SensorConfiguration"), 0, 0, out o));
            try
            {
                foreach (PropertyInfo p in typeof(ISensorConfiguration).GetProperties())
                {
                    Shim.Check(Shim.QueltoSimShim_ObjectSet(o, Shim.Utf8(p.Name), ToNumber(p.GetValue(sensor, null))));
                }
            }
            catch
            {
                Shim.QueltoSimShim_ObjectFree(o);
                throw;
            }
            return o;
        }

        internal static CaptureConfiguration ToCapture(IntPtr o)
        {
            var c = new CaptureConfiguration();
            foreach (PropertyInfo p in typeof(ICaptureConfiguration).GetProperties())
            {
                byte[] name = Shim.Utf8(p.Name);
                if (p.PropertyType == typeof(bool[]))
                {
                    var target = (bool[])p.GetValue(c, null);
                    byte[] bytes = new byte[target.Length];
                    Shim.Check(Shim.QueltoSimShim_ObjectGetFlags(o, name, bytes, bytes.Length));
                    int count = Math.Min(target.Length, Math.Max(Shim.QueltoSimShim_ObjectFlagCount(o, name), 0));
                    for (int i = 0; i < count; ++i) target[i] = bytes[i] != 0;
                }
                else if (p.PropertyType.IsInterface)
                {
                    int has = Shim.QueltoSimShim_ObjectHas(o, name);
                    if (has < 0) Shim.Check(has);
                    if (has == 0)
                    {
                        p.SetValue(c, null, null);
                        continue;
                    }
                    object inner = p.GetValue(c, null);
                    foreach (PropertyInfo q in p.PropertyType.GetProperties())
                    {
                        q.SetValue(inner, FromNumber(q.PropertyType, Get(o, p.Name + "." + q.Name)), null);
                    }
                }
                else
                {
                    p.SetValue(c, FromNumber(p.PropertyType, Get(o, p.Name)), null);
                }
            }
            return c;
        }

        internal static SensorConfiguration ToSensor(IntPtr o)
        {
            var s = new SensorConfiguration();
            foreach (PropertyInfo p in typeof(ISensorConfiguration).GetProperties())
            {
                p.SetValue(s, FromNumber(p.PropertyType, Get(o, p.Name)), null);
            }
            return s;
        }

        private static double Get(IntPtr o, string property)
        {
            double v;
            Shim.Check(Shim.QueltoSimShim_ObjectGet(o, Shim.Utf8(property), out v));
            return v;
        }

        private static double ToNumber(object value)
        {
            if (value is bool) return (bool)value ? 1 : 0;
            if (value is Enum) return Convert.ToInt64(value);
            return Convert.ToDouble(value);
        }

        private static object FromNumber(Type type, double value)
        {
            if (type == typeof(bool)) return value != 0;
            if (type.IsEnum) return Enum.ToObject(type, (int)value);
            if (type == typeof(uint)) return (uint)value;
            if (type == typeof(int)) return (int)value;
            return Convert.ChangeType(value, type);
        }
    }
}
