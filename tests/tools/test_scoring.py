#!/usr/bin/python3
"""The benchmark tools score as the program does: the imperfect clustering of
tests/app/EvaluationTest.cpp gives the same F1 and offset errors through accuracy.py's scoring of
the baseline, alignment.py's pairwise F1 and matching.py's pair counts."""
import os
import sys
import unittest

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../tools/bench"))
import accuracy  # noqa: E402
import alignment  # noqa: E402
import matching  # noqa: E402

# name -> (true cluster, true offset); the run's clusters and frame-accurate offsets.
TRUTH = {"a": (0, 0.0), "b": (0, 2.0), "c": (0, 5.0), "d": (1, 0.0), "e": (1, 1.0), "f": (2, 0.0)}
FOUND = {"a": (0, 0.0), "b": (0, 2.032), "c": (1, 0.0), "d": (1, 1.0), "e": (2, 0.0),
         "x": (3, 0.0)}


class Scoring(unittest.TestCase):
    def test_accuracy_scores_like_the_program(self):
        clusters = {n: c for n, (c, _) in FOUND.items()}
        offsets = {n: o for n, (_, o) in FOUND.items()}
        f1, errors = accuracy.score(TRUTH, clusters, [offsets])
        self.assertAlmostEqual(f1, 1 / 3)
        self.assertAlmostEqual(errors[0][0], 32.0, places=6)
        self.assertEqual(accuracy.nearest_rank([5, 1, 4, 2, 3], 0.95), 5)
        self.assertEqual(accuracy.nearest_rank([5, 1, 4, 2, 3], 0.5), 3)

    def test_alignment_and_matching_count_pairs_alike(self):
        truth = {n: dict(cluster=c) for n, (c, _) in TRUTH.items()}
        placed = {n: dict(cluster=c) for n, (c, _) in FOUND.items()}
        self.assertAlmostEqual(alignment.pairwise_f1(truth, placed), 1 / 3)
        counts = matching.pair_scores(truth, placed)
        self.assertEqual((counts["tp"], counts["fp"], counts["fn"]), (1, 1, 3))


if __name__ == "__main__":
    unittest.main()
