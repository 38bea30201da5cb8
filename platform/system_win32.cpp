// The command's system layer on Windows (platform/system.h): every name goes
// through the wide-character API as UTF-16, every transfer through the
// Win32 handle beneath the C runtime's descriptor, so no code page and no
// text-mode translation touches a name or a byte.
//
// rand_s (the system's random source through the C runtime) is declared only
// when this comes before the first C header.
#define _CRT_RAND_S
#include <windows.h>
// clang-format off: windows.h first, it defines what these need.
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>
// clang-format on
// windows.h names the wide or narrow function by this macro; here it is ours.
#undef RemoveDirectory

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "platform/system.h"

namespace sys {
namespace {

// One ReadFile or WriteFile moves at most this much.
constexpr DWORD MaxTransfer = DWORD{1} << 30;

// The last failure of a call here on this thread, as a Win32 error code, kept
// apart from GetLastError so the C runtime and allocations between the
// failure and ErrorText() cannot overwrite it.
thread_local DWORD lastError = 0;

int Fail(DWORD error) {
  lastError = error;
  return -1;
}
int Fail() { return Fail(GetLastError()); }

// UTF-8 to UTF-16; false (ERROR_NO_UNICODE_TRANSLATION) for bytes that are
// not UTF-8 and for a NUL inside the name.
bool Widen(const std::string& text, std::wstring* wide) {
  wide->clear();
  if (text.empty()) return true;
  if (text.find('\0') != std::string::npos) return Fail(ERROR_INVALID_NAME), false;
  const int n =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return Fail(ERROR_NO_UNICODE_TRANSLATION), false;
  wide->resize(static_cast<size_t>(n));
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()), &(*wide)[0], n);
  return true;
}

std::string Narrow(const wchar_t* wide, int length) {
  if (length <= 0) return std::string();
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide, length, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string text(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, length, &text[0], n, nullptr, nullptr);
  return text;
}

HANDLE HandleOf(int fd) { return fd < 0 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

// A descriptor that owns `handle`; -1 (and the handle closed) on failure.
int Descriptor(HANDLE handle, int flags) {
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags | _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    return Fail(ERROR_TOO_MANY_OPEN_FILES);
  }
  return fd;
}

constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A handle that reads nothing, only what the file is; BACKUP_SEMANTICS
// lets it name a directory too.
HANDLE OpenForQuery(const std::wstring& path) {
  return CreateFileW(path.c_str(), 0, ShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

PathStatus StatusOfHandle(HANDLE handle) {
  PathStatus s;
  const DWORD type = GetFileType(handle);
  if (type == FILE_TYPE_UNKNOWN && GetLastError() != NO_ERROR) return s;
  s.exists = true;
  BY_HANDLE_FILE_INFORMATION info;
  if (type != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info)) return s;  // a device or pipe
  s.directory = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  s.regular = !s.directory;
  if (s.regular) s.size = static_cast<int64_t>((uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow);
  return s;
}

bool IsDevicePath(const std::string& path) {
  return path.size() > 4 && (path[0] == '\\' || path[0] == '/') && (path[1] == '\\' || path[1] == '/') &&
         path[2] == '.' && (path[3] == '\\' || path[3] == '/');
}

// Temporary files the console handler must remove, published as on POSIX:
// a slot's path is written while the slot is free, then `used` is set.
constexpr int PendingSlots = 16;
constexpr size_t PendingLength = 4096;
wchar_t pendingPath[PendingSlots][PendingLength];
std::atomic<int> pendingUsed[PendingSlots];
UINT consoleCodePage = 0;  // the console's output code page before ours; 0: unchanged

void Register(const std::wstring& path) {
  if (path.size() >= PendingLength) return;
  for (int i = 0; i < PendingSlots; ++i) {
    if (pendingUsed[i].load() != 0) continue;
    std::memcpy(pendingPath[i], path.c_str(), (path.size() + 1) * sizeof(wchar_t));
    pendingUsed[i].store(1);
    return;
  }
}

void Forget(const std::wstring& path) {
  for (int i = 0; i < PendingSlots; ++i)
    if (pendingUsed[i].load() != 0 && path == pendingPath[i]) pendingUsed[i].store(0);
}

void RestoreCodePage() {
  if (consoleCodePage != 0) SetConsoleOutputCP(consoleCodePage);
}

// Ctrl-C, Ctrl-Break, the console window closed, logoff, shutdown: the
// temporary files go (each is open with FILE_SHARE_DELETE, so it can be
// deleted while open and vanishes when the process ends), then the default
// handler ends the process.
BOOL WINAPI OnConsoleEvent(DWORD) {
  for (int i = 0; i < PendingSlots; ++i)
    if (pendingUsed[i].load() != 0) DeleteFileW(pendingPath[i]);
  RestoreCodePage();
  return FALSE;
}

}  // namespace

std::string ErrorText() {
  switch (lastError) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
    case ERROR_INVALID_DRIVE: return "No such file or directory";
    case ERROR_ACCESS_DENIED: return "Permission denied";
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA: return "Broken pipe";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return "No space left on device";
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return "File exists";
    case ERROR_DIRECTORY: return "Is a directory";
    case ERROR_INVALID_HANDLE: return "Bad file descriptor";
    case ERROR_NO_UNICODE_TRANSLATION: return "the name is not valid UTF-8";
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return "Cannot allocate memory";
    // Windows' own words hold an unfilled "%1".
    case ERROR_BAD_EXE_FORMAT: return "Exec format error: not a library for 64-bit Windows";
    default: break;
  }
  wchar_t* text = nullptr;
  const DWORD n =
      FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, lastError, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string words = n > 0 ? Narrow(text, static_cast<int>(n)) : std::string();
  if (text != nullptr) LocalFree(text);
  while (!words.empty() && (words.back() == '\n' || words.back() == '\r' || words.back() == '.' || words.back() == ' '))
    words.pop_back();
  return words.empty() ? "Windows error " + std::to_string(lastError) : words;
}

std::vector<std::string> Arguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
  std::vector<std::string> args;
  for (int i = 1; i < count; ++i) args.push_back(Narrow(wide[i], static_cast<int>(std::wcslen(wide[i]))));
  LocalFree(wide);
  return args;
}

void PrepareStandardStreams() {
  for (int fd : {StandardInput, StandardOutput, StandardError}) _setmode(fd, _O_BINARY);
  // Messages are UTF-8 (file names among them); a console shows them as such
  // only in its UTF-8 code page, which the console gets back at the end.
  DWORD mode;
  if (GetConsoleMode(HandleOf(StandardError), &mode) || GetConsoleMode(HandleOf(StandardOutput), &mode)) {
    const UINT before = GetConsoleOutputCP();
    if (before != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) {
      consoleCodePage = before;
      std::atexit(RestoreCodePage);
    }
  }
}

bool IsTerminal(int fd) {
  DWORD mode;
  const HANDLE handle = HandleOf(fd);
  return GetFileType(handle) == FILE_TYPE_CHAR && GetConsoleMode(handle, &mode);
}

std::string ExecutablePath() {
  std::wstring path(32768, L'\0');
  const DWORD n = GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
  return n > 0 && n < path.size() ? Narrow(path.c_str(), static_cast<int>(n)) : std::string();
}

const char* PerSystem(const char*, const char* windows) { return windows; }

PathStatus StatusOf(const std::string& path) {
  std::wstring wide;
  if (!Widen(path, &wide)) return PathStatus();
  PathStatus s;
  if (IsDevicePath(path)) {  // \\.\pipe\NAME and the like: opening one would take a pipe instance
    s.exists = true;
    return s;
  }
  const HANDLE handle = OpenForQuery(wide);
  if (handle == INVALID_HANDLE_VALUE) return Fail(), s;
  s = StatusOfHandle(handle);
  CloseHandle(handle);
  return s;
}

