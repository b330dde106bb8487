#include "frame/block_methods.h"

#include "frame/block_table.h"
#include "frame/registration.h"
#include "frame/runtime_methods.h"

namespace qelframe::bound {

void mdlInitializeSizes(SimStruct* block) { qelframe::mdlInitializeSizes(kBlockTable, block); }
void mdlInitializeSampleTimes(SimStruct* block) { qelframe::mdlInitializeSampleTimes(kBlockTable, block); }
void mdlSetWorkWidths(SimStruct* block) { qelframe::mdlSetWorkWidths(kBlockTable, block); }
void mdlSetupRuntimeResources(SimStruct* block) { qelframe::mdlSetupRuntimeResources(kBlockTable, block); }
void mdlCleanupRuntimeResources(SimStruct* block) { qelframe::mdlCleanupRuntimeResources(kBlockTable, block); }
void mdlStart(SimStruct* block) { qelframe::mdlStart(kBlockTable, block); }
void mdlOutputs(SimStruct* block, int tid) { qelframe::mdlOutputs(kBlockTable, block, tid); }
void mdlUpdate(SimStruct* block, int tid) { qelframe::mdlUpdate(kBlockTable, block, tid); }
void mdlDerivatives(SimStruct* block) { qelframe::mdlDerivatives(kBlockTable, block); }
void mdlTerminate(SimStruct* block) { qelframe::mdlTerminate(kBlockTable, block); }
void systemInitialize(SimStruct* block) { qelframe::systemInitialize(kBlockTable, block); }
void systemReset(SimStruct* block) { qelframe::systemReset(kBlockTable, block); }
void periodicOutputUpdate(SimStruct* block, int k) { qelframe::periodicOutputUpdate(kBlockTable, block, k); }

}  // namespace qelframe::bound
