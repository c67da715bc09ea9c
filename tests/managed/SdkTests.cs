using System;
using System.Collections.Generic;
using System.IO;
using System.Reflection;
using System.Runtime.InteropServices;
using System.Threading;
using PellimorCfgReader;
using Quelto;
using Quelto.Common.Definitions;
using Quelto.Interfaces;
using static Runner;

// Tests of the managed simulated SDK on its own. Usage:
//   mono QueltoSdkTests.exe <contract|capture|control|config> [configs folder]
static class SdkTests
{
    static string configs = "";

    static int Main(string[] args)
    {
        if (args.Length > 1) configs = args[1];
        Native.QueltoSimShim_ControlSetRecording(1);
        var groups = new Dictionary<string, KeyValuePair<string, Action>[]>
        {
            { "contract", new[] {
                Case("AssemblyIdentities", AssemblyIdentities),
                Case("BlockFieldsKnownToShim", BlockFieldsKnownToShim),
                Case("NewObjectsHoldTheirArrays", NewObjectsHoldTheirArrays) } },
            { "capture", new[] {
                Case("BlocksEqualNativeGenerator", BlocksEqualNativeGenerator),
                Case("StatesAndTriggers", StatesAndTriggers),
                Case("DisposeFromHandler", DisposeFromHandler),
                Case("DisposeFreesTheNativeDevice", DisposeFreesTheNativeDevice) } },
            { "control", new[] {
                Case("CallLogAndLiveDevices", CallLogAndLiveDevices),
                Case("InjectedFailures", InjectedFailures),
                Case("RaisedBlockArrivesExactly", RaisedBlockArrivesExactly),
                Case("ArgumentFailures", ArgumentFailures) } },
            { "exit", new[] { Case("LeavesLiveDevice", LeavesLiveDevice) } },
            { "config", new[] {
                Case("ReadsPartialMixedFile", ReadsPartialMixedFile),
                Case("ReadFailures", ReadFailures),
                Case("SavedConfigurationReadsBack", SavedConfigurationReadsBack) } },
        };
        KeyValuePair<string, Action>[] cases;
        if (args.Length == 0 || !groups.TryGetValue(args[0], out cases))
        {
            Console.Error.WriteLine("usage: QueltoSdkTests.exe <" + string.Join("|", groups.Keys) + "> [configs]");
            return 2;
        }
        return Runner.Run(args[0], cases);
    }

    // ------------------------------------------------------------ contract

    static void AssemblyIdentities()
    {
        foreach (var t in new[] { typeof(DaqSystem), typeof(CaptureConfiguration), typeof(CfgReader) })
        {
            AssemblyName n = t.Assembly.GetName();
            Check.Equal(new Version(1, 0, 0, 0), n.Version, n.Name + " version");
            Check.Equal("", n.CultureName, n.Name + " culture");
            Check.Equal(0, (n.GetPublicKeyToken() ?? new byte[0]).Length, n.Name + " public key token");
        }
        Check.Equal("Quelto", typeof(DaqSystem).Assembly.GetName().Name, "device assembly");
        Check.Equal("Quelto.Common", typeof(DataAvailableEventArgs).Assembly.GetName().Name, "common assembly");
        Check.Equal("PellimorCfgReader", typeof(ConfigurationExportBase).Assembly.GetName().Name, "reader assembly");
        // Late binding by name, as a host does it.
        Check.That(Type.GetType("Quelto.DaqSystem, Quelto") != null, "Quelto.DaqSystem by name");
        Check.That(Type.GetType("PellimorCfgReader.CfgReader, PellimorCfgReader") != null, "CfgReader by name");
        Check.That(typeof(IDaqSystem).IsAssignableFrom(typeof(DaqSystem)) && typeof(IDisposable).IsAssignableFrom(typeof(IDaqSystem)),
                   "DaqSystem is a disposable IDaqSystem");
        Check.Equal(typeof(EventArgs), typeof(DataAvailableEventArgs).BaseType, "event record base");
        Check.Equal(typeof(int), Enum.GetUnderlyingType(typeof(DeviceState)), "enum underlying type");
    }

