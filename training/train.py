#!/usr/bin/python3
"""Train the Tarnwick network on solver labels and/or self-play records, or export a run.

  /usr/bin/python3 training/train.py --data training/data/solver-labels.tsv --run first \
      --blocks 4 --filters 32 --steps 20000 --export training/runs/first/export/version0328.mlmodelc

Stopping (Ctrl-C / SIGTERM) saves a checkpoint; the same command resumes from it.
Without --data, the run's best (or last) checkpoint is exported to --export and nothing trains.
"""

import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from tarnwick_train.data import TargetOptions  # noqa: E402
from tarnwick_train.model import Architecture  # noqa: E402
from tarnwick_train.export import load_model_dir  # noqa: E402
from tarnwick_train.warm import architecture_of  # noqa: E402


def parse_args(argv):
    here = os.path.dirname(os.path.abspath(__file__))
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--data", nargs="+", default=[], help="data files or quoted glob patterns (TSV or TWSP)")
    p.add_argument("--run", required=True, help="run name: state lives in --runs-dir/NAME")
    p.add_argument("--runs-dir", default=os.path.join(here, "runs"))
    g = p.add_argument_group("network (taken from the checkpoint when resuming)")
    g.add_argument("--blocks", type=int)
    g.add_argument("--filters", type=int)
    g.add_argument("--policy-filters", type=int)
    g.add_argument("--value-filters", type=int)
    g.add_argument("--value-hidden", type=int)
    g = p.add_argument_group("optimisation")
    g.add_argument("--steps", type=int, default=10000, help="total steps, including those before a resume")
    g.add_argument("--batch-size", type=int, default=256)
    g.add_argument("--optimizer", choices=["adam", "sgd"], default="adam")
    g.add_argument("--lr", type=float, default=1e-3)
    g.add_argument("--momentum", type=float, default=0.9)
    g.add_argument("--weight-decay", type=float, help="default 1e-2 for adam (decoupled), 1e-4 for sgd (L2)")
    g.add_argument("--lr-schedule", choices=["constant", "cosine"], default="constant")
    g.add_argument("--lr-final", type=float, default=0.1, help="cosine: final lr as a fraction of --lr")
    g.add_argument("--warmup", type=int, default=100)
    g.add_argument("--value-weight", type=float, default=1.0)
    g.add_argument("--no-mirror", action="store_true", help="turn off left-right mirror augmentation")
    g = p.add_argument_group("solver-label targets")
    g.add_argument("--policy-target", choices=["best", "soft"], default="soft")
    g.add_argument("--temperature", type=float, default=1.0, help="soft: score units per logit")
    g.add_argument("--keep-bonus", type=float, default=3.0, help="soft: logit bonus for moves that keep the outcome")
    g.add_argument("--value-blend", type=float, default=0.0, help="0 = outcome only; a = mix in score/score-scale")
    g.add_argument("--score-scale", type=float, default=21.0)
    g.add_argument("--child-values", action="store_true",
                   help="also train the value head on the position after each open column of a line")
    g = p.add_argument_group("data handling")
    g.add_argument("--replay-window", type=int, default=0, help="train on the newest K files only (0 = all)")
    g.add_argument("--oversample", nargs="*", default=[],
                   help="files or glob patterns of few important positions, each optionally =K: never held out, "
                        "repeated K (default --oversample-times) times")
    g.add_argument("--oversample-times", type=int, default=20, help="repeats of the --oversample positions")
    g.add_argument("--holdout", type=float, default=0.05, help="fraction of positions held out")
    g.add_argument("--reload-every", type=float, default=0.0, help="seconds between data re-reads (0 = never)")
    g.add_argument("--min-positions", type=int, default=0,
                   help="wait (re-reading every minute) until the data holds this many training positions")
    g = p.add_argument_group("bookkeeping")
    g.add_argument("--checkpoint-every", type=int, default=500)
    g.add_argument("--eval-every", type=int, default=500)
    g.add_argument("--log-every", type=int, default=100)
    g.add_argument("--export", default="", help="model folder to write (a <name>.mlmodelc path)")
    g.add_argument("--export-every", type=float, default=0.0, help="seconds between exports (0 = at the end)")
    g.add_argument("--export-from", choices=["best", "last"], default="best")
    g.add_argument("--init", default="", help="a checkpoint (.pt) or an exported .mlmodelc folder a new run starts from; "
                   "larger --blocks or --filters grow it, keeping what it computes")
    g.add_argument("--threads", type=int, default=1)
    g.add_argument("--seed", type=int, default=1)
    return p.parse_args(argv)


def main(argv=None):
    a = parse_args(sys.argv[1:] if argv is None else argv)
    import torch  # after argparse so --help is quick

    from tarnwick_train.trainer import TrainConfig, Trainer

    run_dir = os.path.join(a.runs_dir, a.run)
    requested = {"blocks": a.blocks, "filters": a.filters, "policy_filters": a.policy_filters,
                 "value_filters": a.value_filters, "value_hidden": a.value_hidden}
    ck_path = os.path.join(run_dir, "checkpoint.pt")
    if os.path.exists(ck_path):
        saved_ck = torch.load(ck_path, map_location="cpu")
        saved = saved_ck["arch"]
        if not a.data:
            a.optimizer = saved_ck["optimizer_kind"]
        for k, v in requested.items():
            if v is not None and v != saved[k]:
                sys.exit(f"error: {ck_path} has {k}={saved[k]}, not {v}; pick another --run")
        arch = Architecture(**saved)
    else:
        # A warm start keeps the shape it starts from unless the flags ask to grow it.
        if os.path.isdir(a.init):
            base = architecture_of(load_model_dir(a.init)[0])
        elif a.init:
            base = Architecture(**torch.load(a.init, map_location="cpu")["arch"])
        else:
            base = Architecture()
        arch = Architecture(**{**base.to_dict(), **{k: v for k, v in requested.items() if v is not None}})
    cfg = TrainConfig(
        data=a.data, run=a.run, runs_dir=a.runs_dir, arch=arch, steps=a.steps, batch_size=a.batch_size,
        optimizer=a.optimizer, lr=a.lr, momentum=a.momentum,
        weight_decay=a.weight_decay if a.weight_decay is not None else (1e-2 if a.optimizer == "adam" else 1e-4),
        lr_schedule=a.lr_schedule, lr_final=a.lr_final, warmup=a.warmup, value_weight=a.value_weight,
        mirror=not a.no_mirror,
        targets=TargetOptions(policy=a.policy_target, temperature=a.temperature, keep_bonus=a.keep_bonus,
                              value_blend=a.value_blend, score_scale=a.score_scale,
                              child_values=a.child_values),
        replay_window=a.replay_window, oversample=a.oversample, oversample_times=a.oversample_times,
        holdout=a.holdout, checkpoint_every=a.checkpoint_every,
        eval_every=a.eval_every, log_every=a.log_every, reload_every=a.reload_every,
        export_dir=a.export, export_every=a.export_every, export_from=a.export_from, threads=a.threads, seed=a.seed,
        min_positions=a.min_positions, init=a.init)
    if not a.data:
        if not a.export:
            sys.exit("error: give --data to train or --export DIR to export")
        if not os.path.exists(ck_path):
            sys.exit(f"error: no checkpoint at {ck_path}")
        Trainer(cfg).export(a.export)
        return 0
    try:
        Trainer(cfg).run()
    except ValueError as e:
        sys.exit(f"error: {e}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
