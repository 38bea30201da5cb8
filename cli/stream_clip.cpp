#include "cli/stream_clip.h"

#include <algorithm>

#include "cli/errors.h"

namespace cli {

StreamClip::StreamClip(std::unique_ptr<stream::FrameReader> source, int keep, bool deferReads)
    : reader(std::move(source)), kept(static_cast<size_t>(keep > 0 ? keep : 1)), deferRead(deferReads) {}

StreamClip::Kept* StreamClip::Find(int n) {
  for (Kept& k : kept)
    if (k.index == n) return &k;
  return nullptr;
}

// Reads frame n into the next slot (a file's only named by its place, when
// reads are deferred). Null at the end of the input.
StreamClip::Kept* StreamClip::Load(int n) {
  Kept loaded;
  loaded.index = n;
  if (!reader->ReadFrame(n, nullptr, 0, &loaded.stored)) return nullptr;
  if (!deferRead) reader->LoadStoredBytes(loaded.stored);
  Kept& slot = kept[nextSlot];
  slot = std::move(loaded);
  nextSlot = (nextSlot + 1) % kept.size();
  return &slot;
}

// Frame n (clamped to the input's end) in a slot; throws CliError.
StreamClip::Kept* StreamClip::Fetch(int n) {
  if (n < 0) n = 0;
  highestRequest = std::max(highestRequest, n);
  const int count = reader->KnownFrameCount();
  if (count == 0) throw CliError("the input holds no frames");
  if (count > 0 && n >= count) {
    n = count - 1;
    clamped = true;
  }
  if (Kept* k = Find(n)) return k;
  if (!reader->Seekable() && n < reader->NextFrame())
    throw CliError("input frame " + std::to_string(n) + " was asked for after frame " +
                   std::to_string(reader->NextFrame() - 1) + " and is no longer buffered; a pipe cannot go back");
  // A pipe is read forward frame by frame, each one kept: whichever turns
  // out to be the last must still be at hand when a request clamps to it.
  while (reader->Seekable() || reader->NextFrame() <= n) {
    const int next = reader->Seekable() ? n : reader->NextFrame();
    Kept* k = Load(next);
    if (!k) break;  // the end came first
    if (next == n) return k;
  }
  const int total = reader->KnownFrameCount();
  if (total <= 0) throw CliError("the input holds no frames");
  clamped = true;
  if (Kept* k = Find(total - 1)) return k;
  if (Kept* k = Load(total - 1)) return k;
  throw CliError("input frame " + std::to_string(total - 1) + " could not be read again");
}

stream::StoredFrame StreamClip::Frame(int n, bool load) {
  Kept* k = Fetch(n);
  if (load) reader->LoadStoredBytes(k->stored);
  return k->stored;
}

}  // namespace cli
