// A host of the version-2 plugin interface for 32-bit Windows, written from
// the host's binary facts alone and sharing no declaration with the module:
// its tables are arrays of function pointers at the host's slot numbers, its
// records are laid out at the host's offsets (checked below at compile time),
// every call into the module is made through the host's calling conventions,
// and errors are thrown as the host throws them. It loads zemivtc.dll, lets
// it register, creates filters over clips whose frames are shared, offset and
// padded windows into buffers, and checks:
//   - the registration (name, signature, returned text) and that the module
//     calls no slot it has no business calling;
//   - every refusal's text, thrown through the module's frames (their
//     references released as they unwind);
//   - the output clip's properties, parity and audio passed through;
//   - every output frame equal to the native build's bytes (read from a file
//     the native reference renderer wrote), with the shipped module and with
//     the test-hooks twin at several worker counts and each kernel;
//   - every reference the module took dropped again, write pointers only on
//     frames held once, the source pixels untouched;
//   - the filter's deleting destructor on the last reference: its child and
//     its worker threads gone, across many create/destroy cycles.
//
//   abi_host MODULE TESTHOOKS_MODULE REFERENCE WORKDIR
//
// It runs under Windows or Wine, is built in the same ABI as the module but
// needs no C or C++ library: its entry point collects the arguments from
// MSVCRT.dll itself.
#include "tests/abi/cases.h"
#include "tests/abi/host_records.h"
#include "tests/abi/win_runtime.h"

// ---------------------------------------------------------------------------
// Windows and C runtime, beyond what every test program takes.
struct ThreadEntry32 {  // THREADENTRY32
  unsigned long size, usage, threadId, ownerProcessId;
  long basePriority, deltaPriority;
  unsigned long flags;
};

extern "C" {
__declspec(dllimport) void* __stdcall CreateToolhelp32Snapshot(unsigned long flags, unsigned long processId);
__declspec(dllimport) int __stdcall Thread32First(void* snapshot, ThreadEntry32* entry);
__declspec(dllimport) int __stdcall Thread32Next(void* snapshot, ThreadEntry32* entry);
__declspec(dllimport) unsigned long __stdcall GetCurrentProcessId(void);
__declspec(dllimport) void* __stdcall CreateNamedPipeA(const char* name, unsigned long openMode, unsigned long pipeMode,
                                                       unsigned long maxInstances, unsigned long outBufferSize,
                                                       unsigned long inBufferSize, unsigned long timeout,
                                                       void* attributes);
__declspec(dllimport) int __stdcall ConnectNamedPipe(void* pipe, void* overlapped);
__declspec(dllimport) int __stdcall WriteFile(void* file, const void* buffer, unsigned long count,
                                              unsigned long* written, void* overlapped);
__declspec(dllimport) void* __stdcall CreateThread(void* attributes, size_t stackSize,
                                                   unsigned long(__stdcall* start)(void*), void* parameter,
                                                   unsigned long flags, unsigned long* threadId);
__declspec(dllimport) unsigned long __stdcall WaitForSingleObject(void* object, unsigned long milliseconds);
__declspec(dllimport) int __cdecl _putenv(const char* setting);
}

WINRT_RUNTIME(AbiHostTypeInfoTable)

using winrt::Check;
using winrt::Print;
using winrt::SameText;
using winrt::tally;