    static void BlockFieldsKnownToShim()
    {
        var ids = new HashSet<int>();
        foreach (FieldInfo f in typeof(DataAvailableEventArgs).GetFields(BindingFlags.Public | BindingFlags.Instance))
        {
            int id = Native.QueltoSimShim_BlockFieldId(f.Name);
            Check.That(id >= 0, "shim knows block field " + f.Name);
            Check.That(ids.Add(id), "one number per field: " + f.Name);
        }
        Check.Equal(41, ids.Count, "block fields");
        Check.Equal(-1, Native.QueltoSimShim_BlockFieldId("NoSuchField"), "unknown field");
    }

    static void NewObjectsHoldTheirArrays()
    {
        var c = new CaptureConfiguration();
        Check.Equal(2, c.EnabledInsole.Length, "EnabledInsole");
        Check.Equal(32, c.EnabledAnalogChannel.Length, "EnabledAnalogChannel");
        Check.That(ReferenceEquals(c.EnabledInsole, c.EnabledInsole), "the object owns its flag array");
        Check.That(c.FootSwATransducerEnabled != null && c.FootSwBTransducerThreshold != null, "transducer objects");
        var x = new ConfigurationExportBase();
        Check.Equal(38, x.SensorConfiguration.Length, "sensor configurations");
        Check.That(Array.TrueForAll(x.SensorConfiguration, s => s != null) && x.CaptureConfiguration != null, "objects made");
        Check.Equal(38, x.EfaChannelLineColor.Length, "Efa colours");
        Check.Equal(114, x.ImuAgmChannelName.Length, "ImuAgm names");
        Check.Equal(2, x.InsoleSize.Length, "insole sizes");
        Check.Equal(2, x.AnalogOutputSensorNum.GetLength(0), "analog output rows");
        Check.Equal(40, x.AnalogOutputChannelType.GetLength(1), "analog output columns");
        FieldInfo[] fields = typeof(ConfigurationExportBase).GetFields();
        Check.Equal(53, fields.Length, "public fields of a configuration");
        foreach (FieldInfo f in fields)
        {
            Check.That(f.FieldType.IsValueType || f.GetValue(x) != null, "made: " + f.Name);
        }
    }

    // ------------------------------------------------------------ capture

    // Collects `count` blocks from `device` after StartCapturing(period).
    static List<DataAvailableEventArgs> Capture(DaqSystem device, int period, int count, Action<int> atBlock = null)
    {
        var blocks = new List<DataAvailableEventArgs>();
        var done = new ManualResetEvent(false);
        device.DataAvailable += (sender, e) =>
        {
            lock (blocks)
            {
                if (blocks.Count >= count) return;
                blocks.Add(e);
                if (atBlock != null) atBlock(blocks.Count);
                if (blocks.Count == count) done.Set();
            }
        };
        device.StartCapturing((DataAvailableEventPeriod)period);
        Check.That(done.WaitOne(30000), "blocks arrive");
        device.StopCapturing();
        lock (blocks) return new List<DataAvailableEventArgs>(blocks);
    }

    static readonly HashSet<string> DeviceFields = new HashSet<string> {
        "SensorStates", "FootSwSensorStates", "InsoleStates", "DataTransferRate", "UsbLostPackets", "UsbLowPerformance" };

