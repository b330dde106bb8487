#include <gtest/gtest.h>

#include "host/block_structure.h"
#include "runtime/model_instance.h"

namespace {

// A top model with tasks 0 (continuous), 1 (1e-5 s), 2 (1e-4 s) and one child block in it.
struct TopModel {
    qelhost::BlockStructure top{"top"};
    qelhost::BlockStructure block{"child", &top};
    TopModel() {
        top.setSampleTimes({0.0, 1e-5, 1e-4}, {0, 1, 2});
        top.setNumTasks(3);
    }
};

TEST(RateIsDue, NegativeTaskIdIsAlwaysDueWithoutAskingTheHost) {
    // A block with no root at all would crash on any host query.
    SimStruct orphan = {};
    EXPECT_TRUE(rateIsDueForTask(&orphan, -1));
    EXPECT_TRUE(rateIsDueForTask(&orphan, -5));
}

TEST(RateIsDue, TaskIdAtOrBeyondTheRootsSampleTimesIsDue) {
    TopModel model;
    model.top.setMajorTimeStep(false);   // would make any real task not due
    EXPECT_TRUE(rateIsDueForTask(model.block.get(), 3));
    EXPECT_TRUE(rateIsDueForTask(model.block.get(), 7));
    EXPECT_FALSE(rateIsDueForTask(model.block.get(), 2));
}

TEST(RateIsDue, CountsTheSampleTimesOfTheRootsParentWhenItHasOne) {
    // A root whose parent declares fewer sample times: task id 2 is then beyond the parent's count.
    qelhost::BlockStructure outer("outer");
    outer.setSampleTimes({0.0, 1e-5}, {0, 1});
    TopModel model;
    model.top.get()->parent = outer.get();
    model.top.setMajorTimeStep(false);
    EXPECT_TRUE(rateIsDueForTask(model.block.get(), 2));
    EXPECT_FALSE(rateIsDueForTask(model.block.get(), 1));
}

TEST(RateIsDue, TaskIndexBeyondTheRootOfRootsSampleTimesIsDue) {
    TopModel model;
    model.top.setSampleTimes({0.0, 1e-5, 1e-4}, {0, 1, 5});
    model.top.setMajorTimeStep(false);
    EXPECT_TRUE(rateIsDueForTask(model.block.get(), 2));
}

TEST(RateIsDue, OrdinaryTaskNeedsMajorStepAndItsOwnSampleHit) {
    struct Case {
        const char* name;
        bool major;
        bool hitOwnTask;
        bool hitOtherTask;
        bool due;
    };
    const Case cases[] = {
        {"major step with hit", true, true, false, true},
        {"major step, other task hit", true, false, true, false},
        {"major step, no hit", true, false, false, false},
        {"minor step with hit", false, true, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TopModel model;
        model.top.setMajorTimeStep(c.major);
        model.top.setSampleHit(2, c.hitOwnTask);
        model.top.setSampleHit(1, c.hitOtherTask);
        EXPECT_EQ(rateIsDueForTask(model.block.get(), 2), c.due);
    }
}

TEST(RateIsDue, MapsTheTaskIdThroughTheRootsSampleTimeTable) {
    TopModel model;
    model.top.setSampleTimes({0.0, 1e-5, 1e-4}, {0, 2, 1});
    model.top.setMajorTimeStep(true);
    model.top.setSampleHit(2, true);
    EXPECT_TRUE(rateIsDueForTask(model.block.get(), 1));
    EXPECT_FALSE(rateIsDueForTask(model.block.get(), 2));
}

}  // namespace
