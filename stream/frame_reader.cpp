#include "stream/frame_reader.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "platform/system.h"
#include "stream/errors.h"

namespace stream {
namespace {

constexpr size_t BufferBytes = 1 << 18;
constexpr size_t SeekableRefill = 1 << 12;
// Mapped pages this far behind the newest frame are handed back, so a long
// file does not stay resident; reading them again maps them again.
constexpr int64_t ReleaseLag = int64_t{64} << 20;
constexpr size_t MaxHeaderLine = 1 << 16;

std::string Printable(const std::string& text) {
  std::string out;
  for (char c : text.substr(0, 24)) out += (c >= 32 && c < 127) ? c : '?';
  if (text.size() > 24) out += "...";
  return out;
}

}  // namespace

FrameReader::FrameReader(int fileDescriptor, std::string streamName, const InputFormat& format, bool mapFile)
    : fd(fileDescriptor), name(std::move(streamName)), raw(format.raw), buffer(BufferBytes) {
  // A regular file is read at the reader's own offsets (sys::ReadAt), from
  // where the descriptor stood; anything else is read forward.
  const int64_t here = sys::Position(fd);
  seekable = sys::StatusOf(fd).regular && here >= 0;
  position = seekable ? here : 0;
  if (seekable && mapFile) MapFile();
  if (raw) {
    if (format.rawWidth <= 0 || format.rawHeight <= 0 || format.rawWidth > MaxDimension ||
        format.rawHeight > MaxDimension || format.rawWidth % 2 != 0)
      throw CliError("bad raw frame size", ExitUsage);
    header.width = format.rawWidth;
    header.height = format.rawHeight;
    header.chroma = Chroma::Yuv422;
    header.colorTag = "422";
  } else {
    std::string line;
    switch (ReadLine(&line, MaxHeaderLine)) {
      case Line::Ok: break;
      case Line::End: Fail("it is empty");
      case Line::Truncated: Fail("its stream header has no end of line");
      case Line::TooLong: Fail("its stream header is too long");
    }
    try {
      header = ParseY4mHeader(line);
    } catch (const CliError& e) {
      throw CliError(name + ": " + e.what());
    }
  }
  payloadBytes = PlanarFrameBytes(header);
  SetMirrored(false);
  dataStart = position;
  frameOffsets.push_back(dataStart);
}

FrameReader::FrameReader(std::unique_ptr<DecodedFrames> frames, const Y4mHeader& y4mHeader, std::string streamName)
    : fd(-1), decoded(std::move(frames)), name(std::move(streamName)), raw(false), seekable(true), header(y4mHeader) {
  payloadBytes = PlanarFrameBytes(header);
  SetMirrored(false);
  endFrame = decoded->Count();
}

void FrameReader::ReadDecoded(int n, uint8_t* dst, ptrdiff_t pitch, StoredFrame* stored) {
  std::shared_ptr<const std::vector<uint8_t>> frame = decoded->Frame(n);
  if (frame->size() != payloadBytes)
    Fail("input frame " + std::to_string(n) + " has " + std::to_string(frame->size()) + " bytes, not " +
         std::to_string(payloadBytes));
  if (dst) ConvertPlanar(frame->data(), dst, pitch);
  if (stored) {
    *stored = StoredFrame();
    stored->data = frame->data();
    stored->owner = std::move(frame);
  }
  nextFrame = n + 1;
}

FrameReader::~FrameReader() {
  Unmap();
  if (fd > sys::StandardError) sys::Close(fd);
}

// Maps the whole file read-only. Without a mapping (a 32-bit
// address space too small for the file, an empty file) the reader reads.
void FrameReader::MapFile() {
  const sys::PathStatus st = sys::StatusOf(fd);
  if (!st.regular || st.size <= 0 || static_cast<uint64_t>(st.size) > SIZE_MAX) return;
  const sys::Mapping mapping = sys::MapForReading(fd, static_cast<size_t>(st.size));
  map = mapping.data;
  mapBytes = mapping.size;
}

void FrameReader::Unmap() {
  sys::Unmap({map, mapBytes});
  for (const auto& old : retiredMaps) sys::Unmap({old.first, old.second});
  map = nullptr;
  retiredMaps.clear();
}

// Bytes available in the mapping at `offset`, up to `wanted`. A file that
// has grown since it was mapped is mapped again; the old mapping stays until
// the reader goes, since frames handed out may point into it.
size_t FrameReader::MappedBytesFrom(int64_t offset, size_t wanted) {
  if (offset + static_cast<int64_t>(wanted) > static_cast<int64_t>(mapBytes)) {
    const sys::PathStatus st = sys::StatusOf(fd);
    if (st.size > static_cast<int64_t>(mapBytes) && static_cast<uint64_t>(st.size) <= SIZE_MAX) {
      const sys::Mapping grown = sys::MapForReading(fd, static_cast<size_t>(st.size));
      if (grown.data) {
        retiredMaps.emplace_back(map, mapBytes);
        map = grown.data;
        mapBytes = grown.size;
        releasedBelow = 0;
      }
    }
  }
  if (!holdPages && offset - ReleaseLag >= releasedBelow + ReleaseLag) {
    // Everything more than ReleaseLag behind `offset`, in whole pages.
    const int64_t page = static_cast<int64_t>(sys::PageSize());
    const int64_t from = releasedBelow / page * page;
    const int64_t to = (offset - ReleaseLag) / page * page;
    if (to > from) sys::ReleasePages({map, mapBytes}, static_cast<size_t>(from), static_cast<size_t>(to));
    releasedBelow = to;
  }
  if (offset >= static_cast<int64_t>(mapBytes)) return 0;
  return std::min(wanted, mapBytes - static_cast<size_t>(offset));
}

std::shared_ptr<std::vector<uint8_t>> FrameReader::SpareBuffer() {
  for (const auto& spare : spares)
    if (spare.use_count() == 1) {
      // Its last holder (the render's writer thread, say) read it before it
      // let go: the fence pairs with the release of the count.
      std::atomic_thread_fence(std::memory_order_acquire);
      return spare;
    }
  spares.push_back(std::make_shared<std::vector<uint8_t>>());
  return spares.back();
}

void FrameReader::SetMirrored(bool on) {
  layout.chroma = header.chroma;
  layout.mirrored = on;
  layoutProblem = LayoutProblem(header.width, header.height, layout);
}

void FrameReader::Fail(const std::string& what) const { throw CliError(name + ": " + what); }

void FrameReader::FailTruncated(size_t got, size_t wanted) const {
  Fail("input frame " + std::to_string(nextFrame) + " (counting from 0) is truncated: " + std::to_string(got) + " of " +
       std::to_string(wanted) + " bytes");
}

int FrameReader::EstimatedFrameCount() const {
  if (decoded) return endFrame;
  const sys::PathStatus st = sys::StatusOf(fd);
  if (!seekable || !st.regular) return -1;
  const int64_t perFrame = static_cast<int64_t>(payloadBytes) + (raw ? 0 : 6);
  return static_cast<int>((st.size - dataStart) / perFrame);
}

size_t FrameReader::Read(uint8_t* dst, size_t count) {
  if (map) {
    const size_t take = MappedBytesFrom(position, count);
    if (take > 0) std::memcpy(dst, map + position, take);
    position += static_cast<int64_t>(take);
    return take;
  }
  size_t done = 0;
  while (done < count) {
    if (bufferBegin < bufferEnd) {
      const size_t take = std::min(count - done, bufferEnd - bufferBegin);
      std::memcpy(dst + done, buffer.data() + bufferBegin, take);
      bufferBegin += take;
      position += take;
      done += take;
      continue;
    }
    // Large remainders go straight to the destination; small ones refill the
    // buffer. A seekable file refills one page at a time: a frame header
    // read should not pull in pixels that may never be wanted.
    const size_t refill = seekable ? SeekableRefill : buffer.size();
    const bool direct = count - done >= refill;
    uint8_t* target = direct ? dst + done : buffer.data();
    // The buffer is empty here, so the file's next byte is at `position`.
    const size_t want = direct ? count - done : refill;
    const int64_t got = seekable ? sys::ReadAt(fd, target, want, position) : sys::Read(fd, target, want);
    if (got < 0) Fail("read error: " + sys::ErrorText());
    if (got == 0) break;
    if (direct) {
      done += static_cast<size_t>(got);
      position += got;
    } else {
      bufferBegin = 0;
      bufferEnd = static_cast<size_t>(got);
    }
  }
  return done;
}

FrameReader::Line FrameReader::ReadLine(std::string* line, size_t maxLength) {
  line->clear();
  uint8_t c;
  while (Read(&c, 1) == 1) {
    if (c == '\n') return Line::Ok;
    if (line->size() >= maxLength) return Line::TooLong;
    line->push_back(static_cast<char>(c));
  }
  return line->empty() ? Line::End : Line::Truncated;
}

void FrameReader::Seek(int64_t offset) {
  if (map) {
    position = offset;
    return;
  }
  const int64_t bufferStart = position - static_cast<int64_t>(bufferBegin);
  if (offset >= bufferStart && offset <= position + static_cast<int64_t>(bufferEnd - bufferBegin)) {
    bufferBegin = static_cast<size_t>(offset - bufferStart);
    position = offset;
    return;
  }
  if (!seekable) Fail("seek error: the input is read forward only");
  bufferBegin = bufferEnd = 0;
  position = offset;
}

// Reads frame nextFrame's "FRAME" line; false at a clean end of stream.
bool FrameReader::ReadFrameHeader() {
  if (raw) return true;
  std::string line;
  switch (ReadLine(&line, MaxHeaderLine)) {
    case Line::Ok: break;
    case Line::End: endFrame = nextFrame; return false;
    case Line::Truncated:
      Fail("input frame " + std::to_string(nextFrame) + " (counting from 0) is truncated inside its frame header");
    case Line::TooLong: Fail("input frame " + std::to_string(nextFrame) + " (counting from 0) has a bad frame header");
  }
  if (!IsFrameHeader(line))
    Fail("input frame " + std::to_string(nextFrame) + " (counting from 0) has a bad frame header \"" + Printable(line) +
         "\"");
  return true;
}

void FrameReader::FrameDone() {
  ++nextFrame;
  if (frameOffsets.size() == static_cast<size_t>(nextFrame)) frameOffsets.push_back(position);
}

bool FrameReader::PayloadComplete(size_t got) {
  if (raw && got == 0) {  // raw input has no end marker: it ends between frames
    endFrame = nextFrame;
    return false;
  }
  if (got < payloadBytes) FailTruncated(got, payloadBytes);
  return true;
}

bool FrameReader::SkipFrame() {
  if (endFrame >= 0 && nextFrame >= endFrame) return false;
  if (decoded) return ++nextFrame, true;
  if (!ReadFrameHeader()) return false;
  if (seekable) {
    const sys::PathStatus st = sys::StatusOf(fd);
    if (!st.exists) Fail("stat error: " + sys::ErrorText());
    const int64_t end = position + static_cast<int64_t>(payloadBytes);
    if (raw && position == st.size) {
      endFrame = nextFrame;
      return false;
    }
    if (end > st.size) FailTruncated(static_cast<size_t>(st.size - position), payloadBytes);
    Seek(end);
  } else {
    scratch.resize(payloadBytes);
    const size_t got = Read(scratch.data(), payloadBytes);
    if (!PayloadComplete(got)) return false;
  }
  FrameDone();
  return true;
}

void FrameReader::LoadStoredBytes(StoredFrame& stored) {
  if (!stored.data && map && MappedBytesFrom(stored.fileOffset, payloadBytes) == payloadBytes)
    stored.data = map + stored.fileOffset;  // converted straight from the page cache
  if (!stored.data) {
    std::shared_ptr<std::vector<uint8_t>> own = SpareBuffer();
    own->resize(payloadBytes);
    // In slices on every band thread: the copy out of the page cache is a
    // pass over the whole frame, like the conversion after it.
    const int slices = header.height;
    auto readSlices = [&](int begin, int end) {
      const size_t from = payloadBytes * static_cast<size_t>(begin) / slices;
      const size_t to = payloadBytes * static_cast<size_t>(end) / slices;
      PreadAll(own->data() + from, to - from, stored.fileOffset + static_cast<int64_t>(from));
    };
    if (bands)
      bands->Run(slices, MinBandRows(header.width), readSlices);
    else
      readSlices(0, slices);
    stored.data = own->data();
    stored.owner = std::move(own);
  }
}

void FrameReader::Convert(StoredFrame& stored, uint8_t* dst, ptrdiff_t pitch) {
  LoadStoredBytes(stored);
  ConvertPlanar(stored.data, dst, pitch);
}

void FrameReader::PreadAll(uint8_t* dst, size_t count, int64_t offset) const {
  size_t done = 0;
  while (done < count) {
    const int64_t got = sys::ReadAt(fd, dst + done, count - done, offset + static_cast<int64_t>(done));
    if (got < 0) Fail("read error: " + sys::ErrorText());
    if (got == 0) Fail("it was cut short while it was read");
    done += static_cast<size_t>(got);
  }
}

void FrameReader::ConvertPlanar(const uint8_t* planar, uint8_t* dst, ptrdiff_t pitch) {
  if (!layoutProblem.empty()) Fail(layoutProblem);
  const int width = header.width, height = header.height;
  const int unit = RowsPerUnit(layout.chroma);
  if (bands)
    bands->Run(height / unit, std::max(1, MinBandRows(width) / unit), [&](int begin, int end) {
      PlanarToPackedRows(planar, width, height, begin * unit, end * unit, dst, pitch, layout);
    });
  else
    PlanarToPacked(planar, width, height, dst, pitch, layout);
}

bool FrameReader::ReadFrame(int n, uint8_t* dst, ptrdiff_t pitch, StoredFrame* stored) {
  if (n < 0) n = 0;
  if (!dst && !stored) Fail("a frame read without a destination must keep its stored bytes");
  if (endFrame >= 0 && n >= endFrame) return false;
  if (dst && !layoutProblem.empty()) Fail(layoutProblem);
  if (decoded) return ReadDecoded(n, dst, pitch, stored), true;
  if (n != nextFrame) {
    if (seekable) {
      const int known = static_cast<int>(frameOffsets.size()) - 1;
      nextFrame = std::min(n, known);
      Seek(frameOffsets[nextFrame]);
    } else if (n < nextFrame) {
      Fail("input frame " + std::to_string(n) + " was asked for after frame " + std::to_string(nextFrame - 1) +
           "; a pipe cannot go back");
    }
    while (nextFrame < n)
      if (!SkipFrame()) return false;
  }
  if (!ReadFrameHeader()) return false;
  const int rowBytes = 2 * header.width;
  if (!dst && seekable) {
    // Deferred: the bytes stay in the file until they are converted or
    // copied out, and are not read at all when neither happens.
    const sys::PathStatus st = sys::StatusOf(fd);
    if (!st.exists) Fail("stat error: " + sys::ErrorText());
    if (raw && position == st.size) {  // raw input ends between frames
      endFrame = nextFrame;
      return false;
    }
    if (position + static_cast<int64_t>(payloadBytes) > st.size)
      FailTruncated(static_cast<size_t>(st.size - position), payloadBytes);
    *stored = StoredFrame();
    stored->fd = fd;
    stored->fileOffset = position;
    Seek(position + static_cast<int64_t>(payloadBytes));
    FrameDone();
    return true;
  }
  const uint8_t* source = nullptr;  // the frame's bytes as stored
  std::shared_ptr<std::vector<uint8_t>> own;
  size_t got = 0;
  if (map) {
    got = MappedBytesFrom(position, payloadBytes);
    source = map + position;
    position += static_cast<int64_t>(got);
  } else if (raw && !stored && pitch == rowBytes && !layout.mirrored) {
    got = Read(dst, payloadBytes);
    source = dst;
  } else {
    uint8_t* target = nullptr;
    if (stored) {
      own = SpareBuffer();
      own->resize(payloadBytes);
      target = own->data();
    } else {
      scratch.resize(payloadBytes);
      target = scratch.data();
    }
    got = Read(target, payloadBytes);
    source = target;
  }
  if (!PayloadComplete(got)) return false;
  if (raw && dst && source != dst) {
    for (int row = 0; row < header.height; ++row)
      std::memcpy(dst + (layout.mirrored ? header.height - 1 - row : row) * pitch,
                  source + static_cast<size_t>(row) * rowBytes, rowBytes);
  } else if (!raw && dst) {
    ConvertPlanar(source, dst, pitch);
  }
  if (stored) {
    stored->data = source;
    stored->owner = std::move(own);
  }
  FrameDone();
  return true;
}

bool FrameReader::ReadStoredFrame(StoredFrame* stored) {
  if (endFrame >= 0 && nextFrame >= endFrame) return false;
  if (decoded) return ReadDecoded(nextFrame, nullptr, 0, stored), true;
  if (!ReadFrameHeader()) return false;
  size_t got = 0;
  if (map) {
    got = MappedBytesFrom(position, payloadBytes);
    stored->data = map + position;
    stored->owner = nullptr;
    position += static_cast<int64_t>(got);
  } else {
    std::shared_ptr<std::vector<uint8_t>> own = SpareBuffer();
    own->resize(payloadBytes);
    got = Read(own->data(), payloadBytes);
    stored->data = own->data();
    stored->owner = std::move(own);
  }
  if (!PayloadComplete(got)) return false;
  FrameDone();
  return true;
}

const uint8_t* FrameReader::StoredLuma(const StoredFrame& stored, std::vector<uint8_t>* scratch) const {
  if (!raw) return stored.data;
  scratch->resize(static_cast<size_t>(header.width) * header.height);
  for (size_t i = 0; i < scratch->size(); ++i) (*scratch)[i] = stored.data[2 * i];
  return scratch->data();
}

std::unique_ptr<FrameReader> OpenFrameReader(const std::string& input, const InputFormat& format, bool mapFile) {
  int fd = sys::StandardInput;
  std::string name = "standard input";
  if (input != "-") {
    name = input;
    fd = sys::OpenForReading(input);
    if (fd < 0) throw CliError("cannot open " + input + ": " + sys::ErrorText());
  }
  try {
    return std::make_unique<FrameReader>(fd, name, format, mapFile);
  } catch (...) {
    if (fd != sys::StandardInput) sys::Close(fd);
    throw;
  }
}

}  // namespace stream
