#!/usr/bin/env python3
"""Shows that the image check catches a broken delay-import slot.

Takes a built Orvane.exe (whose delay slots are right), breaks one slot at a
time in a copy and expects the checker to name exactly that slot.

Usage: test_check_exe_hardening.py PATH/TO/Orvane.exe
"""

import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import check_exe_hardening as ch  # noqa: E402

EXE = None


class DelaySlots(unittest.TestCase):
    def setUp(self):
        with open(EXE, "rb") as f:
            self.data = f.read()
        self.pe = ch.PeFile(self.data)
        self.pointer = 4 if self.pe.magic == 0x10B else 8
        self.slots = [(dll, function, self.pe.offset(rva, self.pointer))
                      for dll, function, rva in ch.delay_slots(self.pe)]

    def problems_with(self, offset, value):
        data = bytearray(self.data)
        data[offset:offset + self.pointer] = value.to_bytes(self.pointer, "little")
        return ch.check_delay_slots(ch.PeFile(bytes(data)))

    def slot_value(self, offset):
        return int.from_bytes(self.data[offset:offset + self.pointer], "little")

    def test_built_image_has_every_dll_and_no_problem(self):
        self.assertEqual({"winhttp.dll", "bcrypt.dll", "crypt32.dll", "oleacc.dll"}, {dll for dll, _, _ in self.slots})
        self.assertEqual([], ch.check_delay_slots(self.pe))

    def test_each_broken_slot_is_named(self):
        (dll, function, offset), (_, _, other) = self.slots[0], self.slots[1]
        data_address = self.pe.image_base + self.pe.directory(ch.RESOURCE_ENTRY)[0]
        cases = [
            ("zero", 0, "delay slot of %s!%s is 0" % (dll, function)),
            ("outside the code", data_address,
             "delay slot of %s!%s is 0x%x, outside the image's code" % (dll, function, data_address)),
            ("another function's thunk", self.slot_value(other),
             "delay slot of %s!%s is 0x%x, not its own thunk" % (dll, function, self.slot_value(other))),
        ]
        for name, value, expected in cases:
            with self.subTest(name):
                self.assertEqual([expected], self.problems_with(offset, value))

    def test_command_line_fails_on_a_zero_slot(self):
        dll, function, offset = self.slots[-1]
        data = bytearray(self.data)
        data[offset:offset + self.pointer] = bytes(self.pointer)
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "Orvane.exe")
            with open(path, "wb") as f:
                f.write(data)
            result = subprocess.run([sys.executable, os.path.join(HERE, "check_exe_hardening.py"), path],
                                    capture_output=True, text=True)
        self.assertEqual(1, result.returncode)
        self.assertIn("FAIL delay slot of %s!%s is 0\n" % (dll, function), result.stdout)


if __name__ == "__main__":
    EXE = sys.argv.pop(1)
    unittest.main()
