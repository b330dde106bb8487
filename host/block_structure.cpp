#include "host/block_structure.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace qelhost {

namespace {

int dispatchThunk(SimStruct* block, int code, int intArg, void* ptrArg) {
    BlockStructure* owner = BlockStructure::ownerOf(block);
    if (code == kHostCodeArgument) return owner->fetchArgument(intArg, ptrArg);
    return owner->dispatch(code, intArg, ptrArg);
}
int inputCountThunk(SimStruct* block, int count) { return BlockStructure::ownerOf(block)->registerPortCount(true, count); }
int outputCountThunk(SimStruct* block, int count) { return BlockStructure::ownerOf(block)->registerPortCount(false, count); }
int inputDimsThunk(SimStruct* block, int port, const DimensionsInfo* dims) {
    return BlockStructure::ownerOf(block)->registerPortDimensions(true, port, dims);
}
int outputDimsThunk(SimStruct* block, int port, const DimensionsInfo* dims) {
    return BlockStructure::ownerOf(block)->registerPortDimensions(false, port, dims);
}
int dworkThunk(SimStruct* block, int count) { return BlockStructure::ownerOf(block)->registerNumDWork(count); }
int typeSizeThunk(SimStruct* block, int typeId, int bytes) {
    return BlockStructure::ownerOf(block)->registerDataTypeSize(typeId, bytes);
}

// The host's own data types and their byte sizes, by type id.
constexpr int kBuiltinTypeSizes[] = {8, 4, 1, 1, 2, 2, 4, 4, 1};

// Type ids the host hands out for work records start above the built-in ones.
constexpr int kFirstCustomTypeId = 100;

}  // namespace

std::vector<PluginEvent>& pluginEvents() {
    static std::vector<PluginEvent> events;
    return events;
}

BlockStructure::BlockStructure(std::string modelName, BlockStructure* parent, HostOptions options)
    : modelName_(std::move(modelName)), path_(modelName_), options_(std::move(options)), nextTypeId_(kFirstCustomTypeId) {
    block_.modelName = modelName_.c_str();
    block_.path = path_.c_str();
    block_.parent = parent != nullptr ? parent->get() : nullptr;
    block_.root = parent != nullptr ? parent->get()->root : &block_;
    if (parent == nullptr) {
        errorBuffer_.assign(kErrorBufferBytes, 0);
        info_.errorBuffer = errorBuffer_.data();
        block_.mdlInfo = &info_;
    } else {
        block_.mdlInfo = parent->get()->root->mdlInfo;
    }
    block_.hostPrivate = this;
    block_.tNextTid = -1;
    applyOptions();
}

BlockStructure::~BlockStructure() = default;

void BlockStructure::applyOptions() {
    block_.dispatcher = options_.dispatcher ? &dispatchThunk : nullptr;
    block_.extension = options_.extensionRecord ? &extensionRecord_ : nullptr;
    block_.registerNumInputPorts = &inputCountThunk;
    block_.registerNumOutputPorts = &outputCountThunk;
    block_.registerInputPortDimensions = options_.dimensionRegistrars ? &inputDimsThunk : nullptr;
    block_.registerOutputPortDimensions = options_.dimensionRegistrars ? &outputDimsThunk : nullptr;
    block_.registerNumDWork = options_.workVectorCounter ? &dworkThunk : nullptr;
    block_.registerDataTypeSize = options_.typeSizeRegistrar ? &typeSizeThunk : nullptr;
}

void BlockStructure::setPath(std::string path) {
    path_ = std::move(path);
    block_.path = path_.c_str();
}

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

