// What the eight blocks declare, written down independently of the block tables, and helpers to
// open and register their plug-ins through the stand-in host's loader.
#pragma once

#include <bit>
#include <cmath>
#include <array>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/loader.h"

namespace qeltest {

inline constexpr double kInf = std::numeric_limits<double>::infinity();

struct BlockFacts {
    const char* model;
    int numContStates;
    std::vector<int> inputWidths;
    std::vector<int> outputWidths;
    std::vector<double> outputSampleTimes;   // inputs: 0 for the plants, 1e-4 for the controllers
    std::vector<double> sampleTimes;
    int numArguments;                        // as the output method fetches them
    int mdlrefDWBytes;
    int rtbBytes;
    std::vector<int> rtdwMemberBytes;
    std::array<uint32_t, 4> simStateChecksum;
    std::array<uint32_t, 4> mapChecksum;
    bool isPlant;
    bool reusableOutputs;                    // output optimisation 3 and setting 3 (else 0 and 2)
    int tableArgument = -1;                  // the plants' 120-value angle error table
};

inline constexpr int kAngleErrorTableSize = 120;

inline const std::vector<BlockFacts>& allBlocks() {
    static const std::vector<BlockFacts> blocks = {
        {"Qel_Lib_motor_dq_sub", 4, {3, 1}, {1, 1, 3, 1, 1}, {1e-4, 1e-4, 1e-4, 0, 0}, {0, 1e-5, 1e-4, kInf}, 17, 664,
         88, std::vector<int>(13, 8), {0x5A84F6D9, 0x76F993F3, 0x895AAAB1, 0x5EBD401E},
         {0x0CF495C6, 0x254FAB05, 0x5D3F13D4, 0x805C8460}, true, true, 11},
        {"Qel_Lib_motor_sub", 3, {1, 1}, {1, 1, 1, 1}, {1e-4, 1e-4, 1e-4, 0}, {0, 1e-5, 1e-4, kInf}, 16, 616, 80,
         std::vector<int>(11, 8), {0x0DA959C2, 0x9B40EE38, 0x212A5311, 0xA15B28CC},
         {0x84C9AD91, 0x63E2CF06, 0x2D60976A, 0x9F550979}, true, true, 10},
        {"Qel_Lib_wexa_position_controller_dq_sub", 0, {1, 1, 1, 1, 1, 3, 1}, {3}, {1e-4}, {1e-4, kInf}, 11, 592, 72,
         {8, 8, 8, 1, 1}, {0xBA529FD2, 0xCD58D085, 0x20BEFA58, 0x5EE3BB1C},
         {0x345D48DB, 0xDABD3AA0, 0x74C562DB, 0x96623882}, false, true},
        {"Qel_Lib_wexa_velocity_controller_dq_sub", 0, {1, 1, 1, 3, 1}, {3}, {1e-4}, {1e-5, 1e-4, kInf}, 10, 608, 72,
         {8, 8, 8, 1, 1}, {0xD0143005, 0x4FEE621B, 0x73C5AF38, 0xF976D4AE},
         {0x2B10C70A, 0xF2CAB392, 0xA52ABB68, 0xD90A6415}, false, true},
        {"Qel_Lib_wexa_position_controller_sub", 0, {1, 1, 1, 1, 1, 1}, {1}, {1e-4}, {1e-5, 1e-4, kInf}, 9, 488, 56,
         {8, 8, 1, 1}, {0xF4413D59, 0xD682B4F5, 0x0CBD5165, 0xE55FA04B},
         {0xF36D3F7D, 0x655C4531, 0x54503132, 0xB86578A4}, false, false},
        {"Qel_Lib_wexa_velocity_controller_sub", 0, {1, 1, 1, 1}, {1}, {1e-4}, {1e-5, 1e-4, kInf}, 8, 488, 56,
         {8, 8, 1, 1}, {0x3F1150CD, 0xC00C3CF3, 0x30EF58F7, 0x55F09550},
         {0x54E4DD6F, 0xDD6B01A0, 0xAD86A2DA, 0x5305ACEE}, false, false},
        {"Qel_Lib_wexa_current_controller_dq_sub", 0, {1, 1, 3, 1}, {3}, {1e-4}, {1e-4, kInf}, 8, 432, 56, {8, 8},
         {0x4D347666, 0x6CF5105B, 0x0849CCD2, 0x5163C6FC}, {0xD8030978, 0xA7AECE6F, 0xD74BD263, 0x9C409DC2}, false,
         true},
        {"Qel_Lib_wexa_current_controller_sub", 0, {1, 1}, {1}, {1e-4}, {1e-5, 1e-4, kInf}, 4, 328, 40, {8},
         {0xECCD6036, 0x15F03AB7, 0xC02F073C, 0x5E0453D8}, {0x13EE8852, 0x6D795BF2, 0xBDC6662A, 0xB5D4D27B}, false,
         false},
    };
    return blocks;
}

inline const BlockFacts& factsOf(const std::string& model) {
    for (const BlockFacts& facts : allBlocks())
        if (model == facts.model) return facts;
    throw std::invalid_argument("no such block: " + model);
}

inline std::filesystem::path pluginFile(const std::string& model) {
    return std::filesystem::path(QEL_PLUGIN_DIR) / (model + "_msp.mexa64");
}

// Each plug-in is opened once per test process and stays loaded.
inline std::shared_ptr<qelhost::Plugin> plugin(const std::string& model) {
    static std::map<std::string, std::shared_ptr<qelhost::Plugin>> opened;
    std::shared_ptr<qelhost::Plugin>& slot = opened[model];
    if (slot == nullptr) slot = qelhost::Plugin::open(pluginFile(model));
    return slot;
}

inline qelhost::BlockOptions withHost(qelhost::HostOptions host) {
    qelhost::BlockOptions options;
    options.host = std::move(host);
    return options;
}

// One block of `model` under its own top model (tasks 0 continuous, 1 = 1e-5 s, 2 = 1e-4 s).
struct BlockUnderTest {
    explicit BlockUnderTest(const std::string& model, qelhost::BlockOptions options = {})
        : facts(factsOf(model)), block(top, plugin(model), std::move(options)) {}

    // Gives every argument the block fetches the value `value` (the angle error table 120 times).
    void setArguments(double value) {
        for (int k = 0; k < facts.numArguments; ++k) {
            if (k == facts.tableArgument)
                block.setArgument(k, std::vector<double>(kAngleErrorTableSize, value));
            else
                block.setArgument(k, value);
        }
    }

    // Registration, arguments of 1.0, run-time resources: ready for output and update calls.
    void start() {
        block.registerBlock();
        setArguments(1.0);
        if (!block.setupRuntimeResources()) throw std::runtime_error("setup failed: " + block.lastError());
    }

    const BlockFacts& facts;
    qelhost::TopModel top;
    qelhost::Block block;
};

inline uint64_t bitsOf(double value) { return std::bit_cast<uint64_t>(value); }

}  // namespace qeltest
