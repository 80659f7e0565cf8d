#!/usr/bin/env python3
"""The layering check on the project itself, and on small trees with one planted fault each,
which it must name."""

import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.normpath(os.path.join(HERE, "..", ".."))
SCRIPT = os.path.join(TOP, "scripts", "check-layers.py")


def run(top, qt_headers=None):
    cmd = [sys.executable, SCRIPT, "--top", top]
    if qt_headers:
        cmd += ["--qt-headers", qt_headers]
    p = subprocess.run(cmd, capture_output=True, text=True)
    return p.returncode, p.stdout + p.stderr


# A tree of two areas: a_core <- a_ui <- b_ui, and a_core <- b_core.
TREE = {
    "src/a/core/CMakeLists.txt": "add_library(a_core STATIC x.cpp x.h)\n"
                                 "target_link_libraries(a_core PUBLIC Qt5::Core)\n",
    "src/a/core/x.h": "#pragma once\n#include <QString>\n",
    "src/a/core/x.cpp": '#include "x.h"\n',
    "src/a/ui/CMakeLists.txt": "add_library(a_ui STATIC w.cpp w.h)\n"
                               "target_link_libraries(a_ui PUBLIC a_core Qt5::Widgets)\n",
    "src/a/ui/w.h": '#pragma once\n#include "a/core/x.h"\n#include <QWidget>\n',
    "src/a/ui/w.cpp": '#include "w.h"\n',
    "src/b/core/CMakeLists.txt": "add_library(b_core STATIC y.cpp y.h)  # the other area\n"
                                 "target_link_libraries(b_core PUBLIC a_core)\n",
    "src/b/core/y.h": '#pragma once\n#include "a/core/x.h"\n',
    "src/b/core/y.cpp": '#include "y.h"\n',
    "tools/CMakeLists.txt": "",
    "qt/QtWidgets/QWidget": "",
    "qt/QtWidgets/QPushButton": "",
}


class Layers(unittest.TestCase):
    def test_project_has_no_fault(self):
        code, out = run(TOP)
        self.assertEqual(code, 0, out)

    def plant(self, changes):
        tmp = tempfile.TemporaryDirectory()
        self.addCleanup(tmp.cleanup)
        files = dict(TREE)
        files.update(changes)
        for rel, text in files.items():
            if text is None:
                continue
            path = os.path.join(tmp.name, rel)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w") as f:
                f.write(text)
        return run(tmp.name, os.path.join(tmp.name, "qt"))

    def test_clean_tree_passes(self):
        code, out = self.plant({})
        self.assertEqual(code, 0, out)

    def test_planted_faults_are_named(self):
        cases = [
            # a core file reaching into a library it does not link
            ({"src/b/core/y.cpp": '#include "y.h"\n#include "a/ui/w.h"\n'},
             'src/b/core/y.cpp:2: b_core includes "a/ui/w.h" of a_ui, which it does not link'),
            # a widget header in a library without widgets
            ({"src/a/core/x.cpp": '#include "x.h"\n#include <QPushButton>\n'},
             "src/a/core/x.cpp:2: a_core has no widgets but includes <QPushButton>"),
            ({"src/a/core/x.h": "#pragma once\n#include <QtWidgets/QWidget>\n"},
             "a_core has no widgets but includes <QtWidgets/QWidget>"),
            # a core library that links widgets
            ({"src/a/core/CMakeLists.txt": "add_library(a_core STATIC x.cpp x.h)\n"
                                           "target_link_libraries(a_core PUBLIC Qt5::Widgets)\n"},
             "target a_core links Qt Widgets"),
            # two modules of one library that include each other
            ({"src/b/core/CMakeLists.txt": "add_library(b_core STATIC y.cpp y.h z.cpp z.h)\n"
                                           "target_link_libraries(b_core PUBLIC a_core)\n",
              "src/b/core/z.h": "#pragma once\n", "src/b/core/z.cpp": '#include "z.h"\n#include "y.h"\n',
              "src/b/core/y.cpp": '#include "y.h"\n#include "z.h"\n'},
             "files include each other: src/b/core/y -> src/b/core/z"),
            # a file no target lists, and an include of nothing
            ({"src/a/core/stray.cpp": "int x;\n"}, "src/a/core/stray.cpp: belongs to no target"),
            ({"src/a/core/x.cpp": '#include "x.h"\n#include "a/core/gone.h"\n'},
             'src/a/core/x.cpp:2: "a/core/gone.h" is no file of src/ or tools/'),
            # libraries that link each other
            ({"src/a/core/CMakeLists.txt": "add_library(a_core STATIC x.cpp x.h)\n"
                                           "target_link_libraries(a_core PUBLIC b_core)\n"},
             "target a_core links itself"),
        ]
        for changes, expected in cases:
            with self.subTest(expected=expected):
                code, out = self.plant(changes)
                self.assertEqual(code, 1, out)
                self.assertIn(expected, out)


if __name__ == "__main__":
    unittest.main()
