// This plug-in's methods as the host calls them through its method slots and registrations: the
// frame's methods applied to the plug-in's own kBlockTable.
#pragma once

#include "frame/host_interface.h"

namespace qelframe::bound {

void mdlInitializeSizes(SimStruct* block);
void mdlInitializeSampleTimes(SimStruct* block);
void mdlSetWorkWidths(SimStruct* block);
void mdlSetupRuntimeResources(SimStruct* block);
void mdlCleanupRuntimeResources(SimStruct* block);
void mdlStart(SimStruct* block);
void mdlOutputs(SimStruct* block, int tid);
void mdlUpdate(SimStruct* block, int tid);
void mdlDerivatives(SimStruct* block);
void mdlTerminate(SimStruct* block);
void systemInitialize(SimStruct* block);
void systemReset(SimStruct* block);
void periodicOutputUpdate(SimStruct* block, int k);

}  // namespace qelframe::bound
