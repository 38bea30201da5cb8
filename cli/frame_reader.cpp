#include "cli/frame_reader.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "cli/errors.h"

namespace cli {
namespace {

constexpr size_t BufferBytes = 1 << 18;
constexpr size_t MaxHeaderLine = 1 << 16;

std::string Printable(const std::string& text) {
  std::string out;
  for (char c : text.substr(0, 24)) out += (c >= 32 && c < 127) ? c : '?';
  if (text.size() > 24) out += "...";
  return out;
}

}  // namespace

FrameReader::FrameReader(int fileDescriptor, std::string streamName, const InputFormat& format)
    : fd(fileDescriptor), name(std::move(streamName)), raw(format.raw), buffer(BufferBytes) {
  struct stat st;
  const off_t here = lseek(fd, 0, SEEK_CUR);
  seekable = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && here >= 0;
  position = seekable ? here : 0;
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
  dataStart = position;
  frameOffsets.push_back(dataStart);
}

FrameReader::~FrameReader() {
  if (fd > 2) close(fd);
}

void FrameReader::Fail(const std::string& what) const { throw CliError(name + ": " + what); }

int FrameReader::EstimatedFrameCount() const {
  struct stat st;
  if (!seekable || fstat(fd, &st) != 0) return -1;
  const int64_t perFrame = static_cast<int64_t>(payloadBytes) + (raw ? 0 : 6);
  return static_cast<int>((st.st_size - dataStart) / perFrame);
}

size_t FrameReader::Read(uint8_t* dst, size_t count) {
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
    // Large remainders go straight to the destination; small ones refill the buffer.
    const bool direct = count - done >= buffer.size();
    uint8_t* target = direct ? dst + done : buffer.data();
    const ssize_t got = read(fd, target, direct ? count - done : buffer.size());
    if (got < 0) {
      if (errno == EINTR) continue;
      Fail(std::string("read error: ") + std::strerror(errno));
    }
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
  const int64_t bufferStart = position - static_cast<int64_t>(bufferBegin);
  if (offset >= bufferStart && offset <= position + static_cast<int64_t>(bufferEnd - bufferBegin)) {
    bufferBegin = static_cast<size_t>(offset - bufferStart);
    position = offset;
    return;
  }
  if (lseek(fd, offset, SEEK_SET) < 0) Fail(std::string("seek error: ") + std::strerror(errno));
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

bool FrameReader::SkipFrame() {
  if (endFrame >= 0 && nextFrame >= endFrame) return false;
  if (!ReadFrameHeader()) return false;
  if (seekable) {
    struct stat st;
    if (fstat(fd, &st) != 0) Fail(std::string("stat error: ") + std::strerror(errno));
    const int64_t end = position + static_cast<int64_t>(payloadBytes);
    if (raw && position == st.st_size) {
      endFrame = nextFrame;
      return false;
    }
    if (end > st.st_size)
      Fail("input frame " + std::to_string(nextFrame) + " (counting from 0) is truncated: " +
           std::to_string(st.st_size - position) + " of " + std::to_string(payloadBytes) + " bytes");
    Seek(end);
  } else {
    scratch.resize(payloadBytes);
    const size_t got = Read(scratch.data(), payloadBytes);
    if (raw && got == 0) {
      endFrame = nextFrame;
      return false;
    }
    if (got < payloadBytes)
      Fail("input frame " + std::to_string(nextFrame) + " (counting from 0) is truncated: " + std::to_string(got) +
           " of " + std::to_string(payloadBytes) + " bytes");
  }
  FrameDone();
  return true;
}

bool FrameReader::ReadFrame(int n, uint8_t* dst, ptrdiff_t pitch) {
  if (n < 0) n = 0;
  if (endFrame >= 0 && n >= endFrame) return false;
  if (header.chroma != Chroma::Yuv422) Fail("4:2:0 frames cannot be delivered as YUY2");
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
  const bool straight = raw && pitch == rowBytes;
  if (!straight) scratch.resize(payloadBytes);
  uint8_t* target = straight ? dst : scratch.data();
  const size_t got = Read(target, payloadBytes);
  if (raw && got == 0) {
    endFrame = nextFrame;
    return false;
  }
  if (got < payloadBytes)
    Fail("input frame " + std::to_string(nextFrame) + " (counting from 0) is truncated: " + std::to_string(got) +
         " of " + std::to_string(payloadBytes) + " bytes");
  if (raw) {
    if (!straight)
      for (int row = 0; row < header.height; ++row)
        std::memcpy(dst + row * pitch, scratch.data() + static_cast<size_t>(row) * rowBytes, rowBytes);
  } else {
    PlanarToPacked(scratch.data(), header.width, header.height, dst, pitch);
  }
  FrameDone();
  return true;
}

}  // namespace cli
