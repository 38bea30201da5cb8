#include "stream/output.h"

#include <algorithm>
#include <cstring>

#include "platform/system.h"
#include "stream/errors.h"

namespace stream {

void InstallSignalHandlers() { sys::InstallInterruptCleanup(); }

OutputFile::OutputFile(const std::string& path) {
  if (path == "-") {
    fd = sys::StandardOutput;
    displayName = "standard output";
    return;
  }
  displayName = path;
  const sys::PathStatus st = sys::StatusOf(path);
  if (st.exists && !st.regular) {
    if (st.directory) throw CliError("cannot write " + path + ": it is a directory");
    // Devices and pipes (/dev/null, NUL, a FIFO) are written in place.
    fd = sys::OpenForWriting(path);
    if (fd < 0) throw CliError("cannot open " + path + " for writing: " + sys::ErrorText());
    ownsFd = true;
    return;
  }
  // A symbolic link to a file is followed, so the link stays and its target is replaced.
  finalPath = sys::ResolveLinks(path);
  fd = sys::CreateTemporaryBeside(finalPath, &tempPath);
  if (fd < 0) {
    // The file is written under a temporary name in its folder first: where
    // the folder exists, it is the folder that refused.
    const std::string why = sys::ErrorText();
    std::string folder, name;
    sys::SplitPath(finalPath, &folder, &name);
    if (folder.empty()) folder = ".";
    if (sys::StatusOf(folder).directory)
      throw CliError("cannot write " + path + ": cannot make a file in its folder " + folder +
                     " (the output is written there under a temporary name, then renamed): " + why);
    throw CliError("cannot write " + path + ": " + why);
  }
  ownsFd = true;
}

OutputFile::~OutputFile() {
  if (!committed) Discard();
}

void OutputFile::Discard() {
  if (ownsFd && fd >= 0) sys::Close(fd);
  fd = -1;
  if (!tempPath.empty()) {
    sys::DiscardTemporary(tempPath);
    tempPath.clear();
  }
}

void OutputFile::Write(const void* data, size_t size) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  while (size > 0) {
    const int64_t done = sys::Write(fd, p, size);
    if (done < 0) throw CliError("cannot write " + displayName + ": " + sys::ErrorText());
    p += done;
    size -= static_cast<size_t>(done);
  }
}

void OutputFile::Write(const void* first, size_t firstSize, const void* second, size_t secondSize) {
  sys::WriteSlice parts[2] = {{first, firstSize}, {second, secondSize}};
  Write(parts, 2);
}

void OutputFile::Write(sys::WriteSlice* parts, size_t count) {
  size_t part = 0;
  while (part < count) {
    const int64_t done = sys::WriteGather(fd, parts + part, count - part);
    if (done < 0) throw CliError("cannot write " + displayName + ": " + sys::ErrorText());
    size_t left = static_cast<size_t>(done);
    while (part < count && left >= parts[part].size) left -= parts[part++].size;
    if (part < count) {
      parts[part].data = static_cast<const uint8_t*>(parts[part].data) + left;
      parts[part].size -= left;
    }
  }
}

size_t OutputFile::CopyFromFile(int inFd, int64_t offset, size_t size) {
  size_t done = 0;
  while (done < size) {
    const int64_t sent = sys::CopyInKernel(fd, inFd, offset + static_cast<int64_t>(done), size - done);
    if (sent == sys::CopyUnsupported && done == 0) break;  // not here: copied through a buffer below
    if (sent < 0) throw CliError("cannot write " + displayName + ": " + sys::ErrorText());
    if (sent == 0) return done;
    done += static_cast<size_t>(sent);
  }
  if (done == size) return done;
  std::vector<uint8_t> chunk(std::min<size_t>(size, size_t{1} << 20));
  while (done < size) {
    const int64_t got =
        sys::ReadAt(inFd, chunk.data(), std::min(chunk.size(), size - done), offset + static_cast<int64_t>(done));
    if (got < 0) throw CliError("cannot read the input: " + sys::ErrorText());
    if (got == 0) break;
    Write(chunk.data(), static_cast<size_t>(got));
    done += static_cast<size_t>(got);
  }
  return done;
}

void OutputFile::Commit() {
  if (ownsFd) {
    const bool closed = sys::Close(fd);
    fd = -1;
    // close can report a deferred write error (NFS, quotas).
    if (!closed) throw CliError("cannot write " + displayName + ": " + sys::ErrorText());
  }
  if (!tempPath.empty()) {
    if (!sys::ReplaceWithTemporary(tempPath, finalPath))
      throw CliError("cannot write " + displayName + ": " + sys::ErrorText());
    tempPath.clear();
  }
  committed = true;
}

size_t StreamFrameBytes(int width, int height, FrameFormat format) {
  if (format == FormatYuy2) return static_cast<size_t>(width) * height * 2;
  return PlanarFrameBytes(width, height, format == FormatYuv420 ? Chroma::Yuv420 : Chroma::Yuv422);
}

FrameWriter::FrameWriter(OutputFile& output, const Y4mHeader& inputHeader, const OutputFormat& outputFormat,
                         RowBands* rowBands)
    : out(output), input(inputHeader), format(outputFormat), bands(rowBands) {
  buffer.resize(6 + StreamFrameBytes(input.width, input.height, Format()));
  std::memcpy(buffer.data(), "FRAME\n", 6);
}

