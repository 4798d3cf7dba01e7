"""The residual tower of docs/model-format.md, with batch normalisation after every
convolution while training (the exporter folds it into the convolution)."""

from dataclasses import asdict, dataclass

import torch
from torch import nn
import torch.nn.functional as F

from . import CELLS


@dataclass
class Architecture:
    blocks: int = 4
    filters: int = 32
    policy_filters: int = 2
    value_filters: int = 1
    value_hidden: int = 64

    def to_dict(self):
        return asdict(self)

    def check(self):
        for name, v in asdict(self).items():
            if not isinstance(v, int) or v < (0 if name == "blocks" else 1):
                raise ValueError(f"architecture field {name} must be a positive integer, got {v!r}")


class ConvBN(nn.Module):
    def __init__(self, cin, cout, kernel):
        super().__init__()
        # No conv bias: batch norm's beta takes its place, and folding produces the bias.
        self.conv = nn.Conv2d(cin, cout, kernel, padding=kernel // 2, bias=False)
        self.bn = nn.BatchNorm2d(cout)

    def forward(self, x):
        return self.bn(self.conv(x))


class Block(nn.Module):
    def __init__(self, filters):
        super().__init__()
        self.conv1 = ConvBN(filters, filters, 3)
        self.conv2 = ConvBN(filters, filters, 3)

    def forward(self, x):
        y = F.relu(self.conv1(x))
        return F.relu(self.conv2(y) + x)


class TarnwickNet(nn.Module):
    def __init__(self, arch=None):
        super().__init__()
        self.arch = arch or Architecture()
        self.arch.check()
        a = self.arch
        self.stem = ConvBN(2, a.filters, 3)
        self.blocks = nn.ModuleList(Block(a.filters) for _ in range(a.blocks))
        self.policy_conv = ConvBN(a.filters, a.policy_filters, 1)
        self.policy_fc = nn.Linear(a.policy_filters * CELLS, CELLS)
        self.value_conv = ConvBN(a.filters, a.value_filters, 1)
        self.value_fc1 = nn.Linear(a.value_filters * CELLS, a.value_hidden)
        self.value_fc2 = nn.Linear(a.value_hidden, 1)

    def forward(self, planes):
        """planes [N, 2, 6, 7] -> (value [N] in [-1, 1], policy scores [N, 42])."""
        x = F.relu(self.stem(planes))
        for block in self.blocks:
            x = block(x)
        p = F.relu(self.policy_conv(x))
        policy = self.policy_fc(torch.flatten(p, 1))
        v = F.relu(self.value_conv(x))
        v = F.relu(self.value_fc1(torch.flatten(v, 1)))
        value = torch.tanh(self.value_fc2(v)).squeeze(1)
        return value, policy
