"""The Python layout table against the C data layout header."""
import unittest

import numpy as np

from quelto import layout
from quelto.device import Block
from tests import support


class LayoutTable(unittest.TestCase):
    def setUp(self):
        self.text = (support.header("pipeline/include/Quelto_DataLayout.h") +
                     support.header("config/include/QueltoCommon.h"))

    def test_counts_and_bits_match_the_header(self):
        d = support.defines(self.text, "QUELTO_")
        self.assertEqual(d["QUELTO_LAYOUT_SENSORS"], layout.SENSORS)
        self.assertEqual(d["QUELTO_LAYOUT_FOOTSWITCHES"], layout.FOOTSWITCHES)
        self.assertEqual(d["QUELTO_LAYOUT_TRANSDUCERS"], layout.TRANSDUCERS)
        self.assertEqual(d["QUELTO_LAYOUT_INSOLES"], layout.INSOLES)
        self.assertEqual(d["QUELTO_LAYOUT_INSOLE_CELLS"], layout.INSOLE_CELLS)
        self.assertEqual(d["QUELTO_LAYOUT_ANALOG_CHANNELS"], layout.ANALOG_CHANNELS)
        for name in ("CONNECTED", "EMG", "INERTIAL", "CALIBRATING", "LOW_BATTERY", "BATTERY_SHIFT"):
            self.assertEqual(d["QUELTO_STATE_" + name], getattr(layout, "STATE_" + name), name)
        for name in ("HEEL", "META1", "META5", "TOE"):
            self.assertEqual(d["QUELTO_CONTACT_" + name], getattr(layout, "CONTACT_" + name), name)

    def test_buffers_follow_the_header_in_order_with_their_label_formats(self):
        fields = [f for f in self.text.split("typedef enum Quelto_Buffer")[1].split("QUELTO_BUFFER_COUNT")[0]
                  .split("\n") if "/*" in f]
        names = [line.split("/*")[1].split()[0] for line in fields]
        self.assertEqual(names, [b.field for b in layout.BUFFERS])
        for b in layout.BUFFERS:
            self.assertIn(f'b.field = "{b.field}"', self.text)
            self.assertIn(f'"{b.label_format}"', self.text, b.field)

    def test_units_and_ranges_match_the_header(self):
        cases = self.text.split("case QUELTO_BUFFER_")[1:]
        for b in layout.BUFFERS:
            case = next(c for c in cases if f'b.field = "{b.field}"' in c)
            self.assertIn(f'b.bufferUnit = "{b.buffer_unit}"', case, b.field)
            self.assertIn(f'b.unit = "{b.unit}"', case, b.field)
            self.assertIn(f"b.maximum = {b.maximum!r}", case, b.field)
            self.assertEqual("b.scale" in case, b.scale != 1.0, b.field)

    def test_angular_rates_are_written_in_degrees_per_second_over_the_widest_full_scale(self):
        for name in ("gyroscope", "insole_gyroscope"):
            b = layout.BY_NAME[name]
            self.assertEqual((b.buffer_unit, b.unit, b.scale), ("deg/s", "deg/s", 1.0), name)
            self.assertEqual((b.minimum, b.maximum), (-2000.0, 2000.0), name)

    def test_labels(self):
        self.assertEqual(layout.BY_NAME["emg"].label(6), "EMG07")
        self.assertEqual(layout.BY_NAME["accelerometer"].label(6, 0), "ACC07X")
        self.assertEqual(layout.BY_NAME["footswitch_raw"].label(1, 0), "FSW2H")
        self.assertEqual(layout.BY_NAME["insole"].label(0, 2), "INS1PC")
        self.assertEqual(layout.BY_NAME["analog"].label(31), "AN32")
        self.assertEqual(layout.BY_NAME["sync"].label(0), "SYNC")
        with self.assertRaises(IndexError):
            layout.BY_NAME["emg"].label(36)
        with self.assertRaises(IndexError):
            layout.BY_NAME["accelerometer"].label(0, 3)

    def test_shapes(self):
        self.assertEqual(layout.BY_NAME["emg"].shape(36 * 200), (36, 200))
        self.assertEqual(layout.BY_NAME["accelerometer"].shape(36 * 10 * 3), (36, 10, 3))
        self.assertEqual(layout.BY_NAME["sync"].shape(200), (200,))
        self.assertEqual(layout.BY_NAME["insole"].shape(0), (2, 0, 16))
        with self.assertRaises(ValueError):
            layout.BY_NAME["emg"].shape(36 * 200 + 1)

    def test_battery(self):
        state = layout.STATE_CONNECTED | (87 << layout.STATE_BATTERY_SHIFT)
        self.assertEqual(int(layout.battery_percent(np.uint16(state))), 87)

    def test_concatenate_joins_along_samples(self):
        def block(n, value):
            arrays = {b.name: np.full(b.shape(n * b.rows * b.components), value, np.float32)
                      for b in layout.BUFFERS}
            return Block(arrays, {"scan_number": 0})
        joined = layout.concatenate([block(2, 1.0), block(3, 2.0)])
        self.assertEqual(joined["emg"].shape, (36, 5))
        self.assertEqual(joined["sync"].shape, (5,))
        self.assertEqual(joined["accelerometer"].shape, (36, 5, 3))
        self.assertEqual(joined["emg"][4, 1], 1.0)
        self.assertEqual(joined["emg"][4, 2], 2.0)
        self.assertEqual(layout.concatenate([])["emg"].shape, (36, 0))


if __name__ == "__main__":
    unittest.main()
