#pragma once
// The tower computed directly in double precision from the file's tensors: the reference the
// interpreters (float32 and int8) are checked against.

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "Platform/ModelResource.hpp"
#include "tests/support/ModelWriter.hpp"

namespace tarnwick::testing {

// Activations as channel * 42 + row * 7 + column, in double precision.
using Planes = std::vector<double>;

struct Outputs {
    double value;
    std::vector<double> policy;
};

// Called with each 3x3 convolution's name ("stem", "block0.conv1", ...) and its input.
using ConvInputs = std::function<void(const std::string& layer, const Planes& input)>;

Outputs reference(const Tensors& tensors, const platform::TowerArchitecture& architecture,
                  const Planes& input, const ConvInputs& seeInput = {});

// A position-like input: each cell empty, the mover's or the opponent's.
Planes randomPosition(std::mt19937& generator);

} // namespace tarnwick::testing
