using System;
using System.Reflection;
using System.Runtime.InteropServices;
using Quelto.Common.Definitions;

namespace Quelto.Common.Native
{
    // A native block as a new DataAvailableEventArgs: every public field by
    // name, arrays copied with their shapes.
    internal static class NativeBlocks
    {
        private struct Field
        {
            internal FieldInfo Info;
            internal int Id;
        }

        private static readonly Field[] fields = Fields();

        private static Field[] Fields()
        {
            FieldInfo[] infos = typeof(DataAvailableEventArgs).GetFields(BindingFlags.Public | BindingFlags.Instance);
            var result = new Field[infos.Length];
            for (int i = 0; i < infos.Length; ++i)
            {
                int id = Shim.QueltoSimShim_BlockFieldId(Shim.Utf8(infos[i].Name));
                if (id < 0) throw new MissingFieldException("DataAvailableEventArgs", infos[i].Name);
                result[i] = new Field { Info = infos[i], Id = id };
            }
            return result;
        }

        // Number of the field `name` in the shim; -1 when unknown.
        internal static int FieldId(string name) { return Shim.QueltoSimShim_BlockFieldId(Shim.Utf8(name)); }

        internal static DataAvailableEventArgs ToManaged(IntPtr block)
        {
            var e = new DataAvailableEventArgs();
            int[] extents = new int[3];
            foreach (Field f in fields)
            {
                Type t = f.Info.FieldType;
                if (t.IsArray)
                {
                    f.Info.SetValue(e, CopyArray(block, f.Id, t, extents));
                }
                else
                {
                    long v = Shim.QueltoSimShim_BlockScalar(block, f.Id);
                    if (t == typeof(bool)) f.Info.SetValue(e, v != 0);
                    else if (t == typeof(ushort)) f.Info.SetValue(e, (ushort)v);
                    else f.Info.SetValue(e, (int)v);
                }
            }
            return e;
        }

        private static Array CopyArray(IntPtr block, int id, Type type, int[] extents)
        {
            int rank = Shim.QueltoSimShim_BlockShape(block, id, extents);
            if (rank == -1) return null;
            if (rank != type.GetArrayRank()) throw new InvalidOperationException("Block field of rank " + rank + " for " + type);
            int[] lengths = new int[rank];
            Array.Copy(extents, lengths, rank);
            Array a = Array.CreateInstance(type.GetElementType(), lengths);
            if (a.Length == 0) return a;
            GCHandle pin = GCHandle.Alloc(a, GCHandleType.Pinned);
            try
            {
                long bytes = (long)a.Length * Marshal.SizeOf(type.GetElementType());
                if (Shim.QueltoSimShim_BlockCopy(block, id, pin.AddrOfPinnedObject(), bytes) != 0)
                {
                    throw new InvalidOperationException("Block field size differs");
                }
            }
            finally
            {
                pin.Free();
            }
            return a;
        }
    }
}