    // Every field of `e` equals the native block's, byte for byte; fields
    // the device adds (states, triggers, rates) are left out when asked.
    static void SameAsNative(IntPtr native, DataAvailableEventArgs e, bool samplesOnly, string where)
    {
        foreach (FieldInfo f in typeof(DataAvailableEventArgs).GetFields(BindingFlags.Public | BindingFlags.Instance))
        {
            if (samplesOnly && (DeviceFields.Contains(f.Name) || f.Name.Contains("Trigger"))) continue;
            int id = Native.QueltoSimShim_BlockFieldId(f.Name);
            object value = f.GetValue(e);
            string what = where + " " + f.Name;
            if (!f.FieldType.IsArray)
            {
                long v = Native.QueltoSimShim_BlockScalar(native, id);
                Check.Equal(v, value is bool ? ((bool)value ? 1L : 0L) : Convert.ToInt64(value), what);
                continue;
            }
            var extents = new int[3];
            int rank = Native.QueltoSimShim_BlockShape(native, id, extents);
            var a = (Array)value;
            if (rank == -1)
            {
                Check.That(a == null, what + " is null");
                continue;
            }
            Check.That(a != null, what + " present");
            Check.Equal(rank, a.Rank, what + " rank");
            for (int d = 0; d < rank; ++d) Check.Equal(extents[d], a.GetLength(d), what + " extent " + d);
            int bytes = a.Length * Marshal.SizeOf(f.FieldType.GetElementType());
            var expected = new byte[bytes];
            Check.Equal(0, Native.QueltoSimShim_BlockCopy(native, id, expected, bytes), what + " copy");
            var actual = new byte[bytes];
            if (bytes > 0) Buffer.BlockCopy(a, 0, actual, 0, bytes);
            for (int i = 0; i < bytes; ++i)
            {
                if (expected[i] != actual[i]) Check.That(false, what + " byte " + i + " differs");
            }
        }
    }

    static void BlocksEqualNativeGenerator()
    {
        ulong seed = ulong.Parse(Environment.GetEnvironmentVariable("QUELTO_SIM_SEED") ?? "1");
        const int period = 2;  // 25 ms
        // The same configuration, once as a managed object and once set
        // natively by name: the blocks only agree if every number crossed.
        var c = new CaptureConfiguration
        {
            EMG_AcqPType = (EmgAcqPType)1, IMU_AcqPType = (ImuAcqPType)2, FootSwProtocol = (FootSwProtocol)1,
            Analog_AcqType = (AnalogAcqType)2, Analog_VoltageFullScale = (VoltageFullScale)1,
            Insole_RfAcqType = (InsoleRfAcqType)0, Analog_ChannelDelay_ms = 3,
        };
        c.EnabledInsole[1] = true;
        c.EnabledAnalogChannel[0] = c.EnabledAnalogChannel[5] = true;
        c.FootSwATransducerEnabled.T_A = c.FootSwATransducerEnabled.T_5 = true;
        c.FootSwATransducerThreshold.T_5 = 0.35;
        IntPtr nativeConfig;
        Check.Equal(0, Native.QueltoSimShim_ObjectNew("CaptureConfiguration", 2, 32, out nativeConfig), "native configuration");
        foreach (var p in new Dictionary<string, double> {
                     { "EMG_AcqPType", 1 }, { "IMU_AcqPType", 2 }, { "FootSwProtocol", 1 }, { "Analog_AcqType", 2 },
                     { "Analog_VoltageFullScale", 1 }, { "Analog_ChannelDelay_ms", 3 }, { "FootSwATransducerEnabled.T_A", 1 },
                     { "FootSwATransducerEnabled.T_5", 1 }, { "FootSwATransducerThreshold.T_5", 0.35 } })
        {
            Check.Equal(0, Native.QueltoSimShim_ObjectSet(nativeConfig, p.Key, p.Value), "set " + p.Key);
        }
        var analog = new byte[32];
        analog[0] = analog[5] = 1;
        Native.QueltoSimShim_ObjectSetFlags(nativeConfig, "EnabledInsole", new byte[] { 0, 1 }, 2);
        Native.QueltoSimShim_ObjectSetFlags(nativeConfig, "EnabledAnalogChannel", analog, 32);
        IntPtr generator;
        Check.Equal(0, Native.QueltoSimShim_GeneratorCreate(seed, nativeConfig, period, out generator), "generator");
        Native.QueltoSimShim_ObjectFree(nativeConfig);

        List<DataAvailableEventArgs> blocks;
        string handlerThread = null;
        bool background = false;
        using (var device = new DaqSystem())
        {
            device.DataAvailable += (s, e) =>
            {
                handlerThread = Native.PthreadSelf().ToString();
                background = Thread.CurrentThread.IsBackground;
            };
            device.ConfigureCapture(c);
            blocks = Capture(device, period, 30);
            Check.Equal(Native.EventThreadId(), handlerThread, "handlers run on the device's event thread");
        }
        Check.That(background, "the event thread is a background thread");
        Check.That(handlerThread != Native.PthreadSelf().ToString(), "not the caller's thread");
        int scan = 0;
        for (int k = 0; k < blocks.Count; ++k)
        {
            IntPtr native = Native.QueltoSimShim_GeneratorNext(generator);
            try
            {
                SameAsNative(native, blocks[k], true, "block " + k);
            }
            finally
            {
                Native.QueltoSimShim_BlockFree(native);
            }
            Check.Equal(scan, blocks[k].ScanNumber, "scan numbers continue");
            scan += blocks[k].EmgSamples.GetLength(1);
        }
        Check.Equal(50, blocks[0].EmgSamples.GetLength(1), "25 ms of EMG at 2 kHz");
        Native.QueltoSimShim_GeneratorFree(generator);
    }

