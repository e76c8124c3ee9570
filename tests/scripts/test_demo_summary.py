"""demo-summary: counting found and false pairs against the truth, and refusing unreadable input."""

import importlib.machinery
import importlib.util
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

SCRIPTS = os.environ.get("TM_SCRIPTS_DIR", os.path.join(os.path.dirname(__file__), "../../scripts"))
SUMMARY = os.path.join(SCRIPTS, "demo-summary")


def load_summary_module():
    loader = importlib.machinery.SourceFileLoader("demo_summary", SUMMARY)
    module_spec = importlib.util.spec_from_loader("demo_summary", loader)
    module = importlib.util.module_from_spec(module_spec)
    loader.exec_module(module)
    return module


summary = load_summary_module()

# Song a: three copies (3 pairs); song b: two copies (1 pair); song c: no copies; two non-audio files.
TRUTH_FILES = [
    ("A/a.mp3", "a", True), ("A/a copy.wav", "a", True), ("Ü/a (mono).wav", "a", True),
    ("B/b.mp3", "b", True), ("B/b.wav", "b", True),
    ("C/c.mp3", "c", True),
    ("notes.txt", None, False), ("B/broken.mp3", None, False),
]


class SummaryTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="tm-demo-summary-")
        self.library = os.path.join(self.tmp, "library")
        for path, _, _ in TRUTH_FILES:
            os.makedirs(os.path.dirname(os.path.join(self.library, path)), exist_ok=True)
            open(os.path.join(self.library, path), "wb").close()
        self.truth = os.path.join(self.library, "truth.json")
        self.write(self.truth, {"files": [{"path": p, "song": s, "audio": a, "kind": "x"} for p, s, a in TRUTH_FILES]})

    def tearDown(self):
        shutil.rmtree(self.tmp)

    def write(self, path, value):
        with open(path, "w", encoding="utf-8") as f:
            f.write(value if isinstance(value, str) else json.dumps(value, ensure_ascii=False))
        return path

    def pair(self, a, b, content=90.0, tags=-100.0, experimental=-100.0, root=None):
        root = root or self.library
        return {"path1": os.path.join(root, a), "path2": os.path.join(root, b), "contentPercent": content,
                "tagsPercent": tags, "experimentalPercent": experimental}

    def run_summary(self, pairs, counters=None):
        scan = self.write(os.path.join(self.tmp, "scan.json"), {"pairs": pairs, "counters": counters or {}})
        result = subprocess.run([sys.executable, SUMMARY, self.truth, scan], capture_output=True, text=True)
        return result.returncode, result.stdout, result.stderr

    def evaluate(self, pairs):
        _, entries = summary.load_truth(self.truth)
        return summary.evaluate(entries, pairs)

    def test_expected_pairs_are_copies_of_one_song_among_audio_files(self):
        result = self.evaluate([])
        self.assertEqual(len(result["expected"]), 4)
        self.assertEqual(len(result["missed"]), 4)

    def test_pairs_count_once_whatever_their_order_and_spelling(self):
        link = os.path.join(self.tmp, "link")
        os.symlink(self.library, link)
        pairs = [
            self.pair("A/a.mp3", "A/a copy.wav"),
            self.pair("A/a copy.wav", "A/a.mp3"),  # the same pair again, other order
            self.pair("Ü/a (mono).wav", "A/./a.mp3", root=link),  # through a link and a dot segment
            self.pair("B/b.wav", "B/b.mp3"),
        ]
        result = self.evaluate(pairs)
        self.assertEqual(len(result["found"]), 3)
        self.assertEqual(len(result["repeated"]), 1)
        self.assertEqual(result["false"], [])
        self.assertEqual({tuple(sorted(k)) for k in result["missed"]},
                         {tuple(sorted(os.path.join(self.library, p) for p in ("A/a copy.wav", "Ü/a (mono).wav")))})

    def test_false_pairs_are_told_apart_by_cause(self):
        pairs = [
            self.pair("A/a.mp3", "B/b.mp3"),
            self.pair("C/c.mp3", "notes.txt"),
            self.pair("B/broken.mp3", "notes.txt"),
            self.pair("A/a.mp3", "elsewhere.mp3"),
            self.pair("A/a.mp3", "A/a.mp3"),
        ]
        verdicts = [row["verdict"] for row in self.evaluate(pairs)["rows"]]
        self.assertEqual(verdicts, ["not a copy", "not a copy", "not a copy", "file not in truth", "same file twice"])
        self.assertEqual(len(self.evaluate(pairs)["false"]), 5)

    def test_report_prints_pairs_and_totals(self):
        status, out, err = self.run_summary(
            [self.pair("A/a.mp3", "A/a copy.wav", 87.5, 100.0, -1.0), self.pair("A/a.mp3", "C/c.mp3", 12.25)],
            {"filesQueued": 9, "filesDone": 9})
        self.assertEqual(status, 0, err)
        self.assertIn(" 87.5%  100.0%   pend.  copy of a", out)
        self.assertIn("A/a.mp3  <->  A/a copy.wav", out)
        self.assertIn("not a copy", out)
        self.assertIn("duplicate pairs found: 1 of 4 expected (25.0 %)", out)
        self.assertIn("pairs reported that are not copies: 1", out)
        self.assertIn("filesQueued 9, filesDone 9", out)
        self.assertIn("Ü/a (mono).wav", out)  # listed among the missed pairs

    def test_an_empty_result_is_still_a_report(self):
        status, out, _ = self.run_summary([])
        self.assertEqual(status, 0)
        self.assertIn("duplicate pairs found: 0 of 4 expected", out)

    def test_unreadable_input_fails(self):
        good_scan = self.write(os.path.join(self.tmp, "good.json"), {"pairs": []})
        cases = {
            "missing scan": (self.truth, os.path.join(self.tmp, "missing.json")),
            "scan not json": (self.truth, self.write(os.path.join(self.tmp, "bad.json"), "{\"pairs\": [")),
            "pairs not a list": (self.truth, self.write(os.path.join(self.tmp, "np.json"), {"pairs": {}})),
            "pair without paths": (self.truth, self.write(os.path.join(self.tmp, "pp.json"), {"pairs": [{"path1": "x"}]})),
            "truth without files": (self.write(os.path.join(self.tmp, "t.json"), {"songs": []}), good_scan),
            "truth not utf-8": (self.write(os.path.join(self.tmp, "t2.json"), "x"), good_scan),
        }
        with open(os.path.join(self.tmp, "t2.json"), "wb") as f:
            f.write(b'{"files": ["\xff"]}')
        for name, (truth, scan) in cases.items():
            with self.subTest(name):
                result = subprocess.run([sys.executable, SUMMARY, truth, scan], capture_output=True, text=True)
                self.assertEqual(result.returncode, 1)
                self.assertTrue(result.stderr.startswith("demo-summary: "), result.stderr)
        usage = subprocess.run([sys.executable, SUMMARY, self.truth], capture_output=True, text=True)
        self.assertEqual(usage.returncode, 2)

    def test_percent_formatting(self):
        self.assertEqual(summary.percent(-100.0), "   -  ")
        self.assertEqual(summary.percent(-1), " pend.")
        self.assertEqual(summary.percent(100.0), "100.0%")
        self.assertEqual(summary.percent(None), "   ?  ")


if __name__ == "__main__":
    unittest.main()
