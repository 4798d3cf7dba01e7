"""The training loop: sampling with mirror augmentation, losses, checkpoints, held-out
evaluation, periodic data reloads and periodic exports of the best checkpoint."""

import math
import os
import signal
import time
from dataclasses import asdict, dataclass, field

import numpy as np
import torch
import torch.nn.functional as F

from .board import MIRROR_CELLS, legal_mask_from_planes
from .data import Dataset, TargetOptions, expand_files, has_policy, load_files, split_holdout
from .export import export_model
from .model import Architecture, TarnwickNet
from .warm import calibrate_bn, grow, import_model


@dataclass
class TrainConfig:
    data: list = field(default_factory=list)  # files or glob patterns, re-expanded on reload
    run: str = "run"
    runs_dir: str = "runs"
    arch: Architecture = field(default_factory=Architecture)
    steps: int = 10000  # total, counting steps done before a resume
    batch_size: int = 256
    optimizer: str = "adam"  # "adam" (AdamW, decoupled decay) or "sgd" (momentum, L2)
    lr: float = 1e-3
    momentum: float = 0.9
    weight_decay: float = 1e-2  # AdamW's decay is decoupled, so it is larger than an L2 term
    lr_schedule: str = "constant"  # or "cosine" down to lr * lr_final over `steps`
    lr_final: float = 0.1
    warmup: int = 100
    value_weight: float = 1.0
    mirror: bool = True
    targets: TargetOptions = field(default_factory=TargetOptions)
    replay_window: int = 0  # newest K data files only; 0 = all
    # Files (or glob patterns) of few but important positions: never held out, and repeated
    # `oversample_times` times in the training set.
    oversample: list = field(default_factory=list)
    oversample_times: int = 1
    holdout: float = 0.05
    checkpoint_every: int = 500
    eval_every: int = 500
    log_every: int = 100
    reload_every: float = 0.0  # seconds between data re-reads; 0 = never
    export_dir: str = ""  # "" = no periodic export
    export_every: float = 0.0  # seconds; 0 = only at the end
    export_from: str = "best"  # "best" held-out checkpoint or "last" step
    threads: int = 1
    seed: int = 1
    min_positions: int = 0  # wait until the data holds this many training positions
    init: str = ""  # a checkpoint whose weights a fresh run starts from (warm start)
    wait_poll: float = 60.0
    quiet: bool = False

    @property
    def run_dir(self):
        return os.path.join(self.runs_dir, self.run)


def masked_log_softmax(scores, legal):
    # The search masks illegal cells before its softmax; train the same distribution.
    return F.log_softmax(scores.masked_fill(~legal, -1e9), dim=1)


def mirror_batch(planes, policy, legal, flip):
    """Mirrors the rows of a batch where flip is True: columns of the planes reversed and the
    per-cell targets reindexed."""
    if not flip.any():
        return planes, policy, legal
    planes, policy, legal = planes.clone(), policy.clone(), legal.clone()
    idx = torch.as_tensor(MIRROR_CELLS)
    planes[flip] = planes[flip].flip(-1)
    policy[flip] = policy[flip][:, idx]
    legal[flip] = legal[flip][:, idx]
    return planes, policy, legal


def losses(model, planes, policy, value, legal):
    v, scores = model(planes)
    value_loss = F.mse_loss(v, value)
    # Value-only rows (zero policy) do not dilute the policy loss.
    rows = (policy.sum(dim=1) > 0).sum().clamp(min=1)
    policy_loss = -(policy * masked_log_softmax(scores, legal)).sum() / rows
    return value_loss, policy_loss, v, scores


