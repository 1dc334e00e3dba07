"""bench/function_order.py: reading callgrind's report, and the check that
the recorder's text starts with the listed functions."""
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "../../bench"))
import function_order  # noqa: E402


class FunctionsOfTest(unittest.TestCase):
    def test_only_the_programs_named_functions_once_hottest_first(self):
        report = "\n".join([
            "--------------------------------------------------------------------------------",
            "8,122,635 (43.30%)  ./elf/./elf/dl-lookup.c:do_lookup_x [/usr/lib/x86_64-linux-gnu/ld-linux-x86-64.so.2]",
            "  425,169 ( 2.27%)  ../../src/stream/IcyDemultiplexer.cpp:_ZN16IcyDemultiplexer4WalkEPKhi [/b/rec]",
            "   12,001 ( 0.06%)  ???:0x0000000000015a30 [/b/rec]",
            "      984 ( 0.01%)  ../../src/x.cpp:_ZL4Walkv'2 [/b/rec]",
            "      500 ( 0.00%)  ../../src/x.cpp:_ZL4Walkv [/b/rec]",
            "      300 ( 0.00%)  ???:main [/b/rec]",
            "      200 ( 0.00%)  ???:_Znwm [/usr/lib/x86_64-linux-gnu/libstdc++.so.6.0.30]",
        ])
        self.assertEqual(function_order.functions_of(report, "/b/rec"),
                         ["_ZN16IcyDemultiplexer4WalkEPKhi", "_ZL4Walkv", "main"])


class LayoutFaultTest(unittest.TestCase):
    listed = [f"f{i}" for i in range(40)]

    def layout(self, names, start=0x1000):
        return [(start + 0x40 * i, 0x40, name) for i, name in enumerate(names)]

    def test_cases(self):
        first = self.layout(self.listed + ["cold1", "cold2"])
        cases = [
            ("listed first", first, None),
            ("an alias of a listed function", first + [(0x1000, 0x40, "f0_alias")], None),
            ("a thunk in a listed function's section", self.layout(self.listed[:20] + ["thunk"] + self.listed[20:]),
             None),
            ("the link ignored the list",
             self.layout([name for pair in zip(self.listed, [f"cold{i}" for i in range(40)]) for name in pair]),
             "unlisted functions lie among"),
            ("most listed functions are gone", self.layout(self.listed[:15] + ["new"]), "regenerate"),
        ]
        for what, symbols, fault in cases:
            with self.subTest(what):
                found = function_order.layout_fault(self.listed, symbols)
                if fault is None:
                    self.assertIsNone(found)
                else:
                    self.assertIn(fault, found or "")


if __name__ == "__main__":
    unittest.main()
