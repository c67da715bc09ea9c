// One block of the SDK's data event, read into a native crossing that goes
// to the bridge in one call, the event sink's (see Subscription). The bridge
// hands over the names and kinds of a block's fields
// (its one list, in its order) when the helper starts; for each type of event
// a method that reads them all is compiled once, and for each type of array
// one that describes it and one that copies it. Every array is copied into
// one piece of native memory the bridge gives, each pinned only while it is
// copied (by a pinned local), so nothing stays pinned and nothing is left to
// release.
using System;
using System.Collections.Generic;
using System.Globalization;
using System.Reflection;
using System.Reflection.Emit;
using System.Runtime.InteropServices;

namespace QueltoBridgeHost {

static partial class Operations {
    // Native memory of at least `bytes` for the crossing, in place of the
    // smaller piece it holds (it owns the new one from then on), or null.
    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    delegate IntPtr StorageSink(IntPtr crossing, long bytes);

    sealed class BlockReader {
        // Field kinds as the bridge gives them.
        const long ArrayField = 1, FlagField = 3;
        // The crossing: storage address and size, the numbers (64-bit each),
        // then one PinnedArray per array.
        const int CrossingHeaderBytes = 16;
        const int DescribedArrayBytes = 40;
        // The whole crossing: the header, the numbers, the arrays.
        public int CrossingBytes { get { return CrossingHeaderBytes + 8 * numbers.Length + DescribedArrayBytes * arrays.Length; } }
        const int FieldDescriptionBytes = 16;

        readonly string[] numbers, arrays;
        readonly bool[] flags;
        readonly StorageSink storage;
        readonly Dictionary<Type, Layout> layouts = new Dictionary<Type, Layout>();
        volatile Layout last;
        [ThreadStatic] static object[] found;

        delegate void ReadFields(object e, IntPtr numbers, object[] arrays);

        // The reader of one type of event; a field the type lacks reads as 0
        // or null.
        sealed class Layout {
            public Type Type;
            public ReadFields Read;
            public ArrayType[] Arrays;  // per array field: the last array type seen there
        }

        // One type of array: its description and its copy into native
        // memory, each compiled once. Arrays of a type that is not primitive
        // are described with element size 0 and not copied.
        sealed class ArrayType {
            public readonly Type Type;
            public readonly DescribeFn Describe;  // writes a PinnedArray but its addresses; returns the bytes
            readonly CopyFn copy;
            public delegate long DescribeFn(Array a, IntPtr described);
            delegate void CopyFn(Array a, IntPtr destination, uint bytes);
            static readonly Dictionary<Type, ArrayType> compiled = new Dictionary<Type, ArrayType>();

            public static ArrayType Of(Type type) {
                lock (compiled) {
                    ArrayType a;
                    if (!compiled.TryGetValue(type, out a)) compiled[type] = a = new ArrayType(type);
                    return a;
                }
            }

            ArrayType(Type type) {
                Type = type;
                Type element = type.GetElementType();
                int typeCode;
                int size = ElementSize(element, out typeCode);
                bool vector = type == element.MakeArrayType();
                int rank = type.GetArrayRank();
                Describe = CompileDescribe(type, typeCode, vector, rank, size);
                if (size > 0) copy = CompileCopy(type, element, vector, rank);
            }

            // Copies the array's storage; the array is pinned by a local of
            // the copy (its first element's address), or, for an array whose
            // lower bounds are not 0, by a handle.
            public unsafe void CopyTo(Array a, byte* destination, long bytes) {
                if (bytes > uint.MaxValue) throw new OverflowException("An array of " + bytes + " bytes.");
                try {
                    copy(a, (IntPtr)destination, (uint)bytes);
                } catch (IndexOutOfRangeException) {
                    GCHandle pin = GCHandle.Alloc(a, GCHandleType.Pinned);
                    try {
                        Buffer.MemoryCopy((void*)pin.AddrOfPinnedObject(), destination, bytes, bytes);
                    } finally {
                        pin.Free();
                    }
                }
            }

