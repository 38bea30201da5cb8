// The index cache: what the first opening of a source learns (FFMS2's index
// of the file, and the facts of every coded frame) kept in a file of the
// cache folder, so that later openings of the same file skip the indexing
// and the first reading. An entry is named by the source's key (size,
// modification time, hashes of its first and last MiB): a changed source
// has another name, so it never meets an entry of its old bytes.
#ifndef ZEMIVTC_SOURCE_INDEX_CACHE_H
#define ZEMIVTC_SOURCE_INDEX_CACHE_H

#include <cstdint>
#include <string>
#include <vector>

#include "source/field_map.h"

namespace source {

struct SourceKey {
  uint64_t size = 0;
  int64_t modified = 0;   // the file system's modification time, in its own ticks
  uint64_t headHash = 0;  // of the first MiB
  uint64_t tailHash = 0;  // of the last MiB
};

// The key of the file at `path` (UTF-8). Throws stream::CliError when it
// cannot be read.
SourceKey KeyOfFile(const std::string& path);

// The cache folder: `folder` when given, else the user's cache folder
// (sys::UserCacheFolder()) with "zemivtc" in it; empty when neither
// is known.
std::string CacheFolder(const std::string& folder);
// The entry's file for `key` in `folder`.
std::string CacheEntryPath(const std::string& folder, const SourceKey& key);

struct CacheEntry {
  std::vector<uint8_t> ffmsIndex;  // FFMS_WriteIndexToBuffer's bytes
  std::vector<CodedFrameFacts> frames;
};

enum class CacheRead { Missing, Valid, Damaged };

// Reads the entry at `path`. Damaged (with the reason in `why`) when it is
// truncated, fails its checksum, or names another key.
CacheRead ReadCacheEntry(const std::string& path, const SourceKey& key, CacheEntry* entry, std::string* why);

// Writes the entry whole or not at all: into a temporary file of the same
// folder (made when missing), then renamed over `path`. Returns false with
// the reason in `why` when it cannot be written; a reader works without it.
bool WriteCacheEntry(const std::string& path, const SourceKey& key, const CacheEntry& entry, std::string* why);

// A 64-bit hash of `count` bytes, chained through `seed`: fast enough to
// run over every decoded frame.
uint64_t HashBytes(const uint8_t* bytes, size_t count, uint64_t seed);

}  // namespace source

#endif
