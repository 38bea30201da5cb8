#include "source/index_cache.h"

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "platform/system.h"
#include "stream/errors.h"

namespace source {
namespace {

namespace fs = std::filesystem;

constexpr char Magic[8] = {'Z', 'E', 'M', 'F', 'F', 'I', 'D', 'X'};
// Raised whenever the entry's layout or what it records changes.
constexpr uint32_t EntryVersion = 1;
constexpr size_t EndBytes = 1 << 20;

fs::path Path(const std::string& utf8) { return fs::u8path(utf8); }

void Put64(std::vector<uint8_t>* out, uint64_t value) {
  for (int i = 0; i < 8; ++i) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint64_t Get64(const uint8_t* in) {
  uint64_t value = 0;
  for (int i = 0; i < 8; ++i) value |= static_cast<uint64_t>(in[i]) << (8 * i);
  return value;
}

// Header: magic, version, the key's four words, the index's byte count, the
// frame count, the checksum of everything after the header.
constexpr size_t HeaderBytes = 8 + 8 + 4 * 8 + 8 + 8 + 8;
constexpr size_t FactBytes = 9;  // hash, then flags: bit 0 top first, bit 1 interlaced, bits 2-4 repeatPict

std::string Hex(uint64_t value) {
  static const char digits[] = "0123456789abcdef";
  std::string text(16, '0');
  for (int i = 15; i >= 0; --i, value >>= 4) text[i] = digits[value & 15];
  return text;
}

}  // namespace

uint64_t HashBytes(const uint8_t* bytes, size_t count, uint64_t seed) {
  // Eight bytes a step, multiplied and rotated (the avalanche of a
  // multiplicative hash); the tail byte by byte.
  uint64_t h = seed ^ (count * 0x9e3779b97f4a7c15ull);
  size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    uint64_t word;
    std::memcpy(&word, bytes + i, 8);
    h = (h ^ (word * 0xff51afd7ed558ccdull)) * 0xc4ceb9fe1a85ec53ull;
    h ^= h >> 29;
  }
  for (; i < count; ++i) h = (h ^ bytes[i]) * 0x100000001b3ull;
  return h ^ (h >> 32);
}

SourceKey KeyOfFile(const std::string& path) {
  std::error_code error;
  const fs::path file = Path(path);
  SourceKey key;
  key.size = fs::file_size(file, error);
  if (!error) key.modified = fs::last_write_time(file, error).time_since_epoch().count();
  std::ifstream in(file, std::ios::binary);
  if (error || !in) throw stream::CliError("cannot read " + path + (error ? ": " + error.message() : std::string()));
  std::vector<uint8_t> bytes(static_cast<size_t>(std::min<uint64_t>(key.size, EndBytes)));
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!in) throw stream::CliError("cannot read " + path);
  key.headHash = HashBytes(bytes.data(), bytes.size(), 1);
  in.seekg(static_cast<std::streamoff>(key.size - bytes.size()));
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!in) throw stream::CliError("cannot read " + path);
  key.tailHash = HashBytes(bytes.data(), bytes.size(), 2);
  return key;
}

std::string CacheFolder(const std::string& folder) {
  if (!folder.empty()) return folder;
  const std::string user = sys::UserCacheFolder();
  return user.empty() ? std::string() : (Path(user) / "zemivtc").u8string();
}

std::string CacheEntryPath(const std::string& folder, const SourceKey& key) {
  uint64_t name = HashBytes(reinterpret_cast<const uint8_t*>(&key.size), sizeof key.size, EntryVersion);
  for (uint64_t word : {static_cast<uint64_t>(key.modified), key.headHash, key.tailHash})
    name = HashBytes(reinterpret_cast<const uint8_t*>(&word), sizeof word, name);
  return (Path(folder) / (Hex(name) + ".ffindex")).u8string();
}

CacheRead ReadCacheEntry(const std::string& path, const SourceKey& key, CacheEntry* entry, std::string* why) {
  std::ifstream in(Path(path), std::ios::binary);
  if (!in) return CacheRead::Missing;
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto damaged = [&](const char* reason) {
    *why = reason;
    return CacheRead::Damaged;
  };
  if (bytes.size() < HeaderBytes || std::memcmp(bytes.data(), Magic, 8) != 0) return damaged("not an index entry");
  const uint8_t* h = bytes.data() + 8;
  if (Get64(h) != EntryVersion) return damaged("written by another version");
  if (Get64(h + 8) != key.size || Get64(h + 16) != static_cast<uint64_t>(key.modified) ||
      Get64(h + 24) != key.headHash || Get64(h + 32) != key.tailHash)
    return damaged("made for another file");
  const uint64_t indexBytes = Get64(h + 40), frames = Get64(h + 48);
  const size_t payload = bytes.size() - HeaderBytes;
  if (indexBytes > payload || frames > (payload - indexBytes) / FactBytes || indexBytes + frames * FactBytes != payload)
    return damaged("truncated");
  if (Get64(h + 56) != HashBytes(bytes.data() + HeaderBytes, payload, 3)) return damaged("its checksum fails");
  const uint8_t* p = bytes.data() + HeaderBytes;
  entry->ffmsIndex.assign(p, p + indexBytes);
  p += indexBytes;
  entry->frames.resize(static_cast<size_t>(frames));
  for (CodedFrameFacts& facts : entry->frames) {
    facts.hash = Get64(p);
    facts.topFieldFirst = p[8] & 1;
    facts.interlaced = (p[8] >> 1) & 1;
    facts.repeatPict = static_cast<uint8_t>((p[8] >> 2) & 7);
    p += FactBytes;
  }
  return CacheRead::Valid;
}

bool WriteCacheEntry(const std::string& path, const SourceKey& key, const CacheEntry& entry, std::string* why) {
  std::vector<uint8_t> bytes(Magic, Magic + 8);
  for (uint64_t word :
       {static_cast<uint64_t>(EntryVersion), key.size, static_cast<uint64_t>(key.modified), key.headHash, key.tailHash,
        static_cast<uint64_t>(entry.ffmsIndex.size()), static_cast<uint64_t>(entry.frames.size()), uint64_t{0}})
    Put64(&bytes, word);
  bytes.insert(bytes.end(), entry.ffmsIndex.begin(), entry.ffmsIndex.end());
  for (const CodedFrameFacts& facts : entry.frames) {
    Put64(&bytes, facts.hash);
    bytes.push_back(static_cast<uint8_t>((facts.topFieldFirst ? 1 : 0) | (facts.interlaced ? 2 : 0) |
                                         ((facts.repeatPict & 7) << 2)));
  }
  const uint64_t sum = HashBytes(bytes.data() + HeaderBytes, bytes.size() - HeaderBytes, 3);
  for (int i = 0; i < 8; ++i) bytes[HeaderBytes - 8 + i] = static_cast<uint8_t>(sum >> (8 * i));

  const fs::path target = Path(path);
  std::error_code error;
  fs::create_directories(target.parent_path(), error);
  // A name no other writer uses at once: another process indexing the same
  // file writes its own temporary and the last rename wins, whole either way.
  std::random_device random;
  const fs::path temporary =
      target.parent_path() / (target.filename().u8string() + "." + Hex((uint64_t{random()} << 32) ^ random()) + ".tmp");
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
      fs::remove(temporary, error);
      *why = "cannot write " + temporary.u8string();
      return false;
    }
  }
  fs::rename(temporary, target, error);
  if (error) {
    *why = "cannot rename " + temporary.u8string() + " to " + target.u8string() + ": " + error.message();
    fs::remove(temporary, error);
    return false;
  }
  return true;
}

}  // namespace source
