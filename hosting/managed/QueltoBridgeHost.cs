// The bridge's own managed side. Entered once per copy of the bridge through
// Entry.Start; it checks the native table's description against its own and
// fills the table with function pointers for every operation the bridge
// needs, and binds to the SDK late, by the names of its types and members.
// It references no SDK assembly.
//
// Every operation catches: a failure is kept for the calling thread and the
// operation returns 1; the native side then asks for its text. SDK members
// are called through emitted invokers (see Invoker), so that even a stack
// overflow in the SDK ends at that catch.
using System;
using System.Collections.Generic;
using System.Globalization;
using System.IO;
using System.Reflection;
using System.Reflection.Emit;
using System.Runtime.InteropServices;
using System.Threading;

namespace QueltoBridgeHost {

// Entry point and assembly resolver. Mentions no SDK type, so it loads
// before any SDK assembly can be found.
public static class Entry {
    // The folders of the bridge copies in this process, in the order they
    // started (usually one).
    static readonly List<string> bridgeFolders = new List<string>();
    static int subscribed;

    // `argument`: the address of the native table in hexadecimal, then its
    // size, version and number of operations, as the bridge describes it.
    // 0: the table is filled; 1: failed; 2: the table is not this helper's
    // (its own description is written into the table's header).
    public static int Start(string argument) {
        try {
            string[] parts = argument.Split(' ');
            if (parts.Length != 4) return 1;
            long address = long.Parse(parts[0], NumberStyles.HexNumber, CultureInfo.InvariantCulture);
            int size = int.Parse(parts[1], CultureInfo.InvariantCulture);
            int version = int.Parse(parts[2], CultureInfo.InvariantCulture);
            int count = int.Parse(parts[3], CultureInfo.InvariantCulture);
            return Operations.Install(new IntPtr(address), size, version, count);
        } catch (Exception) {
            return 1;
        }
    }

    internal static void SetBridgeFolder(string folder) {
        lock (bridgeFolders) {
            if (!bridgeFolders.Contains(folder)) bridgeFolders.Add(folder);
        }
        if (Interlocked.Exchange(ref subscribed, 1) == 0) {
            AppDomain.CurrentDomain.AssemblyResolve += ResolveAssembly;
        }
    }

    // "<bridge folder>/<first piece of the name>.dll", in the first bridge
    // folder that has that file.
    public static Assembly ResolveAssembly(object sender, ResolveEventArgs args) {
        string[] folders;
        lock (bridgeFolders) folders = bridgeFolders.ToArray();
        foreach (string folder in folders) {
            string path = Path.Combine(folder, args.Name.Split(',')[0] + ".dll");
            if (File.Exists(path)) return Assembly.LoadFrom(path);
        }
        return null;
    }
}

// One value crossing to the native side.
[StructLayout(LayoutKind.Sequential)]
struct Value {
    public long I;
    public double D;
    public IntPtr Obj;
}

// A pinned array: storage address and extents.
[StructLayout(LayoutKind.Sequential)]
struct PinnedArray {
    public IntPtr Pin;
    public IntPtr Data;
    public int Rank;
    public int ElementSize;
    public int Length0, Length1, Length2;
    public int ElementType;  // the TypeCode of the element (an enumeration's underlying type), 0 for any other
}

static partial class Operations {
    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    delegate void TextSink(IntPtr context, int tag, IntPtr text, int length);
    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    delegate void EventSink(IntPtr subscription, IntPtr block, int status);
    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    delegate void FailureSink(IntPtr text, int length, int kind);

    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    delegate int SetFolderFn([MarshalAs(UnmanagedType.LPWStr)] string folder);
    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    delegate int CreateFn([MarshalAs(UnmanagedType.LPWStr)] string assembly,
                          [MarshalAs(UnmanagedType.LPWStr)] string className, out IntPtr handle);
    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    delegate int HandleFn(IntPtr handle);
    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    delegate int CallFn(IntPtr handle, [MarshalAs(UnmanagedType.LPWStr)] string iface,
                        [MarshalAs(UnmanagedType.LPWStr)] string method, int shape, IntPtr objArg, int intArg,
                        [MarshalAs(UnmanagedType.LPWStr)] string textArg, out IntPtr result);
    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    delegate int GetMemberFn(IntPtr handle, [MarshalAs(UnmanagedType.LPWStr)] string iface,
                             [MarshalAs(UnmanagedType.LPWStr)] string name, out Value value);
    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    delegate int SetMemberFn(IntPtr handle, [MarshalAs(UnmanagedType.LPWStr)] string iface,
                             [MarshalAs(UnmanagedType.LPWStr)] string name, long i, double d, IntPtr obj);
    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    delegate int PinFn(IntPtr array, out PinnedArray pinned);
    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    delegate int ContextFn(IntPtr handle, IntPtr context);
    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    delegate int SubscribeFn(IntPtr device, IntPtr subscription);
    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    delegate int NoArgFn();
    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    delegate int ElementFn(IntPtr array, int index, out Value value);
    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    delegate int SetElementFn(IntPtr array, int index, long i, double d, IntPtr obj);
    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    delegate int StringElementFn(IntPtr array, int index, IntPtr context);
    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    delegate int SetStringElementFn(IntPtr array, int index, [MarshalAs(UnmanagedType.LPWStr)] string text, int isNull);
    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    delegate int HeapFn(out long bytes);

