// Where the command writes: standard output, a device or pipe written in
// place, or a regular file written under a temporary name in the same
// directory and renamed over the target only when the run succeeds.
#ifndef ZEMIVTC_STREAM_OUTPUT_H
#define ZEMIVTC_STREAM_OUTPUT_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "compose/planes.h"
#include "platform/system.h"
#include "stream/frame_reader.h"
#include "stream/row_bands.h"
#include "stream/y4m.h"

namespace stream {

class OutputFile {
 public:
  // "-" is standard output. Throws CliError if the target cannot be opened.
  explicit OutputFile(const std::string& path);
  // Removes the temporary file unless Commit() succeeded.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Writes all bytes or throws (EPIPE and ENOSPC included).
  void Write(const void* data, size_t size);
  // Writes `first` then `second`, in one system call where it can.
  void Write(const void* first, size_t firstSize, const void* second, size_t secondSize);
  // Writes the `count` parts in order, in as few system calls as it can;
  // `parts` is used up on the way.
  void Write(sys::WriteSlice* parts, size_t count);
  // Copies `size` bytes at `offset` of the file `inFd` (which must not
  // shrink meanwhile) in the kernel where it can (no copy through this
  // process; for /dev/null, none at all), else through a buffer. Returns the
  // bytes copied: fewer only if the input ended first. Write errors throw.
  size_t CopyFromFile(int inFd, int64_t offset, size_t size);
  // Closes and, for a regular file, renames the temporary file into place.
  void Commit();
  const std::string& Name() const { return displayName; }

 private:
  void Discard();

  int fd = -1;
  bool ownsFd = false;
  std::string displayName;
  std::string finalPath;  // empty unless writing under a temporary name
  std::string tempPath;
  bool committed = false;
};

// What the command writes: Y4M frames, planar in `chroma`, or raw packed
// yuyv422 rows. `mirrored`: the source is bottom field first, so the frames
// the filter sees are the stream's turned over (WriteWoven's fields).
struct OutputFormat {
  bool raw = false;
  Chroma chroma = Chroma::Yuv422;
  bool mirrored = false;
  bool rawInput = false;  // the input's frames are packed yuyv422 rows
};

// How a stream stores a frame: packed yuyv422 rows (raw), or planar Y, U, V
// one after another, rows packed.
inline FrameFormat StreamFrameFormat(bool raw, Chroma chroma) {
  return raw ? FormatYuy2 : chroma == Chroma::Yuv420 ? FormatYuv420 : FormatYuv422;
}
// Bytes of a frame so stored.
size_t StreamFrameBytes(int width, int height, FrameFormat format);

// Writes frames as Y4M or as raw packed rows.
class FrameWriter {
 public:
  // `bands` (optional, outliving the writer) converts frames on several threads.
  FrameWriter(OutputFile& out, const Y4mHeader& input, const OutputFormat& format, RowBands* bands = nullptr);
  void WriteHeader(unsigned rateNumerator = 60000, unsigned rateDenominator = 1001);
  // Writes a frame stored as `from` says (StreamFrameFormat), in the
  // stream's own row order, converted where the output stores frames
  // another way: between planar and packed rows, and between 4:2:2 and
  // 4:2:0 field by field (convert/planar_packed.h), so that the bytes are
  // those of a trip through the filter's packed rows.
  void WriteFrame(const uint8_t* frame, FrameFormat from);
  // The way output frames are stored.
  FrameFormat Format() const { return StreamFrameFormat(format.raw, format.chroma); }
  // True when output frames are stored the way the input stores its frames
  // (Y4M from Y4M, in the input's chroma), so that WriteStored may be used.
  bool WritesInputFrames() const { return !format.raw && !format.rawInput && format.chroma == input.chroma; }
  // Writes a Y4M frame from its planar bytes as the input stored them (only
  // when WritesInputFrames()): a frame the filter passed through unchanged.
  void WriteStored(const uint8_t* planar);
  void WriteStored(const StoredFrame& stored);
  // Writes the weave of two frames as the input stored them (only when
  // WritesInputFrames()): the rows that make the filter's top field, in
  // every plane, from `upper`, the others from `lower`.
  void WriteWoven(const uint8_t* upper, const uint8_t* lower);

 private:
  // Runs work(begin, end) over rows [0, height) in whole units of `unit` rows.
  void Banded(int unit, const std::function<void(int, int)>& work);

  OutputFile& out;
  Y4mHeader input;
  OutputFormat format;
  RowBands* bands;
  std::vector<uint8_t> buffer;        // "FRAME\n" and one frame
  std::vector<sys::WriteSlice> rows;  // a woven frame's rows
};

// Installs handlers so that an interruption (SIGINT, SIGTERM, SIGHUP; on
// Windows Ctrl-C and a closed console) removes every pending temporary output
// file before the process ends; a closed reader shows up as a write error.
void InstallSignalHandlers();

}  // namespace stream

#endif
