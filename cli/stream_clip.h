// The source clip the command hands to the filter: frames read on demand
// from a stream::FrameReader as YUY2 rows in the reader's layout, a few
// recent ones kept so that a pipe, which cannot seek, still answers the
// requests a plan makes around its position.
#ifndef ZEMIVTC_CLI_STREAM_CLIP_H
#define ZEMIVTC_CLI_STREAM_CLIP_H

#include <memory>
#include <string>
#include <vector>

#include "host/avisynth.h"
#include "stream/frame_reader.h"

namespace cli {

class StreamClip : public IClip {
 public:
  // Frames kept for re-use. A plan asks for frames k and k+1 at most, in
  // increasing order, so a handful is plenty.
  static constexpr int DefaultKeep = 8;
  static constexpr int SeekableKeep = 3;

  explicit StreamClip(std::unique_ptr<stream::FrameReader> reader, int keep = DefaultKeep);

  // Frames past the end are clamped to the last frame, as hosts' sources do.
  // A read failure cannot cross the host interface, so it is recorded
  // (Error()) and a blank frame is returned; the caller checks after each
  // frame and stops.
  PVideoFrame AVSC_CC GetFrame(int n, IScriptEnvironment* env) override;
  bool AVSC_CC GetParity(int n) override;
  void AVSC_CC GetAudio(void* buf, int64_t start, int64_t count, IScriptEnvironment* env) override;
  void AVSC_CC SetCacheHints(int, int) override {}
  const VideoInfo& AVSC_CC GetVideoInfo() override { return vi; }

  bool Failed() const { return !error.empty(); }
  const std::string& Error() const { return error; }
  // Highest frame number asked for, and whether any request was clamped.
  int HighestRequest() const { return highestRequest; }
  bool Clamped() const { return clamped; }
  // Frames actually in the input, once its end has been seen; else -1.
  int KnownFrameCount() const { return reader->KnownFrameCount(); }

  // The stored (planar) bytes of `frame` if it is one of the frames this
  // clip handed out and still keeps; else an empty stream::StoredFrame. Filters do
  // not write into frames they did not make, so a kept frame's pixels are
  // still exactly the input frame's.
  stream::StoredFrame StoredBytes(const PVideoFrame& frame) const;

  // Deferred conversion (Y4M input only): frames are read and kept as the
  // input stores them, and converted to YUY2 when first asked for. The one
  // frame named by ExpectUnchanged() is handed out unconverted instead: the
  // caller expects the filter to return it as it is and writes its stored
  // bytes. If the filter made a frame of its own while holding an
  // unconverted one (HandedOutUnconverted()), that frame is wrong and the
  // caller asks again with ExpectUnchanged(-1), which converts.
  void SetDeferredConversion(bool on) { deferred = on && !reader->Raw(); }
  void ExpectUnchanged(int n) {
    unchangedFrame = n;
    handedOutUnconverted = false;
  }
  bool HandedOutUnconverted() const { return handedOutUnconverted; }

  // The stored bytes of source frame n (clamped like GetFrame), read now if
  // need be but not converted; an empty stream::StoredFrame after a failure
  // (Error()). For output frames the caller writes from the input's bytes
  // without asking the filter.
  stream::StoredFrame StoredSource(int n, IScriptEnvironment* env);

 private:
  struct Kept {
    int index = -1;
    PVideoFrame frame;  // null until handed out
    stream::StoredFrame stored;
    bool converted = false;
  };
  Kept* Find(int n);
  Kept* Load(int n, IScriptEnvironment* env);
  Kept* Fetch(int n, IScriptEnvironment* env);
  template <typename Fetched, typename Work>
  Fetched Recorded(Fetched onFailure, Work work);
  PVideoFrame HandOut(Kept& kept, int requested, IScriptEnvironment* env);
  PVideoFrame Blank(IScriptEnvironment* env);

  std::unique_ptr<stream::FrameReader> reader;
  VideoInfo vi{};
  std::vector<Kept> kept;
  size_t nextSlot = 0;
  std::string error;
  int highestRequest = -1;
  bool clamped = false;
  bool deferred = false;
  int unchangedFrame = -1;
  bool handedOutUnconverted = false;
};

}  // namespace cli

#endif
