// The source frames the render reads: frames read on demand from a
// stream::FrameReader as the input stores them, a few recent ones kept so
// that a pipe, which cannot seek, still answers the requests a plan makes
// around its position.
#ifndef ZEMIVTC_CLI_STREAM_CLIP_H
#define ZEMIVTC_CLI_STREAM_CLIP_H

#include <memory>
#include <string>
#include <vector>

#include "stream/frame_reader.h"

namespace cli {

class StreamClip {
 public:
  // Frames kept for re-use. A plan asks for frames k and k+1 at most, in
  // increasing order, so a handful is plenty.
  static constexpr int DefaultKeep = 8;
  static constexpr int SeekableKeep = 3;

  // With `deferRead`, a file's frames are read only when their bytes are
  // wanted (Frame with `load`); until then they are named by their place.
  explicit StreamClip(std::unique_ptr<stream::FrameReader> reader, int keep = DefaultKeep, bool deferRead = true);

  // Source frame n as the input stores it, with its bytes at hand (`data`)
  // when `load` is set. Frames past the end are clamped to the last frame,
  // as hosts' sources do. Throws CliError when the input cannot be read,
  // holds no frames, or is a pipe that would have to go back.
  stream::StoredFrame Frame(int n, bool load);

  // Highest frame number asked for, and whether any request was clamped.
  int HighestRequest() const { return highestRequest; }
  bool Clamped() const { return clamped; }
  // Frames actually in the input, once its end has been seen; else -1.
  int KnownFrameCount() const { return reader->KnownFrameCount(); }
  const stream::FrameReader& Reader() const { return *reader; }

 private:
  struct Kept {
    int index = -1;
    stream::StoredFrame stored;
  };
  Kept* Find(int n);
  Kept* Load(int n);
  Kept* Fetch(int n);

  std::unique_ptr<stream::FrameReader> reader;
  std::vector<Kept> kept;
  size_t nextSlot = 0;
  bool deferRead;
  int highestRequest = -1;
  bool clamped = false;
};

}  // namespace cli

#endif
