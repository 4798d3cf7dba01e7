"""Warm start from an exported model folder, when its training checkpoint is gone.

The export has batch norm folded into the convolutions. Unfolding puts each folded bias in
batch norm's beta; `calibrate_bn` then gives every batch norm the statistics its input has
on real positions, with gamma and beta chosen so that the eval-mode function is unchanged.
Training mode normalises by batch statistics, which are then close to those, so the first
steps continue from the exported network instead of a rescaled one."""

import torch
from torch import nn

from .export import load_model_dir, named_layers
from .model import Architecture, ConvBN, TarnwickNet


def architecture_of(manifest):
    a = manifest["architecture"]
    return Architecture(blocks=a["blocks"], filters=a["filters"], policy_filters=a["policyFilters"],
                        value_filters=a["valueFilters"], value_hidden=a["valueHidden"])


def import_model(model_dir):
    """A `.mlmodelc` folder -> TarnwickNet computing the same function in eval mode."""
    manifest, t = load_model_dir(model_dir)
    model = TarnwickNet(architecture_of(manifest))
    for name, layer in named_layers(model):
        weight, bias = (torch.from_numpy(t[name + k].copy()) for k in (".weight", ".bias"))
        if isinstance(layer, ConvBN):
            layer.conv.weight.data.copy_(weight)
            layer.bn.weight.data.fill_(1.0)
            layer.bn.bias.data.copy_(bias)
            layer.bn.running_mean.zero_()
            layer.bn.running_var.fill_(1.0 - layer.bn.eps)
        else:
            layer.weight.data.copy_(weight)
            layer.bias.data.copy_(bias)
    return model


@torch.no_grad()
def calibrate_bn(model, planes):
    """Sets every batch norm's running statistics to those of its input on `planes`
    ([N, 2, 6, 7]) and rescales gamma and beta to match, leaving eval-mode outputs as they
    were (up to rounding). In eval mode each batch norm's input depends only on the layers
    before it, whose outputs do not change, so one pass gives all statistics."""
    stats = {}
    hooks = []
    def hook(bn, inputs, _out):
        z = inputs[0].double()
        stats[bn] = (z.mean(dim=(0, 2, 3)), z.var(dim=(0, 2, 3), unbiased=False))

    for m in model.modules():
        if isinstance(m, nn.BatchNorm2d):
            hooks.append(m.register_forward_hook(hook))
    was_training = model.training
    model.eval()
    try:
        model(torch.as_tensor(planes, dtype=torch.float32))
    finally:
        for h in hooks:
            h.remove()
        model.train(was_training)
    for bn, (mean, var) in stats.items():
        # Current eval function: y = (z - m0) / s0 * g0 + b0; keep it with the new m, v.
        s0 = torch.sqrt(bn.running_var.double() + bn.eps)
        g0, b0, m0 = bn.weight.double(), bn.bias.double(), bn.running_mean.double()
        s = torch.sqrt(var + bn.eps)
        gamma = g0 * s / s0
        beta = b0 + g0 * (mean - m0) / s0
        bn.running_mean.copy_(mean.float())
        bn.running_var.copy_(var.float())
        bn.weight.data.copy_(gamma.float())
        bn.bias.data.copy_(beta.float())


@torch.no_grad()
def grow(model, arch):
    """A TarnwickNet of the larger `arch` computing the same function as `model` in eval mode:
    a warm start for a wider or deeper tower. New filters start from a fresh initialisation,
    but every old output reads them with zero weights until training moves those; new blocks
    go after the old ones, their last batch norm at gamma 0 and beta 0, so each passes its
    (non-negative) input through unchanged."""
    old = model.arch
    if (arch.blocks < old.blocks or arch.filters < old.filters
            or (arch.policy_filters, arch.value_filters, arch.value_hidden)
            != (old.policy_filters, old.value_filters, old.value_hidden)):
        raise ValueError(f"cannot grow a {old} network into {arch}: only blocks and filters may grow")
    big = TarnwickNet(arch)
    f = old.filters

    def embed(dst, src, cout):
        # Old outputs keep their weights and read new inputs with zero; new outputs keep
        # their fresh weights.
        w = dst.conv.weight
        w[:cout].zero_()
        w[:cout, :src.conv.weight.shape[1]] = src.conv.weight
        for name in ("weight", "bias", "running_mean", "running_var"):
            getattr(dst.bn, name)[:cout] = getattr(src.bn, name)

    embed(big.stem, model.stem, f)
    for b_old, b_new in zip(model.blocks, big.blocks):
        embed(b_new.conv1, b_old.conv1, f)
        embed(b_new.conv2, b_old.conv2, f)
    for block in list(big.blocks)[old.blocks:]:
        block.conv2.bn.weight.zero_()
        block.conv2.bn.bias.zero_()
    embed(big.policy_conv, model.policy_conv, old.policy_filters)
    embed(big.value_conv, model.value_conv, old.value_filters)
    for name in ("policy_fc", "value_fc1", "value_fc2"):
        getattr(big, name).load_state_dict(getattr(model, name).state_dict())
    return big
