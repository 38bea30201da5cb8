// The command's system layer on POSIX systems (platform/system.h).
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/sendfile.h>
#endif

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "platform/system.h"

extern char** environ;

namespace sys {
namespace {

// Linux moves at most this much in one read, write or sendfile call.
constexpr size_t MaxTransfer = 0x7ffff000u;

// Temporary files a signal handler must remove. A slot's path is written
// only while the slot is free, then published by `used`; the handler reads
// published slots alone, so it never sees a path half written.
constexpr int PendingSlots = 16;
char pendingPath[PendingSlots][PATH_MAX + 1];
std::atomic<int> pendingUsed[PendingSlots];

void Register(const std::string& path) {
  if (path.size() > PATH_MAX) return;
  for (int i = 0; i < PendingSlots; ++i) {
    if (pendingUsed[i].load() != 0) continue;
    std::memcpy(pendingPath[i], path.c_str(), path.size() + 1);
    pendingUsed[i].store(1);
    return;
  }
}

void Forget(const std::string& path) {
  for (int i = 0; i < PendingSlots; ++i)
    if (pendingUsed[i].load() != 0 && path == pendingPath[i]) pendingUsed[i].store(0);
}

extern "C" void RemovePendingAndDie(int sig) {
  for (int i = 0; i < PendingSlots; ++i)
    if (pendingUsed[i].load() != 0) unlink(pendingPath[i]);
  signal(sig, SIG_DFL);
  raise(sig);
}

PathStatus StatusFrom(const struct stat& st) {
  PathStatus s;
  s.exists = true;
  s.regular = S_ISREG(st.st_mode);
  s.directory = S_ISDIR(st.st_mode);
  s.size = s.regular ? static_cast<int64_t>(st.st_size) : 0;
  return s;
}

}  // namespace

std::string ErrorText() { return std::strerror(errno); }

std::vector<std::string> Arguments(int argc, char** argv) {
  return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
}

void PrepareStandardStreams() {}

bool IsTerminal(int fd) { return isatty(fd) == 1; }

std::string ExecutablePath() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

const char* PerSystem(const char* posix, const char*) { return posix; }

PathStatus StatusOf(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? StatusFrom(st) : PathStatus();
}

PathStatus StatusOf(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 ? StatusFrom(st) : PathStatus();
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

void SplitPath(const std::string& path, std::string* directory, std::string* name) {
  const size_t slash = path.rfind('/');
  *directory = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  *name = slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ResolveLinks(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

bool RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0; }

MadeDirectory MakeDirectory(const std::string& path) {
  if (mkdir(path.c_str(), 0777) == 0) return MadeDirectory::Made;
  return errno == EEXIST ? MadeDirectory::Existed : MadeDirectory::Failed;
}

bool RemoveDirectory(const std::string& path) { return rmdir(path.c_str()) == 0; }

bool ListDirectory(const std::string& path, std::vector<std::string>* names) {
  DIR* d = opendir(path.c_str());
  if (d == nullptr) return false;
  names->clear();
  while (dirent* e = readdir(d))
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names->push_back(e->d_name);
  closedir(d);
  return true;
}

int OpenForReading(const std::string& path, bool noWait) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | (noWait ? O_NONBLOCK : 0));
  if (fd >= 0 && noWait) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

int OpenForWriting(const std::string& path) { return open(path.c_str(), O_WRONLY | O_CLOEXEC); }

bool Close(int fd) { return close(fd) == 0; }

int64_t Position(int fd) { return static_cast<int64_t>(lseek(fd, 0, SEEK_CUR)); }

bool SetPosition(int fd, int64_t offset) { return lseek(fd, static_cast<off_t>(offset), SEEK_SET) >= 0; }

int64_t Read(int fd, void* buffer, size_t count) {
  for (;;) {
    const ssize_t got = read(fd, buffer, std::min(count, MaxTransfer));
    if (got >= 0 || errno != EINTR) return got;
  }
}

int64_t ReadAt(int fd, void* buffer, size_t count, int64_t offset) {
  for (;;) {
    const ssize_t got = pread(fd, buffer, std::min(count, MaxTransfer), static_cast<off_t>(offset));
    if (got >= 0 || errno != EINTR) return got;
  }
}

int64_t Write(int fd, const void* data, size_t count) {
  for (;;) {
    const ssize_t done = write(fd, data, std::min(count, MaxTransfer));
    if (done >= 0 || errno != EINTR) return done;
  }
}

// A slice is laid out as an iovec, so the slices go to writev as they are.
static_assert(sizeof(WriteSlice) == sizeof(iovec) && offsetof(WriteSlice, data) == offsetof(iovec, iov_base) &&
                  offsetof(WriteSlice, size) == offsetof(iovec, iov_len),
              "WriteSlice must match iovec");

int64_t WriteGather(int fd, const WriteSlice* slices, size_t count) {
  const iovec* parts = reinterpret_cast<const iovec*>(slices);
  const int n = static_cast<int>(std::min<size_t>(count, IOV_MAX));
  for (;;) {
    const ssize_t done = writev(fd, parts, n);
    if (done >= 0 || errno != EINTR) return done;
  }
}

int64_t CopyInKernel(int outFd, int inFd, int64_t offset, size_t size) {
#ifdef __linux__
  for (;;) {
    off_t from = static_cast<off_t>(offset);
    const ssize_t sent = sendfile(outFd, inFd, &from, std::min(size, MaxTransfer));
    if (sent >= 0) return sent;
    if (errno == EINTR) continue;
    if (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) return CopyUnsupported;
    return -1;
  }
#else
  (void)outFd, (void)inFd, (void)offset, (void)size;
  return CopyUnsupported;
#endif
}

Mapping MapForReading(int fd, size_t size) {
  Mapping m;
  if (size == 0) return m;
  void* p = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  if (p == MAP_FAILED) return m;
  m.data = static_cast<const uint8_t*>(p);
  m.size = size;
  return m;
}

void Unmap(const Mapping& mapping) {
  if (mapping.data != nullptr) munmap(const_cast<uint8_t*>(mapping.data), mapping.size);
}

size_t PageSize() {
  const long page = sysconf(_SC_PAGESIZE);
  return page > 0 ? static_cast<size_t>(page) : 4096;
}

void ReleasePages(const Mapping& mapping, size_t from, size_t to) {
  if (mapping.data != nullptr && to > from && to <= mapping.size)
    madvise(const_cast<uint8_t*>(mapping.data) + from, to - from, MADV_DONTNEED);
}

int CreateTemporaryBeside(const std::string& target, std::string* tempPath) {
  std::string directory, base;
  SplitPath(target, &directory, &base);
  const std::string pattern = directory + "/." + base + ".zemivtc-XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return -1;
  *tempPath = name.data();
  Register(*tempPath);
  // mkstemp makes the file private; give it the mode a plain create would.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  return fd;
}

bool ReplaceWithTemporary(const std::string& tempPath, const std::string& target) {
  if (rename(tempPath.c_str(), target.c_str()) != 0) return false;
  Forget(tempPath);
  return true;
}

void DiscardTemporary(const std::string& tempPath) {
  const int error = errno;
  unlink(tempPath.c_str());
  Forget(tempPath);
  errno = error;
}

void InstallInterruptCleanup() {
  signal(SIGPIPE, SIG_IGN);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction action {};
    action.sa_handler = RemovePendingAndDie;
    sigemptyset(&action.sa_mask);
    sigaction(sig, &action, nullptr);
  }
}

Library* OpenLibrary(const std::string& path, std::string* error) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle && error) {
    const char* reason = dlerror();
    *error = reason ? reason : "dlopen failed";
  }
  return static_cast<Library*>(handle);
}

