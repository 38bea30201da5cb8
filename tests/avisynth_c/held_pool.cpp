// The shared pool of the module built to answer NICE_FILTER: always held by
// another frame, as it is for every request but one when requests overlap,
// so each request composes on its own thread and no hold of the pool orders
// two requests' use of the instance's scratch frame.
#include "avisynth_c/shared_pool.h"

void PoolUserAdded() {}
void PoolUserRemoved() {}
WorkerPool* TakeSharedPool() { return nullptr; }
void GiveBackSharedPool() {}