    static void StatesAndTriggers()
    {
        using (var device = new DaqSystem())
        {
            Check.Equal(DeviceState.Idle, device.State, "new device");
            device.ConfigureSensor(new SensorConfiguration(), 3);
            Check.Equal(DeviceState.Configured, device.State, "after ConfigureSensor");
            DeviceState during = DeviceState.NotInitialized;
            var blocks = Capture(device, 3, 12, n =>
            {
                if (n == 2) device.GenerateInternalStartTrigger();
                if (n == 3) during = device.State;
            });
            Check.Equal(DeviceState.Capturing, during, "while capturing (asked from a handler)");
            Check.Equal(DeviceState.Configured, device.State, "after StopCapturing");
            var start = blocks.Find(b => b.StartTriggerDetected);
            Check.That(start != null, "a block carries the internal start trigger");
            Check.That(start.StartTriggerScan >= start.ScanNumber &&
                       start.StartTriggerScan < start.ScanNumber + start.EmgSamples.GetLength(1), "trigger scan inside its block");
            Check.Equal(36, blocks[0].SensorStates.Length, "sensor states");
            Check.That(blocks.TrueForAll(b => b.DataTransferRate > 0), "transfer rate reported");
            var v = device.SoftwareVersion;
            Check.That(v.Major > 0 || v.Minor > 0, "a software version");
            device.Dispose();
            Check.Equal(DeviceState.Disposed, device.State, "after Dispose");
            device.Dispose();
            Check.Throws<InvalidOperationException>(() => device.StartCapturing((DataAvailableEventPeriod)0), "start after Dispose");
        }
    }

    static void DisposeFromHandler()
    {
        int live = Native.QueltoSimShim_ControlLiveDevices();
        var device = new DaqSystem();
        var disposed = new ManualResetEvent(false);
        int after = 0;
        device.DataAvailable += (s, e) =>
        {
            if (disposed.WaitOne(0))
            {
                Interlocked.Increment(ref after);
                return;
            }
            device.Dispose();
            disposed.Set();
        };
        device.StartCapturing((DataAvailableEventPeriod)3);
        Check.That(disposed.WaitOne(10000), "a handler disposed the device");
        Thread.Sleep(100);
        Check.Equal(0, after, "no block after Dispose");
        Check.Equal(live, Native.QueltoSimShim_ControlLiveDevices(), "device gone");
    }

