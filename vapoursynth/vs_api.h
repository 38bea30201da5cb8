// The VapourSynth plugin interface, API version 4, as this project declares
// it: the records, numbers and function tables a plugin and a core exchange,
// in the host's binary layout (member order, sizes, calling convention).
// Only API 4.0 and the members added up to 4.2 are declared; the graph
// inspection members after getCoreInfo2 are left out (nothing here calls
// them, and a table is only ever read through the core's pointer).
//
// No C or C++ library: the Windows plugin includes this too.
#ifndef ZEMIVTC_VAPOURSYNTH_VS_API_H
#define ZEMIVTC_VAPOURSYNTH_VS_API_H

#include <stddef.h>
#include <stdint.h>

// Every function of the interface: stdcall on 32-bit Windows, the platform's
// one convention on x86-64 Linux and Windows.
#if defined(_WIN32) && !defined(_WIN64)
#define VS_CC __stdcall
#else
#define VS_CC
#endif

#if defined(_WIN32)
#define VS_EXTERNAL_API(ret) extern "C" __declspec(dllexport) ret VS_CC
#else
#define VS_EXTERNAL_API(ret) extern "C" __attribute__((visibility("default"))) ret VS_CC
#endif

constexpr int VapourSynthApiMajor = 4;
constexpr int VapourSynthApiMinor = 0;
// (major << 16) | minor: a plugin asking for 4.0 loads in every API-4 core.
constexpr int VapourSynthApiVersion = (VapourSynthApiMajor << 16) | VapourSynthApiMinor;

struct VSFrame;
struct VSNode;
struct VSCore;
struct VSPlugin;
struct VSPluginFunction;
struct VSFunction;
struct VSMap;
struct VSLogHandle;
struct VSFrameContext;

enum VSColorFamily { cfUndefined = 0, cfGray = 1, cfRGB = 2, cfYUV = 3 };
enum VSSampleType { stInteger = 0, stFloat = 1 };
enum VSFilterMode { fmParallel = 0, fmParallelRequests = 1, fmUnordered = 2, fmFrameState = 3 };
enum VSMediaType { mtVideo = 1, mtAudio = 2 };
enum VSPropertyType {
  ptUnset = 0,
  ptInt = 1,
  ptFloat = 2,
  ptData = 3,
  ptFunction = 4,
  ptVideoNode = 5,
  ptAudioNode = 6,
  ptVideoFrame = 7,
  ptAudioFrame = 8
};
enum VSMapPropertyError { peSuccess = 0, peUnset = 1, peType = 2, peError = 3, peIndex = 4 };
enum VSMapAppendMode { maReplace = 0, maAppend = 1 };
enum VSActivationReason { arError = -1, arInitial = 0, arAllFramesReady = 1 };
enum VSMessageType { mtDebug = 0, mtInformation = 1, mtWarning = 2, mtCritical = 3, mtFatal = 4 };
enum VSCoreCreationFlags {
  ccfEnableGraphInspection = 1,
  ccfDisableAutoLoading = 2,
  ccfDisableLibraryUnloading = 4,
  ccfEnableFrameRefDebug = 8
};
enum VSPluginConfigFlags { pcModifiable = 1 };
enum VSDataTypeHint { dtUnknown = -1, dtBinary = 0, dtUtf8 = 1 };
enum VSRequestPattern { rpGeneral = 0, rpNoFrameReuse = 1, rpStrictSpatial = 2, rpFrameReuseLastOnly = 3 };
enum VSCacheMode { cmAuto = -1, cmForceDisable = 0, cmForceEnable = 1 };

// colorFamily << 28 | sampleType << 24 | bitsPerSample << 16 | subSamplingW << 8 | subSamplingH
constexpr uint32_t VideoFormatId(int colorFamily, int sampleType, int bits, int subSamplingW, int subSamplingH) {
  return static_cast<uint32_t>(colorFamily) << 28 | static_cast<uint32_t>(sampleType) << 24 |
         static_cast<uint32_t>(bits) << 16 | static_cast<uint32_t>(subSamplingW) << 8 |
         static_cast<uint32_t>(subSamplingH);
}
enum VSPresetVideoFormat : uint32_t {
  pfGray8 = VideoFormatId(cfGray, stInteger, 8, 0, 0),
  pfYUV420P8 = VideoFormatId(cfYUV, stInteger, 8, 1, 1),
  pfYUV422P8 = VideoFormatId(cfYUV, stInteger, 8, 1, 0),
  pfYUV444P8 = VideoFormatId(cfYUV, stInteger, 8, 0, 0),
  pfRGB24 = VideoFormatId(cfRGB, stInteger, 8, 0, 0),
};

