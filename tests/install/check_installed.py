"""The installed Python package finds the installed library by itself."""
import os
import sys

import quelto

libdir = os.path.realpath(sys.argv[1])
path = quelto.library_path()
assert os.path.dirname(os.path.realpath(path)) == libdir, (path, libdir)
assert quelto.version() == sys.argv[2], (quelto.version(), sys.argv[2])
with quelto.Device() as device:
    device.start()
    block = device.next_block(timeout=5)
    device.stop()
assert block.emg.shape[0] == quelto.layout.SENSORS
print("python", quelto.version(), path)