PathStatus StatusOf(int fd) { return StatusOfHandle(HandleOf(fd)); }

bool SameFile(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION info[2];
  const std::string* paths[2] = {&a, &b};
  for (int i = 0; i < 2; ++i) {
    std::wstring wide;
    if (!Widen(*paths[i], &wide) || IsDevicePath(*paths[i])) return false;
    const HANDLE handle = OpenForQuery(wide);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const bool ok = GetFileType(handle) == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &info[i]);
    CloseHandle(handle);
    if (!ok) return false;
  }
  return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
         info[0].nFileIndexHigh == info[1].nFileIndexHigh && info[0].nFileIndexLow == info[1].nFileIndexLow;
}

void SplitPath(const std::string& path, std::string* directory, std::string* name) {
  const size_t cut = path.find_last_of("\\/:");
  if (cut == std::string::npos) {
    *directory = ".";
    *name = path;
    return;
  }
  // A root ("\\", "C:\\") or a drive's current directory ("C:") keeps its last character.
  const bool root = cut == 0 || path[cut] == ':' || (cut == 2 && path[1] == ':');
  *directory = path.substr(0, root ? cut + 1 : cut);
  *name = path.substr(cut + 1);
}

std::string ResolveLinks(const std::string& path) {
  std::wstring wide;
  if (!Widen(path, &wide) || IsDevicePath(path)) return path;
  const HANDLE handle = OpenForQuery(wide);
  if (handle == INVALID_HANDLE_VALUE) return path;
  std::wstring final(32768, L'\0');
  const DWORD n = GetFinalPathNameByHandleW(handle, &final[0], static_cast<DWORD>(final.size()), FILE_NAME_NORMALIZED);
  CloseHandle(handle);
  return n > 0 && n < final.size() ? Narrow(final.c_str(), static_cast<int>(n)) : path;
}

bool RemoveFile(const std::string& path) {
  std::wstring wide;
  return Widen(path, &wide) && (DeleteFileW(wide.c_str()) || Fail() == 0);
}

MadeDirectory MakeDirectory(const std::string& path) {
  std::wstring wide;
  if (!Widen(path, &wide)) return MadeDirectory::Failed;
  if (CreateDirectoryW(wide.c_str(), nullptr)) return MadeDirectory::Made;
  Fail();
  return lastError == ERROR_ALREADY_EXISTS ? MadeDirectory::Existed : MadeDirectory::Failed;
}

bool RemoveDirectory(const std::string& path) {
  std::wstring wide;
  return Widen(path, &wide) && (RemoveDirectoryW(wide.c_str()) || Fail() == 0);
}