void BlockStructure::allocateSampleTimes() {
    const size_t count = static_cast<size_t>(std::max(block_.sizes[kSizeNumSampleTimes], 0));
    periods_.assign(count, 0.0);
    offsets_.assign(count, 0.0);
    taskIds_.assign(count, -1);
    block_.sampleTimes = periods_.data();
    block_.offsetTimes = offsets_.data();
    block_.sampleTimeTaskIds = taskIds_.data();
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

void BlockStructure::allocateRunTime() {
    // At least one element per buffer, so that every port has a data pointer.
    const auto bufferOf = [](int width) { return std::vector<double>(static_cast<size_t>(std::max(width, 1)), 0.0); };
    inputData_.clear();
    for (InputPortRecord& port : inputs_) {
        inputData_.push_back(bufferOf(port.width));
        port.data = inputData_.back().data();
    }
    outputData_.clear();
    for (OutputPortRecord& port : outputs_) {
        outputData_.push_back(bufferOf(port.width));
        port.data = outputData_.back().data();
    }
    const size_t numStates = static_cast<size_t>(std::max(block_.sizes[kSizeNumContStates], 0));
    contStates_.assign(numStates, 0.0);
    derivatives_.assign(numStates, 0.0);
    block_.contStates = numStates > 0 ? contStates_.data() : nullptr;
    block_.dX = numStates > 0 ? derivatives_.data() : nullptr;

    workData_.clear();
    for (size_t k = 0; k < dwork_.size(); ++k) {
        DWorkRecord& record = dwork_[k];
        const int size = typeSize(record.dataTypeId);
        if (size < 0 || record.width < 0) {
            throw std::runtime_error("work vector " + std::to_string(k) + " of block " + modelName_ + " has data type " +
                                     std::to_string(record.dataTypeId) + " of unknown size");
        }
        const size_t bytes = static_cast<size_t>(record.width) * static_cast<size_t>(size);
        const size_t units = (bytes + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t);
        workData_.push_back(std::make_unique_for_overwrite<std::max_align_t[]>(std::max<size_t>(units, 1)));
        // Zeroed byte for byte: value-initialising max_align_t leaves its padding as it was.
        std::memset(workData_.back().get(), 0, std::max<size_t>(units, 1) * sizeof(std::max_align_t));
        record.array = workData_.back().get();
    }
}

int BlockStructure::typeSize(int typeId) const {
    if (typeId >= 0 && typeId < static_cast<int>(std::size(kBuiltinTypeSizes))) return kBuiltinTypeSizes[typeId];
    for (const auto& [id, bytes] : typeSizes_)
        if (id == typeId) return bytes;
    return -1;
}

void BlockStructure::setArgument(int k, std::span<const double> values) {
    if (k < 0) throw std::invalid_argument("negative model argument index");
    if (static_cast<size_t>(k) >= arguments_.size()) arguments_.resize(static_cast<size_t>(k) + 1);
    if (arguments_.size() > numArgumentPointers_) {
        auto pointers = std::make_unique<double*[]>(arguments_.size());   // value-initialised: null
        std::copy_n(argumentPointers_.get(), numArgumentPointers_, pointers.get());
        argumentPointers_ = std::move(pointers);
        numArgumentPointers_ = arguments_.size();
    }
    auto& argument = arguments_[static_cast<size_t>(k)];
    if (argument.has_value() && argument->size() == values.size()) {
        std::copy(values.begin(), values.end(), argument->begin());
        return;
    }
    argument.emplace(values.begin(), values.end());
    argumentPointers_[static_cast<size_t>(k)] = argument->empty() ? nullptr : argument->data();
}

void BlockStructure::clearArgument(int k) {
    if (k < 0 || static_cast<size_t>(k) >= arguments_.size()) return;
    arguments_[static_cast<size_t>(k)].reset();
    argumentPointers_[static_cast<size_t>(k)] = nullptr;
}

void BlockStructure::clearLogs() {
    log_.clear();
    registrations_.clear();
}

void BlockStructure::recordChecksum(const char* modelName, const uint32_t* words) {
    checksumModelName_ = modelName != nullptr ? modelName : "";
    RegistrationCall call{"slmrModelRefRegisterSimStateChecksum", {}, checksumModelName_, 1};
    if (words != nullptr) {
        checksum_ = std::array<uint32_t, 4>{words[0], words[1], words[2], words[3]};
        for (uint32_t word : *checksum_) call.values.push_back(word);
    }
    registrations_.push_back(std::move(call));
}

int BlockStructure::fetchArgumentLogged(int k, void* ptrArg) {
    double* data = argumentData(k);
    const int answer = data != nullptr && ptrArg != nullptr ? 1 : 0;
    if (answer != 0) *static_cast<const double**>(ptrArg) = data;
    logCall(kHostCodeArgument, k, ptrArg, k, {}, answer);
    return answer;
}

void BlockStructure::logCall(int code, int intArg, const void* ptrArg, int64_t value, std::string text, int answer) {
    log_.push_back({code, intArg, ptrArg != nullptr, value, std::move(text), answer});
}

int BlockStructure::unitIdOf(const char* expression) {
    const std::string text = expression != nullptr ? expression : "";
    for (size_t id = 0; id < units_.size(); ++id)
        if (units_[id] == text) return static_cast<int>(id);
    units_.push_back(text);
    return static_cast<int>(units_.size() - 1);
}

int BlockStructure::dispatch(int code, int intArg, void* ptrArg) {
    if (code == kHostCodeArgument) return fetchArgument(intArg, ptrArg);

    int answer = 1;
    int64_t value = 0;
    std::string text;
    const auto byteAt = [ptrArg](size_t i) -> int64_t { return ptrArg != nullptr ? static_cast<const uint8_t*>(ptrArg)[i] : 0; };
    const auto intAt = [ptrArg]() -> int64_t { return ptrArg != nullptr ? *static_cast<const int*>(ptrArg) : 0; };
    switch (code) {
        case kHostCodeModelMap:
            modelMap_ = static_cast<const ModelMapInfo*>(ptrArg);
            break;
        case kHostCodeIdentifiers:
            if (const auto* record = static_cast<const IdentifierListRecord*>(ptrArg)) {
                IdentifierList list{record->modelName != nullptr ? record->modelName : "", {}, record->count};
                for (int32_t i = 0; record->entries != nullptr && i < record->count; ++i) {
                    const IdentifierEntry& entry = record->entries[i];
                    list.entries.push_back({entry.text != nullptr ? entry.text : "", entry.kind, entry.zero, entry.value,
                                            entry.owner != nullptr ? std::optional<std::string>(entry.owner) : std::nullopt});
                }
                value = record->count;
                text = list.modelName;
                identifiers_ = std::move(list);
            }
            if (options_.refuseIdentifierList) answer = 0;
            break;
        case kHostCodeWorkNamesA:
        case kHostCodeWorkNamesB:
            if (const auto* names = static_cast<const char* const*>(ptrArg); names != nullptr && names[0] != nullptr) text = names[0];
            break;
        case kHostCodeContext:
            if (ptrArg != nullptr) *static_cast<void**>(ptrArg) = options_.context;
            break;
        case kHostCodeContextTid:
            value = intAt();
            if (ptrArg != nullptr) *static_cast<int*>(ptrArg) = options_.contextTid;
            break;
        case kHostCodeInputPortSetup:
        case kHostCodeOutputPortSetup:
            value = intAt();
            break;
        case kHostCodeWorkRecordType:
            if (options_.refuseWorkRecordType) {
                value = kHostRefused;
            } else {
                value = nextTypeId_++;
                typeSizes_.emplace_back(static_cast<int>(value), -1);
            }
            if (ptrArg != nullptr) *static_cast<int*>(ptrArg) = static_cast<int>(value);
            break;
        case kHostCodeOutputReuse:
        case kHostCodeSimStateCheck:
        case kHostCodeSimStateCheck2:
            value = byteAt(0);
            break;
        case kHostCodeOutputOptim:
            value = byteAt(0) | byteAt(1) << 8 | byteAt(2) << 16;
            break;
        case kHostCodeSimState:
            handedSimState_ = static_cast<const mxArray*>(ptrArg);
            break;
        case kHostCodeVersion:
            if (ptrArg != nullptr) text = static_cast<const char*>(ptrArg);
            break;
        case kHostCodeUnits:
            if (auto* unit = static_cast<UnitRegistration*>(ptrArg)) {
                text = unit->expression != nullptr ? unit->expression : "";
                unit->result = options_.refuseUnits ? kHostRefused : unitIdOf(unit->expression);
                value = unit->result;
            }
            break;
        case kHostCodeSizesStart:
            answer = options_.sizesStartAnswer;
            break;
        default:   // a notification
            break;
    }
    for (const auto& [overridden, replacement] : options_.answers)
        if (overridden == code) answer = replacement;
    logCall(code, intArg, ptrArg, value, std::move(text), answer);
    return answer;
}

int BlockStructure::registerPortCount(bool isInput, int count) {
    recordRegistration({isInput ? "registerNumInputPorts" : "registerNumOutputPorts", {count}, {}, count < 0 ? 0 : 1});
    if (count < 0) return 0;
    block_.blockFlags |= kBlockFlagPortCountsSet;
    if (isInput) {
        block_.sizes[kSizeNumInputPorts] = count;
        inputs_.assign(static_cast<size_t>(count), InputPortRecord{});
        block_.inputs = count > 0 ? inputs_.data() : nullptr;
    } else {
        block_.sizes[kSizeNumOutputPorts] = count;
        outputs_.assign(static_cast<size_t>(count), OutputPortRecord{});
        block_.outputs = count > 0 ? outputs_.data() : nullptr;
    }
    return 1;
}

int BlockStructure::registerPortDimensions(bool isInput, int port, const DimensionsInfo* dims) {
    const size_t numPorts = isInput ? inputs_.size() : outputs_.size();
    const bool valid = port >= 0 && static_cast<size_t>(port) < numPorts && dims != nullptr && dims->width >= 0;
    recordRegistration({isInput ? "registerInputPortDimensions" : "registerOutputPortDimensions",
                        {port, dims != nullptr ? dims->width : -1, dims != nullptr ? dims->numDims : -1}, {}, valid ? 1 : 0});
    if (!valid) return 0;
    if (isInput) inputs_[static_cast<size_t>(port)].width = dims->width;
    else outputs_[static_cast<size_t>(port)].width = dims->width;
    return 1;
}

int BlockStructure::registerNumDWork(int count) {
    recordRegistration({"registerNumDWork", {count}, {}, count < 0 ? 0 : 1});
    if (count < 0) return 0;
    block_.sizes[kSizeNumDWork] = count;
    dwork_.assign(static_cast<size_t>(count), DWorkRecord{});
    block_.dwork = count > 0 ? dwork_.data() : nullptr;
    return 1;
}

int BlockStructure::registerDataTypeSize(int typeId, int bytes) {
    int result = 0;
    for (auto& [id, size] : typeSizes_) {
        if (id == typeId && bytes >= 0) {
            size = bytes;
            result = 1;
        }
    }
    recordRegistration({"registerDataTypeSize", {typeId, bytes}, {}, result});
    return result;
}

}  // namespace qelhost
