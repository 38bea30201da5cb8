// Our declarations of FFMS2's interface (source/ffms2_api.h), which the
// Windows build uses without FFMS2's header, held against Debian's ffms.h:
// every record field the reader reads at the same offset, every constant
// with the same value, every function of the same type.
#include <ffms.h>

#include <type_traits>

#include "source/ffms2_api.h"

#define SAME_FIELD(Ours, Theirs, ours, theirs)                           \
  static_assert(offsetof(ffms2::Ours, ours) == offsetof(Theirs, theirs), \
                #Ours "." #ours " lies where ffms.h puts " #theirs);     \
  static_assert(sizeof(ffms2::Ours::ours) == sizeof(Theirs::theirs), #Ours "." #ours " has the size of " #theirs)

SAME_FIELD(ErrorInfo, FFMS_ErrorInfo, errorType, ErrorType);
SAME_FIELD(ErrorInfo, FFMS_ErrorInfo, subType, SubType);
SAME_FIELD(ErrorInfo, FFMS_ErrorInfo, bufferSize, BufferSize);
SAME_FIELD(ErrorInfo, FFMS_ErrorInfo, buffer, Buffer);
static_assert(sizeof(ffms2::ErrorInfo) == sizeof(FFMS_ErrorInfo), "ErrorInfo is passed in, whole");

SAME_FIELD(Frame, FFMS_Frame, data, Data);
SAME_FIELD(Frame, FFMS_Frame, linesize, Linesize);
SAME_FIELD(Frame, FFMS_Frame, encodedWidth, EncodedWidth);
SAME_FIELD(Frame, FFMS_Frame, encodedHeight, EncodedHeight);
SAME_FIELD(Frame, FFMS_Frame, encodedPixelFormat, EncodedPixelFormat);
SAME_FIELD(Frame, FFMS_Frame, convertedPixelFormat, ConvertedPixelFormat);
SAME_FIELD(Frame, FFMS_Frame, keyFrame, KeyFrame);
SAME_FIELD(Frame, FFMS_Frame, repeatPict, RepeatPict);
SAME_FIELD(Frame, FFMS_Frame, interlacedFrame, InterlacedFrame);
SAME_FIELD(Frame, FFMS_Frame, topFieldFirst, TopFieldFirst);
SAME_FIELD(Frame, FFMS_Frame, pictType, PictType);
SAME_FIELD(Frame, FFMS_Frame, colorRange, ColorRange);
SAME_FIELD(Frame, FFMS_Frame, chromaLocation, ChromaLocation);

SAME_FIELD(FrameInfo, FFMS_FrameInfo, pts, PTS);
SAME_FIELD(FrameInfo, FFMS_FrameInfo, repeatPict, RepeatPict);
SAME_FIELD(FrameInfo, FFMS_FrameInfo, keyFrame, KeyFrame);
SAME_FIELD(TrackTimeBase, FFMS_TrackTimeBase, den, Den);

SAME_FIELD(VideoProperties, FFMS_VideoProperties, fpsDenominator, FPSDenominator);
SAME_FIELD(VideoProperties, FFMS_VideoProperties, fpsNumerator, FPSNumerator);
SAME_FIELD(VideoProperties, FFMS_VideoProperties, rffDenominator, RFFDenominator);
SAME_FIELD(VideoProperties, FFMS_VideoProperties, rffNumerator, RFFNumerator);
SAME_FIELD(VideoProperties, FFMS_VideoProperties, numFrames, NumFrames);
SAME_FIELD(VideoProperties, FFMS_VideoProperties, sarNum, SARNum);
SAME_FIELD(VideoProperties, FFMS_VideoProperties, sarDen, SARDen);
SAME_FIELD(VideoProperties, FFMS_VideoProperties, topFieldFirst, TopFieldFirst);
SAME_FIELD(VideoProperties, FFMS_VideoProperties, lastTime, LastTime);

#define SAME_CONSTANT(ours, theirs) static_assert(int{ffms2::ours} == int{theirs}, #ours " is " #theirs)
SAME_CONSTANT(SeekNormal, FFMS_SEEK_NORMAL);
SAME_CONSTANT(IndexErrorAbort, FFMS_IEH_ABORT);
SAME_CONSTANT(TypeVideo, FFMS_TYPE_VIDEO);
SAME_CONSTANT(LogQuiet, FFMS_LOG_QUIET);
SAME_CONSTANT(ChromaLocationLeft, FFMS_LOC_LEFT);
SAME_CONSTANT(ChromaLocationTopLeft, FFMS_LOC_TOPLEFT);

// Each function pointer of ffms2::Api has the type of the function ffms.h
// declares, once our records stand for theirs.
template <typename T>
struct Theirs {
  using Type = T;
};
#define THEIRS(Ours, Their) \
  template <>               \
  struct Theirs<Ours> {     \
    using Type = Their;     \
  }
THEIRS(ffms2::ErrorInfo, FFMS_ErrorInfo);
THEIRS(ffms2::Frame, FFMS_Frame);
THEIRS(ffms2::FrameInfo, FFMS_FrameInfo);
THEIRS(ffms2::TrackTimeBase, FFMS_TrackTimeBase);
THEIRS(ffms2::VideoProperties, FFMS_VideoProperties);
THEIRS(ffms2::Indexer, FFMS_Indexer);
THEIRS(ffms2::Index, FFMS_Index);
THEIRS(ffms2::Track, FFMS_Track);
THEIRS(ffms2::VideoSource, FFMS_VideoSource);
template <typename T>
struct Theirs<T*> {
  using Type = typename Theirs<T>::Type*;
};
template <typename T>
struct Theirs<const T> {
  using Type = const typename Theirs<T>::Type;
};
template <typename R, typename... A>
struct Theirs<R (*)(A...)> {
  using Type = typename Theirs<R>::Type (*)(typename Theirs<A>::Type...);
};
#define SAME_FUNCTION(name) \
  static_assert(std::is_same<Theirs<decltype(ffms2::Api::name)>::Type, decltype(&FFMS_##name)>::value, #name)
SAME_FUNCTION(Init);
SAME_FUNCTION(GetVersion);
SAME_FUNCTION(SetLogLevel);
SAME_FUNCTION(GetPixFmt);
SAME_FUNCTION(CreateIndexer);
SAME_FUNCTION(GetNumTracksI);
SAME_FUNCTION(GetTrackTypeI);
SAME_FUNCTION(GetCodecNameI);
SAME_FUNCTION(GetFormatNameI);
SAME_FUNCTION(TrackIndexSettings);
SAME_FUNCTION(SetProgressCallback);
SAME_FUNCTION(DoIndexing2);
SAME_FUNCTION(CancelIndexing);
SAME_FUNCTION(ReadIndexFromBuffer);
SAME_FUNCTION(IndexBelongsToFile);
SAME_FUNCTION(WriteIndexToBuffer);
SAME_FUNCTION(FreeIndexBuffer);
SAME_FUNCTION(DestroyIndex);
SAME_FUNCTION(GetFirstIndexedTrackOfType);
SAME_FUNCTION(GetTrackFromIndex);
SAME_FUNCTION(GetNumFrames);
SAME_FUNCTION(GetFrameInfo);
SAME_FUNCTION(GetTimeBase);
SAME_FUNCTION(CreateVideoSource);
SAME_FUNCTION(DestroyVideoSource);
SAME_FUNCTION(GetVideoProperties);
SAME_FUNCTION(GetFrame);
