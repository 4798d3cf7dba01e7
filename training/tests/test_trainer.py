import contextlib
import io
import os
import re
import tempfile
import unittest

import numpy as np
import torch

from helpers import write_labels
from tarnwick_train.data import TargetOptions, has_policy, load_solver_tsv
from tarnwick_train.export import numpy_forward
from tarnwick_train.model import Architecture
from tarnwick_train.trainer import TrainConfig, Trainer, losses

import evaluate
import plot_log
import train as train_cli

TINY = Architecture(blocks=1, filters=8, policy_filters=2, value_filters=1, value_hidden=16)


class TrainerTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.data = os.path.join(self.tmp.name, "labels.tsv")
        write_labels(self.data, np.random.default_rng(11), 120)
        self.lines = []

    def tearDown(self):
        self.tmp.cleanup()

    def config(self, run, steps, **kw):
        base = dict(data=[self.data], run=run, runs_dir=self.tmp.name, arch=TINY, steps=steps, batch_size=16,
                    checkpoint_every=1000, eval_every=2, log_every=1, holdout=0.2, warmup=2)
        base.update(kw)
        return TrainConfig(**base)

    def trainer(self, cfg):
        return Trainer(cfg, log=self.lines.append)

    def test_resume_continues_where_it_stopped(self):
        straight = self.trainer(self.config("straight", 6))
        straight.run(install_signals=False)
        first = self.trainer(self.config("split", 3))
        self.assertEqual(first.run(install_signals=False), 3)
        resumed = self.trainer(self.config("split", 6))
        self.assertEqual(resumed.step, 3)
        self.assertEqual(resumed.run(install_signals=False), 6)
        ck = torch.load(os.path.join(self.tmp.name, "split", "checkpoint.pt"))
        self.assertEqual(ck["step"], 6)
        # Model, optimiser moments and sampling order all carried over: same weights as straight.
        a, b = straight.model.state_dict(), resumed.model.state_dict()
        for k in a:
            torch.testing.assert_close(a[k], b[k], rtol=0, atol=1e-6, msg=k)
        self.assertTrue(any("resumed" in line and "step 3" in line for line in self.lines))
        with open(os.path.join(self.tmp.name, "split", "log.txt")) as f:
            self.assertIn("finished at step 6", f.read())

    def test_a_run_can_start_from_an_exported_folder(self):
        # The checkpoint of the run that made an export may be gone; its export is enough.
        donor = self.trainer(self.config("donor", 4))
        donor.run(install_signals=False)
        folder = os.path.join(self.tmp.name, "donor.mlmodelc")
        donor.export(folder)
        other = Architecture(blocks=1, filters=4, policy_filters=2, value_filters=1, value_hidden=16)
        with self.assertRaises(ValueError):
            self.trainer(self.config("mismatch", 0, init=folder, arch=other))
        cfg = self.config("warm", 0, init=folder)
        warm = self.trainer(cfg)
        warm.run(install_signals=False)
        self.assertTrue(any("warm start" in line for line in self.lines))
        # Step 0 held-out figures are the export's own, so the run does start from it.
        exported, _ = donor._load_model(donor.best_path)
        np.testing.assert_allclose(warm.evaluate()["loss"], warm.evaluate(model=exported)["loss"], atol=1e-4)
        # A wider, deeper tower grown from it starts from the same figures too.
        grown = self.trainer(self.config("grown", 0, init=folder,
                                         arch=Architecture(blocks=2, filters=12, value_hidden=16)))
        grown.run(install_signals=False)
        self.assertEqual(grown.model.arch.filters, 12)
        np.testing.assert_allclose(grown.evaluate()["loss"], warm.evaluate()["loss"], atol=1e-4)
        fresh = self.trainer(self.config("fresh", 0))
        fresh.run(install_signals=False)
        self.assertGreater(abs(fresh.evaluate()["loss"] - warm.evaluate()["loss"]), 1e-3)

    def test_resume_refuses_another_architecture(self):
        self.trainer(self.config("arch", 2)).run(install_signals=False)
        with self.assertRaises(ValueError):
            self.trainer(self.config("arch", 4, arch=Architecture(blocks=2, filters=8, value_hidden=16)))

    def test_stop_request_saves_a_checkpoint(self):
        t = self.trainer(self.config("stop", 50))

        def sink(line):
            if "step 4/50" in line:
                t.request_stop()

        t._log_sink = sink
        self.assertEqual(t.run(install_signals=False), 4)
        self.assertEqual(torch.load(os.path.join(self.tmp.name, "stop", "checkpoint.pt"))["step"], 4)

    def test_fits_a_small_set(self):
        cfg = self.config("fit", 300, holdout=0.0, batch_size=32, lr=3e-3, eval_every=1000, log_every=100,
                          targets=TargetOptions(policy="best"), arch=Architecture(2, 16, 2, 1, 32))
        t = self.trainer(cfg)
        t.load_data(force=True)
        before = t.evaluate(data=t.train, legal=t.train_legal)
        t.run(install_signals=False)
        after = t.evaluate(data=t.train, legal=t.train_legal)
        self.assertLess(after["loss"], 0.6 * before["loss"])
        self.assertGreater(after["best_acc"], 0.8)

    def test_value_only_rows_leave_the_policy_loss_and_held_out_set_alone(self):
        t = self.trainer(self.config("children", 2, holdout=0.3, targets=TargetOptions(child_values=True)))
        t.load_data(force=True)
        self.assertTrue(has_policy(t.heldout).all())
        self.assertFalse(has_policy(t.train).all())
        planes = torch.as_tensor(t.train.planes)
        policy = torch.as_tensor(t.train.policy)
        value = torch.as_tensor(t.train.value)
        legal = t.train_legal
        rows = torch.as_tensor(has_policy(t.train))
        t.model.eval()
        _, with_children, _, _ = losses(t.model, planes, policy, value, legal)
        _, labelled_only, _, _ = losses(t.model, planes[rows], policy[rows], value[rows], legal[rows])
        self.assertAlmostEqual(with_children.item(), labelled_only.item(), places=5)

    def test_oversampled_positions_are_repeated_and_never_held_out(self):
        extra = os.path.join(self.tmp.name, "opening.tsv")
        write_labels(extra, np.random.default_rng(12), 30)
        plain = self.trainer(self.config("plain", 2, holdout=0.5))
        plain.load_data(force=True)
        boosted = self.trainer(self.config("boost", 2, holdout=0.5, oversample=[extra], oversample_times=3))
        boosted.load_data(force=True)
        added = len(load_solver_tsv(extra))
        self.assertGreater(added, 20)
        self.assertEqual(len(boosted.train), len(plain.train) + 3 * added)
        self.assertEqual(len(boosted.heldout), len(plain.heldout))
        once = self.trainer(self.config("once", 2, holdout=0.5, oversample=[extra + "=1"], oversample_times=3))
        once.load_data(force=True)
        self.assertEqual(len(once.train), len(plain.train) + added)
        # Also named by --data (a glob over a folder, say): still repeated, still never held out.
        both = self.trainer(self.config("both", 2, holdout=0.5, data=[self.data, extra], oversample=[extra + "=3"]))
        both.load_data(force=True)
        self.assertEqual(len(both.train), len(plain.train) + 3 * added)
        self.assertEqual(len(both.heldout), len(plain.heldout))

    def test_data_reload_picks_up_new_lines(self):
        t = self.trainer(self.config("reload", 2, holdout=0.0))
        t.load_data(force=True)
        n = len(t.train)
        self.assertFalse(t.load_data())
        with open(self.data, "a") as f:
            f.write("3333\t0,0,0,0,0,0,0\n")
        self.assertTrue(t.load_data())
        self.assertEqual(len(t.train), n + 1)

    def test_waits_for_enough_data(self):
        t = self.trainer(self.config("wait", 2, holdout=0.0, min_positions=200, wait_poll=0.05))

        def sink(line):
            if "waiting for at least 200" in line:
                with open(self.data, "a") as f:
                    write_labels_to(f, 150)

        t._log_sink = sink
        self.assertEqual(t.run(install_signals=False), 2)
        self.assertGreaterEqual(len(t.train), 200)


