// Run-time methods through the plug-ins: the task ids -5 and -2, ordinary steps, missing
// arguments and inputs, the controllers' update, the plants' block-rate test, the periodic
// method, system initialize and reset, derivatives, start-up task ids and the plugin events.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "controllers/Qel_Lib_wexa_current_controller_sub.h"
#include "plants/Qel_Lib_motor_dq_sub.h"
#include "plants/Qel_Lib_motor_sub.h"
#include "tests/blocks/block_facts.h"

namespace {

using qeltest::BlockUnderTest;
namespace current = Qel_Lib_wexa_current_controller_sub;

constexpr char kCurrent[] = "Qel_Lib_wexa_current_controller_sub";
constexpr int kTask1e4 = 2;   // the top model's 1e-4 s task
constexpr double kUnwritten = -7.25;

template <class WorkRecord>
WorkRecord& recordOf(qelhost::Block& block) {
    return *reinterpret_cast<WorkRecord*>(block.workRecord().data());
}

// A started current controller with gain 1, integral time 1 and limits far away, in a major
// step in which every task has a hit.
struct CurrentController : BlockUnderTest {
    CurrentController() : BlockUnderTest(kCurrent) {
        start();
        block.setArgument(2, 1e6);
        block.setArgument(3, 1e6);
        top.setAllSampleHits(true);
        *block.output(0) = kUnwritten;
    }
    current::WorkRecord& record() { return recordOf<current::WorkRecord>(block); }
    double output() { return *block.output(0); }
};

TEST(OutputMethod, ParameterCallRunsOnlyTheParameterSetup) {
    CurrentController unit;
    unit.block.setArgument(2, 10.0);
    unit.block.setArgument(3, 10.0);
    *unit.block.inputBuffer(0) = 1.0;
    ASSERT_TRUE(unit.block.outputs(-5));
    EXPECT_EQ(unit.record().rtb.referenceUpperLimit, 30.0);
    EXPECT_EQ(unit.record().rtb.referenceLowerLimit, -30.0);
    EXPECT_EQ(unit.record().rtb.outputLimit, 9.5);
    EXPECT_EQ(unit.record().rtb.integratorInput, 0.0);
    EXPECT_EQ(unit.output(), kUnwritten);
}

TEST(OutputMethod, ConstantRateCallComputesNothing) {
    CurrentController unit;
    *unit.block.inputBuffer(0) = 1.0;
    const std::vector<std::byte> before(unit.block.workRecord().begin(), unit.block.workRecord().end());
    ASSERT_TRUE(unit.block.outputs(-2));
    EXPECT_EQ(unit.output(), kUnwritten);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), unit.block.workRecord().begin()));
}

TEST(OutputMethod, OrdinaryStepsComputeAtTheModelsRate) {
    CurrentController unit;
    ASSERT_TRUE(unit.block.outputs(-5));
    *unit.block.inputBuffer(0) = 1.0;   // constant error 1
    ASSERT_TRUE(unit.block.outputs(0));
    EXPECT_EQ(unit.output(), 1.0);
    ASSERT_TRUE(unit.block.update(0));
    EXPECT_EQ(unit.record().rtdw.integratorState, 1e-4);
    ASSERT_TRUE(unit.block.outputs(0));
    EXPECT_EQ(unit.output(), 1.0001);

    // A 1e-5 s step that is no 1e-4 s hit: the model's rate test leaves everything as it was.
    unit.top.setSampleHit(kTask1e4, false);
    *unit.block.inputBuffer(0) = 5.0;
    *unit.block.output(0) = kUnwritten;
    ASSERT_TRUE(unit.block.outputs(1));
    EXPECT_EQ(unit.output(), kUnwritten);
    EXPECT_EQ(unit.record().rtb.integratorInput, 1.0);
}

TEST(OutputMethod, ArgumentTheHostCannotSupplyStopsTheCall) {
    for (const int missing : {0, 3}) {
        SCOPED_TRACE(missing);
        CurrentController unit;
        unit.block.clearArgument(missing);
        *unit.block.inputBuffer(0) = 1.0;
        ASSERT_TRUE(unit.block.outputs(-5));
        EXPECT_EQ(unit.record().rtb.referenceUpperLimit, 0.0);
        ASSERT_TRUE(unit.block.outputs(0));
        EXPECT_EQ(unit.output(), kUnwritten);
    }
}

TEST(OutputMethod, InputWithoutDataRaisesTheHostError) {
    struct Case {
        const char* model;
        int port;
        const char* identifier;
    };
    const Case cases[] = {
        {kCurrent, 1, "Simulink:SFunctions:SimStructLevel2InvalidAccessToNonDirectFeedthroughInputSignal"},
        {"Qel_Lib_wexa_current_controller_dq_sub", 2,
         "Simulink:SFunctions:SimStructLevel2InvalidAccessToReusableInputSignal"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model);
        BlockUnderTest unit(c.model);
        unit.start();
        unit.block.connectInput(c.port, nullptr);
        try {
            unit.block.outputs(0);
            FAIL() << "no error raised";
        } catch (const qelhost::MatlabError& error) {
            EXPECT_EQ(error.identifier(), c.identifier);
            const SimStruct* block = unit.block.simStruct();
            EXPECT_EQ(error.arguments(), (std::vector<qelhost::MatlabError::Argument>{
                                             std::string(block->modelName), std::string(block->path), c.port + 1.0}));
        }
    }
}