    // Dispose frees the native device at once (from a handler: once the
    // handlers return), without a collection: before, only the finalizer did,
    // and create-dispose cycles grew by the native device each.
    static void DisposeFreesTheNativeDevice()
    {
        int before = Native.QueltoSimShim_ControlAllocatedDevices();
        for (int i = 0; i < 20; ++i)
        {
            var device = new DaqSystem();
            Check.Equal(before + 1, Native.QueltoSimShim_ControlAllocatedDevices(), "allocated while alive");
            device.Dispose();
            Check.Equal(before, Native.QueltoSimShim_ControlAllocatedDevices(), "allocated after Dispose");
        }
        var capturing = new DaqSystem();
        var returned = new ManualResetEvent(false);
        capturing.DataAvailable += (s, e) =>
        {
            if (returned.WaitOne(0)) return;
            capturing.Dispose();
            returned.Set();
        };
        capturing.StartCapturing((DataAvailableEventPeriod)3);
        Check.That(returned.WaitOne(10000), "a handler disposed the device");
        var end = DateTime.UtcNow.AddSeconds(10);
        while (Native.QueltoSimShim_ControlAllocatedDevices() != before && DateTime.UtcNow < end) Thread.Sleep(1);
        Check.Equal(before, Native.QueltoSimShim_ControlAllocatedDevices(), "freed after the handlers returned");
        Check.Throws<InvalidOperationException>(() => capturing.UpdateDisplay(), "a call after Dispose");
        Check.Equal(DeviceState.Disposed, capturing.State, "state after Dispose");
    }

    // The process ends with a device neither capturing nor disposed; the
    // ctest timeout catches a hang at exit.
    static void LeavesLiveDevice()
    {
        var device = new DaqSystem();
        device.DataAvailable += (s, e) => { };
        Check.Equal(DeviceState.Idle, device.State, "idle device");
    }

    // ------------------------------------------------------------ control

    static void CallLogAndLiveDevices()
    {
        int live = Native.QueltoSimShim_ControlLiveDevices();
        Native.QueltoSimShim_ControlClearCalls();
        using (var device = new DaqSystem())
        {
            ulong serial = Native.QueltoSimShim_ControlLatestDevice();
            Check.Equal(live + 1, Native.QueltoSimShim_ControlLiveDevices(), "live after create");
            device.ConfigureSensor(new SensorConfiguration { SensorMode = (SensorMode)2 }, 5);
            device.CalibrateGyroscopeOffset(7);
            device.DataAvailable += (s, e) => { };
            device.DataAvailable += (s, e) => { };
            var calls = Native.Calls();
            string[] ops = Array.ConvertAll(calls, x => x.Operation);
            Check.Equal("Create|ConfigureSensor|CalibrateGyroscopeOffset|add_DataAvailable|add_DataAvailable",
                        string.Join("|", ops), "calls in order");
            Check.Equal(5L, calls[1].Arguments[0], "sensor number");
            Check.Equal(7L, calls[2].Arguments[0], "calibrated sensor");
            Check.That(Array.TrueForAll(calls, x => x.Device == serial), "calls name the device");
            Check.That(Array.Exists(Native.Log(), l => l.StartsWith("device " + serial + ": CalibrateGyroscopeOffset")),
                       "calibration logged");
        }
        Check.Equal(live, Native.QueltoSimShim_ControlLiveDevices(), "live after Dispose");
    }

