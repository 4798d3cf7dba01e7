"""Writes a trained network as a `<name>.mlmodelc` folder (model.json + weights.bin) and
reads one back: `numpy_forward` is the reference the C++ interpreter is checked against."""

import json
import math
import os
import shutil
import tempfile

import numpy as np

from . import CELLS, COLUMNS, ROWS

FORMAT = "tarnwick-mlmodel"
FORMAT_VERSION = 1
# A model with an int8 section (tarnwick_train.quantize) is version 2; its float tensors are
# those of version 1, unchanged.
INT8_FORMAT_VERSION = 2


def fnv1a64(data):
    h = 0xCBF29CE484222325
    for b in data:
        h ^= b
        h = (h * 0x100000001B3) & 0xFFFFFFFFFFFFFFFF
    return h


def fold_bn(conv_bn):
    """ConvBN (conv without bias + eval-mode BN) -> (weight, bias) float64 numpy."""
    w = conv_bn.conv.weight.detach().double().cpu().numpy()
    bn = conv_bn.bn
    gamma = bn.weight.detach().double().cpu().numpy()
    beta = bn.bias.detach().double().cpu().numpy()
    mean = bn.running_mean.detach().double().cpu().numpy()
    var = bn.running_var.detach().double().cpu().numpy()
    scale = gamma / np.sqrt(var + bn.eps)
    b = np.zeros_like(mean) if conv_bn.conv.bias is None else conv_bn.conv.bias.detach().double().cpu().numpy()
    return w * scale[:, None, None, None], (b - mean) * scale + beta


def expected_tensors(arch):
    """(name, shape) in file order for an architecture dict with the manifest's keys."""
    B, Fl, P, V, H = (arch["blocks"], arch["filters"], arch["policyFilters"], arch["valueFilters"],
                      arch["valueHidden"])
    out = [("stem.weight", [Fl, 2, 3, 3]), ("stem.bias", [Fl])]
    for i in range(B):
        out += [(f"block{i}.conv1.weight", [Fl, Fl, 3, 3]), (f"block{i}.conv1.bias", [Fl]),
                (f"block{i}.conv2.weight", [Fl, Fl, 3, 3]), (f"block{i}.conv2.bias", [Fl])]
    out += [("policy.conv.weight", [P, Fl, 1, 1]), ("policy.conv.bias", [P]),
            ("policy.fc.weight", [CELLS, P * CELLS]), ("policy.fc.bias", [CELLS]),
            ("value.conv.weight", [V, Fl, 1, 1]), ("value.conv.bias", [V]),
            ("value.fc1.weight", [H, V * CELLS]), ("value.fc1.bias", [H]),
            ("value.fc2.weight", [1, H]), ("value.fc2.bias", [1])]
    return out


def named_layers(model):
    """(file name prefix, module) of a TarnwickNet's layers: ConvBN or Linear, in file order."""
    yield "stem", model.stem
    for i, block in enumerate(model.blocks):
        yield f"block{i}.conv1", block.conv1
        yield f"block{i}.conv2", block.conv2
    yield "policy.conv", model.policy_conv
    yield "policy.fc", model.policy_fc
    yield "value.conv", model.value_conv
    yield "value.fc1", model.value_fc1
    yield "value.fc2", model.value_fc2


def model_tensors(model):
    """Folded float64 tensors of a TarnwickNet, keyed by their file names."""
    t = {}
    for name, layer in named_layers(model):
        if hasattr(layer, "bn"):
            t[name + ".weight"], t[name + ".bias"] = fold_bn(layer)
        else:
            t[name + ".weight"] = layer.weight.detach().double().cpu().numpy()
            t[name + ".bias"] = layer.bias.detach().double().cpu().numpy()
    return t


def manifest_architecture(arch):
    return {"type": "residual-tower", "blocks": arch.blocks, "filters": arch.filters,
            "policyFilters": arch.policy_filters, "valueFilters": arch.value_filters,
            "valueHidden": arch.value_hidden}


def export_model(model, out_dir, description="trained by tarnwick_train"):
    """Writes out_dir (a `<name>.mlmodelc` folder) from a network."""
    return write_model_dir(manifest_architecture(model.arch), model_tensors(model), out_dir,
                           description)