class Trainer:
    def __init__(self, config, log=None):
        self.cfg = config
        torch.set_num_threads(max(1, config.threads))
        os.makedirs(config.run_dir, exist_ok=True)
        self.log_path = os.path.join(config.run_dir, "log.txt")
        self._log_sink = log
        self.stop_requested = False
        self._calibrate = False
        self.step = 0
        self.best_loss = math.inf
        self.best_step = -1
        self.exported_step = None
        self.data_signature = None
        self.train = Dataset.empty()
        self.heldout = Dataset.empty()
        self.rng = np.random.default_rng(config.seed)
        torch.manual_seed(config.seed)
        self.checkpoint_path = os.path.join(config.run_dir, "checkpoint.pt")
        self.best_path = os.path.join(config.run_dir, "best.pt")
        if os.path.exists(self.checkpoint_path):
            self._resume()
        else:
            if os.path.isdir(config.init):
                self.model = import_model(config.init)
                self._calibrate = True
            elif config.init:
                self.model, _ = self._load_model(config.init)
            else:
                self.model = TarnwickNet(config.arch)
            # The checkpoint records cfg.arch, so the model must have exactly that shape.
            if self.model.arch != config.arch:
                self.model = grow(self.model, config.arch)
            self.optimizer = self._make_optimizer()

    # ---- setup --------------------------------------------------------------------------

    def _make_optimizer(self):
        c = self.cfg
        if c.optimizer == "adam":
            return torch.optim.AdamW(self.model.parameters(), lr=c.lr, weight_decay=c.weight_decay)
        if c.optimizer == "sgd":
            return torch.optim.SGD(self.model.parameters(), lr=c.lr, momentum=c.momentum,
                                   weight_decay=c.weight_decay, nesterov=True)
        raise ValueError(f"unknown optimizer {c.optimizer!r}")

    def _resume(self):
        ck = torch.load(self.checkpoint_path, map_location="cpu")
        arch = Architecture(**ck["arch"])
        if arch != self.cfg.arch:
            raise ValueError(f"{self.checkpoint_path} holds a {arch} network, not {self.cfg.arch}; "
                             "use another --run or the same architecture")
        if ck["optimizer_kind"] != self.cfg.optimizer:
            raise ValueError(f"{self.checkpoint_path} was trained with {ck['optimizer_kind']}, "
                             f"not {self.cfg.optimizer}")
        self.model = TarnwickNet(arch)
        self.model.load_state_dict(ck["model"])
        self.optimizer = self._make_optimizer()
        self.optimizer.load_state_dict(ck["optimizer"])
        self.step = ck["step"]
        self.best_loss = ck.get("best_loss", math.inf)
        self.best_step = ck.get("best_step", -1)
        self.rng.bit_generator.state = ck["numpy_rng"]
        torch.set_rng_state(ck["torch_rng"])
        self.log(f"resumed {self.checkpoint_path} at step {self.step}")

    def log(self, line):
        stamp = time.strftime("%Y-%m-%d %H:%M:%S")
        text = f"{stamp} {line}"
        with open(self.log_path, "a", encoding="utf-8") as f:
            f.write(text + "\n")
        if self._log_sink is not None:
            self._log_sink(text)
        elif not self.cfg.quiet:
            print(text, flush=True)

    # ---- data ---------------------------------------------------------------------------

    def _signature(self, files):
        return tuple((f, os.path.getsize(f), os.path.getmtime(f)) for f in files)

    def load_data(self, force=False):
        """(Re)reads the data files when they changed; returns True if new data was loaded."""
        files = expand_files(self.cfg.data, self.cfg.replay_window)
        times = {}  # file -> repeats; "PATTERN=K" overrides oversample_times for its files
        for entry in self.cfg.oversample:
            pattern, _, k = entry.rpartition("=") if "=" in entry else (entry, "", "")
            for f in expand_files([pattern]):
                times[f] = int(k) if k else self.cfg.oversample_times
        # An oversampled file is repeated and never held out, even when --data names it too.
        files = [f for f in files if f not in times]
        extra = list(times)
        try:
            sig = self._signature(files + extra)
        except OSError:  # a file vanished between the glob and the stat
            return False
        if not force and sig == self.data_signature:
            return False
        stats = {}
        data = load_files(files, self.cfg.targets, strict=False, stats=stats)
        self.data_signature = sig
        train, heldout = split_holdout(data, self.cfg.holdout)
        for f in extra:
            boost = load_files([f], self.cfg.targets, strict=False, stats=stats)
            train = Dataset.concat([train] + [boost] * max(1, times[f]))
        # Held-out figures stay comparable across runs: only fully labelled positions.
        heldout = heldout.subset(has_policy(heldout))
        if len(train) == 0 and len(self.train) > 0:
            # A file being rewritten can read empty for a moment; keep training on what we had.
            self.log(f"data: {len(files)} file(s) gave no training positions, keeping the previous set")
            return False
        self.train, self.heldout = train, heldout
        self.train_legal = torch.as_tensor(legal_mask_from_planes(self.train.planes))
        self.held_legal = torch.as_tensor(legal_mask_from_planes(self.heldout.planes))
        self._train_t = (torch.as_tensor(self.train.planes), torch.as_tensor(self.train.policy),
                         torch.as_tensor(self.train.value))
        self.log(f"data: {len(files) + len(extra)} file(s), {len(self.train)} training and {len(self.heldout)} held-out "
                 f"positions ({stats.get('children', 0)} value-only children, {stats.get('bad', 0)} bad lines skipped, "
                 f"{stats.get('duplicates', 0)} duplicates)")
        return True

    # ---- steps --------------------------------------------------------------------------

    def lr_at(self, step):
        c = self.cfg
        base = c.lr
        if c.lr_schedule == "cosine":
            t = min(1.0, step / max(1, c.steps))
            base = c.lr * (c.lr_final + (1 - c.lr_final) * 0.5 * (1 + math.cos(math.pi * t)))
        elif c.lr_schedule != "constant":
            raise ValueError(f"unknown lr schedule {c.lr_schedule!r}")
        if c.warmup > 0 and step < c.warmup:
            base *= (step + 1) / c.warmup
        return base

    def train_step(self):
        n = len(self.train)
        idx = torch.as_tensor(self.rng.integers(0, n, size=min(self.cfg.batch_size, max(n, 1))))
        planes, policy, value = (t[idx] for t in self._train_t)
        legal = self.train_legal[idx]
        if self.cfg.mirror:
            flip = torch.as_tensor(self.rng.random(len(idx)) < 0.5)
            planes, policy, legal = mirror_batch(planes, policy, legal, flip)
        for g in self.optimizer.param_groups:
            g["lr"] = self.lr_at(self.step)
        self.model.train()
        value_loss, policy_loss, _, _ = losses(self.model, planes, policy, value, legal)
        loss = self.cfg.value_weight * value_loss + policy_loss
        self.optimizer.zero_grad(set_to_none=True)
        loss.backward()
        self.optimizer.step()
        self.step += 1
        return value_loss.item(), policy_loss.item()

    @torch.no_grad()
    def evaluate(self, model=None, data=None, legal=None):
        """Held-out metrics: value MSE, policy cross-entropy, top move among the best moves,
        top move among the moves that keep the outcome, and the combined loss."""
        model = model or self.model
        data = data if data is not None else self.heldout
        legal = legal if legal is not None else self.held_legal
        if len(data) == 0:
            return None
        model.eval()
        sums = np.zeros(4)
        for start in range(0, len(data), 2048):
            sl = slice(start, start + 2048)
            planes = torch.as_tensor(data.planes[sl])
            vl, pl, v, scores = losses(model, planes, torch.as_tensor(data.policy[sl]),
                                       torch.as_tensor(data.value[sl]), legal[sl])
            top = scores.masked_fill(~legal[sl], -1e9).argmax(dim=1).numpy()
            rows = np.arange(len(top))
            k = len(top)
            sums += [vl.item() * k, pl.item() * k, data.best[sl][rows, top].sum(), data.keep[sl][rows, top].sum()]
        m = sums / len(data)
        return {"value": m[0], "policy": m[1], "best_acc": m[2], "keep_acc": m[3],
                "loss": self.cfg.value_weight * m[0] + m[1], "positions": len(data)}

    # ---- persistence --------------------------------------------------------------------

    def _state(self):
        return {"step": self.step, "arch": self.cfg.arch.to_dict(), "optimizer_kind": self.cfg.optimizer,
                "model": self.model.state_dict(), "optimizer": self.optimizer.state_dict(),
                "best_loss": self.best_loss, "best_step": self.best_step,
                "numpy_rng": self.rng.bit_generator.state, "torch_rng": torch.get_rng_state(),
                "config": {k: v for k, v in asdict(self.cfg).items() if k not in ("arch",)}}

    @staticmethod
    def _atomic_save(obj, path):
        tmp = path + ".tmp"
        torch.save(obj, tmp)
        os.replace(tmp, path)

    def save_checkpoint(self):
        self._atomic_save(self._state(), self.checkpoint_path)

    def _load_model(self, path):
        ck = torch.load(path, map_location="cpu")
        m = TarnwickNet(Architecture(**ck["arch"]))
        m.load_state_dict(ck["model"])
        m.eval()
        return m, ck["step"]

    def rescore_best(self):
        """The held-out set changes when data is reloaded: measure the saved best again so
        later comparisons are on the same positions."""
        if os.path.exists(self.best_path):
            m, _ = self._load_model(self.best_path)
            r = self.evaluate(m)
            self.best_loss = r["loss"] if r else math.inf

    def export(self, out_dir=None, which=None):
        out_dir = out_dir or self.cfg.export_dir
        which = which or self.cfg.export_from
        path = self.best_path if which == "best" and os.path.exists(self.best_path) else None
        if path:
            model, step = self._load_model(path)
        else:
            model, step = self.model, self.step
        model.eval()
        a = self.cfg.arch
        desc = (f"tarnwick_train run {self.cfg.run}, step {step}, {a.blocks}x{a.filters} residual tower, "
                f"solver-label policy target {self.cfg.targets.policy}")
        export_model(model, out_dir, desc)
        self.exported_step = step
        self.log(f"exported step {step} to {out_dir}")
        return step

    # ---- loop ---------------------------------------------------------------------------

    def request_stop(self, *_):
        self.stop_requested = True

    def run(self, install_signals=True):
        c = self.cfg
        if install_signals:
            signal.signal(signal.SIGINT, self.request_stop)
            signal.signal(signal.SIGTERM, self.request_stop)
        self.load_data(force=True)
        if len(self.train) < c.min_positions:
            self.log(f"waiting for at least {c.min_positions} training positions")
        while len(self.train) < c.min_positions and not self.stop_requested:
            deadline = time.monotonic() + c.wait_poll
            while time.monotonic() < deadline and not self.stop_requested:
                time.sleep(min(1.0, c.wait_poll))
            self.load_data()
        if self.stop_requested:
            self.log(f"stopped at step {self.step} before training")
            return self.step
        if len(self.train) == 0:
            raise ValueError("no training positions in " + ", ".join(c.data))
        if self._calibrate:
            sample = self.rng.choice(len(self.train), size=min(len(self.train), 8192), replace=False)
            calibrate_bn(self.model, self.train.planes[np.sort(sample)])
            self._calibrate = False
            self.log(f"warm start from {c.init}, batch norm calibrated on {len(sample)} positions")
        self.rescore_best()
        self.log(f"training {c.arch} from step {self.step} to {c.steps}, batch {c.batch_size}, "
                 f"{c.optimizer} lr {c.lr} wd {c.weight_decay}, targets {c.targets}")
        start_step, t0 = self.step, time.monotonic()
        last_reload = last_export = t0
        window = []
        while self.step < c.steps and not self.stop_requested:
            window.append(self.train_step())
            now = time.monotonic()
            if self.step % c.log_every == 0 or self.step == c.steps:
                rate = (self.step - start_step) / max(now - t0, 1e-9)
                vl, pl = np.mean(window, axis=0)
                window.clear()
                left = (c.steps - self.step) / max(rate, 1e-9)
                self.log(f"step {self.step}/{c.steps} | {rate:.2f} steps/s | loss {c.value_weight * vl + pl:.4f} "
                         f"value {vl:.4f} policy {pl:.4f} | lr {self.lr_at(self.step):.2e} | "
                         f"left {_hms(left)}")
            if self.step % c.eval_every == 0 or self.step == c.steps:
                self._eval_and_keep_best()
            if self.step % c.checkpoint_every == 0:
                self.save_checkpoint()
            if c.reload_every > 0 and now - last_reload >= c.reload_every:
                last_reload = now
                if self.load_data():
                    self.rescore_best()
            if c.export_dir and c.export_every > 0 and now - last_export >= c.export_every:
                last_export = now
                wanted = self.best_step if c.export_from == "best" else self.step
                if self.exported_step != wanted or not os.path.exists(c.export_dir):
                    self.export()
        self.save_checkpoint()
        if c.export_dir:
            self.export()
        self.log(("stopped" if self.stop_requested else "finished") + f" at step {self.step}")
        return self.step

    def _eval_and_keep_best(self):
        r = self.evaluate()
        if r is None:
            self.best_step = self.step
            self._atomic_save(self._state(), self.best_path)
            return
        better = r["loss"] < self.best_loss
        if better:
            self.best_loss, self.best_step = r["loss"], self.step
            self._atomic_save(self._state(), self.best_path)
        self.log(f"eval step {self.step} on {r['positions']} held-out: value {r['value']:.4f} "
                 f"policy {r['policy']:.4f} best-move acc {r['best_acc']:.3f} keeps-outcome acc "
                 f"{r['keep_acc']:.3f}" + (" [new best]" if better else f" (best step {self.best_step})"))


def _hms(seconds):
    seconds = int(seconds)
    h, rem = divmod(seconds, 3600)
    m, s = divmod(rem, 60)
    return f"{h}h{m:02d}m{s:02d}s" if h else f"{m}m{s:02d}s"
