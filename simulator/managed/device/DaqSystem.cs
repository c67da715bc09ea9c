using System;
using System.Threading;
using Quelto.Common.Definitions;
using Quelto.Common.Native;
using Quelto.Interfaces;

namespace Quelto
{
    // The simulated device (the native one, through the shim): same states,
    // blocks and settings (QUELTO_SIM_SEED, QUELTO_SIM_MODE,
    // QUELTO_SIM_PLAYBACK, QUELTO_SIM_RXCONFIG). DataAvailable is raised on
    // the device's own background thread; the device waits for its handlers.
    public class DaqSystem : IDaqSystem
    {
        private sealed class ExtVersion : IExtVersion
        {
            internal ExtVersion(int[] v) { Major = v[0]; Minor = v[1]; Build = v[2]; Revision = v[3]; }
            public int Major { get; private set; }
            public int Minor { get; private set; }
            public int Build { get; private set; }
            public int Revision { get; private set; }
        }

        // The event thread comes back to managed code this often, so that the
        // runtime can end it at process exit.
        private const int WaitSlice_ms = 100;

        private readonly object gate = new object();
        private readonly Thread thread;
        private DataAvailableEventHandler handlers;
        // The native device, freed as soon as it is disposed and no call uses
        // it any more. Each call on it holds a use; the event thread holds
        // one for its life. All under `gate`.
        private IntPtr device;
        private int uses;
        private bool disposed;

        public DaqSystem()
        {
            Shim.Check(Shim.QueltoSimShim_DeviceCreate(out device));
            uses = 1;  // the event thread's
            thread = new Thread(Run) { IsBackground = true, Name = "Quelto.DaqSystem events" };
            thread.Start();
        }

        public event DataAvailableEventHandler DataAvailable
        {
            add
            {
                lock (gate)
                {
                    Call("add_DataAvailable", 0);
                    handlers += value;
                }
            }
            remove
            {
                lock (gate) handlers -= value;
            }
        }

        public void StartCapturing(DataAvailableEventPeriod period) { Call("StartCapturing", (int)period); }
        public void StopCapturing() { Call("StopCapturing", 0); }
        public void GenerateInternalStartTrigger() { Call("GenerateInternalStartTrigger", 0); }
        public void GenerateInternalStopTrigger() { Call("GenerateInternalStopTrigger", 0); }
        public void UpdateDisplay() { Call("UpdateDisplay", 0); }
        public void QL_SaveCurrentRxConfiguration() { Call("QL_SaveCurrentRxConfiguration", 0); }
        public void CalibrateSensorImuOffset(int sensor) { Call("CalibrateSensorImuOffset", sensor); }
        public void CalibrateGyroscopeOffset(int sensor) { Call("CalibrateGyroscopeOffset", sensor); }
        public void DetectAccelerometerOffset(int sensor) { Call("DetectAccelerometerOffset", sensor); }
        public void QL_CalibrateEmgOffset(int sensor) { Call("QL_CalibrateEmgOffset", sensor); }

        public void ConfigureCapture(ICaptureConfiguration configuration)
        {
            IntPtr native = configuration == null ? IntPtr.Zero : NativeObjects.FromCapture(configuration);
            try
            {
                IntPtr d = Use();
                try
                {
                    Shim.Check(Shim.QueltoSimShim_DeviceConfigureCapture(d, native));
                }
                finally
                {
                    Release();
                }
            }
            finally
            {
                if (native != IntPtr.Zero) Shim.QueltoSimShim_ObjectFree(native);
            }
        }

        public void ConfigureSensor(ISensorConfiguration configuration, int sensor)
        {
            IntPtr native = configuration == null ? IntPtr.Zero : NativeObjects.FromSensor(configuration);
            try
            {
                IntPtr d = Use();
                try
                {
                    Shim.Check(Shim.QueltoSimShim_DeviceConfigureSensor(d, native, sensor));
                }
                finally
                {
                    Release();
                }
            }
            finally
            {
                if (native != IntPtr.Zero) Shim.QueltoSimShim_ObjectFree(native);
            }
        }

        public DeviceState State
        {
            get
            {
                lock (gate)
                {
                    if (disposed) return DeviceState.Disposed;
                }
                int state;
                IntPtr d = Use();
                try
                {
                    Shim.Check(Shim.QueltoSimShim_DeviceState(d, out state));
                }
                finally
                {
                    Release();
                }
                return (DeviceState)state;
            }
        }

        public IExtVersion SoftwareVersion
        {
            get
            {
                int[] v = new int[4];
                IntPtr d = Use();
                try
                {
                    Shim.Check(Shim.QueltoSimShim_DeviceVersion(d, v));
                }
                finally
                {
                    Release();
                }
                return new ExtVersion(v);
            }
        }

        // Stops the device and its thread and frees the native device once
        // nothing uses it; a second call does nothing. From a DataAvailable
        // handler the thread ends (and frees it) once the handlers return.
        // Later calls fail as on the native SDK; State reads Disposed.
        public void Dispose()
        {
            IntPtr d;
            lock (gate)
            {
                if (disposed) return;
                disposed = true;
                ++uses;
                d = device;
            }
            try
            {
                Shim.Check(Shim.QueltoSimShim_DeviceDispose(d));
                if (Thread.CurrentThread != thread) thread.Join();
            }
            finally
            {
                Release();
            }
            GC.SuppressFinalize(this);
        }

        // A device never disposed: only once its event thread has ended.
        ~DaqSystem()
        {
            if (device != IntPtr.Zero) Shim.QueltoSimShim_DeviceFree(device);
        }

        private IntPtr Use()
        {
            lock (gate)
            {
                if (disposed) throw new InvalidOperationException("The device has been disposed.");
                ++uses;
                return device;
            }
        }

        private void Release()
        {
            IntPtr free = IntPtr.Zero;
            lock (gate)
            {
                if (--uses == 0 && disposed)
                {
                    free = device;
                    device = IntPtr.Zero;
                }
            }
            if (free != IntPtr.Zero) Shim.QueltoSimShim_DeviceFree(free);
        }

        private void Call(string member, int argument)
        {
            IntPtr d = Use();
            try
            {
                Shim.Check(Shim.QueltoSimShim_DeviceCall(d, Shim.Utf8(member), argument));
            }
            finally
            {
                Release();
            }
        }

        private void Run()
        {
            IntPtr d;
            lock (gate) d = device;
            try
            {
                IntPtr block;
                int status;
                while ((status = Shim.QueltoSimShim_DeviceWaitBlock(d, out block, WaitSlice_ms)) != 0)
                {
                    if (status != 1) continue;
                    try
                    {
                        DataAvailableEventArgs e;
                        try
                        {
                            e = NativeBlocks.ToManaged(block);
                        }
                        finally
                        {
                            // A copy is made: the native block is let go at once,
                            // so fast mode is paced by the handlers returning.
                            Shim.QueltoSimShim_BlockFree(block);
                        }
                        DataAvailableEventHandler h;
                        lock (gate) h = handlers;
                        if (h != null) h(this, e);
                    }
                    finally
                    {
                        Shim.QueltoSimShim_DeviceBlockDone(d);
                    }
                }
            }
            finally
            {
                Release();
            }
        }
    }
}