struct VSVideoFormat {
  int colorFamily;
  int sampleType;
  int bitsPerSample;
  int bytesPerSample;
  int subSamplingW;  // log2, planes 1 and 2
  int subSamplingH;
  int numPlanes;
};

struct VSAudioFormat {
  int sampleType;
  int bitsPerSample;
  int bytesPerSample;
  int numChannels;
  uint64_t channelLayout;
};

struct VSCoreInfo {
  const char* versionString;
  int core;
  int api;
  int numThreads;
  int64_t maxFramebufferSize;
  int64_t usedFramebufferSize;
};

struct VSCoreInfo2 {
  const char* versionString;
  int coreVersion;
  int apiVersion;
  int creationFlags;
  int numThreads;
  int64_t maxFramebufferSize;
  int64_t usedFramebufferSize;
};

// fpsNum = fpsDen = 0: a variable rate (then the frames' _DurationNum and
// _DurationDen are the times); width = height = 0: a variable size.
struct VSVideoInfo {
  VSVideoFormat format;
  int64_t fpsNum;
  int64_t fpsDen;
  int width;
  int height;
  int numFrames;
};

struct VSAudioInfo {
  VSAudioFormat format;
  int sampleRate;
  int64_t numSamples;
  int numFrames;
};

struct VSFilterDependency {
  VSNode* source;
  int requestPattern;
};

struct VSAPI;
struct VSPLUGINAPI;

typedef const VSAPI*(VS_CC* VSGetVapourSynthAPI)(int version);
typedef void(VS_CC* VSPublicFunction)(const VSMap* in, VSMap* out, void* userData, VSCore* core, const VSAPI* vsapi);
typedef void(VS_CC* VSInitPlugin)(VSPlugin* plugin, const VSPLUGINAPI* vspapi);
typedef void(VS_CC* VSFreeFunctionData)(void* userData);
typedef const VSFrame*(VS_CC* VSFilterGetFrame)(int n, int activationReason, void* instanceData, void** frameData,
                                                VSFrameContext* frameCtx, VSCore* core, const VSAPI* vsapi);
typedef void(VS_CC* VSFilterFree)(void* instanceData, VSCore* core, const VSAPI* vsapi);
typedef void(VS_CC* VSFrameDoneCallback)(void* userData, const VSFrame* f, int n, VSNode* node, const char* errorMsg);
typedef void(VS_CC* VSLogHandler)(int msgType, const char* msg, void* userData);
typedef void(VS_CC* VSLogHandlerFree)(void* userData);

struct VSPLUGINAPI {
  int(VS_CC* getAPIVersion)();
  int(VS_CC* configPlugin)(const char* identifier, const char* pluginNamespace, const char* name, int pluginVersion,
                           int apiVersion, int flags, VSPlugin* plugin);
  int(VS_CC* registerFunction)(const char* name, const char* args, const char* returnType, VSPublicFunction argsFunc,
                               void* functionData, VSPlugin* plugin);
};

