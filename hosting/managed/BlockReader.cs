// One block of the SDK's data event, read into a native crossing that goes
// to the bridge in one call, the event sink's (see Subscription). The bridge
// hands over the names and kinds of a block's fields
// (its one list, in its order) when the helper starts. For each type of
// event whose array fields all name a primitive array type, one method is
// compiled that reads the whole block: the numbers, each array's
// description, and each array's copy into the one piece of native memory
// the bridge gives. Any other type (or an array of another type than its
// field names) is read field by field: a method compiled once per event type
// reads the numbers and the arrays, and for each type of array one
// describes it and one copies it. Each array is pinned only while it is
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
        // Reads the whole block into the crossing, the arrays into `storage`
        // when `capacity` bytes hold them; returns the bytes they need, or -1
        // when an array is not of its field's type.
        delegate long ReadWhole(object e, IntPtr crossing, IntPtr storage, long capacity);

        // The reader of one type of event; a field the type lacks reads as 0
        // or null.
        sealed class Layout {
            public Type Type;
            public ReadWhole Whole;  // null when the type is read field by field
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
                int typeCode;
                Describe = CompileDescribe(type);
                if (ElementSize(type.GetElementType(), out typeCode) > 0) copy = CompileCopy(type);
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

            static DescribeFn CompileDescribe(Type type) {
                var dm = new DynamicMethod("Describe", typeof(long), new[] { typeof(Array), typeof(IntPtr) },
                                           typeof(Operations).Module, true);
                ILGenerator il = dm.GetILGenerator();
                LocalBuilder value = il.DeclareLocal(type);
                LocalBuilder bytes = il.DeclareLocal(typeof(long));
                il.Emit(OpCodes.Ldarg_0);
                il.Emit(OpCodes.Castclass, type);
                il.Emit(OpCodes.Stloc, value);
                EmitDescribe(il, type, value, bytes, 0);
                il.Emit(OpCodes.Ldloc, bytes);
                il.Emit(OpCodes.Ret);
                return (DescribeFn)dm.CreateDelegate(typeof(DescribeFn));
            }

            static CopyFn CompileCopy(Type type) {
                var dm = new DynamicMethod("Copy", typeof(void), new[] { typeof(Array), typeof(IntPtr), typeof(uint) },
                                           typeof(Operations).Module, true);
                ILGenerator il = dm.GetILGenerator();
                EmitBlockCopy(il, type, () => {
                    il.Emit(OpCodes.Ldarg_0);
                    il.Emit(OpCodes.Castclass, type);
                }, () => il.Emit(OpCodes.Ldarg_1), () => il.Emit(OpCodes.Ldarg_2));
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
            if (l.Whole != null && ReadWholeBlock(l.Whole, e, (byte*)crossing)) return;
            ReadByField(l, e, crossing);
        }

        // False when an array is not of its field's type or its first element
        // is not at index 0 (a lower bound that is not 0).
        unsafe bool ReadWholeBlock(ReadWhole whole, object e, byte* crossing) {
            try {
                long capacity = *(long*)(crossing + 8);
                long total = whole(e, (IntPtr)crossing, *(IntPtr*)crossing, capacity);
                if (total > capacity) {
                    Grow((IntPtr)crossing, total);
                    capacity = *(long*)(crossing + 8);
                    total = whole(e, (IntPtr)crossing, *(IntPtr*)crossing, capacity);
                    if (total > capacity) throw new InvalidOperationException("A block's arrays changed while it was read.");
                }
                if (total >= 0) return true;
            } catch (IndexOutOfRangeException) {
            }
            long* described = (long*)(crossing + CrossingHeaderBytes + 8 * numbers.Length);
            for (int k = 0; k < DescribedArrayBytes / 8 * arrays.Length; ++k) described[k] = 0;
            return false;
        }

        unsafe void ReadByField(Layout l, object e, IntPtr crossing) {
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
                    next = (byte*)Grow(crossing, total);
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

        // The crossing's storage, replaced by a piece of `total` bytes.
        IntPtr Grow(IntPtr crossing, long total) {
            IntPtr grown = storage(crossing, total);
            if (grown == IntPtr.Zero) throw new OutOfMemoryException("No native memory for a block of " + total + " bytes.");
            return grown;
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
            EmitNumbers(il, type, e, 0);
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
            return new Layout { Type = type, Whole = CompileWhole(type),
                                Read = (ReadFields)dm.CreateDelegate(typeof(ReadFields)),
                                Arrays = new ArrayType[arrays.Length] };
        }

        // long ReadWhole(object e, byte* crossing, byte* storage, long capacity),
        // for a type whose array fields all name an array of a primitive (or
        // enumeration) type, else null. Numbers as Compile's; then each
        // array's description and the sum of their sizes (each rounded up to
        // 16 bytes); when they fit `capacity`, each array's copy at its place.
        ReadWhole CompileWhole(Type type) {
            var fields = new FieldInfo[arrays.Length];
            for (int k = 0; k < arrays.Length; ++k) {
                fields[k] = type.GetField(arrays[k], BindingFlags.Public | BindingFlags.Instance);
                Type t = fields[k] == null ? null : fields[k].FieldType;
                int code;
                if (t != null && (!t.IsArray || ElementSize(t.GetElementType(), out code) == 0)) return null;
            }
            var dm = new DynamicMethod("ReadWhole_" + type.Name, typeof(long),
                                       new[] { typeof(object), typeof(IntPtr), typeof(IntPtr), typeof(long) },
                                       typeof(Operations).Module, true);
            ILGenerator il = dm.GetILGenerator();
            LocalBuilder e = il.DeclareLocal(type);
            LocalBuilder total = il.DeclareLocal(typeof(long));
            LocalBuilder next = il.DeclareLocal(typeof(byte*));
            Label refused = il.DefineLabel();
            il.Emit(OpCodes.Ldarg_0);
            il.Emit(OpCodes.Castclass, type);
            il.Emit(OpCodes.Stloc, e);
            int arraysAt = CrossingHeaderBytes + 8 * numbers.Length;
            EmitNumbers(il, type, e, CrossingHeaderBytes);
            var values = new LocalBuilder[arrays.Length];
            var sizes = new LocalBuilder[arrays.Length];
            for (int k = 0; k < arrays.Length; ++k) {
                if (fields[k] == null) continue;
                Type t = fields[k].FieldType;
                values[k] = il.DeclareLocal(t);
                sizes[k] = il.DeclareLocal(typeof(long));
                Label absent = il.DefineLabel();
                il.Emit(OpCodes.Ldloc, e);
                il.Emit(OpCodes.Ldfld, fields[k]);
                il.Emit(OpCodes.Stloc, values[k]);
                il.Emit(OpCodes.Ldloc, values[k]);
                il.Emit(OpCodes.Brfalse, absent);
                // An int field may hold a uint[] and the like: the exact type only.
                il.Emit(OpCodes.Ldloc, values[k]);
                il.Emit(OpCodes.Callvirt, typeof(object).GetMethod("GetType"));
                il.Emit(OpCodes.Ldtoken, t);
                il.Emit(OpCodes.Call, typeof(Type).GetMethod("GetTypeFromHandle"));
                il.Emit(OpCodes.Bne_Un, refused);
                EmitDescribe(il, t, values[k], sizes[k], arraysAt + DescribedArrayBytes * k);
                il.Emit(OpCodes.Ldloc, total);
                il.Emit(OpCodes.Ldloc, sizes[k]);
                EmitAligned(il);
                il.Emit(OpCodes.Add);
                il.Emit(OpCodes.Stloc, total);
                il.MarkLabel(absent);
            }
            Label fits = il.DefineLabel();
            il.Emit(OpCodes.Ldloc, total);
            il.Emit(OpCodes.Ldarg_3);
            il.Emit(OpCodes.Ble, fits);
            il.Emit(OpCodes.Ldloc, total);
            il.Emit(OpCodes.Ret);
            il.MarkLabel(fits);
            il.Emit(OpCodes.Ldarg_2);
            il.Emit(OpCodes.Stloc, next);
            for (int k = 0; k < arrays.Length; ++k) {
                if (fields[k] == null) continue;
                EmitCopy(il, fields[k].FieldType, values[k], sizes[k], next, arraysAt + DescribedArrayBytes * k, refused);
            }
            il.Emit(OpCodes.Ldloc, total);
            il.Emit(OpCodes.Ret);
            il.MarkLabel(refused);
            il.Emit(OpCodes.Ldc_I8, -1L);
            il.Emit(OpCodes.Ret);
            return (ReadWhole)dm.CreateDelegate(typeof(ReadWhole));
        }

        // The PinnedArray at `at` of the second argument (but its addresses)
        // for the array in `value`; its size in bytes into `size`. A
        // PinnedArray: Pin at 0, Data at 8, Rank at 16, ElementSize at 20,
        // three lengths from 24, the element's TypeCode at 36.
        static void EmitDescribe(ILGenerator il, Type t, LocalBuilder value, LocalBuilder size, int at) {
            Type element = t.GetElementType();
            int typeCode;
            int elementSize = ElementSize(element, out typeCode);
            int rank = t.GetArrayRank();
            bool vector = t == element.MakeArrayType();
            Action<int, Action> store = (offset, push) => {
                il.Emit(OpCodes.Ldarg_1);
                il.Emit(OpCodes.Ldc_I4, at + offset);
                il.Emit(OpCodes.Add);
                push();
                il.Emit(OpCodes.Stind_I4);
            };
            store(16, () => il.Emit(OpCodes.Ldc_I4, rank));
            store(20, () => il.Emit(OpCodes.Ldc_I4, elementSize));
            store(36, () => il.Emit(OpCodes.Ldc_I4, typeCode));
            il.Emit(OpCodes.Ldc_I8, (long)elementSize);
            il.Emit(OpCodes.Stloc, size);
            for (int d = 0; d < rank; ++d) {
                int dimension = d;
                store(24 + 4 * d, () => {
                    il.Emit(OpCodes.Ldloc, value);
                    if (vector) {
                        il.Emit(OpCodes.Ldlen);
                        il.Emit(OpCodes.Conv_I4);
                    } else {
                        il.Emit(OpCodes.Ldc_I4, dimension);
                        il.Emit(OpCodes.Callvirt, typeof(Array).GetMethod("GetLength"));
                    }
                    il.Emit(OpCodes.Dup);
                    il.Emit(OpCodes.Conv_I8);
                    il.Emit(OpCodes.Ldloc, size);
                    il.Emit(OpCodes.Mul);
                    il.Emit(OpCodes.Stloc, size);
                });
            }
            for (int d = rank; d < 3; ++d) store(24 + 4 * d, () => il.Emit(OpCodes.Ldc_I4_1));
        }

        // Copies the array in `value` (`size` bytes, none when 0) to `next`,
        // pinned by a local while it is copied, writes `next` as its Data and
        // moves `next` on by the size rounded up to 16 bytes.
        static void EmitCopy(ILGenerator il, Type t, LocalBuilder value, LocalBuilder size, LocalBuilder next, int at,
                             Label refused) {
            Label skip = il.DefineLabel();
            il.Emit(OpCodes.Ldloc, size);
            il.Emit(OpCodes.Brfalse, skip);
            il.Emit(OpCodes.Ldloc, size);
            il.Emit(OpCodes.Ldc_I8, (long)uint.MaxValue);
            il.Emit(OpCodes.Bgt_Un, refused);
            EmitBlockCopy(il, t, () => il.Emit(OpCodes.Ldloc, value), () => il.Emit(OpCodes.Ldloc, next), () => {
                il.Emit(OpCodes.Ldloc, size);
                il.Emit(OpCodes.Conv_U4);
            });
            il.Emit(OpCodes.Ldarg_1);
            il.Emit(OpCodes.Ldc_I4, at + 8);
            il.Emit(OpCodes.Add);
            il.Emit(OpCodes.Ldloc, next);
            il.Emit(OpCodes.Stind_I);
            il.Emit(OpCodes.Ldloc, next);
            il.Emit(OpCodes.Ldloc, size);
            EmitAligned(il);
            il.Emit(OpCodes.Conv_I);
            il.Emit(OpCodes.Add);
            il.Emit(OpCodes.Stloc, next);
            il.MarkLabel(skip);
        }

        // One block copy of an array of type t: a pinned reference to its
        // first element (index 0 in every dimension: an array indexed from 1
        // fails with IndexOutOfRangeException), then cpblk to the
        // destination, then the pin let go.
        static void EmitBlockCopy(ILGenerator il, Type t, Action loadArray, Action loadDestination, Action loadBytes) {
            Type element = t.GetElementType();
            LocalBuilder first = il.DeclareLocal(element.MakeByRefType(), true);
            loadArray();
            for (int d = 0; d < t.GetArrayRank(); ++d) il.Emit(OpCodes.Ldc_I4_0);
            if (t == element.MakeArrayType()) {
                il.Emit(OpCodes.Ldelema, element);
            } else {
                il.Emit(OpCodes.Call, t.GetMethod("Address"));
            }
            il.Emit(OpCodes.Stloc, first);
            loadDestination();
            il.Emit(OpCodes.Ldloc, first);
            il.Emit(OpCodes.Conv_U);
            loadBytes();
            il.Emit(OpCodes.Cpblk);
            il.Emit(OpCodes.Ldc_I4_0);
            il.Emit(OpCodes.Conv_U);
            il.Emit(OpCodes.Stloc, first);
        }

        // The long on the stack rounded up to a multiple of 16.
        static void EmitAligned(ILGenerator il) {
            il.Emit(OpCodes.Ldc_I8, 15L);
            il.Emit(OpCodes.Add);
            il.Emit(OpCodes.Ldc_I8, ~15L);
            il.Emit(OpCodes.And);
        }

        // Each number or flag of the event in local `e`, of `type`, stored as
        // 64 bits at `at` + 8 * its place from the second argument; a flag
        // as 1 for any value but 0. A field the type lacks is left alone.
        void EmitNumbers(ILGenerator il, Type type, LocalBuilder e, int at) {
            for (int k = 0; k < numbers.Length; ++k) {
                FieldInfo f = type.GetField(numbers[k], BindingFlags.Public | BindingFlags.Instance);
                if (f == null) continue;
                il.Emit(OpCodes.Ldarg_1);
                il.Emit(OpCodes.Ldc_I4, at + 8 * k);
                il.Emit(OpCodes.Add);
                il.Emit(OpCodes.Ldloc, e);
                il.Emit(OpCodes.Ldfld, f);
                EmitNumber(il, f.FieldType);
                if (flags[k]) {
                    il.Emit(OpCodes.Ldc_I8, 0L);
                    il.Emit(OpCodes.Cgt_Un);
                    il.Emit(OpCodes.Conv_U8);
                }
                il.Emit(OpCodes.Stind_I8);
            }
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
