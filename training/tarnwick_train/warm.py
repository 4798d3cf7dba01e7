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
