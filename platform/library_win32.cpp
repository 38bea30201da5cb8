#include <windows.h>

#include "platform/library.h"

namespace platform {
namespace {

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  const int count = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(count > 0 ? count : 0, L'\0');
  if (count > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], count);
  return wide;
}

std::string Utf8(const wchar_t* wide) {
  const int count = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (count <= 1) return std::string();
  std::string utf8(count - 1, '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, &utf8[0], count, nullptr, nullptr);
  return utf8;
}

std::string SystemMessage(DWORD code) {
  wchar_t* text = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string message = text ? Utf8(text) : "error " + std::to_string(code);
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.'))
    message.pop_back();
  return message;
}

}  // namespace

Library* OpenLibrary(const std::string& path, std::string* error) {
  // A bare name is looked for beside the program first, then on the PATH
  // (the standard search); a path with a folder is taken as it is, and the
  // libraries it needs are looked for beside it.
  const bool bare = path.find_first_of("/\\:") == std::string::npos;
  const std::wstring wide = Wide(path);
  HMODULE module =
      bare ? LoadLibraryW(wide.c_str()) : LoadLibraryExW(wide.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (!module && error) *error = SystemMessage(GetLastError());
  return reinterpret_cast<Library*>(module);
}

void* LibrarySymbol(Library* library, const char* name) {
  if (!library) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(library), name));
}

void CloseLibrary(Library* library) {
  if (library) FreeLibrary(reinterpret_cast<HMODULE>(library));
}

std::string UserCacheFolder() {
  const DWORD count = GetEnvironmentVariableW(L"LOCALAPPDATA", nullptr, 0);
  if (count == 0) return std::string();
  std::wstring value(count, L'\0');
  GetEnvironmentVariableW(L"LOCALAPPDATA", &value[0], count);
  return Utf8(value.c_str());
}

}  // namespace platform
