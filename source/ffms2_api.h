// Our own declarations of the parts of FFMS2's C interface that the source
// reader uses, from the library's published interface (version 2.40, whose
// header says FFMS_VERSION 3.0.1.0 in Debian's build), so that the reader
// builds where no FFMS2 header is installed (the Windows build) and loads
// the library at run time. tests/source_layout_test.cpp checks every record
// and constant here against Debian's ffms.h.
//
// Only leading fields of the records are declared where the reader needs no
// more: the library allocates them and hands out pointers, so a shorter
// declaration reads the same bytes.
#ifndef ZEMIVTC_SOURCE_FFMS2_API_H
#define ZEMIVTC_SOURCE_FFMS2_API_H

#include <cstddef>
#include <cstdint>

#include "platform/system.h"

// FFMS2 exports its functions as Windows' own are on 32-bit Windows.
#define ZEMIVTC_FFMS_CC SYS_STDCALL

namespace ffms2 {

struct ErrorInfo {
  int errorType;
  int subType;
  int bufferSize;
  char* buffer;
};

struct VideoSource;
struct Indexer;
struct Index;
struct Track;

enum : int { SeekNormal = 1 };
enum : int { IndexErrorAbort = 0 };
enum : int { TypeVideo = 0 };
enum : int { LogQuiet = -8 };

// A decoded frame, as far as the reader reads it.
struct Frame {
  const uint8_t* data[4];
  int linesize[4];
  int encodedWidth;
  int encodedHeight;
  int encodedPixelFormat;
  int scaledWidth;
  int scaledHeight;
  int convertedPixelFormat;
  int keyFrame;
  int repeatPict;
  int interlacedFrame;
  int topFieldFirst;
  char pictType;
  int colorSpace;
  int colorRange;
  int colorPrimaries;
  int transferCharacteristics;
  int chromaLocation;
};

enum : int { ChromaLocationLeft = 1, ChromaLocationTopLeft = 3 };

struct TrackTimeBase {
  int64_t num;
  int64_t den;
};

struct FrameInfo {
  int64_t pts;
  int repeatPict;
  int keyFrame;
  int64_t originalPts;
};

// The video track's properties, as far as the reader reads them.
struct VideoProperties {
  int fpsDenominator;
  int fpsNumerator;
  int rffDenominator;
  int rffNumerator;
  int numFrames;
  int sarNum;
  int sarDen;
  int cropTop;
  int cropBottom;
  int cropLeft;
  int cropRight;
  int topFieldFirst;
  int colorSpace;
  int colorRange;
  double firstTime;
  double lastTime;
};

typedef int(ZEMIVTC_FFMS_CC* IndexCallback)(int64_t current, int64_t total, void* context);

// The library's functions, looked up by name when it is loaded.
struct Api {
  void(ZEMIVTC_FFMS_CC* Init)(int, int);
  int(ZEMIVTC_FFMS_CC* GetVersion)();
  void(ZEMIVTC_FFMS_CC* SetLogLevel)(int level);
  int(ZEMIVTC_FFMS_CC* GetPixFmt)(const char* name);
  Indexer*(ZEMIVTC_FFMS_CC* CreateIndexer)(const char* sourceFile, ErrorInfo* error);
  int(ZEMIVTC_FFMS_CC* GetNumTracksI)(Indexer* indexer);
  int(ZEMIVTC_FFMS_CC* GetTrackTypeI)(Indexer* indexer, int track);
  const char*(ZEMIVTC_FFMS_CC* GetCodecNameI)(Indexer* indexer, int track);
  const char*(ZEMIVTC_FFMS_CC* GetFormatNameI)(Indexer* indexer);
  void(ZEMIVTC_FFMS_CC* TrackIndexSettings)(Indexer* indexer, int track, int index, int);
  void(ZEMIVTC_FFMS_CC* SetProgressCallback)(Indexer* indexer, IndexCallback callback, void* context);
  Index*(ZEMIVTC_FFMS_CC* DoIndexing2)(Indexer* indexer, int errorHandling, ErrorInfo* error);
  void(ZEMIVTC_FFMS_CC* CancelIndexing)(Indexer* indexer);
  Index*(ZEMIVTC_FFMS_CC* ReadIndexFromBuffer)(const uint8_t* buffer, size_t size, ErrorInfo* error);
  int(ZEMIVTC_FFMS_CC* IndexBelongsToFile)(Index* index, const char* sourceFile, ErrorInfo* error);
  int(ZEMIVTC_FFMS_CC* WriteIndexToBuffer)(uint8_t** buffer, size_t* size, Index* index, ErrorInfo* error);
  void(ZEMIVTC_FFMS_CC* FreeIndexBuffer)(uint8_t** buffer);
  void(ZEMIVTC_FFMS_CC* DestroyIndex)(Index* index);
  int(ZEMIVTC_FFMS_CC* GetFirstIndexedTrackOfType)(Index* index, int trackType, ErrorInfo* error);
  Track*(ZEMIVTC_FFMS_CC* GetTrackFromIndex)(Index* index, int track);
  int(ZEMIVTC_FFMS_CC* GetNumFrames)(Track* track);
  const FrameInfo*(ZEMIVTC_FFMS_CC* GetFrameInfo)(Track* track, int frame);
  const TrackTimeBase*(ZEMIVTC_FFMS_CC* GetTimeBase)(Track* track);
  VideoSource*(ZEMIVTC_FFMS_CC* CreateVideoSource)(const char* sourceFile, int track, Index* index, int threads,
                                                   int seekMode, ErrorInfo* error);
  void(ZEMIVTC_FFMS_CC* DestroyVideoSource)(VideoSource* source);
  const VideoProperties*(ZEMIVTC_FFMS_CC* GetVideoProperties)(VideoSource* source);
  const Frame*(ZEMIVTC_FFMS_CC* GetFrame)(VideoSource* source, int n, ErrorInfo* error);
};

}  // namespace ffms2

#endif