void* LibrarySymbol(Library* library, const char* name) { return library ? dlsym(library, name) : nullptr; }

void CloseLibrary(Library* library) {
  if (library) dlclose(library);
}

std::string UserCacheFolder() {
  // XDG base directories: a relative $XDG_CACHE_HOME is invalid and ignored.
  const char* xdg = std::getenv("XDG_CACHE_HOME");
  if (xdg && xdg[0] == '/') return xdg;
  const char* home = std::getenv("HOME");
  if (home && home[0] != '\0') return std::string(home) + "/.cache";
  return std::string();
}

bool OpenInBrowser(const std::string& url) {
  // xdg-open returns once the browser is asked; the browser itself is not
  // waited for.
  std::string program = "xdg-open", argument = url;
  char* argv[] = {&program[0], &argument[0], nullptr};
  pid_t child;
  if (posix_spawnp(&child, "xdg-open", nullptr, nullptr, argv, environ) != 0) return false;
  int status = 0;
  while (waitpid(child, &status, 0) < 0)
    if (errno != EINTR) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool SystemRandom(uint8_t* bytes, size_t count) {
  for (size_t done = 0; done < count;) {
    const ssize_t got = getrandom(bytes + done, count - done, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<size_t>(got);
  }
  return true;
}

}  // namespace sys
