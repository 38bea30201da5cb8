// The mutant's shared pool, always held by another frame (as for every request
// but one when requests overlap): no hold of the pool orders two requests.
#include "avisynth_c/shared_pool.h"
void PoolUserAdded() {}
void PoolUserRemoved() {}
WorkerPool* TakeSharedPool() { return nullptr; }
void GiveBackSharedPool() {}
