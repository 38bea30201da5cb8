// The host's records at the host's offsets (checked here at compile time),
// for the Windows test programs that stand in for the host or call it:
// VideoInfo, VideoFrameBuffer, VideoFrame and its reference PVideoFrame, and
// AVSValue (the C interface's AVS_Value has the same layout).
#ifndef ZEMIVTC_TESTS_ABI_HOST_RECORDS_H
#define ZEMIVTC_TESTS_ABI_HOST_RECORDS_H

#include <stdint.h>

struct VideoInfoRec {
  int width, height;
  unsigned fpsNumerator, fpsDenominator;
  int numFrames, pixelType;
  int audioSamplesPerSecond, sampleType;
  long long numAudioSamples;
  int channels, imageType;
};
static_assert(sizeof(VideoInfoRec) == 48 && alignof(VideoInfoRec) == 8, "VideoInfo is 48 bytes, 8-aligned");
static_assert(__builtin_offsetof(VideoInfoRec, numFrames) == 16 && __builtin_offsetof(VideoInfoRec, pixelType) == 20,
              "VideoInfo frames and pixel type");
static_assert(__builtin_offsetof(VideoInfoRec, numAudioSamples) == 32 &&
                  __builtin_offsetof(VideoInfoRec, channels) == 40 && __builtin_offsetof(VideoInfoRec, imageType) == 44,
              "VideoInfo audio");

struct FrameBufferRec {
  uint8_t* data;
  int dataSize;
  long sequenceNumber;
  long refcount;
};
static_assert(sizeof(FrameBufferRec) == 16 && __builtin_offsetof(FrameBufferRec, refcount) == 12, "VideoFrameBuffer");

struct FrameRec {
  int refcount;
  FrameBufferRec* vfb;
  int offset, pitch, rowSize, height, offsetU, offsetV, pitchUV;
};
static_assert(sizeof(FrameRec) == 36 && __builtin_offsetof(FrameRec, vfb) == 4 &&
                  __builtin_offsetof(FrameRec, offset) == 8 && __builtin_offsetof(FrameRec, pitch) == 12 &&
                  __builtin_offsetof(FrameRec, rowSize) == 16 && __builtin_offsetof(FrameRec, height) == 20,
              "VideoFrame");

struct FrameRef {  // PVideoFrame
  FrameRec* frame;
};
static_assert(sizeof(FrameRef) == 4, "PVideoFrame");

struct ValueRec {  // AVSValue
  short type;      // 'c'lip, 's'tring, 'e'rror, 'a'rray, 'i'nt, 'b'ool, 'f'loat, 'v'oid
  short arraySize;
  union {
    void* clip;
    bool boolean;
    int integer;
    float number;
    const char* string;
    const ValueRec* array;
  };
};
static_assert(sizeof(ValueRec) == 8 && __builtin_offsetof(ValueRec, arraySize) == 2 &&
                  __builtin_offsetof(ValueRec, clip) == 4,
              "AVSValue");

#endif
