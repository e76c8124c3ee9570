"""Demo library generator: the plan covers every kind of copy, songs are told apart by their
fingerprints' spectra, and a generated library holds the files its truth describes."""

import contextlib
import io
import itertools
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.environ.get("TM_SCRIPTS_DIR", os.path.join(os.path.dirname(__file__), "../../scripts")))

import numpy as np  # noqa: E402

import demo_library  # noqa: E402
import demo_synth  # noqa: E402


def mono_22k(stereo):
    mono = stereo.mean(axis=0)
    n = len(mono) // 2
    return (mono[0:2 * n:2] + mono[1:2 * n:2]) / 2


def weighted_mean_spectrum(x):
    """Mean 2048-point magnitude spectrum of the first 30 s, bin k weighted by (k+1)/2048: what the
    content comparison correlates."""
    x = x[:661500]
    blocks = x[: len(x) // 2048 * 2048].reshape(-1, 2048)
    mag = np.abs(np.fft.rfft(blocks, axis=1)).mean(axis=0)
    return mag * (np.arange(len(mag)) + 1) / 2048


def ffprobe(path):
    out = subprocess.run(["ffprobe", "-v", "error", "-show_entries",
                          "format=duration:format_tags:stream=sample_rate,channels", "-of", "json", path],
                         capture_output=True, check=True).stdout
    return json.loads(out)


def decode(path, seconds=None):
    cmd = ["ffmpeg", "-v", "error", "-i", path, "-ac", "1", "-ar", "22050", "-f", "f32le"]
    if seconds:
        cmd += ["-t", str(seconds)]
    out = subprocess.run(cmd + ["-"], capture_output=True, check=True).stdout
    return np.frombuffer(out, dtype="<f4")


class PlanTest(unittest.TestCase):
    def test_every_kind_of_copy_appears_whatever_the_library_size(self):
        for songs in (1, 2, 3, 5, 12):
            with self.subTest(songs=songs):
                song_list, files = demo_library.plan_library(seed=3, songs=songs, unrelated=2)
                kinds = {f["kind"] for f in files if f.get("audio")}
                self.assertLessEqual(set(demo_library.COPY_KINDS) | {demo_library.BASE_KIND}, kinds)
                paths = [f["path"] for f in files]
                self.assertEqual(len(paths), len(set(paths)))
                for song in song_list[:songs]:
                    copies = [f for f in files if f.get("song") == song["id"]]
                    self.assertIn(demo_library.BASE_KIND, [f["kind"] for f in copies])
                    self.assertGreaterEqual(len(copies), 2)
                for song in song_list[songs:]:
                    self.assertEqual(1, sum(1 for f in files if f.get("song") == song["id"]))
                junk = [f for f in files if not f.get("audio")]
                self.assertTrue(junk and all("song" not in f or f["song"] is None for f in junk))

    def test_copy_kinds_carry_the_tags_they_claim(self):
        _, files = demo_library.plan_library(seed=1, songs=12, unrelated=3)
        by_song = {}
        for f in files:
            if f.get("audio"):
                by_song.setdefault(f["song"], []).append(f)
        for copies in by_song.values():
            base = next((f for f in copies if f["kind"] == demo_library.BASE_KIND), None)
            for f in copies:
                if base is None or f is base:
                    continue
                if f["kind"] == "untagged":
                    self.assertIsNone(f["tags"])
                elif f["kind"] == "retagged":
                    for field in ("title", "artist", "album"):
                        self.assertNotEqual(base["tags"][field], f["tags"][field])
                else:
                    self.assertEqual(base["tags"], f["tags"])
                if f["kind"] == "renamed":
                    self.assertNotEqual(os.path.basename(base["path"]), os.path.basename(f["path"]))

    def test_plans_depend_only_on_the_seed(self):
        self.assertEqual(demo_library.plan_library(7, 6, 2), demo_library.plan_library(7, 6, 2))
        self.assertNotEqual(demo_library.plan_library(7, 6, 2)[0], demo_library.plan_library(8, 6, 2)[0])

    def test_songs_stay_within_their_length_and_tempo_ranges(self):
        for seed in range(40):
            plan = demo_synth.plan_song(f"s{seed}", seed)
            self.assertGreaterEqual(plan.seconds, 40.0)
            self.assertLessEqual(plan.seconds, 90.0)
            self.assertTrue(70 <= plan.tempo <= 160)

    def test_a_small_library_still_spans_the_tempo_range(self):
        tempos = sorted(v["tempo"] for v in demo_synth.variety(seed=5, count=12))
        self.assertLess(tempos[0], 80)
        self.assertGreater(tempos[-1], 150)
        self.assertGreater(len({v["drum_pattern"] for v in demo_synth.variety(seed=5, count=12)}), 6)


class SynthesisTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        song_list, _ = demo_library.plan_library(seed=1, songs=6, unrelated=0)
        cls.plans = [demo_synth.plan_song(s["id"], 1, s["overrides"]) for s in song_list]
        cls.audio = [demo_synth.render_song(p) for p in cls.plans]

    def test_rendering_is_repeatable_and_within_full_scale(self):
        again = demo_synth.render_song(self.plans[0])
        np.testing.assert_array_equal(self.audio[0], again)
        for plan, stereo in zip(self.plans, self.audio):
            self.assertEqual(stereo.shape, (2, int(plan.seconds * demo_synth.SAMPLE_RATE)))
            self.assertLessEqual(np.max(np.abs(stereo)), 0.9)
            self.assertGreater(np.sqrt(np.mean(stereo ** 2)), 0.05)

    def test_different_songs_have_clearly_different_mean_spectra(self):
        # If every song had the same spectral shape, the content score could not tell them apart.
        spectra = [weighted_mean_spectrum(mono_22k(a)) for a in self.audio]
        corr = [abs(np.corrcoef(a, b)[0, 1]) for a, b in itertools.combinations(spectra, 2)]
        self.assertLess(np.median(corr), 0.8)
        self.assertGreater(max(corr) - min(corr), 0.3)

    def test_level_changes_between_sections(self):
        for stereo in self.audio:
            x = mono_22k(stereo)[:661500]
            levels = x[: len(x) // 6615 * 6615].reshape(-1, 6615).std(axis=1)
            self.assertGreater(levels.std() / levels.mean(), 0.08)


@unittest.skipUnless(shutil.which("ffmpeg") and shutil.which("ffprobe"), "needs the ffmpeg tools")
class GeneratedLibraryTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="tm-demo-library-")
        cls.root = os.path.join(cls.tmp, "library")
        cls.truth = cls.generate(cls.root)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    @staticmethod
    def generate(root, seed=2):
        with contextlib.redirect_stdout(io.StringIO()):
            return demo_library.generate(root, songs=2, seed=seed, unrelated=1, jobs=2, log=lambda line: None)

    def file_of(self, kind):
        return next(f for f in self.truth["files"] if f["kind"] == kind)

    def test_truth_lists_every_file_with_its_song(self):
        on_disk = set()
        for folder, _, names in os.walk(self.root):
            on_disk.update(os.path.relpath(os.path.join(folder, n), self.root) for n in names)
        listed = {f["path"] for f in self.truth["files"]}
        self.assertEqual(on_disk - listed, {demo_library.TRUTH_NAME, demo_library.STAMP_NAME})
        self.assertEqual(listed - on_disk, set())
        for f in self.truth["files"]:
            self.assertEqual(os.path.getsize(os.path.join(self.root, f["path"])), f["bytes"])
            self.assertEqual(f["song"] is not None, f["audio"])
        self.assertEqual(len(self.truth["songs"]), 3)

    def test_audio_copies_are_what_they_claim(self):
        bases = {f["song"]: os.path.join(self.root, f["path"]) for f in self.truth["files"]
                 if f["kind"] == demo_library.BASE_KIND}
        for f in self.truth["files"]:
            if not f["audio"]:
                continue
            path = os.path.join(self.root, f["path"])
            info = ffprobe(path)
            stream = info["streams"][0]
            with self.subTest(kind=f["kind"], path=f["path"]):
                if f["kind"] == "mono-22k":
                    self.assertEqual((stream["sample_rate"], stream["channels"]), ("22050", 1))
                else:
                    self.assertEqual((stream["sample_rate"], stream["channels"]), ("44100", 2))
                tags = {k.lower(): v for k, v in info["format"].get("tags", {}).items()}
                if f["tags"] is None:
                    self.assertNotIn("title", tags)
                else:
                    self.assertEqual(tags.get("title"), f["tags"]["title"])
                    self.assertEqual(tags.get("artist"), f["tags"]["artist"])
                    self.assertEqual(tags.get("album"), f["tags"]["album"])
                if f["kind"] == "quiet-10dB":
                    quiet = np.sqrt(np.mean(decode(path, 20) ** 2))
                    loud = np.sqrt(np.mean(decode(bases[f["song"]], 20) ** 2))
                    self.assertAlmostEqual(20 * np.log10(quiet / loud), -10.0, delta=0.5)
                elif f["kind"] == "renamed":
                    with open(bases[f["song"]], "rb") as a, open(path, "rb") as b:
                        self.assertEqual(a.read(), b.read())
                elif f["kind"] == "wav-lead-silence":
                    x = decode(path, 3)
                    self.assertEqual(np.max(np.abs(x[: int(1.95 * 22050)])), 0.0)
                    self.assertGreater(np.max(np.abs(x[2 * 22050:])), 0.01)

    def test_non_audio_files_do_not_decode(self):
        for f in self.truth["files"]:
            if f["audio"]:
                continue
            with self.subTest(path=f["path"]):
                result = subprocess.run(["ffmpeg", "-v", "error", "-i", os.path.join(self.root, f["path"]),
                                         "-vn", "-f", "null", "-"], capture_output=True)
                self.assertNotEqual(result.returncode, 0)

    def test_complete_library_is_reused_and_a_damaged_one_rebuilt(self):
        root = os.path.join(self.tmp, "reuse")
        shutil.copytree(self.root, root)
        params = demo_library._parameters(seed=2, songs=2, unrelated=1)
        self.assertTrue(demo_library.library_is_complete(root, params))
        self.assertFalse(demo_library.library_is_complete(root, dict(params, seed=3)))
        self.assertFalse(demo_library.library_is_complete(root, dict(params, generator=0)))

        victim = os.path.join(root, self.file_of("wav-lead-silence")["path"])
        os.remove(victim)
        self.assertFalse(demo_library.library_is_complete(root, params))
        self.generate(root)
        self.assertTrue(demo_library.library_is_complete(root, params))
        self.assertTrue(os.path.exists(victim))
        self.assertFalse(os.path.exists(root + ".partial"))

    def test_a_folder_holding_other_files_is_left_alone(self):
        foreign = os.path.join(self.tmp, "foreign")
        os.makedirs(foreign)
        keep = os.path.join(foreign, "my song.mp3")
        with open(keep, "wb") as f:
            f.write(b"mine")
        with self.assertRaises(RuntimeError):
            self.generate(foreign)
        with open(keep, "rb") as f:
            self.assertEqual(f.read(), b"mine")
        self.assertEqual(os.listdir(foreign), ["my song.mp3"])
        self.assertFalse(os.path.exists(foreign + ".partial"))


if __name__ == "__main__":
    unittest.main()
