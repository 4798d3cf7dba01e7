"""Int8 export of a float model: the 3x3 convolutions' weights as int8, symmetric per output
channel, and each convolution's input as unsigned 8 bits with one scale calibrated on
training positions (docs/model-format.md, "The int8 section").

The interpreter computes a convolution as sum(q_in * q_w) in int32, times
inputScale * weightScale[out], plus the float bias; everything else stays float.
"""

import gzip
import random

import numpy as np

from .board import Position
from .export import _conv, load_model_dir, write_model_dir

QMAX_WEIGHT = 127  # symmetric: -128 is never used, so negating a weight cannot overflow
QMAX_INPUT = 255


def conv_layers(blocks):
    """Names of the 3x3 convolutions in file order."""
    names = ["stem"]
    for i in range(blocks):
        names += [f"block{i}.conv1", f"block{i}.conv2"]
    return names


def quantize_weight(w):
    """[out, in, 3, 3] float -> (int8 weights, float32 scale per out channel)."""
    w = np.asarray(w, dtype=np.float64)
    peak = np.abs(w.reshape(len(w), -1)).max(axis=1)
    scale = np.where(peak > 0, peak / QMAX_WEIGHT, 1.0).astype(np.float32)
    q = np.clip(np.rint(w / scale.astype(np.float64)[:, None, None, None]), -QMAX_WEIGHT, QMAX_WEIGHT)
    return q.astype(np.int8), scale


def quantize_input(x, scale):
    """Post-ReLU activations -> the u8 codes the interpreter forms (halves up, clamped)."""
    return np.floor(np.clip(np.asarray(x, dtype=np.float64) / scale, 0, QMAX_INPUT) + 0.5)


def read_positions(path, count, seed):
    """Up to `count` positions (planes [N, 2, 6, 7]) drawn with `seed` from the first column of a
    label or opening file (.gz allowed): lines "moves<TAB>...". Unplayable lines are skipped."""
    opener = gzip.open if path.endswith(".gz") else open
    moves = []
    with opener(path, "rt", encoding="utf-8") as f:
        for line in f:
            field = line.split("\t", 1)[0].strip()
            if field and not field.startswith("#"):
                moves.append(field)
    random.Random(seed).shuffle(moves)
    planes = []
    for m in moves:
        if len(planes) == count:
            break
        try:
            planes.append(Position(m).planes())
        except ValueError:
            continue
    if not planes:
        raise ValueError(f"{path}: no playable positions")
    return np.stack(planes)


def conv_inputs(tensors, blocks, planes):
    """(layer, float64 input of that 3x3 convolution) over the positions, from the float model,
    one layer at a time (all at once would hold every activation of the calibration set)."""
    relu = lambda a: np.maximum(a, 0.0)  # noqa: E731
    f = {k: v.astype(np.float64) for k, v in tensors.items()}
    x = np.asarray(planes, dtype=np.float64)
    yield "stem", x
    x = relu(_conv(x, f["stem.weight"], f["stem.bias"]))
    for i in range(blocks):
        yield f"block{i}.conv1", x
        y = relu(_conv(x, f[f"block{i}.conv1.weight"], f[f"block{i}.conv1.bias"]))
        yield f"block{i}.conv2", y
        x = relu(_conv(y, f[f"block{i}.conv2.weight"], f[f"block{i}.conv2.bias"]) + x)


def input_scale(values, percentile):
    """The scale that maps the `percentile` of the activations to 255; larger ones clip."""
    top = float(np.percentile(values, percentile))
    if top <= 0:
        top = float(np.max(values))
    return np.float32(top / QMAX_INPUT if top > 0 else 1.0)


def quantize_model(in_dir, out_dir, calibration, count=2000, seed=1, percentile=99.99):
    """Writes out_dir: in_dir's float tensors unchanged plus the int8 section."""
    manifest, tensors = load_model_dir(in_dir)
    blocks = manifest["architecture"]["blocks"]
    planes = read_positions(calibration, count, seed)
    arrays = []
    for name, inputs in conv_inputs(tensors, blocks, planes):
        q, w_scale = quantize_weight(tensors[name + ".weight"])
        # The stem reads 0/1 planes: 1/255 codes them exactly.
        scale = np.float32(1.0 / QMAX_INPUT) if name == "stem" else input_scale(inputs, percentile)
        arrays += [(name + ".weight", q), (name + ".weightScale", w_scale),
                   (name + ".inputScale", np.array([scale], dtype=np.float32))]
    text = (f"weights: symmetric per output channel (max |w| -> 127); inputs: the {percentile} "
            f"percentile of each convolution's input -> 255, over {len(planes)} positions drawn "
            f"with seed {seed} from {calibration.rsplit('/', 1)[-1]}")
    arch = {k: manifest["architecture"][k] for k in manifest["architecture"]}
    return write_model_dir(arch, tensors, out_dir, manifest.get("description", ""), int8=(text, arrays))


def load_int8(model_dir):
    """The int8 section of a version-2 model: {name: array}, and the calibration text."""
    import json
    import os
    with open(os.path.join(model_dir, "model.json"), encoding="utf-8") as f:
        manifest = json.load(f)
    with open(os.path.join(model_dir, manifest["weights"]["file"]), "rb") as f:
        raw = f.read()
    out = {}
    for t in manifest["int8"]["tensors"]:
        dtype = np.int8 if t["dataType"] == "int8" else np.dtype("<f4")
        count = int(np.prod(t["shape"]))
        out[t["name"]] = np.frombuffer(raw, dtype=dtype, count=count, offset=t["offset"]).reshape(t["shape"])
    return out, manifest["int8"]["calibration"]


def int8_forward(model_dir, planes):
    """The interpreter's int8 arithmetic in float64 numpy: (value [N], scores [N, 42])."""
    manifest, t = load_model_dir(model_dir)
    q, _ = load_int8(model_dir)
    f = {k: v.astype(np.float64) for k, v in t.items()}
    relu = lambda a: np.maximum(a, 0.0)  # noqa: E731

    def conv(x, name):
        s = float(q[name + ".inputScale"][0])
        w = q[name + ".weight"].astype(np.float64) * q[name + ".weightScale"].astype(np.float64)[:, None, None, None]
        return _conv(quantize_input(x, s) * s, w, f[name + ".bias"])

    x = np.asarray(planes, dtype=np.float64)
    x = relu(conv(x, "stem"))
    for i in range(manifest["architecture"]["blocks"]):
        y = relu(conv(x, f"block{i}.conv1"))
        x = relu(conv(y, f"block{i}.conv2") + x)
    p = relu(_conv(x, f["policy.conv.weight"], f["policy.conv.bias"]))
    policy = p.reshape(len(p), -1) @ f["policy.fc.weight"].T + f["policy.fc.bias"]
    v = relu(_conv(x, f["value.conv.weight"], f["value.conv.bias"]))
    h = relu(v.reshape(len(v), -1) @ f["value.fc1.weight"].T + f["value.fc1.bias"])
    return np.tanh(h @ f["value.fc2.weight"].T + f["value.fc2.bias"])[:, 0], policy