def write_model_dir(arch, tensors, out_dir, description, int8=None):
    """Writes out_dir from folded tensors. The folder is built beside the target and swapped
    in, so a reader never sees half a model.

    int8: optional (calibration text, [(name, array)]) of int8 and float32 arrays, stored
    after the float tensors in the same file (so one checksum covers them) as version 2."""
    blobs, entries, offset = [], [], 0
    for name, shape in expected_tensors(arch):
        value = tensors[name]
        if list(value.shape) != shape:
            raise AssertionError(f"{name}: shape {list(value.shape)} != {shape}")
        data = np.ascontiguousarray(value, dtype="<f4")
        if not np.isfinite(data).all():
            raise ValueError(f"{name}: non-finite weights, refusing to export")
        raw = data.tobytes()
        entries.append({"name": name, "shape": shape, "offset": offset, "bytes": len(raw)})
        blobs.append(raw)
        offset += len(raw)
    int8_section = None
    if int8 is not None:
        calibration, arrays = int8
        int8_entries = []
        for name, value in arrays:
            if value.dtype == np.int8:
                raw = np.ascontiguousarray(value).tobytes()
                kind = "int8"
            else:
                data = np.ascontiguousarray(value, dtype="<f4")
                if not np.isfinite(data).all():
                    raise ValueError(f"{name}: non-finite values, refusing to export")
                raw, kind = data.tobytes(), "float32"
                pad = -offset % 4
                blobs.append(b"\0" * pad)
                offset += pad
            int8_entries.append({"name": name, "shape": list(value.shape), "dataType": kind,
                                 "offset": offset, "bytes": len(raw)})
            blobs.append(raw)
            offset += len(raw)
        int8_section = {"calibration": calibration, "tensors": int8_entries}
    weights = b"".join(blobs)
    manifest = {
        "format": FORMAT,
        "formatVersion": FORMAT_VERSION if int8 is None else INT8_FORMAT_VERSION,
        "description": description,
        "inputs": [{"name": "input1", "shape": [2, ROWS, COLUMNS], "dataType": "double"}],
        "outputs": [{"name": "output1", "shape": [1], "dataType": "double"},
                    {"name": "output2", "shape": [CELLS], "dataType": "double"}],
        "architecture": arch,
        "weights": {"file": "weights.bin", "dataType": "float32", "byteOrder": "little",
                    "bytes": len(weights),
                    "checksum": {"algorithm": "fnv1a64", "value": f"{fnv1a64(weights):016x}"}},
        "tensors": entries,
    }
    if int8_section is not None:
        manifest["int8"] = int8_section
    out_dir = os.path.abspath(out_dir)
    parent = os.path.dirname(out_dir)
    os.makedirs(parent, exist_ok=True)
    tmp = tempfile.mkdtemp(prefix=".export-", dir=parent)
    try:
        os.chmod(tmp, 0o755)  # mkdtemp makes it private; the folder is meant to be shipped
        with open(os.path.join(tmp, "weights.bin"), "wb") as f:
            f.write(weights)
        with open(os.path.join(tmp, "model.json"), "w", encoding="utf-8") as f:
            json.dump(manifest, f, indent=2)
            f.write("\n")
        old = None
        if os.path.exists(out_dir):
            old = tempfile.mkdtemp(prefix=".old-", dir=parent)
            os.rmdir(old)
            os.rename(out_dir, old)
        os.rename(tmp, out_dir)
        if old:
            shutil.rmtree(old, ignore_errors=True)
    except BaseException:
        shutil.rmtree(tmp, ignore_errors=True)
        raise
    return manifest


class ModelFormatError(ValueError):
    pass