// A host that registered fewer input ports than the block reads: the input fetch names the
// first missing port, even though its record would lie in memory the host never gave out.
TEST(OutputMethod, InputBeyondTheHostsPortCountRaisesTheHostError) {
    CurrentController unit;
    SimStruct* block = unit.block.simStruct();
    block->sizes[kSizeNumInputPorts] = 1;
    try {
        unit.block.outputs(0);
        FAIL() << "no error raised";
    } catch (const qelhost::MatlabError& error) {
        EXPECT_EQ(error.identifier(), "Simulink:SFunctions:SimStructLevel2InvalidInputPortNumber");
        EXPECT_EQ(error.arguments(), (std::vector<qelhost::MatlabError::Argument>{
                                         std::string(block->modelName), std::string(block->path), 2.0, 0.0}));
    }
    block->sizes[kSizeNumInputPorts] = 2;
    EXPECT_EQ(unit.output(), kUnwritten);
}

TEST(UpdateMethod, ControllersUpdateWhateverTheTid) {
    for (const int tid : {0, -2, -5, 1}) {
        SCOPED_TRACE(tid);
        CurrentController unit;
        *unit.block.inputBuffer(0) = 1.0;
        unit.block.outputs(-5);
        unit.block.outputs(0);
        ASSERT_TRUE(unit.block.update(tid));
        EXPECT_EQ(unit.record().rtdw.integratorState, 1e-4);
    }
}

