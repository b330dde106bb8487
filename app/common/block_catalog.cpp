#include "app/common/block_catalog.h"

#include <array>
#include <system_error>

namespace qelsim {
namespace {

constexpr std::string_view kPluginSuffix = "_msp";
constexpr std::string_view kPluginExtension = ".mexa64";

// ---------------------------------------------------------------------------------------------
// Motor plants

constexpr std::array kMotorDqInputs = {
    PortInfo{"phaseVoltage", 3},
    PortInfo{"loadTorque", 1},
};
constexpr std::array kMotorDqOutputs = {
    PortInfo{"measuredAngle", 1},
    PortInfo{"measuredSpeed", 1},
    PortInfo{"measuredCurrent", 3},
    PortInfo{"shaftTorque", 1},
    PortInfo{"electricalAngle", 1},
};
constexpr std::array kMotorDqArguments = {
    ArgumentInfo{"sensorSelect", 1},
    ArgumentInfo{"currentResolution", 1},
    ArgumentInfo{"angleResolution", 1},
    ArgumentInfo{"inertia", 1},
    ArgumentInfo{"inductance", 1},
    ArgumentInfo{"resistance", 1},
    ArgumentInfo{"coulombFriction", 1},
    ArgumentInfo{"viscousFriction", 1},
    ArgumentInfo{"fluxLinkage", 1},
    ArgumentInfo{"polePairs", 1},
    ArgumentInfo{"speedFilterTau", 1},
    ArgumentInfo{"angleErrorTable", 120},
    ArgumentInfo{"gearLoadTurns", 1},
    ArgumentInfo{"gearEfficiency", 1},
    ArgumentInfo{"gearMotorTurns", 1},
    ArgumentInfo{"encoderErrorAmplitude", 1},
    ArgumentInfo{"sensorErrorsOn", 1},
};
constexpr std::array<std::string_view, 4> kMotorDqStates = {"thetaM", "iq", "id", "omegaM"};
constexpr std::array kMotorDqRtb = {
    FieldInfo{"enc2Angle", false},
    FieldInfo{"enc3Angle", false},
    FieldInfo{"omegaMSignal", false},
    FieldInfo{"idDot", false},
    FieldInfo{"iqDot", false},
    FieldInfo{"omegaMDot", false},
    FieldInfo{"enc3SpeedFiltDot", false},
    FieldInfo{"obsError", false},
    FieldInfo{"obsSpeed", false},
    FieldInfo{"obsSpeedFiltDot", false},
    FieldInfo{"enc2SpeedFiltDot", false},
};
constexpr std::array kMotorDqRtdw = {
    FieldInfo{"obsAngle", false},
    FieldInfo{"obsSpeedFilt", false},
    FieldInfo{"enc2SpeedFilt", false},
    FieldInfo{"enc3SpeedFilt", false},
    FieldInfo{"enc3PrevAngle", false},
    FieldInfo{"obsSpeedInt", false},
    FieldInfo{"enc2PrevAngle", false},
    FieldInfo{"enc2AngleHold", false},
    FieldInfo{"enc3AngleHold", false},
    FieldInfo{"sens1AngleHold", false},
    FieldInfo{"iaHold", false},
    FieldInfo{"ibHold", false},
    FieldInfo{"icHold", false},
};

constexpr std::array kMotorInputs = {
    PortInfo{"armatureVoltage", 1},
    PortInfo{"loadTorque", 1},
};
constexpr std::array kMotorOutputs = {
    PortInfo{"measuredAngle", 1},
    PortInfo{"measuredSpeed", 1},
    PortInfo{"measuredCurrent", 1},
    PortInfo{"shaftTorque", 1},
};
constexpr std::array kMotorArguments = {
    ArgumentInfo{"sensorSelect", 1},
    ArgumentInfo{"currentResolution", 1},
    ArgumentInfo{"angleResolution", 1},
    ArgumentInfo{"inertia", 1},
    ArgumentInfo{"inductance", 1},
    ArgumentInfo{"resistance", 1},
    ArgumentInfo{"coulombFriction", 1},
    ArgumentInfo{"viscousFriction", 1},
    ArgumentInfo{"motorConstant", 1},
    ArgumentInfo{"speedFilterTau", 1},
    ArgumentInfo{"angleErrorTable", 120},
    ArgumentInfo{"gearLoadTurns", 1},
    ArgumentInfo{"gearEfficiency", 1},
    ArgumentInfo{"gearMotorTurns", 1},
    ArgumentInfo{"encoderErrorAmplitude", 1},
    ArgumentInfo{"sensorErrorsOn", 1},
};
constexpr std::array<std::string_view, 3> kMotorStates = {"thetaM", "iArm", "omegaM"};
constexpr std::array kMotorRtb = {
    FieldInfo{"enc2Angle", false},
    FieldInfo{"enc3Angle", false},
    FieldInfo{"omegaMSignal", false},
    FieldInfo{"iArmDot", false},
    FieldInfo{"omegaMDot", false},
    FieldInfo{"enc3SpeedFiltDot", false},
    FieldInfo{"obsError", false},
    FieldInfo{"obsSpeed", false},
    FieldInfo{"obsSpeedFiltDot", false},
    FieldInfo{"enc2SpeedFiltDot", false},
};
constexpr std::array kMotorRtdw = {
    FieldInfo{"obsAngle", false},
    FieldInfo{"obsSpeedFilt", false},
    FieldInfo{"enc2SpeedFilt", false},
    FieldInfo{"enc3SpeedFilt", false},
    FieldInfo{"enc3PrevAngle", false},
    FieldInfo{"obsSpeedInt", false},
    FieldInfo{"enc2PrevAngle", false},
    FieldInfo{"enc2AngleHold", false},
    FieldInfo{"enc3AngleHold", false},
    FieldInfo{"sens1AngleHold", false},
    FieldInfo{"iHold", false},
};

// ---------------------------------------------------------------------------------------------
// Current controllers

constexpr std::array kCurrentInputs = {
    PortInfo{"currentReference", 1},
    PortInfo{"currentMeasured", 1},
};
constexpr std::array kControllerOutput = {
    PortInfo{"controllerOutput", 1},
};
constexpr std::array kCurrentArguments = {
    ArgumentInfo{"proportionalGain", 1},
    ArgumentInfo{"integralTime", 1},
    ArgumentInfo{"referenceLimitBase", 1},
    ArgumentInfo{"outputLimitBase", 1},
};
constexpr std::array kCurrentRtb = {
    FieldInfo{"measuredCopy", false},
    FieldInfo{"integratorInput", false},
    FieldInfo{"referenceUpperLimit", false},
    FieldInfo{"referenceLowerLimit", false},
    FieldInfo{"outputLimit", false},
};
constexpr std::array kCurrentRtdw = {
    FieldInfo{"integratorState", false},
};

constexpr std::array kCurrentDqInputs = {
    PortInfo{"qCurrentReference", 1},
    PortInfo{"speedInput", 1},
    PortInfo{"phaseCurrents", 3},
    PortInfo{"electricalAngle", 1},
};
constexpr std::array kPhaseOutputs = {
    PortInfo{"phaseOutputs", 3},
};
constexpr std::array kCurrentDqArguments = {
    ArgumentInfo{"proportionalGain", 1},
    ArgumentInfo{"couplingFactorA", 1},
    ArgumentInfo{"couplingFactorB", 1},
    ArgumentInfo{"integralTime", 1},
    ArgumentInfo{"couplingDivisor", 1},
    ArgumentInfo{"couplingFactorC", 1},
    ArgumentInfo{"referenceLimitBase", 1},
    ArgumentInfo{"phaseLimit", 1},
};
constexpr std::array kCurrentDqRtb = {
    FieldInfo{"integratorInputQ", false},
    FieldInfo{"integratorInputD", false},
    FieldInfo{"referenceUpperLimit", false},
    FieldInfo{"referenceLowerLimit", false},
    FieldInfo{"couplingFactorScaled", false},
    FieldInfo{"outputLimitQ", false},
    FieldInfo{"outputLimitD", false},
};
constexpr std::array kCurrentDqRtdw = {
    FieldInfo{"integratorStateQ", false},
    FieldInfo{"integratorStateD", false},
};

// ---------------------------------------------------------------------------------------------
// Velocity and position controllers share their records; so do their dq variants.

constexpr std::array kCascadeRtb = {
    FieldInfo{"measuredCopy", false},
    FieldInfo{"currentIntegratorInput", false},
    FieldInfo{"speedIntegratorInput", false},
    FieldInfo{"speedUpperLimit", false},
    FieldInfo{"speedLowerLimit", false},
    FieldInfo{"outputLimit", false},
    FieldInfo{"saturatedHigh", true},
    FieldInfo{"saturatedLow", true},
};
constexpr std::array kCascadeRtdw = {
    FieldInfo{"speedIntegratorState", false},
    FieldInfo{"currentIntegratorState", false},
    FieldInfo{"saturatedHighPrev", true},
    FieldInfo{"saturatedLowPrev", true},
};
constexpr std::array kCascadeDqRtb = {
    FieldInfo{"integratorInputQ", false},
    FieldInfo{"integratorInputD", false},
    FieldInfo{"speedIntegratorInput", false},
    FieldInfo{"speedUpperLimit", false},
    FieldInfo{"speedLowerLimit", false},
    FieldInfo{"couplingFactorScaled", false},
    FieldInfo{"outputLimitQ", false},
    FieldInfo{"outputLimitD", false},
    FieldInfo{"saturatedHigh", true},
    FieldInfo{"saturatedLow", true},
};
constexpr std::array kCascadeDqRtdw = {
    FieldInfo{"speedIntegratorState", false},
    FieldInfo{"integratorStateQ", false},
    FieldInfo{"integratorStateD", false},
    FieldInfo{"saturatedHighPrev", true},
    FieldInfo{"saturatedLowPrev", true},
};

constexpr std::array kVelocityInputs = {
    PortInfo{"speedReference", 1},
    PortInfo{"currentFeedForward", 1},
    PortInfo{"speedMeasured", 1},
    PortInfo{"currentMeasured", 1},
};
constexpr std::array kVelocityArguments = {
    ArgumentInfo{"speedGain", 1},
    ArgumentInfo{"currentGain", 1},
    ArgumentInfo{"speedIntegralTime", 1},
    ArgumentInfo{"currentIntegralTime", 1},
    ArgumentInfo{"speedScaleDenominator", 1},
    ArgumentInfo{"speedScaleNumerator", 1},
    ArgumentInfo{"currentLimitBase", 1},
    ArgumentInfo{"outputLimitBase", 1},
};

constexpr std::array kVelocityDqInputs = {
    PortInfo{"speedReference", 1},
    PortInfo{"currentFeedForward", 1},
    PortInfo{"speedMeasured", 1},
    PortInfo{"phaseCurrents", 3},
    PortInfo{"electricalAngle", 1},
};
constexpr std::array kVelocityDqArguments = {
    ArgumentInfo{"speedGain", 1},
    ArgumentInfo{"currentGain", 1},
    ArgumentInfo{"couplingFactorA", 1},
    ArgumentInfo{"couplingFactorB", 1},
    ArgumentInfo{"speedIntegralTime", 1},
    ArgumentInfo{"currentIntegralTime", 1},
    ArgumentInfo{"speedScaleDenominator", 1},
    ArgumentInfo{"speedScaleNumerator", 1},
    ArgumentInfo{"currentLimitBase", 1},
    ArgumentInfo{"outputLimitBase", 1},
};

constexpr std::array kPositionInputs = {
    PortInfo{"positionReference", 1},
    PortInfo{"speedFeedForward", 1},
    PortInfo{"currentFeedForward", 1},
    PortInfo{"positionMeasured", 1},
    PortInfo{"speedMeasured", 1},
    PortInfo{"currentMeasured", 1},
};
constexpr std::array kPositionArguments = {
    ArgumentInfo{"speedGain", 1},
    ArgumentInfo{"currentGain", 1},
    ArgumentInfo{"positionGain", 1},
    ArgumentInfo{"speedIntegralTime", 1},
    ArgumentInfo{"currentIntegralTime", 1},
    ArgumentInfo{"speedScaleDenominator", 1},
    ArgumentInfo{"speedScaleNumerator", 1},
    ArgumentInfo{"currentLimitBase", 1},
    ArgumentInfo{"outputLimitBase", 1},
};

constexpr std::array kPositionDqInputs = {
    PortInfo{"positionReference", 1},
    PortInfo{"speedFeedForward", 1},
    PortInfo{"currentFeedForward", 1},
    PortInfo{"positionMeasured", 1},
    PortInfo{"speedMeasured", 1},
    PortInfo{"phaseCurrents", 3},
    PortInfo{"electricalAngle", 1},
};
constexpr std::array kPositionDqArguments = {
    ArgumentInfo{"speedGain", 1},
    ArgumentInfo{"currentGain", 1},
    ArgumentInfo{"positionGain", 1},
    ArgumentInfo{"couplingFactorA", 1},
    ArgumentInfo{"couplingFactorB", 1},
    ArgumentInfo{"speedIntegralTime", 1},
    ArgumentInfo{"currentIntegralTime", 1},
    ArgumentInfo{"speedScaleDenominator", 1},
    ArgumentInfo{"speedScaleNumerator", 1},
    ArgumentInfo{"currentLimitBase", 1},
    ArgumentInfo{"outputLimitBase", 1},
};

const std::array kCatalog = {
    BlockInfo{
        .modelName = "Qel_Lib_motor_dq_sub",
        .description = "permanent-magnet synchronous motor in the dq frame with gear, load and measurement chain",
        .inputs = kMotorDqInputs, .outputs = kMotorDqOutputs, .arguments = kMotorDqArguments,
        .stateNames = kMotorDqStates, .rtbFields = kMotorDqRtb, .rtdwFields = kMotorDqRtdw,
    },
    BlockInfo{
        .modelName = "Qel_Lib_motor_sub",
        .description = "single-winding motor with gear, load and measurement chain",
        .inputs = kMotorInputs, .outputs = kMotorOutputs, .arguments = kMotorArguments,
        .stateNames = kMotorStates, .rtbFields = kMotorRtb, .rtdwFields = kMotorRtdw,
    },
    BlockInfo{
        .modelName = "Qel_Lib_wexa_current_controller_sub",
        .description = "discrete PI current controller with clamping anti-windup",
        .inputs = kCurrentInputs, .outputs = kControllerOutput, .arguments = kCurrentArguments,
        .stateNames = {}, .rtbFields = kCurrentRtb, .rtdwFields = kCurrentRtdw,
    },
    BlockInfo{
        .modelName = "Qel_Lib_wexa_current_controller_dq_sub",
        .description = "dq current controller: q and d PI loops, decoupling, three centred phase outputs",
        .inputs = kCurrentDqInputs, .outputs = kPhaseOutputs, .arguments = kCurrentDqArguments,
        .stateNames = {}, .rtbFields = kCurrentDqRtb, .rtdwFields = kCurrentDqRtdw,
    },
    BlockInfo{
        .modelName = "Qel_Lib_wexa_velocity_controller_sub",
        .description = "speed PI loop over a current PI loop, one output",
        .inputs = kVelocityInputs, .outputs = kControllerOutput, .arguments = kVelocityArguments,
        .stateNames = {}, .rtbFields = kCascadeRtb, .rtdwFields = kCascadeRtdw,
    },
    BlockInfo{
        .modelName = "Qel_Lib_wexa_velocity_controller_dq_sub",
        .description = "speed PI loop over dq current loops, three phase outputs",
        .inputs = kVelocityDqInputs, .outputs = kPhaseOutputs, .arguments = kVelocityDqArguments,
        .stateNames = {}, .rtbFields = kCascadeDqRtb, .rtdwFields = kCascadeDqRtdw,
    },
    BlockInfo{
        .modelName = "Qel_Lib_wexa_position_controller_sub",
        .description = "position term over the speed and current PI loops, one output",
        .inputs = kPositionInputs, .outputs = kControllerOutput, .arguments = kPositionArguments,
        .stateNames = {}, .rtbFields = kCascadeRtb, .rtdwFields = kCascadeRtdw,
    },
    BlockInfo{
        .modelName = "Qel_Lib_wexa_position_controller_dq_sub",
        .description = "position term over the speed loop and dq current loops, three phase outputs",
        .inputs = kPositionDqInputs, .outputs = kPhaseOutputs, .arguments = kPositionDqArguments,
        .stateNames = {}, .rtbFields = kCascadeDqRtb, .rtdwFields = kCascadeDqRtdw,
    },
};

std::size_t fieldBytes(const FieldInfo& field) { return field.isBoolean ? 1 : sizeof(double); }

}  // namespace

std::span<const BlockInfo> blockCatalog() { return kCatalog; }

const BlockInfo* findBlock(std::string_view modelOrPluginName) {
    std::string_view name = modelOrPluginName;
    if (name.ends_with(kPluginSuffix)) {
        name.remove_suffix(kPluginSuffix.size());
    }
    for (const BlockInfo& block : kCatalog) {
        if (block.modelName == name) {
            return &block;
        }
    }
    return nullptr;
}

std::string pluginName(const BlockInfo& block) {
    return std::string(block.modelName) + std::string(kPluginSuffix);
}

std::size_t fieldOffset(std::span<const FieldInfo> fields, std::size_t index) {
    std::size_t offset = 0;
    for (std::size_t i = 0; i < index; ++i) {
        offset += fieldBytes(fields[i]);
    }
    const std::size_t alignment = fieldBytes(fields[index]);
    return (offset + alignment - 1) / alignment * alignment;
}

std::size_t recordBytes(std::span<const FieldInfo> fields) {
    if (fields.empty()) {
        return 0;
    }
    const std::size_t end = fieldOffset(fields, fields.size() - 1) + fieldBytes(fields.back());
    return (end + sizeof(double) - 1) / sizeof(double) * sizeof(double);
}

int totalWidth(std::span<const PortInfo> ports) {
    int total = 0;
    for (const PortInfo& port : ports) {
        total += port.width;
    }
    return total;
}

int totalWidth(std::span<const ArgumentInfo> arguments) {
    int total = 0;
    for (const ArgumentInfo& argument : arguments) {
        total += argument.width;
    }
    return total;
}

std::filesystem::path defaultPluginDir(const char* argv0) {
    namespace fs = std::filesystem;
    // The running executable is what locates the build tree; argv[0] may be a bare name found
    // through PATH, so it is only the fallback.
    std::error_code error;
    fs::path exe = fs::read_symlink("/proc/self/exe", error);
    if (error || exe.empty()) {
        exe = fs::absolute(fs::path(argv0 != nullptr ? argv0 : ""), error);
    }
    return (exe.parent_path() / ".." / "plugins").lexically_normal();
}

std::filesystem::path pluginPath(const std::filesystem::path& dir, const BlockInfo& block) {
    return dir / (pluginName(block) + std::string(kPluginExtension));
}

}  // namespace qelsim