def load_model_dir(model_dir):
    """Reads and checks a model folder -> (manifest, {name: float32 array})."""
    try:
        with open(os.path.join(model_dir, "model.json"), "r", encoding="utf-8") as f:
            manifest = json.load(f)
    except (OSError, json.JSONDecodeError) as e:
        raise ModelFormatError(f"model.json: {e}") from None
    if manifest.get("format") != FORMAT:
        raise ModelFormatError(f"format is {manifest.get('format')!r}")
    if manifest.get("formatVersion") not in (FORMAT_VERSION, INT8_FORMAT_VERSION):
        raise ModelFormatError(f"formatVersion {manifest.get('formatVersion')!r} is not "
                               f"{FORMAT_VERSION} or {INT8_FORMAT_VERSION}")
    if manifest.get("formatVersion") == INT8_FORMAT_VERSION and not isinstance(manifest.get("int8"), dict):
        raise ModelFormatError("format version 2 needs an \"int8\" object")
    arch = manifest.get("architecture", {})
    if arch.get("type") != "residual-tower":
        raise ModelFormatError(f"architecture type {arch.get('type')!r}")
    for key in ("blocks", "filters", "policyFilters", "valueFilters", "valueHidden"):
        v = arch.get(key)
        if not isinstance(v, int) or isinstance(v, bool) or v < (0 if key == "blocks" else 1) or v > 4096:
            raise ModelFormatError(f"architecture.{key} = {v!r}")
    w = manifest.get("weights", {})
    if w.get("dataType") != "float32" or w.get("byteOrder") != "little":
        raise ModelFormatError("weights must be little-endian float32")
    path = os.path.join(model_dir, w.get("file", "weights.bin"))
    if os.path.basename(w.get("file", "")) != w.get("file"):
        raise ModelFormatError("weights.file must be a plain file name")
    with open(path, "rb") as f:
        raw = f.read()
    if len(raw) != w.get("bytes"):
        raise ModelFormatError(f"weights.bin has {len(raw)} bytes, manifest says {w.get('bytes')}")
    cs = w.get("checksum", {})
    if cs.get("algorithm") != "fnv1a64" or cs.get("value") != f"{fnv1a64(raw):016x}":
        raise ModelFormatError("weights checksum mismatch")
    listed = {}
    for t in manifest.get("tensors", []):
        if t.get("name") in listed:
            raise ModelFormatError(f"tensor {t.get('name')} listed twice")
        listed[t.get("name")] = t
    tensors, spans = {}, []
    for name, shape in expected_tensors(arch):
        t = listed.get(name)
        if t is None:
            raise ModelFormatError(f"tensor {name} missing")
        if t.get("shape") != shape:
            raise ModelFormatError(f"tensor {name}: shape {t.get('shape')} != {shape}")
        off, nbytes = t.get("offset"), t.get("bytes")
        if not isinstance(off, int) or not isinstance(nbytes, int) or off < 0 or off % 4:
            raise ModelFormatError(f"tensor {name}: bad offset {off!r}")
        if nbytes != 4 * math.prod(shape):
            raise ModelFormatError(f"tensor {name}: {nbytes} bytes for shape {shape}")
        if off + nbytes > len(raw):
            raise ModelFormatError(f"tensor {name}: bytes {off}..{off + nbytes} outside the file")
        spans.append((off, off + nbytes, name))
        arr = np.frombuffer(raw, dtype="<f4", count=nbytes // 4, offset=off).reshape(shape)
        if not np.isfinite(arr).all():
            raise ModelFormatError(f"tensor {name}: non-finite values")
        tensors[name] = arr.astype(np.float32)
    spans.sort()
    for (a0, a1, an), (b0, b1, bn) in zip(spans, spans[1:]):
        if b0 < a1:
            raise ModelFormatError(f"tensors {an} and {bn} overlap")
    return manifest, tensors


def _conv(x, w, b):
    """x [N, C, 6, 7], w [O, C, k, k] with zero padding k // 2 -> [N, O, 6, 7], float64."""
    k = w.shape[2]
    pad = k // 2
    n, c, h, wd = x.shape
    xp = np.pad(x, ((0, 0), (0, 0), (pad, pad), (pad, pad)))
    out = np.zeros((n, w.shape[0], h, wd))
    for dy in range(k):
        for dx in range(k):
            patch = xp[:, :, dy:dy + h, dx:dx + wd]
            out += np.einsum("nchw,oc->nohw", patch, w[:, :, dy, dx])
    return out + b[None, :, None, None]


def numpy_forward(model_dir, planes):
    """Reference forward pass of an exported model.

    planes: [2, 6, 7] or [N, 2, 6, 7]. Returns (output1, output2): value [N] (or scalar) and
    raw policy scores [N, 42] (or [42]), computed in float64 from the float32 weights.
    """
    manifest, t = load_model_dir(model_dir)
    x = np.asarray(planes, dtype=np.float64)
    single = x.ndim == 3
    if single:
        x = x[None]
    if x.shape[1:] != (2, ROWS, COLUMNS):
        raise ValueError(f"planes must be [N, 2, {ROWS}, {COLUMNS}], got {list(x.shape)}")
    f = {k: v.astype(np.float64) for k, v in t.items()}
    relu = lambda a: np.maximum(a, 0.0)  # noqa: E731
    x = relu(_conv(x, f["stem.weight"], f["stem.bias"]))
    for i in range(manifest["architecture"]["blocks"]):
        y = relu(_conv(x, f[f"block{i}.conv1.weight"], f[f"block{i}.conv1.bias"]))
        x = relu(_conv(y, f[f"block{i}.conv2.weight"], f[f"block{i}.conv2.bias"]) + x)
    p = relu(_conv(x, f["policy.conv.weight"], f["policy.conv.bias"]))
    policy = p.reshape(len(p), -1) @ f["policy.fc.weight"].T + f["policy.fc.bias"]
    v = relu(_conv(x, f["value.conv.weight"], f["value.conv.bias"]))
    h = relu(v.reshape(len(v), -1) @ f["value.fc1.weight"].T + f["value.fc1.bias"])
    value = np.tanh(h @ f["value.fc2.weight"].T + f["value.fc2.bias"])[:, 0]
    if single:
        return value[0], policy[0]
    return value, policy