// The plants' block-rate test, on both plants: outputs are computed when the output port of the
// load-side torque is written, the update ran when the sensing update copied rtb.enc2Angle.
template <class WorkRecord>
void checkBlockRateTest(const char* model) {
    struct Case {
        const char* name;
        bool major;
        bool continuousHit;      // the block's first sample time, top task 0
        bool taskBeyondRoot;     // the first sample time's task is not below the root's count
        bool outputsComputed;
        bool updateRan;
    };
    const Case cases[] = {
        {"major step with a hit", true, true, false, true, true},
        {"major step without a hit", true, false, false, false, false},
        {"minor step", false, true, false, true, false},
        {"minor step, task beyond the root", false, false, true, true, true},
        {"major step, task beyond the root", true, false, true, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BlockUnderTest unit(model);
        unit.start();
        unit.top.setAllSampleHits(true);
        unit.top.setSampleHit(0, c.continuousHit);
        unit.top.setMajorTimeStep(c.major);
        if (c.taskBeyondRoot) unit.block.simStruct()->sampleTimeTaskIds[0] = unit.top.numTasks();
        const int torquePort = 3;
        *unit.block.output(torquePort) = std::nan("");
        ASSERT_TRUE(unit.block.outputs(0));
        EXPECT_EQ(!std::isnan(*unit.block.output(torquePort)), c.outputsComputed);

        // Inside the model the sensing update also needs a major step with the 1e-4 s hit.
        WorkRecord& record = recordOf<WorkRecord>(unit.block);
        record.rtb.enc2Angle = 5.0;
        record.rtdw.enc2PrevAngle = -1.0;
        ASSERT_TRUE(unit.block.update(0));
        EXPECT_EQ(record.rtdw.enc2PrevAngle == 5.0, c.updateRan && c.major);
        if (!c.major) {
            EXPECT_EQ(record.rtdw.enc2PrevAngle, -1.0);
        }

        // The constant-rate call never updates.
        unit.top.setMajorTimeStep(true);
        record.rtdw.enc2PrevAngle = -1.0;
        ASSERT_TRUE(unit.block.update(-2));
        EXPECT_EQ(record.rtdw.enc2PrevAngle, -1.0);
    }
}

TEST(BlockRateTest, SingleWindingPlant) { checkBlockRateTest<Qel_Lib_motor_sub::WorkRecord>("Qel_Lib_motor_sub"); }

TEST(BlockRateTest, DqPlant) { checkBlockRateTest<Qel_Lib_motor_dq_sub::WorkRecord>("Qel_Lib_motor_dq_sub"); }

TEST(PeriodicMethod, OutputsThenUpdateOnlyForZero) {
    CurrentController unit;
    unit.block.outputs(-5);
    *unit.block.inputBuffer(0) = 1.0;
    ASSERT_TRUE(unit.block.periodic(1));
    EXPECT_EQ(unit.output(), kUnwritten);
    EXPECT_EQ(unit.record().rtdw.integratorState, 0.0);

    ASSERT_TRUE(unit.block.periodic(0));
    EXPECT_EQ(unit.output(), 1.0);
    EXPECT_EQ(unit.record().rtdw.integratorState, 1e-4);
}

TEST(PeriodicMethod, FetchesOnlyTheArgumentsOfTheOutputs) {
    CurrentController unit;
    unit.block.outputs(-5);
    *unit.block.inputBuffer(0) = 1.0;
    unit.block.clearArgument(3);   // used by the parameter setup only
    ASSERT_TRUE(unit.block.periodic(0));
    EXPECT_EQ(unit.output(), 1.0);

    unit.block.clearArgument(1);   // the integral time, used by the outputs
    *unit.block.output(0) = kUnwritten;
    ASSERT_TRUE(unit.block.periodic(0));
    EXPECT_EQ(unit.output(), kUnwritten);
    EXPECT_EQ(unit.record().rtdw.integratorState, 1e-4);
}

TEST(SystemMethods, InitializeAndResetRestartTheStates) {
    CurrentController unit;
    unit.record().rtdw.integratorState = 5.0;
    ASSERT_TRUE(unit.block.systemInitialize());
    EXPECT_EQ(unit.record().rtdw.integratorState, 0.0);
    unit.record().rtdw.integratorState = 5.0;
    ASSERT_TRUE(unit.block.systemReset());
    EXPECT_EQ(unit.record().rtdw.integratorState, 0.0);

    BlockUnderTest plant("Qel_Lib_motor_sub");
    plant.start();
    for (double& x : plant.block.contStates()) x = 3.0;
    ASSERT_TRUE(plant.block.systemReset());
    for (double x : plant.block.contStates()) EXPECT_EQ(x, 0.0);
}

TEST(Derivatives, PlantsHandTheirRecordsDerivativesToTheSolver) {
    {
        BlockUnderTest unit("Qel_Lib_motor_sub");
        unit.start();
        auto& rtb = recordOf<Qel_Lib_motor_sub::WorkRecord>(unit.block).rtb;
        rtb.omegaMSignal = 1.5;
        rtb.iArmDot = -2.5;
        rtb.omegaMDot = 3.5;
        ASSERT_TRUE(unit.block.derivatives());
        const std::span<double> dX = unit.block.stateDerivatives();
        EXPECT_EQ(std::vector<double>(dX.begin(), dX.end()), (std::vector<double>{1.5, -2.5, 3.5}));
    }
    {
        BlockUnderTest unit("Qel_Lib_motor_dq_sub");
        unit.start();
        auto& rtb = recordOf<Qel_Lib_motor_dq_sub::WorkRecord>(unit.block).rtb;
        rtb.omegaMSignal = 1.5;
        rtb.idDot = -2.5;
        rtb.iqDot = 4.5;
        rtb.omegaMDot = 3.5;
        ASSERT_TRUE(unit.block.callFlag(106));
        const std::span<double> dX = unit.block.stateDerivatives();
        EXPECT_EQ(std::vector<double>(dX.begin(), dX.end()), (std::vector<double>{1.5, 4.5, -2.5, 3.5}));
    }
}

TEST(SetupRuntimeResources, AsksTaskIdsFromTheConstantRateDown) {
    BlockUnderTest unit(kCurrent);
    unit.block.registerBlock();
    unit.block.structure().clearLogs();
    ASSERT_TRUE(unit.block.setupRuntimeResources());
    std::vector<std::vector<int64_t>> asked;
    for (const qelhost::RegistrationCall& call : unit.block.structure().registrations())
        if (call.operation == "slmrGetTopTidFromMdlRefChildTid") asked.push_back(call.values);
    EXPECT_EQ(asked, (std::vector<std::vector<int64_t>>{{2, 1}, {1, 0}, {0, 0}}));
    auto& instance = recordOf<current::WorkRecord>(unit.block).instance;
    EXPECT_EQ(std::vector<int32_t>(instance.globalTid, instance.globalTid + 3), (std::vector<int32_t>{1, 2, 3}));
    EXPECT_EQ(instance.hostLink, unit.block.simStruct());
    EXPECT_EQ(unit.block.structure().modelMap(), &instance.mapInfo);
}

TEST(PluginEvents, OneStartAndOneTerminationPerInstance) {
    std::vector<qelhost::PluginEvent>& events = qelhost::pluginEvents();
    for (const qeltest::BlockFacts& facts : qeltest::allBlocks()) {
        SCOPED_TRACE(facts.model);
        events.clear();
        BlockUnderTest unit(facts.model);
        unit.start();
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].modelName, facts.model);
        EXPECT_EQ(events[0].eventName, "START_OF_SIM_MODEL_MODELREF_ACCEL_EVENT");
        EXPECT_EQ(events[0].block, unit.block.simStruct());
        const std::vector<std::byte> before(unit.block.workRecord().begin(), unit.block.workRecord().end());
        ASSERT_TRUE(unit.block.terminate());
        ASSERT_EQ(events.size(), 2u);
        EXPECT_EQ(events[1].eventName, "SIMSTATUS_TERMINATING_MODELREF_ACCEL_EVENT");
        EXPECT_TRUE(std::equal(before.begin(), before.end(), unit.block.workRecord().begin()));
    }
}

}  // namespace