    static void InjectedFailures()
    {
        try
        {
            Native.QueltoSimShim_ControlSetFailure("Create", "System.IO.FileNotFoundException", "no receiver", 1);
            var e1 = Check.Throws<FileNotFoundException>(() => new DaqSystem(), "failing constructor");
            Check.Equal("no receiver", e1.Message, "constructor failure message");
            using (var device = new DaqSystem())
            {
                Native.QueltoSimShim_ControlSetFailure("StartCapturing", "System.InvalidOperationException", "busy", 1);
                var e2 = Check.Throws<InvalidOperationException>(() => device.StartCapturing((DataAvailableEventPeriod)0), "start");
                Check.Equal("busy", e2.Message, "start failure message");
                Check.Equal(DeviceState.Idle, device.State, "failed start changes nothing");
                device.StartCapturing((DataAvailableEventPeriod)0);
                device.StopCapturing();

                Native.QueltoSimShim_ControlSetFailure("get_State", "System.TimeoutException", "no answer", -1);
                Check.Throws<TimeoutException>(() => { var s = device.State; }, "state, first time");
                Check.Throws<TimeoutException>(() => { var s = device.State; }, "state, until cleared");
                Native.QueltoSimShim_ControlClearFailures();
                Check.Equal(DeviceState.Idle, device.State, "after clearing");

                Native.QueltoSimShim_ControlSetFailure("add_DataAvailable", "System.ArgumentException", "no room", 1);
                int called = 0;
                Check.Throws<ArgumentException>(() => device.DataAvailable += (s, e) => ++called, "failed subscription");
                Native.QueltoSimShim_ControlSetFailure("UpdateDisplay", "No.Such.Exception", "odd", 1);
                var e3 = Check.Throws<Exception>(() => device.UpdateDisplay(), "unknown exception type");
                Check.That(e3.Message.Contains("No.Such.Exception") && e3.Message.Contains("odd"), "unknown type named");
            }
        }
        finally
        {
            Native.QueltoSimShim_ControlClearFailures();
        }
    }

    static void RaisedBlockArrivesExactly()
    {
        Check.Equal(0, Native.QueltoSimShim_ControlLiveDevices(), "no device left by other cases");
        IntPtr block = Native.QueltoSimShim_BlockNew();
        Check.Equal(0, Native.QueltoSimShim_ControlRaiseBlock(block), "nothing raised without a device");
        var emg = new float[] { 1.5f, -2f, 3.25f, float.Epsilon, -0f, 1e30f };
        var remote = new ushort[] { 65535, 7 };
        Native.QueltoSimShim_BlockSetArray(block, Native.QueltoSimShim_BlockFieldId("EmgSamples"), 2, new[] { 2, 3, 0 }, emg);
        Native.QueltoSimShim_BlockSetArray(block, Native.QueltoSimShim_BlockFieldId("FootSwRawSamples"), 3, new[] { 0, 4, 3 }, new float[0]);
        Native.QueltoSimShim_BlockSetArrayU16(block, Native.QueltoSimShim_BlockFieldId("RemoteControlEvents"), 1, new[] { 2, 0, 0 }, remote);
        Native.QueltoSimShim_BlockSetScalar(block, Native.QueltoSimShim_BlockFieldId("ScanNumber"), -5);
        Native.QueltoSimShim_BlockSetScalar(block, Native.QueltoSimShim_BlockFieldId("RemoteControlState"), 40000);
        Native.QueltoSimShim_BlockSetScalar(block, Native.QueltoSimShim_BlockFieldId("StopAnalogTriggerDetected"), 1);
        Check.That(Native.QueltoSimShim_BlockSetArray(block, Native.QueltoSimShim_BlockFieldId("EmgSamples"), 3, new[] { 1, 1, 1 }, emg) != 0,
                   "a wrong rank is refused");
        DataAvailableEventArgs seen = null;
        object sender = null;
        using (var device = new DaqSystem())
        {
            device.DataAvailable += (s, e) => { Thread.Sleep(50); sender = s; seen = e; };
            Check.Equal(1, Native.QueltoSimShim_ControlRaiseBlock(block), "raised");
            Check.That(seen != null, "handlers ran before the raise returned");
            Check.That(ReferenceEquals(sender, device), "sender is the device");
            SameAsNative(block, seen, false, "raised");
            Check.Equal(-5, seen.ScanNumber, "scan number");
            Check.Equal((ushort)40000, seen.RemoteControlState, "remote state");
            Check.That(seen.StopAnalogTriggerDetected && !seen.StartTriggerDetected, "flags");
            Check.Equal(3.25f, seen.EmgSamples[0, 2], "row-major EMG");
            Check.Equal(float.Epsilon, seen.EmgSamples[1, 0], "second EMG row");
            Check.Equal(4, seen.FootSwRawSamples.GetLength(1), "empty array keeps its extents");
            Check.That(seen.ImuSamples == null && seen.SensorStates == null, "null arrays stay null");
        }
        Native.QueltoSimShim_BlockFree(block);
    }

