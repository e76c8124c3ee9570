"""make-eval-corpus: hard negatives must be songs of their own, so no two files of different pieces
may hold the same music."""

import importlib.machinery
import importlib.util
import os
import random
import unittest

SCRIPTS = os.environ.get("TM_SCRIPTS_DIR", os.path.join(os.path.dirname(__file__), "../../scripts"))


def load_corpus_module():
    path = os.path.join(SCRIPTS, "make-eval-corpus")
    loader = importlib.machinery.SourceFileLoader("make_eval_corpus", path)
    module = importlib.util.module_from_spec(importlib.util.spec_from_loader("make_eval_corpus", loader))
    loader.exec_module(module)
    return module


corpus = load_corpus_module()


def piece(index, length):
    return {"id": f"pkg/p{index}.ogg", "source": f"/src/p{index}.ogg", "master": f"/m/p{index}.wav",
            "title": f"P{index}", "artist": "A", "album": "B", "seconds": min(length, 75.0),
            "length": length, "index": index}


def filler_of(args):
    """(source, start) of the second input of a hard negative's ffmpeg arguments."""
    inputs = [i for i, a in enumerate(args) if a == "-i"]
    second = inputs[1]
    return args[second + 1], float(args[args.index("-ss") + 1])


class HardNegativeTest(unittest.TestCase):
    def plan(self, lengths, seed=1):
        pieces = [piece(i, n) for i, n in enumerate(lengths)]
        return pieces, corpus.hard_negatives(pieces, random.Random(seed))

    def test_fillers_are_unique_foreign_and_backwards(self):
        # Long pieces loop: two stretches of one piece may hold the same music, so a piece gives one
        # filler at most, and never to its own hard negative.
        for name, lengths in [("all long", [600.0] * 12), ("mixed", [30.0, 70.0, 150.0, 400.0] * 5),
                              ("few fillers", [300.0, 65.0, 65.0, 65.0, 300.0])]:
            with self.subTest(name):
                pieces, negatives = self.plan(lengths)
                by_source = {p["source"]: p for p in pieces}
                used = []
                for rel, args, piece_id in negatives:
                    source, start = filler_of(args)
                    own = piece_id.split("#")[0]
                    self.assertTrue(piece_id.endswith("#extended"))
                    self.assertNotEqual(by_source[source]["id"], own)
                    self.assertLessEqual(start + corpus.FILLER_SECONDS, by_source[source]["length"])
                    # Past the kept seconds is not enough: looping pieces repeat their opening, and a
                    # held chord sounds the same backwards.
                    chain = args[args.index("-filter_complex") + 1].split("[1:a]")[1].split(";")[0]
                    self.assertIn("areverse", chain)
                    self.assertIn("asetrate=", chain)
                    self.assertNotEqual(corpus.FILLER_SEMITONES % 12, 0)
                    used.append(source)
                self.assertEqual(len(used), len(set(used)), "a filler piece used twice")

    def test_every_long_piece_gets_one_while_fillers_last(self):
        for name, lengths, expected in [("enough fillers", [600.0] * 6, 6),
                                        ("short pieces get none", [40.0, 59.9, 600.0, 600.0], 2),
                                        ("fillers run out", [600.0, 600.0, 70.0, 70.0, 70.0], 2)]:
            with self.subTest(name):
                pieces, negatives = self.plan(lengths)
                self.assertEqual(len(negatives), expected)
                owners = [piece_id.split("#")[0] for _, _, piece_id in negatives]
                self.assertEqual(len(owners), len(set(owners)))
                for owner in owners:
                    self.assertGreaterEqual(next(p for p in pieces if p["id"] == owner)["seconds"],
                                            corpus.HARD_NEGATIVE_MIN_SECONDS)


if __name__ == "__main__":
    unittest.main()
