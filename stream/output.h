// Where the command writes: standard output, a device or pipe written in
// place, or a regular file written under a temporary name in the same
// directory and renamed over the target only when the run succeeds.
#ifndef ZEMIVTC_STREAM_OUTPUT_H
#define ZEMIVTC_STREAM_OUTPUT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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
// yuyv422 rows; the filter's rows are in `mirrored` order (PackedLayout) and
// go out in the stream's own.
struct OutputFormat {
  bool raw = false;
  Chroma chroma = Chroma::Yuv422;
  bool mirrored = false;
};

// Writes the filter's YUY2 frames as Y4M or as raw packed rows.
class FrameWriter {
 public:
  // `bands` (optional, outliving the writer) converts frames on several threads.
  FrameWriter(OutputFile& out, const Y4mHeader& input, const OutputFormat& format, RowBands* bands = nullptr);
  void WriteHeader(unsigned rateNumerator = 60000, unsigned rateDenominator = 1001);
  void WriteFrame(const uint8_t* packed, ptrdiff_t pitch);
  // True when output frames are stored the way the input stores its frames
  // (Y4M in the input's chroma), so that WriteStored may be used.
  bool WritesInputFrames() const { return !format.raw && format.chroma == input.chroma; }
  // Writes a Y4M frame from its planar bytes as the input stored them (only
  // when WritesInputFrames()): a frame the filter passed through unchanged.
  void WriteStored(const uint8_t* planar);
  void WriteStored(const StoredFrame& stored);
  // Writes the weave of two frames as the input stored them (only when
  // WritesInputFrames()): the rows that make the filter's top field, in
  // every plane, from `upper`, the others from `lower`.
  void WriteWoven(const uint8_t* upper, const uint8_t* lower);

 private:
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
