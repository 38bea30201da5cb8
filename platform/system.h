// The operating system as the zemivtc command uses it: files by UTF-8 name
// with 64-bit sizes and offsets, positioned reads, read-only mappings, output
// under a temporary name renamed over its target, the clean-up of those
// temporary files when the process is interrupted, directories, the standard
// streams, the console, the command line, shared libraries loaded at run
// time, the browser and the system's random source. system_posix.cpp
// implements it on POSIX systems, system_win32.cpp on Windows (the
// wide-character API, the C runtime's descriptors in binary mode): every
// difference between the systems that the command sees is in these three
// files.
//
// This is the command's layer and uses the C++ library; the module's kernel
// services (platform.h) build without one.
#ifndef ZEMIVTC_PLATFORM_SYSTEM_H
#define ZEMIVTC_PLATFORM_SYSTEM_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The calling convention of C interfaces exported the way Windows' own are
// (__stdcall) on 32-bit Windows; nothing elsewhere, where each processor has
// one convention.
#if defined(_WIN32) && !defined(_WIN64)
#define SYS_STDCALL __stdcall
#else
#define SYS_STDCALL
#endif

namespace sys {

// Descriptors are the C runtime's small numbers on every system.
constexpr int StandardInput = 0;
constexpr int StandardOutput = 1;
constexpr int StandardError = 2;

// The words for the last failure of a call below on this thread ("No such
// file or directory"); Windows' common failures get the same words as POSIX.
std::string ErrorText();

// --- the process ---

// The arguments after the program's name, in UTF-8: on Windows from the wide
// command line, whatever the console's code page.
std::vector<std::string> Arguments(int argc, char** argv);
// Binary standard streams (no CR LF translation on Windows), and UTF-8 text
// on a Windows console; call once at the start.
void PrepareStandardStreams();
bool IsTerminal(int fd);
// The running program's file; empty when the system does not say.
std::string ExecutablePath();
// `posix` on POSIX systems, `windows` on Windows: for words that name how
// each system does a thing (a library's file name, where to install it).
const char* PerSystem(const char* posix, const char* windows);

// --- paths ---

struct PathStatus {
  bool exists = false;
  bool regular = false;    // a file with a length
  bool directory = false;  // neither: a device, pipe or FIFO
  int64_t size = 0;        // regular files only
};
PathStatus StatusOf(const std::string& path);
PathStatus StatusOf(int fd);
// Both name one existing file or directory (through links and other names).
bool SameFile(const std::string& a, const std::string& b);
// The directory part of a path and the name in it, split at the system's
// separators ("/"; on Windows also "\" and a drive's ":"); "." for a bare name.
void SplitPath(const std::string& path, std::string* directory, std::string* name);
// The path with its symbolic links followed; the path itself where that fails.
std::string ResolveLinks(const std::string& path);
bool RemoveFile(const std::string& path);

enum class MadeDirectory { Made, Existed, Failed };
MadeDirectory MakeDirectory(const std::string& path);
bool RemoveDirectory(const std::string& path);
// The names in a directory, without "." and "..". False where it cannot be read.
bool ListDirectory(const std::string& path, std::vector<std::string>* names);

// --- files ---

// Opens for reading; never creates. `noWait`: a FIFO with no writer does not
// block the open (POSIX). -1 on failure.
int OpenForReading(const std::string& path, bool noWait = false);
// Opens an existing device or pipe for writing in place. -1 on failure.
int OpenForWriting(const std::string& path);
// False where the system reports a deferred write error.
bool Close(int fd);
// The offset the next read of `fd` starts at; -1 for what cannot seek.
int64_t Position(int fd);
bool SetPosition(int fd, int64_t offset);
// Each returns the bytes moved, 0 at the end of the input, -1 on failure;
// interrupted calls are retried. A read may return fewer bytes than asked.
int64_t Read(int fd, void* buffer, size_t count);
// Reads at `offset`, not at the descriptor's position (which Windows moves
// meanwhile: a reader of a file keeps its own offset and reads with this alone).
int64_t ReadAt(int fd, void* buffer, size_t count, int64_t offset);
int64_t Write(int fd, const void* data, size_t count);

// One piece of a gathered write.
struct WriteSlice {
  const void* data;
  size_t size;
};
// Writes the slices in order, in as few system calls as it can; returns the
// bytes written (possibly fewer than all) or -1.
int64_t WriteGather(int fd, const WriteSlice* slices, size_t count);
// Copies `size` bytes at `offset` of the file `inFd` to `outFd` inside the
// kernel. Returns the bytes copied (0: the input ended), -1 on failure, or
// CopyUnsupported where the system cannot for these two (the caller copies).
constexpr int64_t CopyUnsupported = -2;
int64_t CopyInKernel(int outFd, int inFd, int64_t offset, size_t size);

// Reads a whole file, at most `limit` + 1 bytes (so a caller sees that it is
// longer than `limit`). False on failure, ErrorText() says why.
bool ReadWholeFile(const std::string& path, size_t limit, std::string* bytes);

// --- mappings ---

// The first `size` bytes of the regular file `fd`, mapped read-only; `data`
// is null where it cannot be mapped (the caller reads instead).
struct Mapping {
  const uint8_t* data = nullptr;
  size_t size = 0;
};
Mapping MapForReading(int fd, size_t size);
void Unmap(const Mapping& mapping);
size_t PageSize();
// Hands back the pages of [from, to) (multiples of PageSize()): they are read
// from the file again if touched. A hint; some systems ignore it.
void ReleasePages(const Mapping& mapping, size_t from, size_t to);

// --- output under a temporary name ---

// Creates a new, empty file beside `target` (same directory, so that a rename
// can replace the target), named after it, for writing. Registers it for
// removal on an interruption (see InstallInterruptCleanup). -1 on failure.
int CreateTemporaryBeside(const std::string& target, std::string* tempPath);
// Renames `tempPath` over `target` in one step: readers see the old file or
// the new one, never a part. Forgets the registration. False on failure.
bool ReplaceWithTemporary(const std::string& tempPath, const std::string& target);
// Removes a temporary file and forgets its registration.
void DiscardTemporary(const std::string& tempPath);
// On an interruption (Ctrl-C, SIGTERM, SIGHUP, a closed console window) every
// registered temporary file is removed before the process ends; a closed
// pipe shows up as a failed write (SIGPIPE is ignored), whose caller discards
// its temporary file as on any failure.
void InstallInterruptCleanup();

// --- shared libraries loaded at run time ---

// So that the command runs without an optional library and says what to
// install when a feature needs it (dlopen; LoadLibraryW on Windows).
struct Library;
// Opens the library at `path` (UTF-8): a bare file name is searched for as
// the system searches (on Windows the program's own folder first, then the
// PATH). Returns nullptr and sets `error` to the system's reason on failure.
Library* OpenLibrary(const std::string& path, std::string* error);
// The address of an exported function or object; nullptr when missing.
void* LibrarySymbol(Library* library, const char* name);
void CloseLibrary(Library* library);

// The folder that holds caches of this user's programs: on Windows
// %LOCALAPPDATA%, elsewhere $XDG_CACHE_HOME, else $HOME/.cache. Empty when
// the environment names none.
std::string UserCacheFolder();

// --- the desktop ---

// Starts the default browser on `url` (xdg-open, or the shell's "open" on
// Windows); false when it could not be started.
bool OpenInBrowser(const std::string& url);
// Fills `bytes` from the system's random source (getrandom, or rand_s on
// Windows); false when it cannot.
bool SystemRandom(uint8_t* bytes, size_t count);

}  // namespace sys

#endif