    // The native side of one copy of the bridge: a process may load the
    // bridge library twice (two paths), and both copies share this assembly.
    // Each copy gets its own sinks; everything that reaches native code goes
    // through the copy the operation or subscription came from.
    sealed class Bridge {
        public TextSink Text;
        public EventSink Events;
        public FailureSink Failures;
        public StorageSink Storage;
        public BlockReader Blocks;

        public unsafe void SendText(string text, IntPtr context, int tag) {
            fixed (char* p = text) Text(context, tag, (IntPtr)p, text.Length);
        }

        public unsafe void SendFailure(string text, int kind) {
            fixed (char* p = text) Failures((IntPtr)p, text.Length, kind);
        }

        // An exception that no code caught, reported to the bridge on the
        // failing thread. Runs before the runtime decides what to do with
        // the thread: the bridge keeps the runtime's own threads (finalizer,
        // pool; Mono names its finalizer thread "Finalizer") running.
        public void OnUnhandledException(object sender, UnhandledExceptionEventArgs e) {
            try {
                Thread t = Thread.CurrentThread;
                int kind = t.IsThreadPoolThread || t.Name == "Finalizer" ? UnhandledOnRuntimeThread : UnhandledOnThread;
                SendFailure(e.ExceptionObject != null ? e.ExceptionObject.ToString() : "Unknown managed failure", kind);
            } catch (Exception) {
            }
        }
    }

    // The delegates behind the tables: kept alive for the life of the process.
    static readonly List<Delegate> keepAlive = new List<Delegate>();

    [ThreadStatic] static Exception lastFailure;

    // The table's layout and meaning; the bridge describes the same or the
    // table is refused. Layout: size, version and operation count as the
    // bridge gives them, the same three as this helper has them (32-bit
    // each), then pointer-sized: four sinks, the block's field list and its
    // length, then one slot per operation in the order below.
    const int TableVersion = 4;
#if QUELTO_HELPER_OTHER_VERSION
    const int DescribedVersion = TableVersion + 1;
#else
    const int DescribedVersion = TableVersion;
#endif
    const int HeaderBytes = 24;
    const int GivenSlots = 6;

