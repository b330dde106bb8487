#include "app/tools/block_session.h"

#include <cstring>

#include "app/tools/trace_csv.h"

namespace qelsim {
namespace {

std::vector<std::uint8_t> bytesOfField(const mxArray* structArray, std::string_view name, const std::string& where) {
    const int field = qelhost::fieldNumber(structArray, name);
    if (field < 0) {
        throw ToolError(where + ": the simulation state has no field \"" + std::string(name) + "\"");
    }
    const std::span<const std::uint8_t> bytes = qelhost::bytesOf(mxGetFieldByNumber_800(structArray, 0, field));
    return {bytes.begin(), bytes.end()};
}

const mxArray* structField(const mxArray* structArray, std::string_view name, const std::string& where) {
    const int field = qelhost::fieldNumber(structArray, name);
    const mxArray* value = field < 0 ? nullptr : mxGetFieldByNumber_800(structArray, 0, field);
    if (!qelhost::isStruct(value)) {
        throw ToolError(where + ": the simulation state's field \"" + std::string(name) + "\" is not a struct");
    }
    return value;
}

}  // namespace

BlockSession::BlockSession(const BlockInfo& block, const std::filesystem::path& pluginDir)
    : info_(block), file_(pluginPath(pluginDir, block)) {
    if (!std::filesystem::exists(file_)) {
        throw ToolError("plug-in " + file_.string() + " not found (choose the folder with --plugin-dir)");
    }
    try {
        block_ = std::make_unique<qelhost::Block>(model_, qelhost::Plugin::open(file_));
        block_->registerBlock();
    } catch (const qelhost::LoadError& error) {
        throw ToolError(error.what());
    } catch (const qelhost::MatlabError& error) {
        throw ToolError(file_.string() + ": registration raised " + error.what());
    }
    checkRegistration();
}

BlockSession::~BlockSession() = default;

void BlockSession::checkRegistration() {
    const std::string where = file_.string();
    auto disagree = [&](const std::string& what, int plugin, std::size_t catalogue) {
        throw ToolError(where + ": " + what + ": the plug-in registers " + std::to_string(plugin) +
                        ", the catalogue of " + std::string(info_.modelName) + " has " + std::to_string(catalogue));
    };
    if (block_->numInputs() != static_cast<int>(info_.inputs.size())) {
        disagree("input ports", block_->numInputs(), info_.inputs.size());
    }
    for (std::size_t p = 0; p < info_.inputs.size(); ++p) {
        if (block_->inputWidth(static_cast<int>(p)) != info_.inputs[p].width) {
            disagree("width of input " + std::string(info_.inputs[p].name), block_->inputWidth(static_cast<int>(p)),
                     static_cast<std::size_t>(info_.inputs[p].width));
        }
    }
    if (block_->numOutputs() != static_cast<int>(info_.outputs.size())) {
        disagree("output ports", block_->numOutputs(), info_.outputs.size());
    }
    for (std::size_t p = 0; p < info_.outputs.size(); ++p) {
        if (block_->outputWidth(static_cast<int>(p)) != info_.outputs[p].width) {
            disagree("width of output " + std::string(info_.outputs[p].name), block_->outputWidth(static_cast<int>(p)),
                     static_cast<std::size_t>(info_.outputs[p].width));
        }
    }
    if (block_->numContStates() != static_cast<int>(info_.stateNames.size())) {
        disagree("continuous states", block_->numContStates(), info_.stateNames.size());
    }
}

void BlockSession::setArguments(const std::vector<double>& values) {
    std::size_t next = 0;
    for (std::size_t k = 0; k < info_.arguments.size(); ++k) {
        const auto width = static_cast<std::size_t>(info_.arguments[k].width);
        block_->setArgument(static_cast<int>(k), std::span<const double>(values.data() + next, width));
        next += width;
    }
}

RecordSnapshot BlockSession::snapshot() {
    const std::string where = file_.string();
    const qelhost::UniqueArray state = block_->getSimState();
    if (state == nullptr) {
        failCall("get simulation state");
    }
    RecordSnapshot snapshot;
    snapshot.localX = bytesOfField(state.get(), "localX", where);
    const mxArray* dwork = structField(state.get(), "mdlrefDW", where);
    snapshot.rtb = bytesOfField(dwork, "rtb", where);
    const mxArray* rtdw = structField(dwork, "rtdw", where);
    const int members = mxGetNumberOfFields_800(rtdw);
    if (members != static_cast<int>(info_.rtdwFields.size())) {
        throw ToolError(where + ": the simulation state has " + std::to_string(members) +
                        " rtdw members, the catalogue " + std::to_string(info_.rtdwFields.size()));
    }
    for (int m = 0; m < members; ++m) {
        const std::span<const std::uint8_t> bytes = qelhost::bytesOf(mxGetFieldByNumber_800(rtdw, 0, m));
        const FieldInfo& field = info_.rtdwFields[static_cast<std::size_t>(m)];
        const std::size_t expected = field.isBoolean ? 1 : sizeof(double);
        if (bytes.size() != expected) {
            throw ToolError(where + ": rtdw member " + std::to_string(m) + " (" + std::string(field.name) + ") holds " +
                            std::to_string(bytes.size()) + " bytes in the simulation state, expected " +
                            std::to_string(expected));
        }
        snapshot.rtdw.emplace_back(bytes.begin(), bytes.end());
    }
    if (snapshot.rtb.size() != recordBytes(info_.rtbFields)) {
        throw ToolError(where + ": the simulation state's rtb holds " + std::to_string(snapshot.rtb.size()) +
                        " bytes, the catalogue's record " + std::to_string(recordBytes(info_.rtbFields)));
    }
    if (snapshot.localX.size() != info_.stateNames.size() * sizeof(double)) {
        throw ToolError(where + ": the simulation state's localX holds " + std::to_string(snapshot.localX.size()) +
                        " bytes for " + std::to_string(info_.stateNames.size()) + " continuous states");
    }
    const int tNext = qelhost::fieldNumber(state.get(), "tNext");
    const int tNextTid = qelhost::fieldNumber(state.get(), "tNextTid");
    if (tNext >= 0) snapshot.tNext = mxGetScalar_800(mxGetFieldByNumber_800(state.get(), 0, tNext));
    if (tNextTid >= 0) snapshot.tNextTid = mxGetScalar_800(mxGetFieldByNumber_800(state.get(), 0, tNextTid));
    return snapshot;
}

void BlockSession::failCall(const std::string& call) {
    throw ToolError(file_.string() + ": " + call + " failed: " + block_->lastError());
}

double readDoubleField(const std::vector<std::uint8_t>& record, std::size_t offset) {
    double value;
    std::memcpy(&value, record.data() + offset, sizeof value);
    return value;
}

}  // namespace qelsim
