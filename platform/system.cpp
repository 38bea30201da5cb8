// The parts of the system layer built on its own calls alone, the same on
// every system.
#include "platform/system.h"

#include <algorithm>

namespace sys {

bool ReadWholeFile(const std::string& path, size_t limit, std::string* bytes) {
  const int fd = OpenForReading(path);
  if (fd < 0) return false;
  bytes->clear();
  char chunk[65536];
  int64_t got = 0;
  while (bytes->size() <= limit && (got = Read(fd, chunk, std::min(sizeof chunk, limit + 1 - bytes->size()))) > 0)
    bytes->append(chunk, static_cast<size_t>(got));
  // A close that succeeds leaves the read's error for ErrorText().
  const bool failed = bytes->size() <= limit && got < 0;
  Close(fd);
  return !failed;
}

}  // namespace sys