    internal static int Install(IntPtr table, int size, int version, int count) {
        var own = new Bridge();
        Delegate[] ops = {
            new SetFolderFn(SetBridgeFolder),
            new CreateFn(Create),
            new HandleFn(Release),
            new CallFn(Call),
            new GetMemberFn(GetMember),
            new SetMemberFn(SetMember),
            new PinFn(Pin),
            new ContextFn((unused, context) => TakeFailure(own, context)),
            new SubscribeFn((device, subscription) => Subscribe(own, device, subscription)),
            new NoArgFn(Collect),
            new ElementFn(GetElement),
            new SetElementFn(SetElement),
            new StringElementFn((array, index, context) => GetStringElement(own, array, index, context)),
            new SetStringElementFn(SetStringElement),
            new NoArgFn(Nothing),
            new HeapFn(HeapBytes),
        };
#if QUELTO_HELPER_SHORT_TABLE
        Array.Resize(ref ops, ops.Length - 4);
#endif
#if QUELTO_HELPER_EMPTY_SLOT
        ops[9] = null;
#endif
        int ownSize = HeaderBytes + (GivenSlots + ops.Length) * IntPtr.Size;
        Marshal.WriteInt32(table, 12, ownSize);
        Marshal.WriteInt32(table, 16, DescribedVersion);
        Marshal.WriteInt32(table, 20, ops.Length);
        if (size != ownSize || version != DescribedVersion || count != ops.Length) return 2;

        IntPtr given = new IntPtr(table.ToInt64() + HeaderBytes);
        own.Text = (TextSink)Marshal.GetDelegateForFunctionPointer(Marshal.ReadIntPtr(given, 0), typeof(TextSink));
        own.Events = (EventSink)Marshal.GetDelegateForFunctionPointer(Marshal.ReadIntPtr(given, IntPtr.Size),
                                                                       typeof(EventSink));
        own.Failures = (FailureSink)Marshal.GetDelegateForFunctionPointer(Marshal.ReadIntPtr(given, 2 * IntPtr.Size),
                                                                           typeof(FailureSink));
        var storage = (StorageSink)Marshal.GetDelegateForFunctionPointer(Marshal.ReadIntPtr(given, 3 * IntPtr.Size),
                                                                         typeof(StorageSink));
        own.Storage = storage;
        own.Blocks = new BlockReader(Marshal.ReadIntPtr(given, 4 * IntPtr.Size),
                                     (int)Marshal.ReadIntPtr(given, 5 * IntPtr.Size), storage);
        IntPtr slots = new IntPtr(given.ToInt64() + GivenSlots * IntPtr.Size);
        lock (keepAlive) {
            keepAlive.Add(storage);
            for (int k = 0; k < ops.Length; ++k) {
                IntPtr fn = IntPtr.Zero;
                if (ops[k] != null) {
                    keepAlive.Add(ops[k]);
                    fn = Marshal.GetFunctionPointerForDelegate(ops[k]);
                }
                Marshal.WriteIntPtr(slots, k * IntPtr.Size, fn);
            }
        }
        AppDomain.CurrentDomain.UnhandledException += own.OnUnhandledException;
        return 0;
    }

    // Kinds of failure report, as the native side reads them.
    const int CaughtOnSdkThread = 0, UnhandledOnThread = 1, UnhandledOnRuntimeThread = 2;

    static int Fail(Exception e) {
        KeepThread();
        while (e is TargetInvocationException && e.InnerException != null) e = e.InnerException;
        lastFailure = e;
        return 1;
    }

    // The calling thread is the host's: an abort of it (Thread.Abort by SDK
    // code) is cancelled, so the failure returns like any other instead of
    // being raised again at the end of the catch.
    static void KeepThread() {
        if ((Thread.CurrentThread.ThreadState & ThreadState.AbortRequested) == 0) return;
        try {
            Thread.ResetAbort();
        } catch (ThreadStateException) {
        }
    }

    // ------------------------------------------------------------- invokers

    // SDK members are called through small emitted methods, not through
    // MethodInfo.Invoke or Activator: the call then stays in managed frames,
    // and a StackOverflowException in the SDK unwinds to the operation's
    // catch. Through reflection's native frames, Mono (hybrid suspend mode)
    // lets it pass every handler and ends the calling thread.
    static readonly Dictionary<MethodInfo, Func<object, object[], object>> invokers =
        new Dictionary<MethodInfo, Func<object, object[], object>>();
    static readonly Dictionary<Type, Func<object>> constructors = new Dictionary<Type, Func<object>>();

