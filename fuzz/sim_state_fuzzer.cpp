// Feeds arbitrary structs to a block's set-simulation-state method: wholly made-up ones, and
// valid states with parts replaced. The method must never crash or read past what it is given,
// and a state it refuses must leave every state of the block exactly as it was.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "host/loader.h"

namespace {

const char* const kModels[] = {"Qel_Lib_wexa_velocity_controller_dq_sub", "Qel_Lib_motor_sub"};

// One started block per model, kept for the whole run.
struct StartedBlock {
    explicit StartedBlock(const char* model)
        : block(top, qelhost::Plugin::open(std::string(QEL_PLUGIN_DIR) + "/" + model + "_msp.mexa64")) {
        block.registerBlock();
        for (int k = 0; k < 17; ++k) block.setArgument(k, std::vector<double>(120, 1.0));
        block.setupRuntimeResources();
    }

    // Everything a state restores, as bytes.
    std::vector<uint8_t> stateBytes() {
        std::vector<uint8_t> bytes(block.workRecord().size() + block.contStates().size_bytes() + sizeof(double) +
                                   sizeof(int));
        uint8_t* out = bytes.data();
        std::memcpy(out, block.workRecord().data(), block.workRecord().size());
        out += block.workRecord().size();
        if (!block.contStates().empty()) std::memcpy(out, block.contStates().data(), block.contStates().size_bytes());
        out += block.contStates().size_bytes();
        std::memcpy(out, &block.simStruct()->tNext, sizeof(double));
        std::memcpy(out + sizeof(double), &block.simStruct()->tNextTid, sizeof(int));
        return bytes;
    }

    qelhost::TopModel top;
    qelhost::Block block;
};

StartedBlock& blockOf(size_t index) {
    static std::unique_ptr<StartedBlock> blocks[2];
    if (blocks[index] == nullptr) blocks[index] = std::make_unique<StartedBlock>(kModels[index]);
    return *blocks[index];
}

// Replaces one part of a valid state: a top-level field, a field of "mdlrefDW" or an rtdw member.
void mutate(qelfuzz::FuzzInput& input, mxArray* state) {
    mxArray* target = state;
    for (int level = static_cast<int>(input.below(3)); level > 0; --level) {
        const int numFields = mxGetNumberOfFields_800(target);
        if (numFields == 0) break;
        mxArray* inner = mxGetFieldByNumber_800(target, 0, static_cast<int>(input.below(static_cast<size_t>(numFields))));
        if (mxGetClassID_800(inner) != mxSTRUCT_CLASS || mxGetM_800(inner) * mxGetN_800(inner) == 0) break;
        target = inner;
    }
    const int numFields = mxGetNumberOfFields_800(target);
    if (numFields == 0) return;
    mxSetFieldByNumber_800(target, 0, static_cast<int>(input.below(static_cast<size_t>(numFields))),
                           qelfuzz::makeArray(input, 2));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qelfuzz::FuzzInput input(data, size);
    StartedBlock& started = blockOf(input.below(2));
    qelhost::pluginEvents().clear();
    qelhost::ArrayScope scope;

    qelhost::UniqueArray valid;
    mxArray* state = nullptr;
    if (input.below(4) == 0) {
        state = qelfuzz::makeArray(input, 3);
    } else {
        valid = started.block.getSimState();
        state = valid.get();
        for (size_t n = 1 + input.below(3); n > 0; --n) mutate(input, state);
    }

    // Vary what the block holds, so that a partial restore would show.
    for (size_t i = 0; i < 96 && i < started.block.workRecord().size(); ++i) started.block.workRecord()[i] = std::byte{input.byte()};
    const std::vector<uint8_t> before = started.stateBytes();
    if (!started.block.setSimState(state) && started.stateBytes() != before) {
        std::fprintf(stderr, "refused state changed the block: %s\n", started.block.lastError().c_str());
        std::abort();
    }
    return 0;
}