            // PinnedArray: Pin at 0, Data at 8 (both left to the caller),
            // Rank at 16, ElementSize at 20, three lengths from 24, the
            // element's TypeCode at 36.
            static DescribeFn CompileDescribe(Type type, int typeCode, bool vector, int rank, int size) {
                var dm = new DynamicMethod("Describe", typeof(long), new[] { typeof(Array), typeof(IntPtr) },
                                           typeof(Operations).Module, true);
                ILGenerator il = dm.GetILGenerator();
                LocalBuilder bytes = il.DeclareLocal(typeof(long));
                StoreInt(il, 16, () => il.Emit(OpCodes.Ldc_I4, rank));
                StoreInt(il, 20, () => il.Emit(OpCodes.Ldc_I4, size));
                StoreInt(il, 36, () => il.Emit(OpCodes.Ldc_I4, typeCode));
                il.Emit(OpCodes.Ldc_I8, (long)size);
                il.Emit(OpCodes.Stloc, bytes);
                for (int d = 0; d < 3; ++d) {
                    int dimension = d;
                    StoreInt(il, 24 + 4 * d, () => {
                        if (dimension >= rank) {
                            il.Emit(OpCodes.Ldc_I4_1);
                            return;
                        }
                        il.Emit(OpCodes.Ldarg_0);
                        if (vector) {
                            il.Emit(OpCodes.Castclass, type);
                            il.Emit(OpCodes.Ldlen);
                            il.Emit(OpCodes.Conv_I4);
                        } else {
                            il.Emit(OpCodes.Ldc_I4, dimension);
                            il.Emit(OpCodes.Callvirt, typeof(Array).GetMethod("GetLength"));
                        }
                        il.Emit(OpCodes.Dup);
                        il.Emit(OpCodes.Conv_I8);
                        il.Emit(OpCodes.Ldloc, bytes);
                        il.Emit(OpCodes.Mul);
                        il.Emit(OpCodes.Stloc, bytes);
                    });
                }
                il.Emit(OpCodes.Ldloc, bytes);
                il.Emit(OpCodes.Ret);
                return (DescribeFn)dm.CreateDelegate(typeof(DescribeFn));
            }

            static void StoreInt(ILGenerator il, int offset, Action value) {
                il.Emit(OpCodes.Ldarg_1);
                il.Emit(OpCodes.Ldc_I4, offset);
                il.Emit(OpCodes.Add);
                value();
                il.Emit(OpCodes.Stind_I4);
            }

            // copy(a, destination, bytes): a pinned reference to the first
            // element (index 0 in every dimension), then one block copy.
            static CopyFn CompileCopy(Type type, Type element, bool vector, int rank) {
                var dm = new DynamicMethod("Copy", typeof(void), new[] { typeof(Array), typeof(IntPtr), typeof(uint) },
                                           typeof(Operations).Module, true);
                ILGenerator il = dm.GetILGenerator();
                LocalBuilder first = il.DeclareLocal(element.MakeByRefType(), true);
                il.Emit(OpCodes.Ldarg_0);
                il.Emit(OpCodes.Castclass, type);
                for (int d = 0; d < rank; ++d) il.Emit(OpCodes.Ldc_I4_0);
                if (vector) {
                    il.Emit(OpCodes.Ldelema, element);
                } else {
                    il.Emit(OpCodes.Call, type.GetMethod("Address"));
                }
                il.Emit(OpCodes.Stloc, first);
                il.Emit(OpCodes.Ldarg_1);
                il.Emit(OpCodes.Ldloc, first);
                il.Emit(OpCodes.Conv_U);
                il.Emit(OpCodes.Ldarg_2);
                il.Emit(OpCodes.Cpblk);
                il.Emit(OpCodes.Ldc_I4_0);
                il.Emit(OpCodes.Conv_U);
                il.Emit(OpCodes.Stloc, first);
                il.Emit(OpCodes.Ret);
                return (CopyFn)dm.CreateDelegate(typeof(CopyFn));
            }
        }

        public BlockReader(IntPtr fields, int count, StorageSink storage) {
            this.storage = storage;
            var n = new List<string>();
            var f = new List<bool>();
            var a = new List<string>();
            for (int k = 0; k < count; ++k) {
                IntPtr entry = new IntPtr(fields.ToInt64() + k * FieldDescriptionBytes);
                string name = Marshal.PtrToStringUni(Marshal.ReadIntPtr(entry, 0));
                long kind = Marshal.ReadInt64(entry, IntPtr.Size);
                if (kind == ArrayField) {
                    a.Add(name);
                } else {
                    n.Add(name);
                    f.Add(kind == FlagField);
                }
            }
            numbers = n.ToArray();
            flags = f.ToArray();
            arrays = a.ToArray();
        }