    static Func<object, object[], object> Invoker(MethodInfo m) {
        lock (invokers) {
            Func<object, object[], object> f;
            if (invokers.TryGetValue(m, out f)) return f;
            ParameterInfo[] ps = m.GetParameters();
            if (m.DeclaringType.IsValueType || m.ContainsGenericParameters ||
                Array.Exists(ps, p => p.ParameterType.IsByRef)) {
                f = (target, args) => m.Invoke(target, args);
            } else {
                var dm = new DynamicMethod("Invoke_" + m.Name, typeof(object),
                                           new[] { typeof(object), typeof(object[]) }, typeof(Operations).Module, true);
                ILGenerator il = dm.GetILGenerator();
                if (!m.IsStatic) {
                    il.Emit(OpCodes.Ldarg_0);
                    il.Emit(OpCodes.Castclass, m.DeclaringType);
                }
                for (int k = 0; k < ps.Length; ++k) {
                    il.Emit(OpCodes.Ldarg_1);
                    il.Emit(OpCodes.Ldc_I4, k);
                    il.Emit(OpCodes.Ldelem_Ref);
                    il.Emit(OpCodes.Unbox_Any, ps[k].ParameterType);
                }
                il.Emit(m.IsStatic ? OpCodes.Call : OpCodes.Callvirt, m);
                if (m.ReturnType == typeof(void)) {
                    il.Emit(OpCodes.Ldnull);
                } else if (m.ReturnType.IsValueType) {
                    il.Emit(OpCodes.Box, m.ReturnType);
                }
                il.Emit(OpCodes.Ret);
                f = (Func<object, object[], object>)dm.CreateDelegate(typeof(Func<object, object[], object>));
            }
            invokers[m] = f;
            return f;
        }
    }

    // A new object of `type` by its public parameterless constructor; other
    // types go to Activator, which fails with the runtime's own exception.
    static Func<object> Constructor(Type type) {
        lock (constructors) {
            Func<object> f;
            if (constructors.TryGetValue(type, out f)) return f;
            ConstructorInfo c = type.GetConstructor(Type.EmptyTypes);
            if (c == null || type.IsAbstract || type.IsValueType || type.ContainsGenericParameters) {
                f = () => Activator.CreateInstance(type);
            } else {
                var dm = new DynamicMethod("New_" + type.Name, typeof(object), Type.EmptyTypes, typeof(Operations).Module,
                                           true);
                ILGenerator il = dm.GetILGenerator();
                il.Emit(OpCodes.Newobj, c);
                il.Emit(OpCodes.Ret);
                f = (Func<object>)dm.CreateDelegate(typeof(Func<object>));
            }
            constructors[type] = f;
            return f;
        }
    }

    static object GetProperty(PropertyInfo p, object target) {
        MethodInfo getter = p.GetGetMethod();
        if (getter == null) throw new ArgumentException("Property get method not found.");
        return Invoker(getter).Invoke(target, new object[0]);
    }

    static void SetProperty(PropertyInfo p, object target, object value) {
        MethodInfo setter = p.GetSetMethod();
        if (setter == null) throw new ArgumentException("Property set method not found.");
        Invoker(setter).Invoke(target, new object[] { value });
    }

    static object Target(IntPtr handle) {
        return handle == IntPtr.Zero ? null : GCHandle.FromIntPtr(handle).Target;
    }

    static IntPtr NewHandle(object o) {
        return o == null ? IntPtr.Zero : GCHandle.ToIntPtr(GCHandle.Alloc(o));
    }

    // ------------------------------------------------------------ operations

    static int SetBridgeFolder(string folder) {
        try {
            Entry.SetBridgeFolder(folder);
            return 0;
        } catch (Exception e) {
            return Fail(e);
        }
    }

    static int Create(string assembly, string className, out IntPtr handle) {
        handle = IntPtr.Zero;
        try {
            Type type = LoadWithReferences(assembly).GetType(className, true);
            handle = NewHandle(Constructor(type)());
            return 0;
        } catch (Exception e) {
            return Fail(e);
        }
    }

    static readonly Dictionary<string, Assembly> loaded = new Dictionary<string, Assembly>();

    // The SDK assembly and the assemblies it references, loaded before any
    // of its types: a missing one is reported as the runtime's own
    // FileNotFoundException, not as a type that cannot be loaded.
    static Assembly LoadWithReferences(string name) {
        lock (loaded) {
            Assembly a;
            if (loaded.TryGetValue(name, out a)) return a;
            a = Assembly.Load(name);
            foreach (AssemblyName reference in a.GetReferencedAssemblies()) Assembly.Load(reference.FullName);
            loaded[name] = a;
            return a;
        }
    }

