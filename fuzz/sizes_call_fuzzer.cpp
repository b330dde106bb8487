// Feeds arbitrary sizes-call arguments to a plug-in's entry: output and input counts, inputs of
// any class, shape, value and complexity, missing inputs, and host calls with a real block
// structure whose name and host pieces vary. The entry may raise the host's MatlabError; it must
// never crash or touch memory it does not own.
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "host/loader.h"

namespace {

const char* const kModels[] = {"Qel_Lib_wexa_current_controller_sub", "Qel_Lib_motor_dq_sub"};

std::shared_ptr<qelhost::Plugin> pluginOf(size_t index) {
    static std::shared_ptr<qelhost::Plugin> plugins[2];
    if (plugins[index] == nullptr)
        plugins[index] = qelhost::Plugin::open(std::string(QEL_PLUGIN_DIR) + "/" + kModels[index] + "_msp.mexa64");
    return plugins[index];
}

// A marker column that names an address other than a real block structure would send the entry
// into arbitrary memory, which no host does: element 2 loses the marker value.
void defuseMarker(mxArray* array) {
    if (array != nullptr && mxGetM_800(array) == 3 && mxGetN_800(array) >= 1 && mxGetPr_800(array) != nullptr &&
        mxGetPr_800(array)[2] == qelhost::kHostCallMarkerValue)
        mxGetPr_800(array)[2] = 0.0;
}

void commandLineCall(qelfuzz::FuzzInput& input, const qelhost::Plugin& plugin) {
    qelhost::ArrayScope scope;
    const int nlhs = static_cast<int>(input.below(4));
    const int nrhs = static_cast<int>(input.below(9));
    std::vector<const mxArray*> inputs;
    for (int i = 0; i < nrhs; ++i) {
        mxArray* array = qelfuzz::makeArray(input, 2);
        defuseMarker(array);
        inputs.push_back(array);
    }
    mxArray* outputs[4] = {};
    try {
        plugin.callEntry(nlhs, outputs, nrhs, input.flag() || nrhs > 0 ? inputs.data() : nullptr);
    } catch (const qelhost::MatlabError&) {
    }
}

void hostCall(qelfuzz::FuzzInput& input, std::shared_ptr<qelhost::Plugin> plugin) {
    qelhost::HostOptions host;
    host.dispatcher = input.flag();
    host.extensionRecord = input.flag();
    host.workVectorCounter = input.flag();
    host.typeSizeRegistrar = input.flag();
    host.dimensionRegistrars = input.flag();
    host.sizesStartAnswer = static_cast<int>(input.below(2));
    host.refuseWorkRecordType = input.flag();
    host.refuseUnits = input.flag();
    host.refuseIdentifierList = input.flag();
    qelhost::BlockOptions options;
    options.host = host;
    if (input.flag()) options.modelName = "other_msp";
    qelhost::TopModelOptions topOptions;
    topOptions.simMode = static_cast<int>(input.below(2));
    qelhost::TopModel top(topOptions);
    qelhost::Block block(top, std::move(plugin), options);
    try {
        block.initializeSizes();
    } catch (const qelhost::MatlabError&) {
    } catch (const qelhost::LoadError&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qelfuzz::FuzzInput input(data, size);
    const size_t model = input.below(2);
    if (input.below(4) == 0)
        hostCall(input, pluginOf(model));
    else
        commandLineCall(input, *pluginOf(model));
    return 0;
}
