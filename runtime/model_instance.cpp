#include "runtime/model_instance.h"

bool rateIsDueForTask(const SimStruct* hostLink, int32_t globalTid) {
    if (globalTid < 0) return true;
    const SimStruct* root = hostLink->root;
    const SimStruct* counted = root->parent != nullptr ? root->parent : root;
    if (globalTid >= counted->sizes[kSizeNumSampleTimes]) return true;
    const int task = root->sampleTimeTaskIds[globalTid];
    if (task >= root->root->sizes[kSizeNumSampleTimes]) return true;
    const ModelInfo* info = root->mdlInfo;
    return info->majorTimeStep == 1 && info->sampleHits[task] != 0;
}