    static int Release(IntPtr handle) {
        try {
            if (handle != IntPtr.Zero) GCHandle.FromIntPtr(handle).Free();
            return 0;
        } catch (Exception e) {
            return Fail(e);
        }
    }

    static readonly Dictionary<string, MemberInfo> members = new Dictionary<string, MemberInfo>();

    // A member of the interface named `iface` that `type` implements, or
    // (iface null) a public field or property of the class itself.
    static MemberInfo Member(Type type, string iface, string name, MemberTypes kind) {
        string key = type.AssemblyQualifiedName + "|" + iface + "|" + name + "|" + (int)kind;
        lock (members) {
            MemberInfo found;
            if (members.TryGetValue(key, out found)) return found;
            Type owner = iface == null ? type : FindInterface(type, iface);
            MemberInfo[] candidates = owner.GetMember(name, kind, BindingFlags.Public | BindingFlags.Instance);
            if (candidates.Length == 0 && iface == null && kind == MemberTypes.Field) {
                candidates = owner.GetMember(name, MemberTypes.Property, BindingFlags.Public | BindingFlags.Instance);
            }
            if (candidates.Length == 0) {
                throw new MissingMemberException(owner.FullName, name);
            }
            members[key] = candidates[0];
            return candidates[0];
        }
    }

    static Type FindInterface(Type type, string iface) {
        if (type.FullName == iface) return type;
        foreach (Type t in type.GetInterfaces()) {
            if (t.FullName == iface) return t;
        }
        throw new InvalidCastException("Unable to cast object of type '" + type.FullName + "' to type '" + iface + "'.");
    }

    // Argument shapes: 0 none, 1 number, 2 object, 3 object and number, 4 text.
    static int Call(IntPtr handle, string iface, string method, int shape, IntPtr objArg, int intArg, string textArg,
                    out IntPtr result) {
        result = IntPtr.Zero;
        try {
            object target = Target(handle);
            if (target == null) throw new NullReferenceException();
            MethodInfo m = (MethodInfo)Member(target.GetType(), iface, method, MemberTypes.Method);
            object[] args;
            switch (shape) {
            case 0: args = new object[0]; break;
            case 1: args = new object[] { Convert(intArg, m.GetParameters()[0].ParameterType) }; break;
            case 2: args = new object[] { Target(objArg) }; break;
            case 3: args = new object[] { Target(objArg), intArg }; break;
            default: args = new object[] { textArg }; break;
            }
            result = NewHandle(Invoker(m)(target, args));
            return 0;
        } catch (Exception e) {
            return Fail(e);
        }
    }

    static object Convert(long i, Type type) {
        if (type.IsEnum) return Enum.ToObject(type, i);
        if (type == typeof(bool)) return i != 0;
        return System.Convert.ChangeType(i, type, CultureInfo.InvariantCulture);
    }

    static object Convert(long i, double d, IntPtr obj, Type type) {
        if (type == typeof(double)) return d;
        if (type == typeof(float)) return (float)d;
        if (type.IsPrimitive || type.IsEnum) return Convert(i, type);
        if (type.FullName == "System.Drawing.Color") {
            return type.GetMethod("FromArgb", new Type[] { typeof(int) }).Invoke(null, new object[] { (int)i });
        }
        return Target(obj);
    }

    static void Store(object v, out Value value) {
        value = new Value();
        if (v == null) {
            return;
        } else if (v is double || v is float) {
            value.D = System.Convert.ToDouble(v, CultureInfo.InvariantCulture);
        } else if (v is bool) {
            value.I = (bool)v ? 1 : 0;
        } else if (v is Enum || v.GetType().IsPrimitive) {
            value.I = System.Convert.ToInt64(v, CultureInfo.InvariantCulture);
        } else if (v.GetType().FullName == "System.Drawing.Color") {
            value.I = (int)v.GetType().GetMethod("ToArgb", Type.EmptyTypes).Invoke(v, null);
        } else {
            value.Obj = NewHandle(v);
        }
    }