// Slot order is the binary interface: never reorder.
struct VSAPI {
  void(VS_CC* createVideoFilter)(VSMap* out, const char* name, const VSVideoInfo* vi, VSFilterGetFrame getFrame,
                                 VSFilterFree free, int filterMode, const VSFilterDependency* dependencies, int numDeps,
                                 void* instanceData, VSCore* core);
  VSNode*(VS_CC* createVideoFilter2)(const char* name, const VSVideoInfo* vi, VSFilterGetFrame getFrame,
                                     VSFilterFree free, int filterMode, const VSFilterDependency* dependencies,
                                     int numDeps, void* instanceData, VSCore* core);
  void(VS_CC* createAudioFilter)(VSMap* out, const char* name, const VSAudioInfo* ai, VSFilterGetFrame getFrame,
                                 VSFilterFree free, int filterMode, const VSFilterDependency* dependencies, int numDeps,
                                 void* instanceData, VSCore* core);
  VSNode*(VS_CC* createAudioFilter2)(const char* name, const VSAudioInfo* ai, VSFilterGetFrame getFrame,
                                     VSFilterFree free, int filterMode, const VSFilterDependency* dependencies,
                                     int numDeps, void* instanceData, VSCore* core);
  int(VS_CC* setLinearFilter)(VSNode* node);
  void(VS_CC* setCacheMode)(VSNode* node, int mode);
  void(VS_CC* setCacheOptions)(VSNode* node, int fixedSize, int maxSize, int maxHistorySize);
  void(VS_CC* freeNode)(VSNode* node);
  VSNode*(VS_CC* addNodeRef)(VSNode* node);
  int(VS_CC* getNodeType)(VSNode* node);
  const VSVideoInfo*(VS_CC* getVideoInfo)(VSNode* node);
  const VSAudioInfo*(VS_CC* getAudioInfo)(VSNode* node);
  // 12
  VSFrame*(VS_CC* newVideoFrame)(const VSVideoFormat* format, int width, int height, const VSFrame* propSrc,
                                 VSCore* core);
  VSFrame*(VS_CC* newVideoFrame2)(const VSVideoFormat* format, int width, int height, const VSFrame** planeSrc,
                                  const int* planes, const VSFrame* propSrc, VSCore* core);
  VSFrame*(VS_CC* newAudioFrame)(const VSAudioFormat* format, int numSamples, const VSFrame* propSrc, VSCore* core);
  VSFrame*(VS_CC* newAudioFrame2)(const VSAudioFormat* format, int numSamples, const VSFrame** channelSrc,
                                  const int* channels, const VSFrame* propSrc, VSCore* core);
  void(VS_CC* freeFrame)(const VSFrame* f);
  const VSFrame*(VS_CC* addFrameRef)(const VSFrame* f);
  VSFrame*(VS_CC* copyFrame)(const VSFrame* f, VSCore* core);
  const VSMap*(VS_CC* getFramePropertiesRO)(const VSFrame* f);
  VSMap*(VS_CC* getFramePropertiesRW)(VSFrame* f);
  ptrdiff_t(VS_CC* getStride)(const VSFrame* f, int plane);
  const uint8_t*(VS_CC* getReadPtr)(const VSFrame* f, int plane);
  uint8_t*(VS_CC* getWritePtr)(VSFrame* f, int plane);
  // 24
  const VSVideoFormat*(VS_CC* getVideoFrameFormat)(const VSFrame* f);
  const VSAudioFormat*(VS_CC* getAudioFrameFormat)(const VSFrame* f);
  int(VS_CC* getFrameType)(const VSFrame* f);
  int(VS_CC* getFrameWidth)(const VSFrame* f, int plane);
  int(VS_CC* getFrameHeight)(const VSFrame* f, int plane);
  int(VS_CC* getFrameLength)(const VSFrame* f);
  // 30: the buffer holds at least 32 bytes
  int(VS_CC* getVideoFormatName)(const VSVideoFormat* format, char* buffer);
  int(VS_CC* getAudioFormatName)(const VSAudioFormat* format, char* buffer);
  int(VS_CC* queryVideoFormat)(VSVideoFormat* format, int colorFamily, int sampleType, int bitsPerSample,
                               int subSamplingW, int subSamplingH, VSCore* core);
  int(VS_CC* queryAudioFormat)(VSAudioFormat* format, int sampleType, int bitsPerSample, uint64_t channelLayout,
                               VSCore* core);
  uint32_t(VS_CC* queryVideoFormatID)(int colorFamily, int sampleType, int bitsPerSample, int subSamplingW,
                                      int subSamplingH, VSCore* core);
  int(VS_CC* getVideoFormatByID)(VSVideoFormat* format, uint32_t id, VSCore* core);
  // 36: the synchronous getFrame never inside a filter's getFrame
  const VSFrame*(VS_CC* getFrame)(int n, VSNode* node, char* errorMsg, int bufSize);
  void(VS_CC* getFrameAsync)(int n, VSNode* node, VSFrameDoneCallback callback, void* userData);
  const VSFrame*(VS_CC* getFrameFilter)(int n, VSNode* node, VSFrameContext* frameCtx);
  void(VS_CC* requestFrameFilter)(int n, VSNode* node, VSFrameContext* frameCtx);
  void(VS_CC* releaseFrameEarly)(VSNode* node, int n, VSFrameContext* frameCtx);
  void(VS_CC* cacheFrame)(const VSFrame* frame, int n, VSFrameContext* frameCtx);
  void(VS_CC* setFilterError)(const char* errorMessage, VSFrameContext* frameCtx);
  // 43
  VSFunction*(VS_CC* createFunction)(VSPublicFunction func, void* userData, VSFreeFunctionData free, VSCore* core);
  void(VS_CC* freeFunction)(VSFunction* f);
  VSFunction*(VS_CC* addFunctionRef)(VSFunction* f);
  void(VS_CC* callFunction)(VSFunction* func, const VSMap* in, VSMap* out);
  // 47
  VSMap*(VS_CC* createMap)();
  void(VS_CC* freeMap)(VSMap* map);
  void(VS_CC* clearMap)(VSMap* map);
  void(VS_CC* copyMap)(const VSMap* src, VSMap* dst);
  void(VS_CC* mapSetError)(VSMap* map, const char* errorMessage);
  const char*(VS_CC* mapGetError)(const VSMap* map);
  int(VS_CC* mapNumKeys)(const VSMap* map);
  const char*(VS_CC* mapGetKey)(const VSMap* map, int index);
  int(VS_CC* mapDeleteKey)(VSMap* map, const char* key);
  int(VS_CC* mapNumElements)(const VSMap* map, const char* key);
  int(VS_CC* mapGetType)(const VSMap* map, const char* key);
  int(VS_CC* mapSetEmpty)(VSMap* map, const char* key, int type);
  // 59
  int64_t(VS_CC* mapGetInt)(const VSMap* map, const char* key, int index, int* error);
  int(VS_CC* mapGetIntSaturated)(const VSMap* map, const char* key, int index, int* error);
  const int64_t*(VS_CC* mapGetIntArray)(const VSMap* map, const char* key, int* error);
  int(VS_CC* mapSetInt)(VSMap* map, const char* key, int64_t i, int append);
  int(VS_CC* mapSetIntArray)(VSMap* map, const char* key, const int64_t* i, int size);
  double(VS_CC* mapGetFloat)(const VSMap* map, const char* key, int index, int* error);
  float(VS_CC* mapGetFloatSaturated)(const VSMap* map, const char* key, int index, int* error);
  const double*(VS_CC* mapGetFloatArray)(const VSMap* map, const char* key, int* error);
  int(VS_CC* mapSetFloat)(VSMap* map, const char* key, double d, int append);
  int(VS_CC* mapSetFloatArray)(VSMap* map, const char* key, const double* d, int size);
  // 69
  const char*(VS_CC* mapGetData)(const VSMap* map, const char* key, int index, int* error);
  int(VS_CC* mapGetDataSize)(const VSMap* map, const char* key, int index, int* error);
  int(VS_CC* mapGetDataTypeHint)(const VSMap* map, const char* key, int index, int* error);
  int(VS_CC* mapSetData)(VSMap* map, const char* key, const char* data, int size, int type, int append);
  VSNode*(VS_CC* mapGetNode)(const VSMap* map, const char* key, int index, int* error);
  int(VS_CC* mapSetNode)(VSMap* map, const char* key, VSNode* node, int append);
  int(VS_CC* mapConsumeNode)(VSMap* map, const char* key, VSNode* node, int append);
  const VSFrame*(VS_CC* mapGetFrame)(const VSMap* map, const char* key, int index, int* error);
  int(VS_CC* mapSetFrame)(VSMap* map, const char* key, const VSFrame* f, int append);
  int(VS_CC* mapConsumeFrame)(VSMap* map, const char* key, const VSFrame* f, int append);
  VSFunction*(VS_CC* mapGetFunction)(const VSMap* map, const char* key, int index, int* error);
  int(VS_CC* mapSetFunction)(VSMap* map, const char* key, VSFunction* func, int append);
  int(VS_CC* mapConsumeFunction)(VSMap* map, const char* key, VSFunction* func, int append);
  // 82
  int(VS_CC* registerFunction)(const char* name, const char* args, const char* returnType, VSPublicFunction argsFunc,
                               void* functionData, VSPlugin* plugin);
  VSPlugin*(VS_CC* getPluginByID)(const char* identifier, VSCore* core);
  VSPlugin*(VS_CC* getPluginByNamespace)(const char* ns, VSCore* core);
  VSPlugin*(VS_CC* getNextPlugin)(VSPlugin* plugin, VSCore* core);
  const char*(VS_CC* getPluginName)(VSPlugin* plugin);
  const char*(VS_CC* getPluginID)(VSPlugin* plugin);
  const char*(VS_CC* getPluginNamespace)(VSPlugin* plugin);
  VSPluginFunction*(VS_CC* getNextPluginFunction)(VSPluginFunction* func, VSPlugin* plugin);
  VSPluginFunction*(VS_CC* getPluginFunctionByName)(const char* name, VSPlugin* plugin);
  const char*(VS_CC* getPluginFunctionName)(VSPluginFunction* func);
  const char*(VS_CC* getPluginFunctionArguments)(VSPluginFunction* func);
  const char*(VS_CC* getPluginFunctionReturnType)(VSPluginFunction* func);
  const char*(VS_CC* getPluginPath)(const VSPlugin* plugin);
  int(VS_CC* getPluginVersion)(const VSPlugin* plugin);
  VSMap*(VS_CC* invoke)(VSPlugin* plugin, const char* name, const VSMap* args);
  // 97
  VSCore*(VS_CC* createCore)(int flags);
  void(VS_CC* freeCore)(VSCore* core);
  int64_t(VS_CC* setMaxCacheSize)(int64_t bytes, VSCore* core);
  int(VS_CC* setThreadCount)(int threads, VSCore* core);
  void(VS_CC* getCoreInfo)(VSCore* core, VSCoreInfo* info);
  int(VS_CC* getAPIVersion)();
  void(VS_CC* logMessage)(int msgType, const char* msg, VSCore* core);
  VSLogHandle*(VS_CC* addLogHandler)(VSLogHandler handler, VSLogHandlerFree free, void* userData, VSCore* core);
  int(VS_CC* removeLogHandler)(VSLogHandle* handle, VSCore* core);
  // 106: API 4.1 and later; a plugin asking for 4.0 must not call these
  void(VS_CC* clearNodeCache)(VSNode* node);
  void(VS_CC* clearCoreCaches)(VSCore* core);
  const char*(VS_CC* getNodeName)(VSNode* node);
  int(VS_CC* getNodeFilterMode)(VSNode* node);
  int(VS_CC* getNumNodeDependencies)(VSNode* node);
  const VSFilterDependency*(VS_CC* getNodeDependency)(VSNode* node, int index);
  int(VS_CC* getCoreNodeTiming)(VSCore* core);
  void(VS_CC* setCoreNodeTiming)(VSCore* core, int enable);
  int64_t(VS_CC* getNodeProcessingTime)(VSNode* node, int reset);
  int64_t(VS_CC* getFreedNodeProcessingTime)(VSCore* core, int reset);
  // 116: API 4.2 and later
  void(VS_CC* getCoreInfo2)(VSCore* core, VSCoreInfo2* info);
};

// The layout the cores have on the two targets, x86-64 Linux and Windows.
static_assert(sizeof(void*) == 8, "the plugin is built for 64-bit targets only");
static_assert(sizeof(VSVideoFormat) == 28, "VSVideoFormat: seven ints");
static_assert(offsetof(VSVideoInfo, fpsNum) == 32 && offsetof(VSVideoInfo, width) == 48 &&
                  offsetof(VSVideoInfo, numFrames) == 56,
              "VSVideoInfo layout");
static_assert(offsetof(VSAPI, getFrame) == 36 * sizeof(void*), "VSAPI slot 36");
static_assert(offsetof(VSAPI, mapGetInt) == 59 * sizeof(void*), "VSAPI slot 59");
static_assert(offsetof(VSAPI, registerFunction) == 82 * sizeof(void*), "VSAPI slot 82");
static_assert(offsetof(VSAPI, logMessage) == 103 * sizeof(void*), "VSAPI slot 103");
static_assert(sizeof(VSAPI) == 117 * sizeof(void*), "VSAPI: 106 slots of API 4.0, ten of 4.1, one of 4.2");
static_assert(sizeof(VSPLUGINAPI) == 3 * sizeof(void*), "VSPLUGINAPI: three slots");

#endif