    static void ArgumentFailures()
    {
        using (var device = new DaqSystem())
        {
            var e = Check.Throws<ArgumentNullException>(() => device.ConfigureCapture(null), "null capture configuration");
            Check.That(e.Message.Contains("configuration"), "names the parameter");
            Check.Throws<ArgumentNullException>(() => device.ConfigureSensor(null, 1), "null sensor configuration");
            device.ConfigureSensor(new SensorConfiguration(), 99);
            Check.Equal(DeviceState.Idle, device.State, "an unknown sensor is ignored");
            var c = new CaptureConfiguration { FootSwBTransducerThreshold = null };
            device.ConfigureCapture(c);
            Check.Equal(DeviceState.Configured, device.State, "a null transducer object is accepted");
        }
    }

    // ------------------------------------------------------------ config

    static void ReadsPartialMixedFile()
    {
        ConfigurationExportBase x = new CfgReader().ReadCfgFile(Path.Combine(configs, "partial-mixed.json"));
        var c = x.CaptureConfiguration;
        Check.That(c.ExternalTriggerEnabled && c.ExternalTriggerActiveLevel == 1, "external trigger");
        Check.Equal(2, (int)c.EMG_AcqPType, "EMG_AcqPType");
        Check.Equal(3, (int)c.Insole_GyroscopeFullScale, "Insole_GyroscopeFullScale");
        Check.Equal(12u, c.Analog_ChannelDelay_ms, "channel delay");
        Check.That(c.EnabledAnalogChannel[3] && !c.EnabledAnalogChannel[4] && c.EnabledInsole[1], "flag arrays");
        Check.That(c.FootSwBTransducerEnabled.T_A && !c.FootSwBTransducerEnabled.T_1, "transducer flags");
        Check.Equal(0.3, c.FootSwATransducerThreshold.T_1, "transducer threshold");
        Check.Equal(1, (int)c.FootSwProtocol, "foot-switch protocol");
        Check.Equal(3, (int)x.SensorConfiguration[0].SensorMode, "sensor 1 mode");
        Check.Equal(1, (int)x.SensorConfiguration[8].SensorMode, "sensor 9 mode");
        Check.Equal("Tibialis anterior L", x.EfaChannelName[0], "channel name");
        Check.Equal("mV", x.EfaChannelUnit[1], "channel unit");
        Check.Equal(2, (int)x.EfaChannelSide[1], "channel side");
        Check.Equal(unchecked((int)0xFFE6194B), x.EfaChannelLineColor[0].ToArgb(), "opaque colour");
        Check.Equal(unchecked((int)0xCFE6194B), x.ImuAgmChannelLineColor[1].ToArgb(), "colour with alpha");
        Check.Equal(7, (int)x.ImuAgmChannelType[1], "ImuAgm channel type");
        Check.Equal(2000f, x.ImuAgmChannelFullScale[1], "ImuAgm full scale");
        Check.Equal(2, (int)x.AnalogOutputChannelType[1, 0], "analog output type, second row");
        Check.Equal(2, x.AnalogOutputSensorNum[1, 3], "analog output sensor");
        Check.Equal(1, x.AnalogOutputChannelAxis[1, 1], "analog output axis");
        Check.Equal("Insole R", x.InsoleName[1], "insole name");
        Check.That(x.PlottingEnabledInsoles[0] && !x.PlottingEnabledInsoles[1], "insole plotting");
        Check.Equal(2, (int)x.InsoleSize[0], "insole size");
        Check.That(x.EnabledInsoleImuChannels[0] && !x.EnabledInsoleImuChannels[1], "insole IMU");
        Check.Equal(50f, x.InsoleImuSampleRate_Hz, "insole IMU rate");
        Check.Equal(38, x.EfaChannelName.Length, "fixed length");
        Check.Equal(114, x.ImuAgmChannelScale.Length, "fixed ImuAgm length");

        var minimal = new CfgReader().ReadCfgFile(Path.Combine(configs, "minimal.json"));
        Check.Equal(38, minimal.SensorConfiguration.Length, "defaults keep their arrays");
        Check.That(minimal.CaptureConfiguration != null && minimal.CaptureConfiguration.FootSwATransducerEnabled != null,
                   "defaults keep their objects");
    }