    static int GetMember(IntPtr handle, string iface, string name, out Value value) {
        value = new Value();
        try {
            object target = Target(handle);
            if (target == null) throw new NullReferenceException();
            MemberInfo m = Member(target.GetType(), iface, name, iface == null ? MemberTypes.Field : MemberTypes.Property);
            FieldInfo f = m as FieldInfo;
            Store(f != null ? f.GetValue(target) : GetProperty((PropertyInfo)m, target), out value);
            return 0;
        } catch (Exception e) {
            return Fail(e);
        }
    }

    static int SetMember(IntPtr handle, string iface, string name, long i, double d, IntPtr obj) {
        try {
            object target = Target(handle);
            if (target == null) throw new NullReferenceException();
            MemberInfo m = Member(target.GetType(), iface, name, iface == null ? MemberTypes.Field : MemberTypes.Property);
            FieldInfo f = m as FieldInfo;
            if (f != null) {
                f.SetValue(target, Convert(i, d, obj, f.FieldType));
            } else {
                PropertyInfo p = (PropertyInfo)m;
                SetProperty(p, target, Convert(i, d, obj, p.PropertyType));
            }
            return 0;
        } catch (Exception e) {
            return Fail(e);
        }
    }

    // The size and System.TypeCode with which an array's elements of type
    // `element` cross: an enumeration's as its underlying type's; 0 and 0
    // for a type that is not primitive (only the array's extents cross).
    static int ElementSize(Type element, out int typeCode) {
        Type e = element.IsEnum ? Enum.GetUnderlyingType(element) : element;
        typeCode = e.IsPrimitive ? (int)Type.GetTypeCode(e) : 0;
        return !e.IsPrimitive ? 0 : e == typeof(bool) ? 1 : e == typeof(char) ? 2 : Marshal.SizeOf(e);
    }

    static void PinInto(Array a, ref PinnedArray pinned) {
        pinned = new PinnedArray();
        if (a == null) return;
        pinned.Rank = a.Rank;
        pinned.ElementSize = ElementSize(a.GetType().GetElementType(), out pinned.ElementType);
        pinned.Length0 = a.GetLength(0);
        pinned.Length1 = a.Rank > 1 ? a.GetLength(1) : 1;
        pinned.Length2 = a.Rank > 2 ? a.GetLength(2) : 1;
        if (a.Length == 0 || pinned.ElementSize == 0) return;
        GCHandle pin = GCHandle.Alloc(a, GCHandleType.Pinned);
        pinned.Pin = GCHandle.ToIntPtr(pin);
        pinned.Data = pin.AddrOfPinnedObject();
    }

    static int Pin(IntPtr array, out PinnedArray pinned) {
        pinned = new PinnedArray();
        try {
            Array a = Target(array) as Array;
            if (a == null) throw new InvalidCastException("The object is not an array.");
            PinInto(a, ref pinned);
            return 0;
        } catch (Exception e) {
            return Fail(e);
        }
    }

    // Text of the calling thread's last failure: type name (tag 0), message
    // (1) and the full text form (2).
    static int TakeFailure(Bridge own, IntPtr context) {
        try {
            Exception e = lastFailure;
            lastFailure = null;
            if (e == null) return 0;
            own.SendText(e.GetType().FullName, context, 0);
            own.SendText(e.Message ?? "", context, 1);
            own.SendText(e.ToString(), context, 2);
            return 0;
        } catch (Exception) {
            KeepThread();
            return 1;
        }
    }

    // Forwards DataAvailable: the block crosses in this one call of the
    // event sink. It is read (BlockReader) into a crossing on this thread's
    // stack, its arrays into native memory the crossing owns, which the
    // bridge takes over; a failure of the reading is kept for the bridge,
    // which asks for it on this thread. The sink gives back native memory
    // for the next block, kept here until then.
    sealed class Subscription {
        readonly Bridge own;
        readonly IntPtr token;
        IntPtr spare;  // under lock (this)
        long spareBytes;
        public Subscription(Bridge own, IntPtr token) { this.own = own; this.token = token; }

