#include "source/ffms2_library.h"

#include <map>
#include <memory>
#include <mutex>

#include "platform/system.h"
#include "stream/errors.h"

namespace source {
namespace {

std::string InstallHint() {
  return sys::PerSystem("install it: apt install libffms2-5",
                        "put ffms2.dll beside zemivtc.exe or in a folder on the PATH (the 64-bit ffms2.dll of an "
                        "FFMS2 release, the one the AviSynth and VapourSynth plugin folders use), or name it with "
                        "--ffms2 FILE");
}

template <typename F>
void Bind(sys::Library* library, const char* name, F* slot, std::string* missing) {
  *slot = reinterpret_cast<F>(sys::LibrarySymbol(library, name));
  if (!*slot && missing->empty()) *missing = name;
}

std::unique_ptr<ffms2::Api> Bound(sys::Library* library, std::string* missing) {
  auto api = std::make_unique<ffms2::Api>();
  Bind(library, "FFMS_Init", &api->Init, missing);
  Bind(library, "FFMS_GetVersion", &api->GetVersion, missing);
  Bind(library, "FFMS_SetLogLevel", &api->SetLogLevel, missing);
  Bind(library, "FFMS_GetPixFmt", &api->GetPixFmt, missing);
  Bind(library, "FFMS_CreateIndexer", &api->CreateIndexer, missing);
  Bind(library, "FFMS_GetNumTracksI", &api->GetNumTracksI, missing);
  Bind(library, "FFMS_GetTrackTypeI", &api->GetTrackTypeI, missing);
  Bind(library, "FFMS_GetCodecNameI", &api->GetCodecNameI, missing);
  Bind(library, "FFMS_GetFormatNameI", &api->GetFormatNameI, missing);
  Bind(library, "FFMS_TrackIndexSettings", &api->TrackIndexSettings, missing);
  Bind(library, "FFMS_SetProgressCallback", &api->SetProgressCallback, missing);
  Bind(library, "FFMS_DoIndexing2", &api->DoIndexing2, missing);
  Bind(library, "FFMS_CancelIndexing", &api->CancelIndexing, missing);
  Bind(library, "FFMS_ReadIndexFromBuffer", &api->ReadIndexFromBuffer, missing);
  Bind(library, "FFMS_IndexBelongsToFile", &api->IndexBelongsToFile, missing);
  Bind(library, "FFMS_WriteIndexToBuffer", &api->WriteIndexToBuffer, missing);
  Bind(library, "FFMS_FreeIndexBuffer", &api->FreeIndexBuffer, missing);
  Bind(library, "FFMS_DestroyIndex", &api->DestroyIndex, missing);
  Bind(library, "FFMS_GetFirstIndexedTrackOfType", &api->GetFirstIndexedTrackOfType, missing);
  Bind(library, "FFMS_GetTrackFromIndex", &api->GetTrackFromIndex, missing);
  Bind(library, "FFMS_GetNumFrames", &api->GetNumFrames, missing);
  Bind(library, "FFMS_GetFrameInfo", &api->GetFrameInfo, missing);
  Bind(library, "FFMS_GetTimeBase", &api->GetTimeBase, missing);
  Bind(library, "FFMS_CreateVideoSource", &api->CreateVideoSource, missing);
  Bind(library, "FFMS_DestroyVideoSource", &api->DestroyVideoSource, missing);
  Bind(library, "FFMS_GetVideoProperties", &api->GetVideoProperties, missing);
  Bind(library, "FFMS_GetFrame", &api->GetFrame, missing);
  return api;
}

// The version whose interface ffms2_api.h declares, and the first that
// has every function it names: 2.21 (FFMS_DoIndexing2).
constexpr int OldestVersion = (2 << 24) | (21 << 16);

}  // namespace

const char* DefaultFfms2Library() { return sys::PerSystem("libffms2.so.5", "ffms2.dll"); }

const ffms2::Api& LoadFfms2(const std::string& file) {
  static std::mutex lock;
  // Loaded libraries stay loaded: frames and sources may outlive any one reader.
  static std::map<std::string, std::unique_ptr<ffms2::Api>> loaded;
  const std::string name = file.empty() ? DefaultFfms2Library() : file;
  std::lock_guard<std::mutex> hold(lock);
  auto found = loaded.find(name);
  if (found != loaded.end()) return *found->second;

  std::string reason;
  sys::Library* library = sys::OpenLibrary(name, &reason);
  if (!library)
    throw stream::CliError("reading this source needs the FFMS2 library (" + name + "), which cannot be loaded (" +
                           reason + "): " + InstallHint());
  std::string missing;
  std::unique_ptr<ffms2::Api> api = Bound(library, &missing);
  if (!missing.empty() || api->GetVersion() < OldestVersion) {
    sys::CloseLibrary(library);
    throw stream::CliError(name + " is not a usable FFMS2 library (" +
                           (missing.empty() ? std::string("older than 2.21") : "it lacks " + missing) +
                           "): " + InstallHint());
  }
  api->Init(0, 0);
  api->SetLogLevel(ffms2::LogQuiet);
  return *loaded.emplace(name, std::move(api)).first->second;
}

}  // namespace source
