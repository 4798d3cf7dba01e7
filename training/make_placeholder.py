#!/usr/bin/python3
"""Writes the placeholder version0328.mlmodelc: small deterministic random weights (seed 328).

Usage: /usr/bin/python3 training/make_placeholder.py Resources/version0328.mlmodelc
Only the standard library is needed. It plays legal but weak moves until a trained network ships.
"""
import json, os, random, struct, sys

B, F, P, V, H = 4, 32, 2, 1, 64

def tensors():
    t = [("stem.weight", [F, 2, 3, 3]), ("stem.bias", [F])]
    for i in range(B):
        for c in ("conv1", "conv2"):
            t += [(f"block{i}.{c}.weight", [F, F, 3, 3]), (f"block{i}.{c}.bias", [F])]
    t += [("policy.conv.weight", [P, F, 1, 1]), ("policy.conv.bias", [P]),
          ("policy.fc.weight", [42, P * 42]), ("policy.fc.bias", [42]),
          ("value.conv.weight", [V, F, 1, 1]), ("value.conv.bias", [V]),
          ("value.fc1.weight", [H, V * 42]), ("value.fc1.bias", [H]),
          ("value.fc2.weight", [1, H]), ("value.fc2.bias", [1])]
    return t

def main(out):
    rng = random.Random(328)
    data, entries = bytearray(), []
    for name, shape in tensors():
        n = 1
        for d in shape: n *= d
        fan_in = n // shape[0]
        scale = 0.0 if name.endswith("bias") else (1.0 / fan_in) ** 0.5
        off = len(data)
        data += struct.pack("<%df" % n, *[rng.gauss(0, scale) for _ in range(n)])
        entries.append({"name": name, "shape": shape, "offset": off, "bytes": len(data) - off})
    h = 0xcbf29ce484222325
    for b in data:
        h = ((h ^ b) * 0x100000001b3) & 0xFFFFFFFFFFFFFFFF
    manifest = {
        "format": "tarnwick-mlmodel", "formatVersion": 1,
        "description": "placeholder: deterministic random weights (training/make_placeholder.py, seed 328)",
        "inputs": [{"name": "input1", "shape": [2, 6, 7], "dataType": "double"}],
        "outputs": [{"name": "output1", "shape": [1], "dataType": "double"},
                    {"name": "output2", "shape": [42], "dataType": "double"}],
        "architecture": {"type": "residual-tower", "blocks": B, "filters": F,
                         "policyFilters": P, "valueFilters": V, "valueHidden": H},
        "weights": {"file": "weights.bin", "dataType": "float32", "byteOrder": "little",
                    "bytes": len(data), "checksum": {"algorithm": "fnv1a64", "value": "%016x" % h}},
        "tensors": entries,
    }
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(out, "weights.bin"), "wb") as f: f.write(data)
    with open(os.path.join(out, "model.json"), "w") as f: json.dump(manifest, f, indent=1)

if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "Resources/version0328.mlmodelc")