bool ListDirectory(const std::string& path, std::vector<std::string>* names) {
  std::wstring wide;
  if (!Widen(path + "\\*", &wide)) return false;
  WIN32_FIND_DATAW entry;
  const HANDLE find = FindFirstFileW(wide.c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return Fail() == 0;
  names->clear();
  do {
    const std::string name = Narrow(entry.cFileName, static_cast<int>(std::wcslen(entry.cFileName)));
    if (name != "." && name != "..") names->push_back(name);
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  return true;
}

int OpenForReading(const std::string& path, bool) {
  std::wstring wide;
  if (!Widen(path, &wide)) return -1;
  const HANDLE handle =
      CreateFileW(wide.c_str(), GENERIC_READ, ShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    const bool directory = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return Fail(error == ERROR_ACCESS_DENIED && directory ? ERROR_DIRECTORY : error);
  }
  return Descriptor(handle, _O_RDONLY);
}

int OpenForWriting(const std::string& path) {
  std::wstring wide;
  if (!Widen(path, &wide)) return -1;
  const HANDLE handle = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return Fail();
  return Descriptor(handle, _O_WRONLY);
}

bool Close(int fd) { return _close(fd) == 0 || Fail(ERROR_INVALID_HANDLE) == 0; }

int64_t Position(int fd) {
  const HANDLE handle = HandleOf(fd);
  LARGE_INTEGER zero{}, at;
  if (GetFileType(handle) != FILE_TYPE_DISK || !SetFilePointerEx(handle, zero, &at, FILE_CURRENT)) return -1;
  return static_cast<int64_t>(at.QuadPart);
}

bool SetPosition(int fd, int64_t offset) {
  LARGE_INTEGER to;
  to.QuadPart = offset;
  return SetFilePointerEx(HandleOf(fd), to, nullptr, FILE_BEGIN) || Fail() == 0;
}

int64_t Read(int fd, void* buffer, size_t count) {
  DWORD got = 0;
  if (ReadFile(HandleOf(fd), buffer, static_cast<DWORD>(std::min<size_t>(count, MaxTransfer)), &got, nullptr))
    return got;
  const DWORD error = GetLastError();
  // A pipe whose writer has gone has ended, as a POSIX pipe does.
  if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF) return 0;
  return Fail(error);
}

int64_t ReadAt(int fd, void* buffer, size_t count, int64_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset));
  at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
  DWORD got = 0;
  if (ReadFile(HandleOf(fd), buffer, static_cast<DWORD>(std::min<size_t>(count, MaxTransfer)), &got, &at)) return got;
  const DWORD error = GetLastError();
  if (error == ERROR_HANDLE_EOF) return 0;
  return Fail(error);
}

int64_t Write(int fd, const void* data, size_t count) {
  DWORD done = 0;
  if (WriteFile(HandleOf(fd), data, static_cast<DWORD>(std::min<size_t>(count, MaxTransfer)), &done, nullptr))
    return done;
  return Fail();
}

// Windows has no gathered write for files and pipes: a run of small slices
// is joined in one buffer and written at once, a large slice alone.
int64_t WriteGather(int fd, const WriteSlice* slices, size_t count) {
  constexpr size_t Large = size_t{1} << 16, Joined = size_t{1} << 20;
  if (count == 0) return 0;
  if (count == 1 || slices[0].size >= Large) return Write(fd, slices[0].data, slices[0].size);
  std::string joined;
  for (size_t i = 0; i < count && slices[i].size < Large && joined.size() + slices[i].size <= Joined; ++i)
    joined.append(static_cast<const char*>(slices[i].data), slices[i].size);
  size_t done = 0;
  while (done < joined.size()) {
    const int64_t wrote = Write(fd, joined.data() + done, joined.size() - done);
    if (wrote < 0) return done > 0 ? static_cast<int64_t>(done) : -1;
    done += static_cast<size_t>(wrote);
  }
  return static_cast<int64_t>(done);
}

int64_t CopyInKernel(int, int, int64_t, size_t) { return CopyUnsupported; }

Mapping MapForReading(int fd, size_t size) {
  Mapping m;
  if (size == 0) return m;
  const HANDLE section = CreateFileMappingW(HandleOf(fd), nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (section == nullptr) return m;
  void* view = MapViewOfFile(section, FILE_MAP_READ, 0, 0, size);
  CloseHandle(section);  // the view keeps the section
  if (view == nullptr) return m;
  m.data = static_cast<const uint8_t*>(view);
  m.size = size;
  return m;
}

void Unmap(const Mapping& mapping) {
  if (mapping.data != nullptr) UnmapViewOfFile(mapping.data);
}

size_t PageSize() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwPageSize > 0 ? info.dwPageSize : 4096;
}

// VirtualUnlock on pages that are not locked takes them out of the working
// set (and fails with ERROR_NOT_LOCKED, which is expected here).
void ReleasePages(const Mapping& mapping, size_t from, size_t to) {
  if (mapping.data != nullptr && to > from && to <= mapping.size)
    VirtualUnlock(const_cast<uint8_t*>(mapping.data) + from, to - from);
}

