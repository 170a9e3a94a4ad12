"""tools/include-layers on small source trees of its own: it passes one whose
folders include downwards only, and fails, naming the include, on one that
reaches upwards, forms a circle or lies in a folder that is no layer."""

import os
import subprocess
import sys
import tempfile
import unittest

TOOL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "include-layers")
LAYERS = "win,log,ui"


def run(src, *arguments):
    result = subprocess.run([sys.executable, TOOL, "--layers", LAYERS, *arguments, src],
                            capture_output=True, text=True, check=False)
    return result.returncode, result.stdout, result.stderr


class IncludeLayersTest(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.TemporaryDirectory()
        self.src = self.scratch.name
        self.write("win/handle.h", "#pragma once\n")
        self.write("log/log.h", '#pragma once\n#include "win/handle.h"\n')
        self.write("log/log.cpp", '#include "log/log.h"\n#include <windows.h>\n#include "version.h"\n')
        self.write("ui/dialog.cpp", '#include "log/log.h"\n#include "win/handle.h"\n')

    def tearDown(self):
        self.scratch.cleanup()

    def write(self, path, text):
        full = os.path.join(self.src, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "w", encoding="utf-8") as f:
            f.write(text)

    def test_downward_includes_pass_and_are_listed(self):
        code, out, err = run(self.src, "--list")
        self.assertEqual(code, 0, err)
        self.assertEqual(out.splitlines(), ["win ->", "log -> win(1)", "ui -> win(1) log(1)"])

    def test_an_include_of_a_higher_folder_fails(self):
        self.write("win/handle.h", '#pragma once\n#include "ui/dialog.h"\n')
        self.write("ui/dialog.h", "#pragma once\n")
        code, _, err = run(self.src)
        self.assertEqual(code, 1)
        self.assertIn("win/handle.h includes ui/dialog.h: win may not reach ui, which lies above it", err)

    def test_an_include_circle_fails_even_inside_one_folder(self):
        self.write("log/a.h", '#pragma once\n#include "log/b.h"\n')
        self.write("log/b.h", '#pragma once\n#include "log/a.h"\n')
        code, _, err = run(self.src)
        self.assertEqual(code, 1)
        self.assertIn("include circle: log/a.h -> log/b.h -> log/a.h", err)

    def test_a_folder_that_is_no_layer_fails(self):
        self.write("extra/thing.cpp", '#include "log/log.h"\n')
        code, _, err = run(self.src)
        self.assertEqual(code, 1)
        self.assertIn("extra/thing.cpp: its folder 'extra' is not one of the layers", err)


if __name__ == "__main__":
    unittest.main()
