// The catalogue only names things; every shape it assumes must be what the plug-in registers.
#include <set>

#include "app/common/block_catalog.h"
#include "host/loader.h"
#include "tools_test_support.h"

namespace qelsim {
namespace {

TEST(CatalogueAgreement, EveryBlockMatchesWhatItsPluginRegisters) {
    for (const BlockInfo& info : blockCatalog()) {
        SCOPED_TRACE(std::string(info.modelName));
        qelhost::TopModel model;
        qelhost::BlockOptions options;
        options.host.logRunPath = true;
        qelhost::Block block(model, qelhost::Plugin::open(pluginPath(testing::pluginDir(), info)), options);
        ASSERT_NO_THROW(block.registerBlock());

        ASSERT_EQ(block.numInputs(), static_cast<int>(info.inputs.size()));
        for (std::size_t p = 0; p < info.inputs.size(); ++p) {
            EXPECT_EQ(block.inputWidth(static_cast<int>(p)), info.inputs[p].width) << info.inputs[p].name;
        }
        ASSERT_EQ(block.numOutputs(), static_cast<int>(info.outputs.size()));
        for (std::size_t p = 0; p < info.outputs.size(); ++p) {
            EXPECT_EQ(block.outputWidth(static_cast<int>(p)), info.outputs[p].width) << info.outputs[p].name;
        }
        EXPECT_EQ(block.numContStates(), static_cast<int>(info.stateNames.size()));

        // The parameter call fetches exactly the arguments the catalogue names, each once.
        ASSERT_TRUE(block.setupRuntimeResources()) << block.lastError();
        for (std::size_t k = 0; k < info.arguments.size(); ++k) {
            block.setArgument(static_cast<int>(k), std::vector<double>(static_cast<std::size_t>(info.arguments[k].width), 1.0));
        }
        block.structure().clearLogs();
        ASSERT_TRUE(block.outputs(-5)) << block.lastError();
        std::multiset<int> fetched;
        for (const qelhost::DispatcherCall& call : block.structure().dispatcherLog()) {
            if (call.code == kHostCodeArgument) fetched.insert(call.intArg);
        }
        std::multiset<int> named;
        for (std::size_t k = 0; k < info.arguments.size(); ++k) named.insert(static_cast<int>(k));
        EXPECT_EQ(fetched, named);

        // The records as the simulation state carries them.
        const qelhost::UniqueArray state = block.getSimState();
        ASSERT_NE(state, nullptr) << block.lastError();
        const mxArray* localX = mxGetFieldByNumber_800(state.get(), 0, qelhost::fieldNumber(state.get(), "localX"));
        EXPECT_EQ(qelhost::bytesOf(localX).size(), info.stateNames.size() * sizeof(double));
        const mxArray* dwork = mxGetFieldByNumber_800(state.get(), 0, qelhost::fieldNumber(state.get(), "mdlrefDW"));
        const mxArray* rtb = mxGetFieldByNumber_800(dwork, 0, qelhost::fieldNumber(dwork, "rtb"));
        EXPECT_EQ(qelhost::bytesOf(rtb).size(), recordBytes(info.rtbFields));
        const mxArray* rtdw = mxGetFieldByNumber_800(dwork, 0, qelhost::fieldNumber(dwork, "rtdw"));
        ASSERT_EQ(mxGetNumberOfFields_800(rtdw), static_cast<int>(info.rtdwFields.size()));
        for (std::size_t m = 0; m < info.rtdwFields.size(); ++m) {
            EXPECT_EQ(qelhost::bytesOf(mxGetFieldByNumber_800(rtdw, 0, static_cast<int>(m))).size(),
                      info.rtdwFields[m].isBoolean ? 1u : 8u)
                << info.rtdwFields[m].name;
        }
        EXPECT_TRUE(block.terminate());
    }
}

}  // namespace
}  // namespace qelsim