int CreateTemporaryBeside(const std::string& target, std::string* tempPath) {
  // Beside the target: its directory part as written, separator included.
  const size_t cut = target.find_last_of("\\/:");
  const std::string directory = cut == std::string::npos ? std::string() : target.substr(0, cut + 1);
  const std::string base = cut == std::string::npos ? target : target.substr(cut + 1);
  static std::atomic<unsigned> serial{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    const uint64_t mix = (GetTickCount64() << 20) ^ (uint64_t{GetCurrentProcessId()} << 8) ^
                         (uint64_t{serial++} * 0x9E3779B97F4A7C15ull);
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "%06x", static_cast<unsigned>((mix ^ (mix >> 29)) & 0xffffff));
    const std::string name = directory + "." + base + ".zemivtc-" + suffix;
    std::wstring wide;
    if (!Widen(name, &wide)) return -1;
    // DELETE access and FILE_SHARE_DELETE: the console handler may delete it while it is open.
    const HANDLE handle = CreateFileW(wide.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                      nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      if (GetLastError() == ERROR_FILE_EXISTS) continue;
      return Fail();
    }
    Register(wide);
    *tempPath = name;
    const int fd = Descriptor(handle, _O_WRONLY);
    if (fd < 0) DiscardTemporary(name);
    return fd;
  }
  return Fail(ERROR_FILE_EXISTS);
}

bool ReplaceWithTemporary(const std::string& tempPath, const std::string& target) {
  std::wstring from, to;
  if (!Widen(tempPath, &from) || !Widen(target, &to)) return false;
  if (!MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return Fail() == 0;
  Forget(from);
  return true;
}

void DiscardTemporary(const std::string& tempPath) {
  std::wstring wide;
  if (!Widen(tempPath, &wide)) return;
  const DWORD error = lastError;
  DeleteFileW(wide.c_str());
  Forget(wide);
  lastError = error;
}

void InstallInterruptCleanup() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

Library* OpenLibrary(const std::string& path, std::string* error) {
  // A bare name is looked for beside the program first, then on the PATH
  // (the standard search); a path with a folder is taken as it is, and the
  // libraries it needs are looked for beside it.
  const bool bare = path.find_first_of("/\\:") == std::string::npos;
  std::wstring wide;
  HMODULE module = nullptr;
  if (Widen(path, &wide)) {
    module = bare ? LoadLibraryW(wide.c_str()) : LoadLibraryExW(wide.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == nullptr) Fail();
  }
  if (module == nullptr && error != nullptr) *error = ErrorText();
  return reinterpret_cast<Library*>(module);
}

void* LibrarySymbol(Library* library, const char* name) {
  if (library == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(library), name));
}

void CloseLibrary(Library* library) {
  if (library != nullptr) FreeLibrary(reinterpret_cast<HMODULE>(library));
}

std::string UserCacheFolder() {
  const DWORD count = GetEnvironmentVariableW(L"LOCALAPPDATA", nullptr, 0);
  if (count == 0) return std::string();
  std::wstring value(count, L'\0');
  const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", &value[0], count);
  return length < count ? Narrow(value.c_str(), static_cast<int>(length)) : std::string();
}

bool OpenInBrowser(const std::string& url) {
  std::wstring wide;
  if (!Widen(url, &wide)) return false;
  const HINSTANCE started = ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  return reinterpret_cast<INT_PTR>(started) > 32;  // 32 and less are errors
}

bool SystemRandom(uint8_t* bytes, size_t count) {
  for (size_t i = 0; i < count; i += 4) {
    unsigned int word;
    if (rand_s(&word) != 0) return false;
    for (size_t k = 0; k < 4 && i + k < count; ++k) bytes[i + k] = static_cast<uint8_t>(word >> (8 * k));
  }
  return true;
}

}  // namespace sys
