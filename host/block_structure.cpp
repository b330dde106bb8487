#include "host/block_structure.h"

#include <stdexcept>

namespace qelhost {

std::vector<PluginEvent>& pluginEvents() {
    static std::vector<PluginEvent> events;
    return events;
}

BlockStructure::BlockStructure(std::string modelName, BlockStructure* parent)
    : modelName_(std::move(modelName)), errorBuffer_(kErrorBufferBytes, 0) {
    block_.modelName = modelName_.c_str();
    block_.path = modelName_.c_str();
    block_.parent = parent != nullptr ? parent->get() : nullptr;
    block_.root = parent != nullptr ? parent->get()->root : &block_;
    info_.errorBuffer = errorBuffer_.data();
    block_.mdlInfo = &info_;
    block_.hostPrivate = this;
}

BlockStructure::~BlockStructure() = default;

void BlockStructure::setSampleTimes(const std::vector<double>& periods, const std::vector<int>& taskIds) {
    if (periods.size() != taskIds.size()) throw std::invalid_argument("sample times and task ids differ in count");
    periods_ = periods;
    offsets_.assign(periods.size(), 0.0);
    taskIds_ = taskIds;
    block_.sampleTimes = periods_.data();
    block_.offsetTimes = offsets_.data();
    block_.sampleTimeTaskIds = taskIds_.data();
    block_.sizes[kSizeNumSampleTimes] = static_cast<int32_t>(periods.size());
}

void BlockStructure::setNumTasks(int numTasks) {
    hits_.assign(static_cast<size_t>(numTasks), 0);
    info_.sampleHits = hits_.data();
    info_.numTasks = numTasks;
}

void BlockStructure::setChildToTopTids(const std::vector<int>& topTids, int constantTopTid) {
    childToTop_ = topTids;
    constantTopTid_ = constantTopTid;
}

int BlockStructure::topTidOf(int childTid, bool constantRate) const {
    if (constantRate) return constantTopTid_;
    if (childTid < 0 || static_cast<size_t>(childTid) >= childToTop_.size()) return -1;
    return childToTop_[static_cast<size_t>(childTid)];
}

}  // namespace qelhost