    static void ReadFailures()
    {
        ICfgReader reader = new CfgReader();
        string missing = Path.Combine(Path.GetTempPath(), "quelto-managed-" + Guid.NewGuid() + ".json");
        var e1 = Check.Throws<FileNotFoundException>(() => reader.ReadCfgFile(missing), "missing file");
        Check.That(e1.Message.Contains(missing), "message names the path");
        var e2 = Check.Throws<ArgumentNullException>(() => reader.ReadCfgFile(null), "null path");
        Check.Equal("path", e2.ParamName, "parameter name");
        string bad = missing + ".bad";
        try
        {
            File.WriteAllText(bad, "{\"FormatVersion\": 1, \"InsoleSampleRate_Hz\": \"fast\"}");
            var e3 = Check.Throws<FormatException>(() => reader.ReadCfgFile(bad), "wrong type");
            Check.That(e3.Message.Contains("InsoleSampleRate_Hz"), "message names the key: " + e3.Message);
            // A non-ASCII path reaches the native reader intact.
            string named = Path.Combine(Path.GetTempPath(), "quelto-\u00e9\u4e2d-" + Guid.NewGuid() + ".json");
            File.WriteAllText(named, "{\"InsoleSampleRate_Hz\": 25.5}");
            Check.Equal(25.5f, reader.ReadCfgFile(named).InsoleSampleRate_Hz, "read through a UTF-8 path");
            File.Delete(named);
        }
        finally
        {
            File.Delete(bad);
        }
    }

    static void SavedConfigurationReadsBack()
    {
        string path = Path.Combine(Path.GetTempPath(), "quelto-managed-rx-" + Guid.NewGuid() + ".json");
        Environment.SetEnvironmentVariable("QUELTO_SIM_RXCONFIG", path);
        try
        {
            using (var device = new DaqSystem())
            {
                var c = new CaptureConfiguration
                {
                    IMU_AcqXType = (ImuAcqXType)2, Analog_ChannelDelay_ms = 4000000000u, ExternalEventActiveLevel = -3,
                };
                c.EnabledAnalogChannel[31] = true;
                c.FootSwATransducerThreshold.T_T = 0.125;
                device.ConfigureCapture(c);
                device.ConfigureSensor(new SensorConfiguration { SensorModel = (SensorModel)2, GyroscopeFullScale = (GyroscopeFullScale)1 }, 4);
                device.QL_SaveCurrentRxConfiguration();
            }
            var x = new CfgReader().ReadCfgFile(path);
            var r = x.CaptureConfiguration;
            Check.Equal(2, (int)r.IMU_AcqXType, "IMU_AcqXType");
            Check.Equal(4000000000u, r.Analog_ChannelDelay_ms, "unsigned delay");
            Check.Equal(-3, r.ExternalEventActiveLevel, "negative level");
            Check.That(r.EnabledAnalogChannel[31] && !r.EnabledAnalogChannel[30], "analog flags");
            Check.Equal(0.125, r.FootSwATransducerThreshold.T_T, "threshold");
            Check.Equal(2, (int)x.SensorConfiguration[3].SensorModel, "sensor 4 model");
            Check.Equal(1, (int)x.SensorConfiguration[3].GyroscopeFullScale, "sensor 4 gyroscope");
            Check.Equal(0, (int)x.SensorConfiguration[4].SensorModel, "sensor 5 untouched");
        }
        finally
        {
            Environment.SetEnvironmentVariable("QUELTO_SIM_RXCONFIG", null);
            File.Delete(path);
        }
    }
}
