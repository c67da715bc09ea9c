"""Finds and loads the bridge library and declares its C functions."""
import ctypes as C
import logging
import os
import sys
import threading
from pathlib import Path

from . import _records as R
from .errors import LibraryNotFoundError, QueltoError

LIBRARY_ENV = "QUELTO_BRIDGE_LIBRARY"
SUPPORTED_MAJOR = 1

_log = logging.getLogger("quelto")

if sys.platform == "win32":
    FILE_NAMES = ("Quelto.bridge.dll",)
elif sys.platform == "darwin":
    FILE_NAMES = ("libQuelto.bridge.1.dylib", "libQuelto.bridge.dylib")
else:
    FILE_NAMES = ("libQuelto.bridge.so.%d" % SUPPORTED_MAJOR, "libQuelto.bridge.so")

_lock = threading.Lock()
_loaded = None  # (CDLL, path)


def _in_folder(folder):
    return [Path(folder) / name for name in FILE_NAMES]


def candidates():
    """(path, where) pairs in lookup order: the environment variable (alone
    when set), the package's own lib/ folder (a wheel puts the library and
    its SDK there), the build tree of a source checkout, the install prefix."""
    explicit = os.environ.get(LIBRARY_ENV)
    if explicit:
        p = Path(explicit)
        paths = _in_folder(p) if p.is_dir() else [p]
        return [(x, LIBRARY_ENV) for x in paths]
    here = Path(__file__).resolve().parent
    out = [(x, "package") for x in _in_folder(here / "lib")]
    build = here.parent.parent / "build"
    presets = ["default", "debug"]
    if build.is_dir():
        presets += sorted(d.name for d in build.iterdir()
                          if d.is_dir() and d.name not in presets and d.name not in ("asan", "tsan"))
    for preset in presets:
        out += [(x, "build tree") for x in _in_folder(build / preset / "lib")]
    try:
        from . import _installed  # written by cmake --install
        out += [(x, "install prefix") for x in _in_folder(_installed.LIBRARY_DIR)]
    except ImportError:
        pass
    for prefix in dict.fromkeys([sys.prefix, "/usr/local", "/usr"]):
        out += [(x, "install prefix") for x in _in_folder(Path(prefix) / "lib")]
    return out


def _declare(lib):
    vp, i = C.c_void_p, C.c_int
    sig = {
        "Quelto_Bridge_Create": (vp, []),
        "Quelto_Bridge_Destroy": (None, [vp]),
        "Quelto_Bridge_StartCapturing": (None, [vp]),
        "Quelto_Bridge_StopCapturing": (None, [vp]),
        "Quelto_Bridge_RegisterDataCallback": (None, [vp, R.DataCallback, vp]),
        "Quelto_Bridge_UnregisterDataCallback": (None, [vp, R.DataCallback, vp]),
        "Quelto_Bridge_ConfigureCapture": (None, [vp, C.POINTER(R.CaptureConfiguration)]),
        "Quelto_Bridge_ConfigureSensor": (None, [vp, C.POINTER(R.SensorConfiguration), i]),
        "Quelto_Bridge_CalibrateImuOffset": (None, [vp, i]),
        "Quelto_Bridge_CalibrateGyroscopeOffset": (None, [vp, i]),
        "Quelto_Bridge_CalibrateAccelerometerOffset": (None, [vp, i]),
        "Quelto_Bridge_CalibrateEMGOffset": (None, [vp, i]),
        "Quelto_Bridge_UpdateDisplay": (None, [vp]),
        "Quelto_Bridge_SaveCurrentRxConfiguration": (None, [vp]),
        "Quelto_Bridge_GetdeviceState": (i, [vp]),
        "Quelto_Bridge_GetLastError": (C.c_char_p, []),
        "Quelto_Bridge_GetVersion": (C.c_char_p, []),
        "Quelto_Bridge_RegisterBlockCallback": (None, [vp, R.BlockCallback, vp]),
        "Quelto_Bridge_UnregisterBlockCallback": (None, [vp, R.BlockCallback, vp]),
        "Quelto_Bridge_StartCapturingWithPeriod": (None, [vp, i]),
        "Quelto_Bridge_GenerateInternalStartTrigger": (None, [vp]),
        "Quelto_Bridge_GenerateInternalStopTrigger": (None, [vp]),
        "Quelto_Bridge_ApplyConfigurationFile": (i, [vp, C.c_char_p]),
        "Quelto_Bridge_GetSoftwareVersion": (i, [vp, C.POINTER(R.SoftwareVersion)]),
    }
    for name, (restype, argtypes) in sig.items():
        f = getattr(lib, name)
        f.restype = restype
        f.argtypes = argtypes


def load():
    """The loaded library (CDLL: calls release the interpreter lock)."""
    global _loaded
    with _lock:
        if _loaded is not None:
            return _loaded[0]
        tried = []
        for path, where in candidates():
            tried.append(f"{path} ({where})")
            if not path.is_file():
                continue
            try:
                lib = C.CDLL(str(path))
            except OSError as e:
                raise QueltoError(f"cannot load {path}: {e}") from e
            _declare(lib)
            version = lib.Quelto_Bridge_GetVersion().decode()
            if int(version.split(".")[0]) != SUPPORTED_MAJOR:
                raise QueltoError(f"{path} is version {version}; this package needs {SUPPORTED_MAJOR}.x")
            _loaded = (lib, str(path))
            return lib
        raise LibraryNotFoundError(
            "the Quelto.bridge library was not found; set " + LIBRARY_ENV +
            " to its path. Looked in:\n  " + "\n  ".join(tried), tried)


def path():
    load()
    return _loaded[1]


def last_error(lib):
    text = lib.Quelto_Bridge_GetLastError()
    return None if text is None else text.decode("utf-8", "replace")


def library_error(text):
    """QueltoError of a last-error text; the whole text, native stack
    included, goes to the log (logger "quelto", debug level)."""
    _log.debug("library failure:\n%s", text)
    return QueltoError.from_library(text)


def failure(lib, fallback):
    """QueltoError of the calling thread's last error, or `fallback`."""
    text = last_error(lib)
    return QueltoError(fallback) if text is None else library_error(text)
