// One block of the catalogue, loaded from its plug-in into the stand-in host and registered as a
// child of a top model whose tasks cover every block rate. The tools read everything about the
// block from here: what the plug-in registered, and its records through the simulation state.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/common/block_catalog.h"
#include "host/loader.h"

namespace qelsim {

// The records of a block as its simulation state carries them.
struct RecordSnapshot {
    std::vector<std::uint8_t> localX;                // continuous states' bytes (plants)
    std::vector<std::uint8_t> rtb;                   // the whole rtb record
    std::vector<std::vector<std::uint8_t>> rtdw;     // one byte row per rtdw member
    double tNext = 0.0;
    double tNextTid = 0.0;
};

class BlockSession {
public:
    // Opens the plug-in of `block` in `pluginDir` and registers the block; throws ToolError naming
    // the file when it is missing or cannot be registered, and when what the plug-in registers
    // disagrees with the catalogue (port counts and widths, continuous states).
    BlockSession(const BlockInfo& block, const std::filesystem::path& pluginDir);
    ~BlockSession();
    BlockSession(const BlockSession&) = delete;
    BlockSession& operator=(const BlockSession&) = delete;

    const BlockInfo& info() const { return info_; }
    qelhost::Block& block() { return *block_; }
    qelhost::TopModel& model() { return model_; }

    // Hands every argument's values to the host, in catalogue order (`values` holds them flat).
    void setArguments(const std::vector<double>& values);

    // Takes the simulation state through the plug-in's entry and unpacks it; throws ToolError
    // when the call fails or the state's layout differs from the catalogue's records.
    RecordSnapshot snapshot();

    // A failed run-time call as a ToolError naming the call and the plug-in's error status.
    [[noreturn]] void failCall(const std::string& call);

private:
    void checkRegistration();

    const BlockInfo& info_;
    std::filesystem::path file_;
    qelhost::TopModel model_;
    std::unique_ptr<qelhost::Block> block_;
};

// Reads a double or a boolean field of a record by its catalogue position.
double readDoubleField(const std::vector<std::uint8_t>& record, std::size_t offset);

}  // namespace qelsim
