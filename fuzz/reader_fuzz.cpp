// The command's input side fed with arbitrary bytes: the stream reader (Y4M,
// or raw packed frames when built with ZEMIVTC_FUZZ_RAW) under the source
// frames the render reads. The first input byte chooses a seekable file
// (read, or memory-mapped) or a pipe, how many frames are kept, the order of
// the frame requests and whether reads are deferred (even frames then not
// loaded); the raw build takes the frame size from the next two. Bad streams
// must end in an error message, never a crash, hang or a frame without its
// bytes.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "cli/stream_clip.h"
#include "stream/errors.h"
#include "stream/frame_reader.h"

namespace {

[[noreturn]] void Fault(const std::string& what) {
  std::fprintf(stderr, "reader_fuzz: %s\n", what.c_str());
  std::abort();
}

// Frames larger than this are not read: a header may claim 16384 x 16384,
// and reading such frames only measures the allocator.
constexpr int64_t MaxReadPixels = 1 << 16;

// A descriptor whose reads deliver exactly the given bytes.
int StreamOf(const uint8_t* data, size_t size, bool pipeStream) {
  if (!pipeStream) {
    const int fd = memfd_create("zemivtc_input", 0);
    if (fd < 0) Fault("memfd_create failed");
    if (size && write(fd, data, size) != static_cast<ssize_t>(size)) Fault("memfd write failed");
    if (lseek(fd, 0, SEEK_SET) != 0) Fault("memfd seek failed");
    return fd;
  }
  int ends[2];
  if (pipe(ends) != 0) Fault("pipe failed");
  fcntl(ends[1], F_SETPIPE_SZ, 1 << 20);
  const int capacity = fcntl(ends[1], F_GETPIPE_SZ);
  if (capacity < 0 || static_cast<size_t>(capacity) < size) Fault("input larger than the pipe; lower -max_len");
  if (size && write(ends[1], data, size) != static_cast<ssize_t>(size)) Fault("pipe write failed");
  close(ends[1]);
  return ends[0];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t mode = data[0];
  size_t skip = 1;
  stream::InputFormat format;
#ifdef ZEMIVTC_FUZZ_RAW
  if (size < 3) return 0;
  // Sizes 0 and odd widths are among the choices: they must be refused.
  format.raw = true;
  format.rawWidth = data[1] % 34;
  format.rawHeight = data[2] % 18;
  skip = 3;
#endif
  const bool pipeStream = mode & 1;
  const int fd = StreamOf(data + skip, size - skip, pipeStream);

  std::unique_ptr<stream::FrameReader> reader;
  try {
    reader = std::make_unique<stream::FrameReader>(fd, "input", format, (mode & 0x40) != 0);
  } catch (const stream::CliError& e) {
    close(fd);
    if (std::string(e.what()).empty()) Fault("refusal without a message");
    return 0;
  }
  if (reader->Seekable() == pipeStream) Fault("seekability misjudged");
  const stream::Y4mHeader header = reader->Header();
  if (header.width < 1 || header.height < 1 || header.width > stream::MaxDimension ||
      header.height > stream::MaxDimension)
    Fault("header accepted with a bad size");
  if (static_cast<int64_t>(header.width) * header.height > MaxReadPixels) return 0;

  // As the command does: a bottom-field-first source is read turned over.
  reader->SetMirrored(stream::HeaderFieldOrder(header) == stream::FieldOrder::BottomFirst);
  // The source frames close the descriptor through their reader.
  const bool deferred = (mode & 0x80) != 0;
  cli::StreamClip source(std::move(reader), 1 + ((mode >> 1) & 7), deferred);
  static const int orders[4][8] = {
      {0, 1, 2, 3, 4, 5, 6, 7}, {1, 0, 2, 1, 4, 3, 9, 8}, {0, 0, 5, 2, 40, 3, -1, 1}, {3, 2, 1, 0, 7, 6, 5, 100}};
  for (int n : orders[(mode >> 4) & 3]) {
    const bool load = !deferred || n % 2 != 0;
    try {
      const stream::StoredFrame frame = source.Frame(n, load);
      if (!frame.Valid() || (load && frame.data == nullptr)) Fault("frame " + std::to_string(n) + " has no bytes");
    } catch (const stream::CliError& e) {
      // The command stops at the first failure; so does this.
      if (std::string(e.what()).empty()) Fault("failure without a message");
      break;
    }
  }
  return 0;
}