namespace {

#define CHECK_TEXT(got, want)                                                         \
  do {                                                                                \
    if (!Check(SameText((got), (want)), #got " == \"" want "\"", __LINE__)) {         \
      Print(2, "    got \"%s\"\n", (got) ? static_cast<const char*>(got) : "(null)"); \
    }                                                                                 \
  } while (0)

struct ClipObj {  // IClip: table pointer, then the count
  void* const* table;
  int refcnt;
};
static_assert(sizeof(ClipObj) == 8 && __builtin_offsetof(ClipObj, refcnt) == 4, "IClip");

struct EnvObj {
  void* const* table;
};

typedef const char*(__stdcall* PluginInit)(EnvObj* env);
typedef ValueRec*(__cdecl* ApplyFn)(ValueRec* result, ValueRec args, void* userData, EnvObj* env);
typedef void*(__thiscall* DeletingDestructor)(void* self, unsigned flags);
typedef int(__stdcall* GetVersionFn)(ClipObj* self);
typedef FrameRef*(__stdcall* GetFrameFn)(ClipObj* self, FrameRef* result, int n, EnvObj* env);
typedef bool(__stdcall* GetParityFn)(ClipObj* self, int n);
typedef void(__stdcall* GetAudioFn)(ClipObj* self, void* buffer, long long start, long long count, EnvObj* env);
typedef void(__stdcall* SetCacheHintsFn)(ClipObj* self, int hints, int range);
typedef const VideoInfoRec*(__stdcall* GetVideoInfoFn)(ClipObj* self);

enum ClipSlot {
  SlotGetVersion,
  SlotGetFrame,
  SlotGetParity,
  SlotGetAudio,
  SlotSetCacheHints,
  SlotGetVideoInfo,
  SlotClipDestructor
};

// The inline reference operations, as both sides compile them.
int Increment(int* count) { return __atomic_add_fetch(count, 1, __ATOMIC_SEQ_CST); }
int Decrement(int* count) { return __atomic_sub_fetch(count, 1, __ATOMIC_SEQ_CST); }
long Decrement(long* count) { return __atomic_sub_fetch(count, 1, __ATOMIC_SEQ_CST); }
void TakeFrame(FrameRec* frame) { Increment(&frame->refcount); }
void DropFrame(FrameRec* frame) {
  if (__atomic_load_n(&frame->refcount, __ATOMIC_SEQ_CST) == 1) Decrement(&frame->vfb->refcount);
  Decrement(&frame->refcount);
}
void TakeClip(ClipObj* clip) { Increment(&clip->refcnt); }
void DropClip(ClipObj* clip) {
  if (Decrement(&clip->refcnt) == 0) reinterpret_cast<DeletingDestructor>(clip->table[SlotClipDestructor])(clip, 1);
}

// ---------------------------------------------------------------------------
// Calls with the callee's stack clean-up measured: a __stdcall callee pops its
// arguments, a __cdecl one leaves them. CallPopping pushes `words` argument
// words (the first word last, so it ends on top), calls `function` with ecx =
// `thisInEcx`, and returns how many bytes the callee removed; the callee's
// eax goes to *result.
extern "C" int __cdecl AbiCallPopping(void* function, const uint32_t* words, int count, uint32_t thisInEcx,
                                      uint32_t* result);
asm(R"(
  .text
  .globl _AbiCallPopping
_AbiCallPopping:
  pushl %ebp
  movl %esp, %ebp
  pushl %ebx
  pushl %esi
  pushl %edi
  movl 12(%ebp), %esi
  movl 16(%ebp), %ecx
1:
  testl %ecx, %ecx
  jz 2f
  pushl -4(%esi,%ecx,4)
  decl %ecx
  jmp 1b
2:
  movl %esp, %ebx
  movl 20(%ebp), %ecx
  calll *8(%ebp)
  movl 24(%ebp), %edx
  movl %eax, (%edx)
  movl %esp, %eax
  subl %ebx, %eax
  leal -12(%ebp), %esp
  popl %edi
  popl %esi
  popl %ebx
  popl %ebp
  ret
)");

uint32_t Word(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

// ---------------------------------------------------------------------------
// Host frames: records and buffers the host keeps for good and hands out
// again once their counts fall to 0, as a real host's frame cache does.
constexpr int kMaxFrames = 512;
constexpr int kNewFrameOffset = 32;   // row 0 of a new frame lies this far into its buffer
constexpr int kNewFramePadding = 48;  // new pitch: the row rounded up to the alignment, and this much more
FrameRec frameRecords[kMaxFrames];
FrameBufferRec bufferRecords[kMaxFrames];
int frameRecordsUsed = 0;
int bufferRecordsUsed = 0;

FrameRec* HostFrame(int rowSize, int height, int pitch, int offset, uint8_t fill) {
  const int bytes = offset + pitch * height;
  FrameBufferRec* buffer = nullptr;
  for (int i = 0; i < bufferRecordsUsed && buffer == nullptr; ++i) {
    if (bufferRecords[i].refcount == 0 && bufferRecords[i].dataSize == bytes) buffer = &bufferRecords[i];
  }
  if (buffer == nullptr) {
    if (bufferRecordsUsed == kMaxFrames) return nullptr;
    buffer = &bufferRecords[bufferRecordsUsed++];
    // 16-byte aligned data inside a block kept for good.
    uint8_t* block = static_cast<uint8_t*>(malloc(static_cast<size_t>(bytes) + 16));
    if (block == nullptr) return nullptr;
    buffer->data = block + (16 - (reinterpret_cast<uintptr_t>(block) & 15));
    buffer->dataSize = bytes;
  }
  FrameRec* frame = nullptr;
  for (int i = 0; i < frameRecordsUsed && frame == nullptr; ++i) {
    if (frameRecords[i].refcount == 0) frame = &frameRecords[i];
  }
  if (frame == nullptr) {
    if (frameRecordsUsed == kMaxFrames) return nullptr;
    frame = &frameRecords[frameRecordsUsed++];
  }
  memset(buffer->data, fill, static_cast<size_t>(bytes));
  buffer->refcount = 1;
  buffer->sequenceNumber = 0;
  *frame = FrameRec{0, buffer, offset, pitch, rowSize, height, 0, 0, 0};
  return frame;
}

int FramesHeld() {
  int held = 0;
  for (int i = 0; i < frameRecordsUsed; ++i) held += frameRecords[i].refcount != 0;
  return held;
}
int BuffersHeld() {
  int held = 0;
  for (int i = 0; i < bufferRecordsUsed; ++i) held += bufferRecords[i].refcount != 0;
  return held;
}

// ---------------------------------------------------------------------------
// The script environment.
const char* const kSlotNames[22] = {"destructor",   "GetCPUFlags",  "SaveString",     "Sprintf",      "VSprintf",
                                    "ThrowError",   "AddFunction",  "FunctionExists", "Invoke",       "GetVar",
                                    "SetVar",       "SetGlobalVar", "PushContext",    "PopContext",   "NewVideoFrame",
                                    "MakeWritable", "BitBlt",       "AtExit",         "CheckVersion", "Subframe",
                                    "SetMemoryMax", "SetWorkingDir"};
int slotCalls[22];

struct Registration {
  char name[64];
  char params[64];
  ApplyFn apply;
  void* userData;
};
Registration registrations[8];
int registrationCount = 0;

char savedText[64][256];  // the texts ThrowError raises live here as long as the host
int savedCount = 0;

void CountSlot(int slot) { ++slotCalls[slot]; }

char* Save(const char* text) {
  char* slot = savedText[savedCount++ % 64];
  size_t n = strlen(text);
  if (n > 255) n = 255;
  memcpy(slot, text, n);
  slot[n] = '\0';
  return slot;
}

void* __thiscall EnvDestructor(EnvObj*, unsigned) {
  CountSlot(0);
  return nullptr;
}
long __stdcall EnvGetCpuFlags(EnvObj*) {
  CountSlot(1);
  return 0;
}
char* __stdcall EnvSaveString(EnvObj*, const char* s, int) {
  CountSlot(2);
  return Save(s ? s : "");
}
// Formats into a host-kept text. On 32-bit Windows a va_list is a plain
// pointer: VSprintf's argument is the caller's va_list itself.
char* SaveFormatted(const char* format, va_list args) {
  char text[256];
  _vsnprintf(text, sizeof text - 1, format, args);
  text[255] = '\0';
  return Save(text);
}
char* __cdecl EnvSprintf(EnvObj*, const char* format, ...) {
  CountSlot(3);
  va_list args;
  va_start(args, format);
  char* text = SaveFormatted(format, args);
  va_end(args);
  return text;
}
char* __stdcall EnvVSprintf(EnvObj*, const char* format, void* args) {
  CountSlot(4);
  return SaveFormatted(format, static_cast<va_list>(args));
}

}  // namespace

// The host's error type: a class of one field, thrown by value. The host
// catches it by its type name.
class AvisynthError {
 public:
  const char* const msg;
  AvisynthError(const char* message) : msg(message) {}
};

namespace {

[[noreturn]] void __cdecl EnvThrowError(EnvObj*, const char* format, ...) {
  CountSlot(5);
  va_list args;
  va_start(args, format);
  const char* text = SaveFormatted(format, args);
  va_end(args);
  throw AvisynthError(text);
}
void __stdcall EnvAddFunction(EnvObj*, const char* name, const char* params, ApplyFn apply, void* userData) {
  CountSlot(6);
  if (registrationCount == 8) return;
  Registration& r = registrations[registrationCount++];
  r = Registration{};
  memcpy(r.name, name, strlen(name) < 63 ? strlen(name) : 63);
  memcpy(r.params, params, strlen(params) < 63 ? strlen(params) : 63);
  r.apply = apply;
  r.userData = userData;
}
bool __stdcall EnvFunctionExists(EnvObj*, const char*) {
  CountSlot(7);
  return false;
}
ValueRec* __stdcall EnvInvoke(EnvObj*, ValueRec* result, const char*, ValueRec, const char**) {
  CountSlot(8);
  *result = ValueRec{'v', 0, {nullptr}};
  return result;
}
ValueRec* __stdcall EnvGetVar(EnvObj*, ValueRec* result, const char*) {
  CountSlot(9);
  *result = ValueRec{'v', 0, {nullptr}};
  return result;
}
bool __stdcall EnvSetVar(EnvObj*, const char*, const ValueRec*) {
  CountSlot(10);
  return false;
}
bool __stdcall EnvSetGlobalVar(EnvObj*, const char*, const ValueRec*) {
  CountSlot(11);
  return false;
}
void __stdcall EnvPushContext(EnvObj*, int) { CountSlot(12); }
void __stdcall EnvPopContext(EnvObj*) { CountSlot(13); }

FrameRef* __stdcall EnvNewVideoFrame(EnvObj*, FrameRef* result, const VideoInfoRec* vi, int align) {
  CountSlot(14);
  const int rowSize = vi->width * 2;  // YUY2 is all this host makes
  if (align < 16) align = 16;
  const int pitch = (rowSize + align - 1) / align * align + kNewFramePadding;
  FrameRec* frame = HostFrame(rowSize, vi->height, pitch, kNewFrameOffset, 0xCD);
  if (frame == nullptr) throw AvisynthError("abi_host: out of frames");
  TakeFrame(frame);
  result->frame = frame;
  return result;
}
bool __stdcall EnvMakeWritable(EnvObj*, FrameRef*) {
  CountSlot(15);
  return false;
}
void __stdcall EnvBitBlt(EnvObj*, uint8_t*, int, const uint8_t*, int, int, int) { CountSlot(16); }
void __stdcall EnvAtExit(EnvObj*, void*, void*) { CountSlot(17); }
void __stdcall EnvCheckVersion(EnvObj*, int) { CountSlot(18); }
FrameRef* __stdcall EnvSubframe(EnvObj*, FrameRef* result, FrameRef source, int, int, int, int) {
  CountSlot(19);
  if (source.frame) DropFrame(source.frame);  // the callee destroys a by-value frame reference
  result->frame = nullptr;
  return result;
}
int __stdcall EnvSetMemoryMax(EnvObj*, int) {
  CountSlot(20);
  return 0;
}
int __stdcall EnvSetWorkingDir(EnvObj*, const char*) {
  CountSlot(21);
  return -1;
}

void* const kEnvTable[22] = {
    reinterpret_cast<void*>(EnvDestructor),    reinterpret_cast<void*>(EnvGetCpuFlags),
    reinterpret_cast<void*>(EnvSaveString),    reinterpret_cast<void*>(EnvSprintf),
    reinterpret_cast<void*>(EnvVSprintf),      reinterpret_cast<void*>(EnvThrowError),
    reinterpret_cast<void*>(EnvAddFunction),   reinterpret_cast<void*>(EnvFunctionExists),
    reinterpret_cast<void*>(EnvInvoke),        reinterpret_cast<void*>(EnvGetVar),
    reinterpret_cast<void*>(EnvSetVar),        reinterpret_cast<void*>(EnvSetGlobalVar),
    reinterpret_cast<void*>(EnvPushContext),   reinterpret_cast<void*>(EnvPopContext),
    reinterpret_cast<void*>(EnvNewVideoFrame), reinterpret_cast<void*>(EnvMakeWritable),
    reinterpret_cast<void*>(EnvBitBlt),        reinterpret_cast<void*>(EnvAtExit),
    reinterpret_cast<void*>(EnvCheckVersion),  reinterpret_cast<void*>(EnvSubframe),
    reinterpret_cast<void*>(EnvSetMemoryMax),  reinterpret_cast<void*>(EnvSetWorkingDir),
};
EnvObj environment = {kEnvTable};

// Only these slots have a reason to be called by the module: registration,
// errors and new frames. A call anywhere else is a slot the module got wrong.
void CheckOnlyExpectedSlots() {
  for (int slot = 0; slot < 22; ++slot) {
    if (slot == 5 || slot == 6 || slot == 14) continue;
    if (!Check(slotCalls[slot] == 0, "the module calls only AddFunction, ThrowError and NewVideoFrame", __LINE__)) {
      Print(2, "    slot %d (%s) was called %d times\n", slot, kSlotNames[slot], slotCalls[slot]);
    }
  }
}

// ---------------------------------------------------------------------------
// The source clip: its frames sit in the host's cache, so every frame it hands
// out is shared (count 2 or more) and not writable.
struct SourceClip {
  ClipObj object;
  VideoInfoRec vi;
  FrameRec* frames[16];
  int frameCount;
  int requests[4096];
  int requestCount;
  int lastParityAsked;
  long long lastAudioStart, lastAudioCount;
  void* lastAudioBuffer;
  bool destroyed;
};

int __stdcall SourceGetVersion(ClipObj*) { return 2; }
FrameRef* __stdcall SourceGetFrame(ClipObj* self, FrameRef* result, int n, EnvObj*) {
  SourceClip* clip = reinterpret_cast<SourceClip*>(self);
  if (clip->requestCount < 4096) clip->requests[clip->requestCount++] = n;
  const int last = clip->frameCount - 1;
  FrameRec* frame = clip->frames[n < 0 ? 0 : n > last ? last : n];
  TakeFrame(frame);
  result->frame = frame;
  return result;
}
bool __stdcall SourceGetParity(ClipObj* self, int n) {
  reinterpret_cast<SourceClip*>(self)->lastParityAsked = n;
  return abi::SourceParity(n);
}
void __stdcall SourceGetAudio(ClipObj* self, void* buffer, long long start, long long count, EnvObj*) {
  SourceClip* clip = reinterpret_cast<SourceClip*>(self);
  clip->lastAudioBuffer = buffer;
  clip->lastAudioStart = start;
  clip->lastAudioCount = count;
  uint8_t* out = static_cast<uint8_t*>(buffer);
  for (long long i = 0; i < count * 4; ++i) out[i] = abi::AudioByte(start * 4 + i);
}
void __stdcall SourceSetCacheHints(ClipObj*, int, int) {}
const VideoInfoRec* __stdcall SourceGetVideoInfo(ClipObj* self) { return &reinterpret_cast<SourceClip*>(self)->vi; }
void* __thiscall SourceDestructor(ClipObj* self, unsigned flags) {
  SourceClip* clip = reinterpret_cast<SourceClip*>(self);
  clip->destroyed = true;
  for (int f = 0; f < clip->frameCount; ++f) DropFrame(clip->frames[f]);  // the cache lets go
  if (flags & 1) free(clip);
  return clip;
}

void* const kSourceTable[7] = {
    reinterpret_cast<void*>(SourceGetVersion),    reinterpret_cast<void*>(SourceGetFrame),
    reinterpret_cast<void*>(SourceGetParity),     reinterpret_cast<void*>(SourceGetAudio),
    reinterpret_cast<void*>(SourceSetCacheHints), reinterpret_cast<void*>(SourceGetVideoInfo),
    reinterpret_cast<void*>(SourceDestructor),
};

VideoInfoRec ClipInfo(int pixelType, int width, int height, int frames) {
  VideoInfoRec vi{};
  vi.width = width;
  vi.height = height;
  vi.fpsNumerator = 30000;
  vi.fpsDenominator = 1001;
  vi.numFrames = frames;
  vi.pixelType = pixelType;
  vi.audioSamplesPerSecond = 48000;
  vi.sampleType = 2;  // 16-bit
  vi.numAudioSamples = 123456789012LL;
  vi.channels = 2;
  return vi;
}

// A clip of the case's frames, each held by the cache and padded and offset
// as the case says. The host holds one reference to the clip.
SourceClip* MakeSource(const abi::Case& c, uint32_t seed, int pixelType = 0x60000004) {
  SourceClip* clip = static_cast<SourceClip*>(malloc(sizeof(SourceClip)));
  memset(clip, 0, sizeof(SourceClip));
  clip->object.table = kSourceTable;
  clip->vi = ClipInfo(pixelType, c.width, c.height, c.frames);
  clip->frameCount = c.frames;
  abi::Xorshift rng{seed};
  for (int f = 0; f < c.frames; ++f) {
    const int pitch = 2 * c.width + c.sourcePadding;
    FrameRec* frame = HostFrame(2 * c.width, c.height, pitch, c.sourceOffset, 0xEE);
    abi::DrawSourceFrame(c, rng, frame->vfb->data + frame->offset, pitch);
    TakeFrame(frame);  // the cache's reference
    clip->frames[f] = frame;
  }
  TakeClip(&clip->object);
  return clip;
}

uint32_t Checksum(const SourceClip* clip) {
  uint32_t sum = 2166136261u;
  for (int f = 0; f < clip->frameCount; ++f) {
    const FrameBufferRec* buffer = clip->frames[f]->vfb;
    for (int i = 0; i < buffer->dataSize; ++i) sum = (sum ^ buffer->data[i]) * 16777619u;
  }
  return sum;
}

// The source frames' counts as the host left them: the cache's reference,
// one frame per buffer, no write pointer ever taken.
bool SourceCountsAtRest(const SourceClip* clip) {
  for (int f = 0; f < clip->frameCount; ++f) {
    const FrameRec* frame = clip->frames[f];
    if (frame->refcount != 1 || frame->vfb->refcount != 1 || frame->vfb->sequenceNumber != 0) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// The module.
struct Module {
  void* handle;
  ApplyFn create;
};

// Loads a module and runs its entry; checks the registration.
Module LoadModule(const char* path) {
  tally.group = "registration";
  Module module{nullptr, nullptr};
  module.handle = LoadLibraryA(path);
  if (!CHECK(module.handle != nullptr)) return module;
  void* entry = GetProcAddress(module.handle, "_AvisynthPluginInit2@4");
  if (!CHECK(entry != nullptr)) return module;
  registrationCount = 0;
  uint32_t text = 0;
  const uint32_t args[1] = {Word(&environment)};
  const int popped = AbiCallPopping(entry, args, 1, 0, &text);
  CHECK(popped == 4);  // __stdcall: the entry removes its one argument
  CHECK_TEXT(reinterpret_cast<const char*>(text), "ZEMIVTC Plugin");
  CHECK(registrationCount == 1);
  if (registrationCount >= 1) {
    CHECK_TEXT(registrations[0].name, "ZEMIVTC");
    CHECK_TEXT(registrations[0].params, "c[zemFile]s");
    CHECK(registrations[0].userData == nullptr);
    module.create = registrations[0].apply;
  }
  return module;
}

// Runs the creation function the host's way: `args` built by the caller in
// the argument area and destroyed by the callee, the result through a hidden
// first argument. Returns the error text, or null when it made a clip.
const char* Create(const Module& module, ValueRec args, ValueRec* result) {
  // Storage as a caller leaves it: not cleared, so every byte of the value
  // must come from the module.
  memset(result, 0xA5, sizeof *result);
  try {
    ValueRec* returned = module.create(result, args, nullptr, &environment);
    CHECK(returned == result);  // the callee hands the hidden pointer back
    return nullptr;
  } catch (const AvisynthError& error) {
    return error.msg;
  }
}

ValueRec ClipValue(ClipObj* clip) {
  ValueRec v{'c', 0, {nullptr}};
  v.clip = clip;
  return v;
}
ValueRec StringValue(const char* s) {
  ValueRec v{'s', 0, {nullptr}};
  v.string = s;
  return v;
}
ValueRec ArrayValue(const ValueRec* elements, int count) {
  ValueRec v{'a', static_cast<short>(count), {nullptr}};
  v.array = elements;
  return v;
}

// Creates ZEMIVTC(source, zemFile=plan); null path: no plan argument.
const char* CreateFilter(const Module& module, SourceClip* source, const char* planPath, ClipObj** filter) {
  ValueRec elements[2] = {ClipValue(&source->object), planPath ? StringValue(planPath) : ValueRec{'v', 0, {nullptr}}};
  ValueRec result;
  const char* error = Create(module, ArrayValue(elements, 2), &result);
  *filter = nullptr;
  if (error == nullptr) {
    // The whole 2-byte type word: a clip value holding the new filter.
    CHECK(result.type == 'c');
    CHECK(result.arraySize == 0);
    CHECK(result.clip != nullptr);
    *filter = static_cast<ClipObj*>(result.clip);
    if (*filter) CHECK((*filter)->refcnt == 1);  // the returned value's reference
  }
  return error;
}

void* ClipSlotFunction(ClipObj* clip, int slot) { return clip->table[slot]; }

const VideoInfoRec* FilterInfo(ClipObj* filter) {
  return reinterpret_cast<GetVideoInfoFn>(ClipSlotFunction(filter, SlotGetVideoInfo))(filter);
}

// GetFrame through the measured call: hidden result pointer after `this`,
// __stdcall clean-up of all four words.
FrameRec* FilterFrame(ClipObj* filter, int n) {
  FrameRef result{nullptr};
  uint32_t returned = 0;
  const uint32_t args[4] = {Word(filter), Word(&result), static_cast<uint32_t>(n), Word(&environment)};
  const int popped = AbiCallPopping(ClipSlotFunction(filter, SlotGetFrame), args, 4, 0, &returned);
  CHECK(popped == 16);
  CHECK(returned == Word(&result));
  return result.frame;
}

// Drops the host's last reference: the module's deleting destructor runs.
void DestroyFilter(ClipObj* filter) {
  CHECK(filter->refcnt == 1);
  DropClip(filter);
}

int ProcessThreads() {
  void* snapshot = CreateToolhelp32Snapshot(4 /* TH32CS_SNAPTHREAD */, 0);
  if (snapshot == reinterpret_cast<void*>(-1)) return -1;
  const unsigned long self = GetCurrentProcessId();
  int count = 0;
  ThreadEntry32 entry{};
  entry.size = sizeof entry;
  for (int more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.ownerProcessId == self) ++count;
    entry.size = sizeof entry;
  }
  CloseHandle(snapshot);
  return count;
}

// Threads may take a while to be gone from the system's lists (long on a
// loaded machine): polled up to a generous deadline, and what was seen last
// is reported.
bool ThreadsBackTo(int baseline) {
  int seen = ProcessThreads();
  for (int waited = 0; seen > baseline && waited < 60000; waited += 10) {
    Sleep(10);
    seen = ProcessThreads();
  }
  if (seen > baseline) Print(2, "    %d threads left after 60 s, %d before the cycles\n", seen, baseline);
  return seen <= baseline;
}

char workDir[512];
// A path in the work directory; kept for the whole run.
const char* WorkPath(const char* name) { return winrt::JoinPath(workDir, name); }

// ---------------------------------------------------------------------------
// The checks.
void CheckRefusals(const Module& module) {
  tally.group = "refusals";
  const abi::Case small = {8, 4, 3, 64, 16, "1"};
  const char* plan = WorkPath("plan.txt");
  CHECK(winrt::WriteWholeFile(plan, "1010", 4));
  struct Refusal {
    const char* what;
    int pixelType;
    const char* path;
    const char* message;
  } refusals[] = {
      {"RGB32 clip", 0x50000002, plan, "Invalid video colorspace"},
      {"YV12 clip without a plan", static_cast<int>(0xA0000008u), nullptr, "Invalid video colorspace"},
      {"no plan", 0x60000004, nullptr, "File open error"},
      {"missing plan", 0x60000004, WorkPath("no-such-plan.txt"), "File open error"},
  };
  for (const Refusal& r : refusals) {
    SourceClip* source = MakeSource(small, 1, r.pixelType);
    ClipObj* filter = nullptr;
    const char* error = CreateFilter(module, source, r.path, &filter);
    if (!Check(SameText(error, r.message), r.what, __LINE__)) Print(2, "    got \"%s\"\n", error ? error : "(a clip)");
    CHECK(filter == nullptr);
    CHECK(source->object.refcnt == 1);  // the module's references went as the error passed
    DropClip(&source->object);
    CHECK(source->destroyed);
  }

  // A clip value that is not an array: index 0 is the clip, index 1 the
  // same clip (no path). The callee destroys the argument, even on the way
  // out through an error.
  SourceClip* source = MakeSource(small, 1);
  TakeClip(&source->object);  // the argument's own reference
  ValueRec result;
  const char* error = Create(module, ClipValue(&source->object), &result);
  CHECK_TEXT(error, "File open error");
  CHECK(source->object.refcnt == 1);
  DropClip(&source->object);

  // The size limit: exactly 10,485,760 bytes is a plan, one more is not.
  const int limit = 10485760;
  char* big = static_cast<char*>(malloc(limit + 1));
  memset(big, '0', limit + 1);
  big[limit - 1] = '1';
  const char* bigPlan = WorkPath("big-plan.txt");
  for (int extra = 0; extra <= 1; ++extra) {
    CHECK(winrt::WriteWholeFile(bigPlan, big, static_cast<unsigned>(limit + extra)));
    source = MakeSource(small, 1);
    ClipObj* filter = nullptr;
    error = CreateFilter(module, source, bigPlan, &filter);
    if (extra == 0) {
      CHECK(error == nullptr);
      if (filter) {
        CHECK(FilterInfo(filter)->numFrames == 1);
        DestroyFilter(filter);
      }
    } else {
      CHECK_TEXT(error, "File too long");
    }
    CHECK(source->object.refcnt == 1);
    DropClip(&source->object);
  }
  free(big);
  _unlink(bigPlan);
  _unlink(plan);
}

// A plan that arrives through a named pipe, which has no length to ask for:
// the module reads it to its end, under the same size limit.
struct PipeFeed {
  void* pipe;
  const char* bytes;
  unsigned count;
};

unsigned long __stdcall FeedPipe(void* parameter) {
  PipeFeed* feed = static_cast<PipeFeed*>(parameter);
  ConnectNamedPipe(feed->pipe, nullptr);
  unsigned done = 0;
  while (done < feed->count) {
    unsigned long written = 0;
    const unsigned chunk = feed->count - done < 65536 ? feed->count - done : 65536;
    if (!::WriteFile(feed->pipe, feed->bytes + done, chunk, &written, nullptr) || written == 0) break;
    done += written;
  }
  CloseHandle(feed->pipe);  // the reader sees the end of the plan
  return 0;
}

void CheckPipePlans(const Module& module) {
  tally.group = "plans through a pipe";
  const abi::Case small = {8, 4, 3, 64, 16, "1"};
  const char* name = "\\\\.\\pipe\\zemivtc-abi-host-plan";
  const int limit = 10485760;
  char* bytes = static_cast<char*>(malloc(limit + 1));
  memset(bytes, '0', limit + 1);
  struct PipeCase {
    unsigned count;  // plan bytes sent
    int frames;      // -1: refused as too long
  } cases[] = {{100000, 3}, {static_cast<unsigned>(limit) + 1, -1}};
  bytes[0] = bytes[70001] = bytes[99998] = '1';  // three frames, beyond the first read
  for (const PipeCase& c : cases) {
    PipeFeed feed{CreateNamedPipeA(name, 2 /* outbound */, 0 /* bytes, waiting */, 1, 65536, 65536, 0, nullptr), bytes,
                  c.count};
    if (!CHECK(feed.pipe != reinterpret_cast<void*>(-1))) break;
    void* writer = CreateThread(nullptr, 0, FeedPipe, &feed, 0, nullptr);
    SourceClip* source = MakeSource(small, 1);
    ClipObj* filter = nullptr;
    const char* error = CreateFilter(module, source, name, &filter);
    if (c.frames < 0) {
      CHECK_TEXT(error, "File too long");
    } else if (CHECK(error == nullptr && filter != nullptr)) {
      CHECK(FilterInfo(filter)->numFrames == c.frames);
      DestroyFilter(filter);
    }
    CHECK(WaitForSingleObject(writer, 120000) == 0);  // the writer ends when the plan is read or refused
    CloseHandle(writer);
    CHECK(source->object.refcnt == 1);
    DropClip(&source->object);
  }
  free(bytes);
}

// Properties, parity and audio of one filter over the first case.
void CheckPassThrough(const Module& module) {
  tally.group = "clip properties";
  const abi::Case& c = abi::Cases[0];
  const char* plan = WorkPath("plan.txt");
  CHECK(winrt::WriteWholeFile(plan, "1\r\n15x26", 8));  // codes at positions 0, 3, 4, 6 and 7
  SourceClip* source = MakeSource(c, 7);
  ClipObj* filter = nullptr;
  const char* error = CreateFilter(module, source, plan, &filter);
  CHECK(error == nullptr);
  if (filter == nullptr) return;
  CHECK(source->object.refcnt == 2);  // the filter's child

  uint32_t version = 0;
  const uint32_t self[1] = {Word(filter)};
  CHECK(AbiCallPopping(ClipSlotFunction(filter, SlotGetVersion), self, 1, 0, &version) == 4);
  CHECK(version == 2);
  const VideoInfoRec* vi = FilterInfo(filter);
  CHECK(vi->width == c.width && vi->height == c.height && vi->pixelType == 0x60000004);
  CHECK(vi->numFrames == 5);
  CHECK(vi->fpsNumerator == 60000 && vi->fpsDenominator == 1001);
  CHECK(vi->audioSamplesPerSecond == 48000 && vi->sampleType == 2 && vi->channels == 2);
  CHECK(vi->numAudioSamples == 123456789012LL);

  for (int n = 0; n < 6; ++n) {
    uint32_t parity = 0;
    const uint32_t args[2] = {Word(filter), static_cast<uint32_t>(n)};
    CHECK(AbiCallPopping(ClipSlotFunction(filter, SlotGetParity), args, 2, 0, &parity) == 8);
    CHECK((parity & 0xFF) == (abi::SourceParity(n) ? 1u : 0u));
    CHECK(source->lastParityAsked == n);
  }

  // Two 64-bit arguments: seven words in all.
  uint8_t audio[64] = {};
  const long long start = 5000000000LL;
  uint32_t ignored = 0;
  const uint32_t audioArgs[7] = {
      Word(filter),      Word(audio), static_cast<uint32_t>(start), static_cast<uint32_t>(start >> 32), 16, 0,
      Word(&environment)};
  CHECK(AbiCallPopping(ClipSlotFunction(filter, SlotGetAudio), audioArgs, 7, 0, &ignored) == 28);
  CHECK(source->lastAudioBuffer == audio && source->lastAudioStart == start && source->lastAudioCount == 16);
  bool same = true;
  for (int i = 0; i < 64; ++i) same = same && audio[i] == abi::AudioByte(start * 4 + i);
  CHECK(same);
  const uint32_t hints[3] = {Word(filter), 1, 10};
  CHECK(AbiCallPopping(ClipSlotFunction(filter, SlotSetCacheHints), hints, 3, 0, &ignored) == 12);

  DestroyFilter(filter);
  CHECK(source->object.refcnt == 1);
  CHECK(SourceCountsAtRest(source));
  DropClip(&source->object);
  _unlink(plan);
}

// Every case's frames, compared with the native build's bytes.
struct Reference {
  uint8_t* bytes;
  int size;
};

Reference ReadReference(const char* path) {
  Reference r{nullptr, 0};
  const int fd = _open(path, winrt::kOpenRead);
  if (fd < 0) return r;
  int capacity = 1 << 20;
  r.bytes = static_cast<uint8_t*>(malloc(capacity));
  for (;;) {
    if (r.size == capacity) {
      uint8_t* grown = static_cast<uint8_t*>(malloc(capacity * 2));
      memcpy(grown, r.bytes, r.size);
      free(r.bytes);
      r.bytes = grown;
      capacity *= 2;
    }
    const int got = _read(fd, r.bytes + r.size, static_cast<unsigned>(capacity - r.size));
    if (got <= 0) break;
    r.size += got;
  }
  _close(fd);
  return r;
}

// Renders every case and compares each output row with the reference; the
// reference holds, per case, the frame count as 4 bytes and then every
// output frame's rows of visible bytes.
void CheckFrames(const Module& module, const Reference& reference, const char* label) {
  tally.group = label;
  int at = 0;
  bool same = true;
  const char* plan = WorkPath("plan.txt");
  for (int index = 0; index < abi::CaseCount; ++index) {
    const abi::Case& c = abi::Cases[index];
    CHECK(winrt::WriteWholeFile(plan, c.plan, static_cast<unsigned>(strlen(c.plan))));
    SourceClip* source = MakeSource(c, abi::CaseSeed(index));
    const uint32_t before = Checksum(source);
    const int framesHeld = FramesHeld();
    const int buffersHeld = BuffersHeld();
    ClipObj* filter = nullptr;
    const char* error = CreateFilter(module, source, plan, &filter);
    if (!CHECK(error == nullptr && filter != nullptr)) {
      DropClip(&source->object);
      continue;
    }
    const int frames = FilterInfo(filter)->numFrames;
    int32_t want = -1;
    if (at + 4 <= reference.size) memcpy(&want, reference.bytes + at, 4);
    at += 4;
    if (!CHECK(frames == want)) {
      Print(2, "    case %d: %d frames, the native build made %d\n", index, frames, want);
      same = false;
    }
    for (int n = 0; n < frames && same; ++n) {
      FrameRec* frame = FilterFrame(filter, n);
      if (!CHECK(frame != nullptr)) break;
      CHECK(frame->refcount >= 1);
      CHECK(frame->rowSize == 2 * c.width && frame->height == c.height);
      // A source frame passed on untouched, or a new frame written once, by
      // the module alone: write pointers are only taken on frames held once.
      bool fromSource = false;
      for (int f = 0; f < source->frameCount; ++f) fromSource = fromSource || source->frames[f] == frame;
      CHECK(frame->vfb->sequenceNumber == (fromSource ? 0 : 1));
      for (int y = 0; y < frame->height && same; ++y) {
        const uint8_t* row = frame->vfb->data + frame->offset + y * frame->pitch;
        if (at + frame->rowSize > reference.size || memcmp(row, reference.bytes + at, frame->rowSize) != 0) {
          Print(2, "    case %d (%dx%d), output frame %d, row %d differs from the native build\n", index, c.width,
                c.height, n, y);
          same = false;
        }
        at += frame->rowSize;
      }
      DropFrame(frame);
      // Between frames the module holds nothing: every frame it asked for or
      // made is back with the host, and the source frames rest.
      CHECK(FramesHeld() == framesHeld && BuffersHeld() == buffersHeld);
    }
    CHECK(SourceCountsAtRest(source));
    CHECK(Checksum(source) == before);
    DestroyFilter(filter);
    CHECK(source->object.refcnt == 1);
    DropClip(&source->object);
    CHECK(source->destroyed);
  }
  CHECK(same);
  CHECK(at == reference.size);
  _unlink(plan);
}

// Many filters made and dropped: the threads each one starts end with it.
void CheckLifecycle(const Module& module) {
  tally.group = "create/destroy cycles";
  const char* plan = WorkPath("plan.txt");
  CHECK(winrt::WriteWholeFile(plan, "1212", 4));
  const abi::Case c = {16, 8, 4, 64, 16, "1212"};
  const int baseline = ProcessThreads();
  CHECK(baseline > 0);
  for (int cycle = 0; cycle < 100; ++cycle) {
    SourceClip* source = MakeSource(c, 3);
    ClipObj* filter = nullptr;
    CreateFilter(module, source, plan, &filter);
    if (!CHECK(filter != nullptr)) break;
    if (cycle % 2 == 0) DropFrame(FilterFrame(filter, cycle % 4));  // every other filter makes a frame first
    DestroyFilter(filter);
    if (!CHECK(source->object.refcnt == 1 && source->destroyed == false)) break;
    DropClip(&source->object);
  }
  CHECK(ThreadsBackTo(baseline));
  _unlink(plan);
}

int Main(int argc, char** argv) {
  if (argc != 5) {
    Print(2, "usage: abi_host MODULE TESTHOOKS_MODULE REFERENCE WORKDIR\n");
    return 2;
  }
  memcpy(workDir, argv[4], strlen(argv[4]) < 511 ? strlen(argv[4]) + 1 : 511);
  const Reference reference = ReadReference(argv[3]);
  if (reference.size == 0) {
    Print(2, "abi_host: cannot read the reference %s\n", argv[3]);
    return 2;
  }

  const Module shipped = LoadModule(argv[1]);
  if (shipped.create == nullptr) return 1;
  CheckRefusals(shipped);
  CheckPipePlans(shipped);
  CheckPassThrough(shipped);
  CheckFrames(shipped, reference, "frames, shipped module");
  CheckLifecycle(shipped);

  // The test-hooks twin reads its worker count and kernel cap from the C
  // runtime's environment, which this host shares with it.
  const Module hooked = LoadModule(argv[2]);
  if (hooked.create != nullptr) {
    struct Setting {
      const char* workers;
      const char* kernel;
      const char* label;
    } settings[] = {
        {"ZEMIVTC_TEST_PROCESSORS=1", "ZEMIVTC_TEST_KERNEL=avx2", "frames, 1 worker"},
        {"ZEMIVTC_TEST_PROCESSORS=3", "ZEMIVTC_TEST_KERNEL=sse2", "frames, 3 workers, SSE2 kernel"},
        {"ZEMIVTC_TEST_PROCESSORS=16", "ZEMIVTC_TEST_KERNEL=scalar", "frames, 16 workers, scalar kernel"},
    };
    for (const Setting& s : settings) {
      _putenv(s.workers);
      _putenv(s.kernel);
      CheckFrames(hooked, reference, s.label);
    }
  }
  tally.group = "slots";
  CheckOnlyExpectedSlots();

  if (shipped.handle) FreeLibrary(shipped.handle);
  if (hooked.handle) FreeLibrary(hooked.handle);
  Print(1, "abi_host: %d checks, %d failed\n", tally.checks, tally.failures);
  return tally.failures == 0 ? 0 : 1;
}

}  // namespace

WINRT_ENTRY(AbiHostStart, Main)
