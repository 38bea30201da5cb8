// Reads the frames of a Y4M (8-bit 4:2:2 or 4:2:0, or raw packed YUY2)
// stream by index: as the stream stores them, or as packed YUY2 rows laid
// out as stream::PackedLayout says. Seekable files are indexed lazily and
// read at any index; pipes are read forward only.
#ifndef ZEMIVTC_STREAM_FRAME_READER_H
#define ZEMIVTC_STREAM_FRAME_READER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "stream/row_bands.h"
#include "stream/y4m.h"

namespace stream {

struct InputFormat {
  bool raw = false;  // packed yuyv422 frames with no headers
  int rawWidth = 0;
  int rawHeight = 0;
};

// One frame's pixels as the input stores them: planar Y, U, V of a Y4M
// frame, or raw input's packed rows. `data` points into the reader's file
// mapping, which lives as long as the reader, or into `owner`; nullptr when
// nothing was kept. A frame of a seekable file that has not been looked at
// yet is named by where it lies instead: `fileOffset` in the reader's
// descriptor `fd`, open as long as the reader lives.
struct StoredFrame {
  const uint8_t* data = nullptr;
  std::shared_ptr<const std::vector<uint8_t>> owner;
  int fd = -1;
  int64_t fileOffset = -1;
  bool Valid() const { return data != nullptr || fileOffset >= 0; }
};

// Frames decoded elsewhere (a container read through FFMS2): planar frames
// in a Y4M frame's layout, any of them by index, their count known up front.
class DecodedFrames {
 public:
  virtual ~DecodedFrames() = default;
  virtual int Count() const = 0;
  // Frame n, 0 <= n < Count(), in a buffer nobody refills while it is held.
  // Throws CliError when it cannot be decoded.
  virtual std::shared_ptr<const std::vector<uint8_t>> Frame(int n) = 0;
};

class FrameReader {
 public:
  // Takes ownership of fd and reads the stream header at once (throws
  // CliError for a bad one). `name` is used in messages. A regular file is
  // memory-mapped where the platform allows it (`mapFile`), so frames are
  // converted straight from the page cache without a copy.
  FrameReader(int fd, std::string name, const InputFormat& format, bool mapFile = true);
  // Decoded frames as a seekable Y4M stream with `header` would give them:
  // they are stored in memory (`data` and `owner`), never named by a place.
  FrameReader(std::unique_ptr<DecodedFrames> frames, const Y4mHeader& header, std::string name);
  ~FrameReader();
  FrameReader(const FrameReader&) = delete;
  FrameReader& operator=(const FrameReader&) = delete;

  const Y4mHeader& Header() const { return header; }
  // Frames go to packed rows in reverse row order (a bottom-field-first
  // source, so that the filter sees its first field on top); off at first.
  void SetMirrored(bool on);
  const PackedLayout& Layout() const { return layout; }
  // Why frames cannot be converted in the current layout; empty when they can.
  const std::string& ConversionProblem() const { return layoutProblem; }
  bool Seekable() const { return seekable; }
  bool Raw() const { return raw; }
  bool Decoded() const { return decoded != nullptr; }
  // What the header's field order stands for where it is not a Y4M
  // header's own I tag (the flags of a decoded stream), for messages; empty
  // for a Y4M stream.
  void SetOrderOrigin(std::string what) { orderOrigin = std::move(what); }
  const std::string& OrderOrigin() const { return orderOrigin; }
  bool Mapped() const { return map != nullptr; }
  // While held, mapped pages stay mapped however far the reader moves on,
  // so that frames read once (the field order measured from the start) are
  // there again for the frames' second reader without faulting them in
  // again; released behind the reader once it passes them after the hold.
  void HoldMappedPages(bool on) { holdPages = on; }
  // Index of the frame a forward read delivers next.
  int NextFrame() const { return nextFrame; }
  // Frame count once the end has been seen, else -1.
  int KnownFrameCount() const { return endFrame; }
  // Frames the file holds if every frame header is the plain "FRAME"; -1 for pipes.
  int EstimatedFrameCount() const;