        ~Subscription() {
            FreeSpare();
        }

        // Moves the spare storage into the crossing's header.
        unsafe void TakeSpare(long* crossing) {
            lock (this) {
                crossing[0] = spare.ToInt64();
                crossing[1] = spareBytes;
                spare = IntPtr.Zero;
                spareBytes = 0;
            }
        }

        unsafe void FreeSpare() {
            long* crossing = stackalloc long[2];
            TakeSpare(crossing);
            if (crossing[0] != 0) own.Storage((IntPtr)crossing, 0);
        }

        public unsafe void Handle(object sender, EventArgs e) {
            try {
                int words = own.Blocks.CrossingBytes / 8;
                long* crossing = stackalloc long[words];
                for (int k = 0; k < words; ++k) crossing[k] = 0;
                TakeSpare(crossing);
                int status = 0;
                try {
                    if (e == null) {
                        throw new NullReferenceException("The SDK raised DataAvailable with no event arguments (null).");
                    }
                    own.Blocks.Read(e, (IntPtr)crossing);
                } catch (Exception ex) {
                    status = Fail(ex);
                }
                own.Events(token, (IntPtr)crossing, status);
                lock (this) {
                    if (spare == IntPtr.Zero) {
                        spare = new IntPtr(crossing[0]);
                        spareBytes = crossing[1];
                        crossing[0] = 0;
                    }
                }
                if (crossing[0] != 0) own.Storage((IntPtr)crossing, 0);  // another raise kept its own
            } catch (Exception ex) {
                try { own.SendFailure(ex.ToString(), CaughtOnSdkThread); } catch (Exception) { }
            }
        }
    }

    static int Subscribe(Bridge own, IntPtr device, IntPtr subscription) {
        try {
            object target = Target(device);
            if (target == null) throw new NullReferenceException();
            EventInfo ev = FindInterface(target.GetType(), "Quelto.Interfaces.IDaqSystem").GetEvent("DataAvailable");
            if (ev == null) throw new MissingMemberException("Quelto.Interfaces.IDaqSystem", "DataAvailable");
            Delegate handler = Delegate.CreateDelegate(ev.EventHandlerType, new Subscription(own, subscription),
                                                       typeof(Subscription).GetMethod("Handle"));
            Invoker(ev.GetAddMethod()).Invoke(target, new object[] { handler });
            return 0;
        } catch (Exception e) {
            return Fail(e);
        }
    }

    static int Collect() {
        try {
            GC.Collect();
            GC.WaitForPendingFinalizers();
            return 0;
        } catch (Exception e) {
            return Fail(e);
        }
    }

    static int GetElement(IntPtr array, int index, out Value value) {
        value = new Value();
        try {
            Array a = (Array)Target(array);
            Store(a.GetValue(index), out value);
            return 0;
        } catch (Exception e) {
            return Fail(e);
        }
    }

    static int SetElement(IntPtr array, int index, long i, double d, IntPtr obj) {
        try {
            Array a = (Array)Target(array);
            a.SetValue(Convert(i, d, obj, a.GetType().GetElementType()), index);
            return 0;
        } catch (Exception e) {
            return Fail(e);
        }
    }

    // Sends element `index` of a string array as tag 0, or tag 1 for null.
    static int GetStringElement(Bridge own, IntPtr array, int index, IntPtr context) {
        try {
            string s = (string)((Array)Target(array)).GetValue(index);
            own.SendText(s ?? "", context, s == null ? 1 : 0);
            return 0;
        } catch (Exception e) {
            return Fail(e);
        }
    }

    static int SetStringElement(IntPtr array, int index, string text, int isNull) {
        try {
            ((Array)Target(array)).SetValue(isNull != 0 ? null : text, index);
            return 0;
        } catch (Exception e) {
            return Fail(e);
        }
    }

    static int Nothing() { return 0; }

    static int HeapBytes(out long bytes) {
        bytes = 0;
        try {
            bytes = GC.GetTotalMemory(false);
            return 0;
        } catch (Exception e) {
            return Fail(e);
        }
    }
}
}