def write_labels_to(f, count):
    rng = np.random.default_rng(99)
    from helpers import random_label_line, random_moves
    for _ in range(count):
        f.write(random_label_line(rng, random_moves(rng, 30)) + "\n")


class CommandLineTest(unittest.TestCase):
    def test_train_then_export_only(self):
        with tempfile.TemporaryDirectory() as d:
            data = os.path.join(d, "labels.tsv")
            write_labels(data, np.random.default_rng(12), 60)
            out = os.path.join(d, "out", "version0328.mlmodelc")
            common = ["--run", "cli", "--runs-dir", d]
            buf = io.StringIO()
            with contextlib.redirect_stdout(buf):
                train_cli.main(["--data", data, *common, "--blocks", "1", "--filters", "8", "--value-hidden", "8",
                                "--steps", "4", "--log-every", "2", "--eval-every", "2", "--batch-size", "8",
                                "--export", out])
            self.assertRegex(buf.getvalue(), r"step 4/4 \| [0-9.]+ steps/s \| loss [0-9.]+ value [0-9.]+ "
                                             r"policy [0-9.]+ \| lr \S+ \| left 0m00s")
            v, p = numpy_forward(out, np.zeros((2, 6, 7), np.float32))
            self.assertTrue(-1 <= v <= 1)
            # The plotter reads the lines the trainer writes.
            steps, evals = plot_log.parse(os.path.join(d, "cli", "log.txt"))
            self.assertEqual([s[0] for s in steps], [2, 4])
            self.assertEqual([e[0] for e in evals], [2, 4])
            png = os.path.join(d, "loss.png")
            plot_log.main([os.path.join(d, "cli", "log.txt"), png])
            with open(png, "rb") as f:
                self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")
            # The exported model scores the held-out slice as the trainer did.
            from tarnwick_train.data import load_files, split_holdout
            held = split_holdout(load_files([data]), 0.05)[1]
            with open(os.path.join(d, "cli", "log.txt")) as f:
                log = f.read()
            exported = re.findall(r"exported step (\d+)", log)[-1]
            line = re.search(rf"eval step {exported} .*", log).group(0)
            r = evaluate.score(out, held)
            self.assertIn(f"best-move acc {r['best_acc']:.3f} keeps-outcome acc {r['keep_acc']:.3f}", line)
            os.remove(os.path.join(out, "model.json"))
            with contextlib.redirect_stdout(io.StringIO()):
                train_cli.main([*common, "--export", out, "--export-from", "last"])
            numpy_forward(out, np.zeros((2, 6, 7), np.float32))
            # A training run asked for its last step exports that step, not the best one (steps
            # 5-6 at a wild learning rate leave the best at step 4 or before).
            with contextlib.redirect_stdout(io.StringIO()):
                train_cli.main(["--data", data, *common, "--steps", "6", "--eval-every", "2", "--batch-size", "8",
                                "--lr", "5", "--warmup", "0", "--export", out, "--export-from", "last"])
            with open(os.path.join(d, "cli", "log.txt")) as f:
                self.assertEqual(re.findall(r"exported step (\d+)", f.read())[-1], "6")
            with self.assertRaises(SystemExit):
                with contextlib.redirect_stdout(io.StringIO()):
                    train_cli.main(["--data", data, *common, "--filters", "16", "--steps", "5"])


if __name__ == "__main__":
    unittest.main()
