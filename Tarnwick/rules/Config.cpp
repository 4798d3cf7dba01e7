#include "Tarnwick/rules/Config.hpp"

namespace tarnwick {

Config::Config() { TAU0 = 0; }

const std::map<std::int64_t, std::string>& Config::pieces() {
    static const std::map<std::int64_t, std::string> table{{1, "X"}, {0, "-"}, {-1, "O"}};
    return table;
}

} // namespace tarnwick
