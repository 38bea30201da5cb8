// The module's load configuration: the record a 32-bit Windows loader reads
// to learn which exception handlers of the image it may call.
//
// Every function of the module that holds counted references registers an
// exception handler (the compiler's thunk into __CxxFrameHandler3), so that an
// error the host throws through it releases them. Before 32-bit Windows calls
// a handler it looks the handler up in the table that this record points to;
// an image without the record is marked "no SEH" by the linker, and Windows
// then calls none of its handlers and ends the process instead. With the
// record, lld fills the table from the handlers that every object file lists
// (/safeseh) and leaves the flag off. tests/abi/check_safe_seh.sh reads the
// result from the DLL on every build.
#include <stdint.h>

extern "C" {
// Defined by the linker: the table of handler addresses and, as the address
// of an absolute symbol, the number of entries.
extern const void* const __safe_se_handler_table[];
extern const uint8_t __safe_se_handler_count;

// IMAGE_LOAD_CONFIG_DIRECTORY32 up to and including SEHandlerCount, the
// fields a loader of Windows Vista or later reads for the handler table.
// Pointers are 4 bytes on this target, so the table and count fields hold
// their addresses without a cast (and without code at load time).
struct LoadConfigDirectory32 {
  uint32_t size;
  uint32_t timeDateStamp;
  uint16_t majorVersion, minorVersion;
  uint32_t globalFlagsClear, globalFlagsSet;
  uint32_t criticalSectionDefaultTimeout;
  uint32_t deCommitFreeBlockThreshold, deCommitTotalFreeThreshold;
  uint32_t lockPrefixTable;
  uint32_t maximumAllocationSize, virtualMemoryThreshold;
  uint32_t processHeapFlags, processAffinityMask;
  uint16_t csdVersion, dependentLoadFlags;
  uint32_t editList;
  uint32_t securityCookie;
  const void* const* seHandlerTable;
  const void* seHandlerCount;
};
static_assert(sizeof(void*) == 4, "the load configuration here is the 32-bit one");
static_assert(__builtin_offsetof(LoadConfigDirectory32, securityCookie) == 60 &&
                  __builtin_offsetof(LoadConfigDirectory32, seHandlerTable) == 64 &&
                  __builtin_offsetof(LoadConfigDirectory32, seHandlerCount) == 68 &&
                  sizeof(LoadConfigDirectory32) == 72,
              "IMAGE_LOAD_CONFIG_DIRECTORY32 offsets");

// The linker finds the record by this name and points the image's load
// configuration entry at it, with the size taken from its first field.
extern const LoadConfigDirectory32 _load_config_used = {
    sizeof(LoadConfigDirectory32), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, __safe_se_handler_table,
    &__safe_se_handler_count,
};
}
