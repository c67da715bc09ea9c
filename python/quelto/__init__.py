"""Python binding of the Quelto.bridge C API (ctypes).

    import quelto
    with quelto.Device() as device:
        device.configure_capture(enabled_insoles=[True, True])
        device.start()
        for block in device.blocks(count=10):
            print(block.scan_number, block.emg.shape)   # (36, samples)
        device.stop()

    with quelto.Device() as device:
        cap = device.capture(10.0)          # a Capture: blocks and joined buffers
    raws = cap.to_mne()                     # one mne.io.RawArray per rate group
    from quelto import emg                  # EMG processing (filters, envelope, fatigue)

The library is looked for at $QUELTO_BRIDGE_LIBRARY, then in the package's
own lib/ (an installed wheel), then in the build tree of a source checkout,
then in the install prefix."""
from . import layout
from ._records import CaptureConfiguration, DataAvailableEventArgs, SensorConfiguration
from .config import capture_configuration, sensor_configuration
from .capture import Block, Capture, CapturedBuffer
from .device import Device, DeviceState, Period, SoftwareVersion
from .errors import CallbackError, LibraryNotFoundError, QueltoError
from .layout import concatenate

__version__ = "1.0.0"


def library_path() -> str:
    """Path of the bridge library in use (loads it)."""
    from . import _lib
    return _lib.path()


def version() -> str:
    """Version of the loaded library, "major.minor.patch"."""
    from . import _lib
    return _lib.load().Quelto_Bridge_GetVersion().decode()


__all__ = ["Block", "CallbackError", "Capture", "CapturedBuffer", "Period", "SoftwareVersion", "CaptureConfiguration", "DataAvailableEventArgs", "Device",
           "DeviceState", "LibraryNotFoundError", "QueltoError", "SensorConfiguration",
           "capture_configuration", "concatenate", "layout", "library_path", "sensor_configuration",
           "version"]