  // Reads frame n into YUY2 rows of 2 * width bytes, `pitch` apart. Returns
  // false if the stream ends before frame n. On a pipe n must not be below
  // NextFrame(). Truncated frames and bad frame headers throw CliError.
  // `stored` (if given) receives the frame's bytes as the input stores them:
  // in the mapping, or in a buffer of its own that nothing else reuses while
  // `stored->owner` holds it.
  // With no `dst` (`stored` required) the frame is only stored, not
  // converted: Convert() makes its rows when they are wanted. A seekable
  // file is not even read then: `stored` names the frame's place in the file.
  bool ReadFrame(int n, uint8_t* dst, ptrdiff_t pitch, StoredFrame* stored = nullptr);
  // Converts a stored Y4M frame into YUY2 rows `pitch` apart. If `stored`
  // only names the frame's place, its bytes are taken from the mapping, or
  // read into a buffer, and kept in `stored`. Throws CliError if the file no
  // longer holds them.
  void Convert(StoredFrame& stored, uint8_t* dst, ptrdiff_t pitch);
  // The same without converting: `stored.data` points at the frame's bytes.
  void LoadStoredBytes(StoredFrame& stored);
  // Converts frames in bands on these threads (which must outlive the
  // reader's reads); nullptr converts on the calling thread.
  void SetRowBands(RowBands* rowBands) { bands = rowBands; }
  // Moves past frame NextFrame() without converting it; false at the end.
  bool SkipFrame();
  // Reads frame NextFrame() as the input stores it, without converting it:
  // planar Y, U, V for Y4M, packed rows for raw input. False at the end of
  // the stream; truncated frames throw CliError. The bytes stay readable
  // while `stored->owner` holds them (mapped files: as long as the reader).
  bool ReadStoredFrame(StoredFrame* stored);
  // The luma plane (width x height bytes, rows packed) of a frame
  // ReadStoredFrame gave: a Y4M frame's own Y plane, or raw input's luma
  // gathered from its packed rows into `scratch`.
  const uint8_t* StoredLuma(const StoredFrame& stored, std::vector<uint8_t>* scratch) const;

 private:
  enum class Line { Ok, End, Truncated, TooLong };
  size_t Read(uint8_t* dst, size_t count);
  Line ReadLine(std::string* line, size_t maxLength);
  void Seek(int64_t offset);
  // Decoded frame n into `stored` (converted into `dst` when given).
  void ReadDecoded(int n, uint8_t* dst, ptrdiff_t pitch, StoredFrame* stored);
  bool ReadFrameHeader();
  void FrameDone();
  [[noreturn]] void Fail(const std::string& what) const;
  // "input frame N (counting from 0) is truncated: GOT of WANTED bytes"
  [[noreturn]] void FailTruncated(size_t got, size_t wanted) const;
  // After reading `got` bytes of a frame's pixels: false at the clean end of
  // raw input (no byte at all), an error for part of a frame, true for all.
  bool PayloadComplete(size_t got);
  void ConvertPlanar(const uint8_t* planar, uint8_t* dst, ptrdiff_t pitch);
  void MapFile();
  void Unmap();
  size_t MappedBytesFrom(int64_t offset, size_t wanted);
  // Reads exactly `count` bytes at `offset`, or throws CliError.
  void PreadAll(uint8_t* dst, size_t count, int64_t offset) const;
  std::shared_ptr<std::vector<uint8_t>> SpareBuffer();

  int fd;
  std::unique_ptr<DecodedFrames> decoded;
  std::string orderOrigin;
  std::string name;
  bool raw;
  bool seekable = false;
  Y4mHeader header;
  size_t payloadBytes = 0;  // pixel bytes per frame, as stored
  PackedLayout layout;
  std::string layoutProblem;

  std::vector<uint8_t> buffer;  // read-ahead
  size_t bufferBegin = 0;       // first unread byte in buffer
  size_t bufferEnd = 0;
  int64_t position = 0;   // stream offset of buffer[bufferBegin]
  int64_t dataStart = 0;  // stream offset of frame 0

  std::vector<int64_t> frameOffsets;  // offsets of frames 0 .. n, learnt while reading
  int nextFrame = 0;
  int endFrame = -1;
  std::vector<uint8_t> scratch;  // one stored frame

  RowBands* bands = nullptr;
  const uint8_t* map = nullptr;  // the whole file, when mapped
  size_t mapBytes = 0;
  int64_t releasedBelow = 0;  // mapped pages below this offset were handed back
  bool holdPages = false;
  std::vector<std::pair<const uint8_t*, size_t>> retiredMaps;  // earlier mappings of a growing file

  // Frame buffers handed out through StoredFrame; one whose only holder is
  // this list is free to be filled again.
  std::vector<std::shared_ptr<std::vector<uint8_t>>> spares;
};

// A reader of the named input: a file, or standard input for "-". Throws
// CliError when the file cannot be opened or its stream is not usable.
std::unique_ptr<FrameReader> OpenFrameReader(const std::string& input, const InputFormat& format, bool mapFile = true);

}  // namespace stream

#endif