        public unsafe void Read(object e, IntPtr crossing) {
            Layout l = LayoutOf(e.GetType());
            object[] values = found;
            if (values == null || values.Length < arrays.Length) found = values = new object[arrays.Length];
            byte* block = (byte*)crossing;
            try {
                l.Read(e, new IntPtr(block + CrossingHeaderBytes), values);
                var described = (PinnedArray*)(block + CrossingHeaderBytes + 8 * numbers.Length);
                long total = 0;
                for (int k = 0; k < arrays.Length; ++k) {
                    Array x = values[k] as Array;
                    if (x == null) continue;
                    ArrayType info = l.Arrays[k];
                    if (info == null || info.Type != x.GetType()) l.Arrays[k] = info = ArrayType.Of(x.GetType());
                    total += Aligned(info.Describe(x, (IntPtr)(described + k)));
                }
                byte* next = *(byte**)block;
                if (total > *(long*)(block + 8)) {
                    next = (byte*)storage(crossing, total);
                    if (next == null) throw new OutOfMemoryException("No native memory for a block of " + total + " bytes.");
                }
                for (int k = 0; k < arrays.Length; ++k) {
                    Array x = values[k] as Array;
                    if (x == null) continue;
                    PinnedArray* d = described + k;
                    long bytes = (long)d->Length0 * d->Length1 * d->Length2 * d->ElementSize;
                    if (bytes <= 0) continue;
                    l.Arrays[k].CopyTo(x, next, bytes);
                    d->Data = (IntPtr)next;
                    next += Aligned(bytes);
                }
            } finally {
                Array.Clear(values, 0, arrays.Length);
            }
        }

        static long Aligned(long bytes) { return (bytes + 15) & ~15L; }

        Layout LayoutOf(Type type) {
            Layout l = last;
            if (l != null && l.Type == type) return l;
            lock (layouts) {
                if (!layouts.TryGetValue(type, out l)) {
                    l = Compile(type);
                    layouts[type] = l;
                }
            }
            last = l;
            return l;
        }

        // void Read(object e, long* numbers, object[] arrays): each number or
        // flag stored as 64 bits at its place, each array field's value put in
        // `arrays` at its place.
        Layout Compile(Type type) {
            if (type.IsValueType) throw new InvalidCastException("A data event of a value type: " + type.FullName);
            var dm = new DynamicMethod("ReadBlock_" + type.Name, typeof(void),
                                       new[] { typeof(object), typeof(IntPtr), typeof(object[]) },
                                       typeof(Operations).Module, true);
            ILGenerator il = dm.GetILGenerator();
            LocalBuilder e = il.DeclareLocal(type);
            il.Emit(OpCodes.Ldarg_0);
            il.Emit(OpCodes.Castclass, type);
            il.Emit(OpCodes.Stloc, e);
            for (int k = 0; k < numbers.Length; ++k) {
                FieldInfo f = type.GetField(numbers[k], BindingFlags.Public | BindingFlags.Instance);
                if (f == null) continue;
                il.Emit(OpCodes.Ldarg_1);
                il.Emit(OpCodes.Ldc_I4, 8 * k);
                il.Emit(OpCodes.Add);
                il.Emit(OpCodes.Ldloc, e);
                il.Emit(OpCodes.Ldfld, f);
                EmitNumber(il, f.FieldType);
                if (flags[k]) {  // any value but 0 is set
                    il.Emit(OpCodes.Ldc_I8, 0L);
                    il.Emit(OpCodes.Cgt_Un);
                    il.Emit(OpCodes.Conv_U8);
                }
                il.Emit(OpCodes.Stind_I8);
            }
            for (int k = 0; k < arrays.Length; ++k) {
                FieldInfo f = type.GetField(arrays[k], BindingFlags.Public | BindingFlags.Instance);
                if (f == null) continue;
                il.Emit(OpCodes.Ldarg_2);
                il.Emit(OpCodes.Ldc_I4, k);
                il.Emit(OpCodes.Ldloc, e);
                il.Emit(OpCodes.Ldfld, f);
                if (f.FieldType.IsValueType) il.Emit(OpCodes.Box, f.FieldType);
                il.Emit(OpCodes.Stelem_Ref);
            }
            il.Emit(OpCodes.Ret);
            return new Layout { Type = type, Read = (ReadFields)dm.CreateDelegate(typeof(ReadFields)),
                                Arrays = new ArrayType[arrays.Length] };
        }

        // The value on the stack, of type t, as a 64-bit number: integers by
        // conversion, anything else as Convert.ToInt64 makes it.
        static void EmitNumber(ILGenerator il, Type t) {
            Type u = t.IsEnum ? Enum.GetUnderlyingType(t) : t;
            if (u == typeof(long) || u == typeof(ulong)) return;
            if (u == typeof(int) || u == typeof(short) || u == typeof(sbyte)) {
                il.Emit(OpCodes.Conv_I8);
                return;
            }
            if (u == typeof(uint) || u == typeof(ushort) || u == typeof(byte) || u == typeof(char) || u == typeof(bool)) {
                il.Emit(OpCodes.Conv_U8);
                return;
            }
            if (t.IsValueType) il.Emit(OpCodes.Box, t);
            il.Emit(OpCodes.Call, typeof(BlockReader).GetMethod("ToNumber", BindingFlags.NonPublic | BindingFlags.Static));
        }

        static long ToNumber(object o) {
            if (o is bool) return (bool)o ? 1 : 0;
            return System.Convert.ToInt64(o, CultureInfo.InvariantCulture);
        }
    }
}
}
