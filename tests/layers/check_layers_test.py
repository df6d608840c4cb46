#!/usr/bin/env python3
"""scripts/check-layers on small trees made for each rule, and on the project's own tree."""

import os
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
CHECKER = os.path.join(ROOT, "scripts", "check-layers")


def run(root, *extra):
    done = subprocess.run([sys.executable, CHECKER, root, *extra], capture_output=True, text=True)
    return done.returncode, done.stderr


class CheckLayersTest(unittest.TestCase):
    def tree(self, files):
        """A source tree of {path: text}; removed after the test."""
        directory = tempfile.TemporaryDirectory()
        self.addCleanup(directory.cleanup)
        for path, text in files.items():
            full = os.path.join(directory.name, path)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "w", encoding="utf-8") as f:
                f.write(text)
        return directory.name

    def assertRefused(self, files, where, *words):
        code, err = run(self.tree(files))
        self.assertEqual(code, 1, err)
        self.assertIn(where, err)
        for word in words:
            self.assertIn(word, err)

    def assertAccepted(self, files):
        code, err = run(self.tree(files))
        self.assertEqual(code, 0, err)
        self.assertEqual(err, "")

    def test_an_include_of_a_higher_layer_is_refused_with_its_file_line_and_layers(self):
        self.assertRefused(
            {
                "core/Protocol.cpp": '#include "core/Protocol.h"\n\n'
                '#include "storage/TreeFiles.h"\n',
                "core/Protocol.h": "#pragma once\n",
                "storage/TreeFiles.h": "#pragma once\n",
            },
            'core/Protocol.cpp:3: #include "storage/TreeFiles.h"',
            "core (layer 0, vexa_line)",
            "storage (layer 1, vexa_storage)",
        )

    def test_every_step_up_is_refused(self):
        upward = [
            ("storage/A.cpp", "processes/model/B.h"),
            ("storage/A.cpp", "ui/model/B.h"),
            ("processes/model/A.cpp", "ui/model/B.h"),
            ("reports/model/A.cpp", "ui/model/B.h"),
            ("ui/model/A.cpp", "reports/paper/B.h"),
            ("reports/paper/A.cpp", "ui/B.h"),
            ("reports/paper/A.cpp", "reports/gui/B.h"),
            ("ui/A.cpp", "ui/app/B.h"),
            ("processes/gui/A.cpp", "tools/vexa-cli/B.h"),
            ("core/A.h", "ui/B.h"),
            ("ui/model/A.cpp", "broker/B.h"),
            ("broker/A.cpp", "ui/B.h"),
        ]
        for source, target in upward:
            with self.subTest(source=source, target=target):
                self.assertRefused({source: f'#include "{target}"\n', target: ""}, f"{source}:1:")

    def test_an_upward_include_is_refused_in_every_form(self):
        forms = [
            ("<ui/model/B.h>", "<ui/model/B.h>"),
            ('"../ui/model/B.h"', '"../ui/model/B.h"'),
            ('"./../broker/B.h"', '"./../broker/B.h"'),
            ('"model/../../ui/B.h"', '"model/../../ui/B.h"'),
        ]
        for written, shown in forms:
            with self.subTest(form=written):
                self.assertRefused(
                    {
                        "storage/A.cpp": f"#include {written}\n",
                        "ui/model/B.h": "",
                        "broker/B.h": "",
                        "ui/B.h": "",
                    },
                    f"storage/A.cpp:1: #include {shown}",
                    "storage (layer 1, vexa_storage)",
                )
        # A name beside the file is the file's own folder; one of the system's is nobody's.
        self.assertAccepted(
            {"storage/A.cpp": '#include "A.h"\n#include <QString>\n#include "Version.h"\n', "storage/A.h": ""}
        )

    def test_the_windows_below_the_main_window_see_only_its_session(self):
        for source in ("processes/gui/A.cpp", "reports/gui/A.h", "alarms/gui/A.cpp", "ui/parts/A.cpp"):
            with self.subTest(source=source):
                self.assertRefused(
                    {source: '#include "ui/MainUnit.h"\n', "ui/MainUnit.h": ""}, f"{source}:1:", "Session"
                )
        self.assertAccepted({"ui/config/A.cpp": '#include "ui/MainUnit.h"\n', "ui/MainUnit.h": ""})

    def test_lower_layers_and_the_own_layer_are_accepted(self):
        self.assertAccepted(
            {
                "storage/A.cpp": '#include "core/B.h"\n',
                "ui/model/A.cpp": '#include "processes/model/B.h"\n#include "reports/model/C.h"\n',
                "reports/paper/A.cpp": '#include "reports/model/B.h"\n#include "storage/C.h"\n',
                "processes/gui/A.cpp": '#include "ui/B.h"\n#include "ui/model/C.h"\n',
                "ui/A.cpp": '#include "processes/gui/B.h"\n#include "reports/gui/C.h"\n',
                "ui/app/main.cpp": '#include "ui/B.h"\n#include "Version.h"\n'
                '#include <QApplication>\n',
                "tools/vexa-cli/main.cpp": '#include "tools/vexa-cli/Cli.h"\n'
                '#include "reports/paper/B.h"\n',
            }
        )

    def test_a_program_includes_no_other_program_and_nothing_includes_the_tests(self):
        self.assertRefused(
            {"tools/vexa-sim/main.cpp": '#include "tools/vexa-cli/CliContext.h"\n'},
            "tools/vexa-sim/main.cpp:1:",
            "another program",
        )
        self.assertRefused(
            {"storage/A.cpp": '#include "tests/support/TestSupport.h"\n'}, "storage/A.cpp:1:", "test"
        )

    def test_the_broker_stands_on_the_model_and_beside_the_paper(self):
        self.assertAccepted(
            {
                "broker/A.cpp": '#include "ui/model/B.h"\n#include "reports/model/C.h"\n#include "core/D.h"\n',
                "ui/A.cpp": '#include "broker/B.h"\n',
                "tools/vexa-cli/Run.cpp": '#include "broker/B.h"\n',
            }
        )
        # Two libraries of one layer: neither may count on the other.
        self.assertRefused(
            {"broker/A.cpp": '#include "reports/paper/B.h"\n'}, "broker/A.cpp:1:", "another library of its layer"
        )
        self.assertRefused(
            {"reports/paper/A.cpp": '#include "broker/B.h"\n'}, "reports/paper/A.cpp:1:", "vexa_broker"
        )

    def test_a_source_outside_every_layer_is_refused(self):
        self.assertRefused({"processes/Stray.cpp": ""}, "processes/Stray.cpp:1:", "no layer")

    def test_every_refusal_is_told_and_a_refused_tree_leaves_no_stamp(self):
        root = self.tree(
            {
                "core/A.cpp": '#include "storage/B.h"\n#include "ui/C.h"\n',
                "storage/B.cpp": '#include "reports/model/D.h"\n',
            }
        )
        stamp = os.path.join(root, "stamp")
        with open(stamp, "w"):
            pass  # left by an earlier pass
        code, err = run(root, "--stamp", stamp)
        self.assertEqual(code, 1)
        self.assertIn("core/A.cpp:1:", err)
        self.assertIn("core/A.cpp:2:", err)
        self.assertIn("storage/B.cpp:1:", err)
        self.assertIn("3 include(s)", err)
        self.assertFalse(os.path.exists(stamp))

    def test_the_project_keeps_its_layers(self):
        stamp = os.path.join(self.tree({}), "stamp")
        code, err = run(ROOT, "--stamp", stamp)
        self.assertEqual(code, 0, err)
        self.assertTrue(os.path.exists(stamp))


if __name__ == "__main__":
    unittest.main()
