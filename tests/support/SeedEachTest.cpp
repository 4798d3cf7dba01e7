// Linked into every test binary: each test starts from the generator seeded by its own name,
// so a test that plays bots or draws noise gives the same result alone, filtered, shuffled or
// repeated. Tests that need other draws seed again themselves.

#include <gtest/gtest.h>

#include <string>

#include "Platform/ModelResource.hpp"
#include "Tarnwick/search/Random.hpp"

namespace {

class SeedEachTest : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo& test) override {
        const std::string name = std::string(test.test_suite_name()) + "." + test.name();
        tarnwick::seedRandom(tarnwick::platform::fnv1a64(name));
    }
};

const bool registered = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new SeedEachTest);
    return true;
}();

} // namespace
