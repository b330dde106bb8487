// The stand-in host's block structures: a SimStruct together with the memory the host owns for
// it (model info, sample-time and task tables, sample-hit flags) and the host's own bookkeeping
// (child-to-top task mapping, the record of plugin events).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "frame/host_interface.h"

namespace qelhost {

struct PluginEvent {
    const SimStruct* block;
    std::string modelName;
    std::string eventName;
};

// Every plugin event of the process, in order.
std::vector<PluginEvent>& pluginEvents();

class BlockStructure {
public:
    // A top model's structure when `parent` is null; otherwise a child block whose root is the
    // parent's root.
    explicit BlockStructure(std::string modelName, BlockStructure* parent = nullptr);
    ~BlockStructure();
    BlockStructure(const BlockStructure&) = delete;
    BlockStructure& operator=(const BlockStructure&) = delete;

    SimStruct* get() { return &block_; }
    const SimStruct* get() const { return &block_; }

    // Sample times with the task index of each; sets the sizes record's count.
    void setSampleTimes(const std::vector<double>& periods, const std::vector<int>& taskIds);
    // Number of tasks of a top model; every sample-hit flag starts cleared.
    void setNumTasks(int numTasks);
    void setMajorTimeStep(bool major) { info_.majorTimeStep = major ? 1 : 0; }
    void setSampleHit(int task, bool hit) { hits_.at(static_cast<size_t>(task)) = hit ? 1 : 0; }
    // What slmrGetTopTidFromMdlRefChildTid answers: top task id of each child rate, and the one
    // asked for with the constant-rate flag.
    void setChildToTopTids(const std::vector<int>& topTids, int constantTopTid);
    int topTidOf(int childTid, bool constantRate) const;

private:
    std::string modelName_;
    SimStruct block_ = {};
    ModelInfo info_ = {};
    std::vector<double> periods_;
    std::vector<double> offsets_;
    std::vector<int> taskIds_;
    std::vector<int> hits_;
    std::vector<char> errorBuffer_;
    std::vector<int> childToTop_;
    int constantTopTid_ = -1;
};

}  // namespace qelhost