void FrameWriter::WriteHeader(unsigned rateNumerator, unsigned rateDenominator) {
  if (format.raw) return;
  const std::string header = FormatOutputHeader(input, rateNumerator, rateDenominator, format.chroma);
  out.Write(header.data(), header.size());
}

void FrameWriter::Banded(int unit, const std::function<void(int, int)>& work) {
  const int units = input.height / unit;
  if (bands)
    bands->Run(units, std::max(1, MinBandRows(input.width) / unit),
               [&](int begin, int end) { work(begin * unit, end * unit); });
  else
    work(0, units * unit);
}

void FrameWriter::WriteFrame(const uint8_t* frame, FrameFormat from) {
  const FrameFormat to = Format();
  const int width = input.width, height = input.height;
  const size_t frameHeader = format.raw ? 0 : 6;  // "FRAME\n"
  const size_t frameBytes = buffer.size() - 6;
  uint8_t* converted = buffer.data() + 6;
  if (from == to) {
    out.Write(buffer.data(), frameHeader, frame, frameBytes);
    return;
  }
  const auto chromaOf = [](FrameFormat f) { return f == FormatYuv420 ? Chroma::Yuv420 : Chroma::Yuv422; };
  if (from != FormatYuy2 && to != FormatYuy2) {
    // Planar to planar: the luma as it is, the two chroma planes converted.
    const size_t luma = static_cast<size_t>(width) * height;
    const int chromaBytes = width / 2;
    const size_t fromPlane = (StreamFrameBytes(width, height, from) - luma) / 2;
    const size_t toPlane = (frameBytes - luma) / 2;
    Banded(4, [&](int begin, int end) {
      for (int p = 0; p < 2; ++p) {
        const uint8_t* chroma = frame + luma + p * fromPlane;
        uint8_t* target = converted + luma + p * toPlane;
        if (to == FormatYuv420)
          ChromaTo420Rows(chroma, chromaBytes, target, chromaBytes, chromaBytes, begin, end);
        else
          ChromaTo422Rows(chroma, chromaBytes, target, chromaBytes, chromaBytes, begin, end);
      }
    });
    sys::WriteSlice parts[3] = {{buffer.data(), 6}, {frame, luma}, {converted + luma, frameBytes - luma}};
    out.Write(parts, 3);
    return;
  }
  if (to == FormatYuy2) {
    const PackedLayout layout{chromaOf(from), false};
    Banded(RowsPerUnit(layout.chroma), [&](int begin, int end) {
      PlanarToPackedRows(frame, width, height, begin, end, converted, 2 * width, layout);
    });
  } else {
    const PackedLayout layout{chromaOf(to), false};
    Banded(RowsPerUnit(layout.chroma), [&](int begin, int end) {
      PackedToPlanarRows(frame, 2 * width, width, height, begin, end, converted, layout);
    });
  }
  out.Write(buffer.data() + 6 - frameHeader, frameHeader + frameBytes);
}

void FrameWriter::WriteStored(const uint8_t* planar) { out.Write(buffer.data(), 6, planar, buffer.size() - 6); }

void FrameWriter::WriteStored(const StoredFrame& stored) {
  if (stored.data) {
    WriteStored(stored.data);
    return;
  }
  out.Write(buffer.data(), 6);
  const size_t frameBytes = buffer.size() - 6;
  if (out.CopyFromFile(stored.fd, stored.fileOffset, frameBytes) != frameBytes)
    throw CliError("the input file was cut short while it was read");
}

void FrameWriter::WriteWoven(const uint8_t* upper, const uint8_t* lower) {
  // Every plane's rows alternate between the fields as the luma rows do: at
  // 4:2:2 a chroma row is its luma row's, and interlaced 4:2:0 gives chroma
  // row 2i+f to field f. The filter's top field is the frame's first: the
  // bottom rows when the frame is turned over (bottom field first), whose
  // height is even.
  const int upperParity = format.mirrored ? (input.height - 1) % 2 : 0;
  const size_t lumaBytes = static_cast<size_t>(input.width) * input.height;
  const size_t chromaWidth = static_cast<size_t>(input.width / 2);
  const size_t chromaRows =
      static_cast<size_t>(format.chroma == Chroma::Yuv422 ? input.height : (input.height + 1) / 2);
  const struct {
    size_t offset, rowBytes, rows;
  } planes[3] = {{0, static_cast<size_t>(input.width), static_cast<size_t>(input.height)},
                 {lumaBytes, chromaWidth, chromaRows},
                 {lumaBytes + chromaWidth * chromaRows, chromaWidth, chromaRows}};
  // Row by row straight from the stored frames: no copy through the process.
  rows.assign(1, sys::WriteSlice{buffer.data(), 6});
  for (const auto& plane : planes)
    for (size_t row = 0; row < plane.rows; ++row) {
      const uint8_t* from = static_cast<int>(row % 2) == upperParity ? upper : lower;
      rows.push_back(sys::WriteSlice{const_cast<uint8_t*>(from + plane.offset + row * plane.rowBytes), plane.rowBytes});
    }
  out.Write(rows.data(), rows.size());
}

}  // namespace stream
