// Shared by the model tests: a stand-in host with a top model and the block under test as its
// child, so that rateIsDue answers from the sample-hit flags set here, and an exact comparison of
// doubles.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <initializer_list>

#include <gtest/gtest.h>

#include "host/block_structure.h"

namespace qeltest {

// Top model tasks: 0 continuous, 1 = 1e-5 s, 2 = 1e-4 s. Give model rate k the global task id
// k; an id that is not below the top model's three sample times (a constant rate) is always due.
class ModelFixture {
public:
    explicit ModelFixture(const char* modelName) : top_("top"), block_(modelName, &top_) {
        top_.setSampleTimes({0.0, 1e-5, 1e-4}, {0, 1, 2});
        top_.setNumTasks(3);
    }

    SimStruct* block() { return block_.get(); }

    // A major time step in which exactly the listed tasks have a sample hit.
    void majorStep(std::initializer_list<int> hitTasks) {
        top_.setMajorTimeStep(true);
        for (int task = 0; task < 3; ++task) top_.setSampleHit(task, false);
        for (int task : hitTasks) top_.setSampleHit(task, true);
    }

    // A minor time step; the hit flags stay as the last major step left them.
    void minorStep() { top_.setMajorTimeStep(false); }

private:
    qelhost::BlockStructure top_;
    qelhost::BlockStructure block_;
};

// Equal bit for bit, except that any NaN equals any NaN; so -0.0 differs from +0.0.
inline bool sameDouble(double a, double b) {
    if (std::isnan(a) && std::isnan(b)) return true;
    return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b);
}

// For EXPECT_PRED_FORMAT2(qeltest::SameDouble, actual, expected): prints both in %.17g.
inline ::testing::AssertionResult SameDouble(const char* actualText, const char* expectedText, double actual,
                                             double expected) {
    if (sameDouble(actual, expected)) return ::testing::AssertionSuccess();
    char text[160];
    std::snprintf(text, sizeof text, "%.17g, expected %.17g", actual, expected);
    return ::testing::AssertionFailure() << actualText << " is " << text << " (" << expectedText << ")";
}

}  // namespace qeltest
