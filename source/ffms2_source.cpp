#include "source/ffms2_source.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <numeric>

#include "source/ffms2_library.h"
#include "source/index_cache.h"
#include "stream/errors.h"

namespace source {
namespace {

// Decoded frames kept for requests that come back to them (the render asks
// for frame k+1, then k), so that they are not decoded again.
constexpr size_t KeptCodedFrames = 4;
// Key frames tried, each further back, before the file's start when a
// decoded frame fails its hash.
constexpr int EarlierKeyFrames = 3;

struct ErrorText {
  char text[1024] = {0};
  ffms2::ErrorInfo info{0, 0, sizeof text, text};
  ffms2::ErrorInfo* operator&() { return &info; }
  std::string Message() const { return text[0] ? std::string(text) : std::string("no reason given"); }
};

struct PixelFormat {
  const char* name;
  int chroma;  // 0: not accepted, 1: 4:2:0, 2: 4:2:2
};

// Formats named in a refusal, and the four accepted as they are.
constexpr PixelFormat KnownFormats[] = {
    {"yuv420p", 1},     {"yuvj420p", 1},    {"yuv422p", 2},     {"yuvj422p", 2}, {"yuv444p", 0},
    {"yuvj444p", 0},    {"yuv411p", 0},     {"yuv410p", 0},     {"yuv440p", 0},  {"gray", 0},
    {"nv12", 0},        {"nv21", 0},        {"yuyv422", 0},     {"uyvy422", 0},  {"yuv420p10le", 0},
    {"yuv422p10le", 0}, {"yuv444p10le", 0}, {"yuv420p12le", 0}, {"p010le", 0},   {"gbrp", 0},
    {"rgb24", 0},       {"bgr24", 0},       {"yuva420p", 0},    {"gray10le", 0}, {"yuv422p12le", 0}};

unsigned Gcd(unsigned a, unsigned b) { return b == 0 ? a : Gcd(b, a % b); }

void Reduce(unsigned* numerator, unsigned* denominator) {
  const unsigned g = Gcd(*numerator, *denominator);
  if (g > 1) *numerator /= g, *denominator /= g;
}

}  // namespace

std::string Y4mCommand(const std::string& path, const char* pixelFormat) {
  return std::string("ffmpeg -i \"") + path + "\" -fps_mode passthrough -pix_fmt " + pixelFormat +
         " -f yuv4mpegpipe \"" + path + ".y4m\"";
}

struct Ffms2Source::State {
  const ffms2::Api* api = nullptr;
  std::string path;
  ffms2::Index* index = nullptr;
  ffms2::VideoSource* video = nullptr;
  int track = -1;
  std::vector<CodedFrameFacts> facts;
  std::vector<int> keyFrames;  // ascending
  FieldMap map;
  int pixelFormat = -1;
  int width = 0, height = 0;
  int chromaWidth = 0, chromaHeight = 0;
  size_t frameBytes = 0;

  struct Kept {
    int coded = -1;
    uint64_t used = 0;
    std::shared_ptr<std::vector<uint8_t>> bytes;
  };
  std::vector<Kept> kept = std::vector<Kept>(KeptCodedFrames);
  uint64_t clock = 0;
  std::vector<std::shared_ptr<std::vector<uint8_t>>> woven;  // buffers of frames made of two coded frames
  int redecodes = 0;

  ~State() {
    if (video) api->DestroyVideoSource(video);
    if (index) api->DestroyIndex(index);
  }

  [[noreturn]] void Refuse(const std::string& what) const {
    throw stream::CliError(path + ": " + what + "; to read it anyway, make a Y4M file of it: " + Y4mCommand(path));
  }

  void OpenVideo() {
    if (video) api->DestroyVideoSource(video);
    ErrorText error;
    // One decoding thread: frames come out in the order and with the delay
    // the first reading saw. Normal seeking: FFMS2 seeks to key frames and
    // reports what it cannot place rather than guessing.
    video = api->CreateVideoSource(path.c_str(), track, index, 1, ffms2::SeekNormal, &error);
    if (!video) Refuse("FFMS2 cannot decode its video (" + error.Message() + ")");
  }

  // The plane layout, from the first decoded frame.
  void TakeGeometry(const ffms2::Frame& frame, SourceProperties* properties) {
    pixelFormat = frame.encodedPixelFormat;
    std::string name = "pixel format " + std::to_string(pixelFormat);
    int chroma = 0;
    for (const PixelFormat& known : KnownFormats)
      if (api->GetPixFmt(known.name) == pixelFormat) name = known.name, chroma = known.chroma;
    if (chroma == 0)
      throw stream::CliError(
          path + ": its frames are " + name +
          ", and only 8-bit 4:2:0 and 4:2:2 are read as they are; convert it: " + Y4mCommand(path, "yuv420p"));
    width = frame.encodedWidth;
    height = frame.encodedHeight;
    if (width <= 0 || height <= 0 || width > stream::MaxDimension || height > stream::MaxDimension)
      Refuse("its frames are " + std::to_string(width) + "x" + std::to_string(height));
    chromaWidth = (width + 1) / 2;
    chromaHeight = chroma == 1 ? (height + 1) / 2 : height;
    frameBytes = static_cast<size_t>(width) * height + 2 * static_cast<size_t>(chromaWidth) * chromaHeight;
    properties->width = width;
    properties->height = height;
    properties->chroma = chroma == 1 ? stream::Chroma::Yuv420 : stream::Chroma::Yuv422;
    properties->pixelFormat = name;
    properties->colorRange = frame.colorRange == 1 ? "LIMITED" : frame.colorRange == 2 ? "FULL" : "";
    properties->colorTag = chroma == 2                                            ? "422"
                           : frame.chromaLocation == ffms2::ChromaLocationLeft    ? "420mpeg2"
                           : frame.chromaLocation == ffms2::ChromaLocationTopLeft ? "420paldv"
                                                                                  : "420jpeg";
  }

  // Coded frame n as decoded, or nullptr with FFMS2's reason.
  const ffms2::Frame* Decode(int n, std::string* why) {
    ErrorText error;
    const ffms2::Frame* frame = api->GetFrame(video, n, &error);
    if (!frame) *why = error.Message();
    return frame;
  }

  // Copies a decoded frame into `out` (planes one after another, rows packed)
  // and returns its hash; refuses a frame whose format or size changed.
  uint64_t Pack(const ffms2::Frame& frame, int n, std::vector<uint8_t>* out) const {
    if (frame.encodedPixelFormat != pixelFormat || frame.encodedWidth != width || frame.encodedHeight != height)
      Refuse("its frame " + std::to_string(n) + " changes the frame size or format (" +
             std::to_string(frame.encodedWidth) + "x" + std::to_string(frame.encodedHeight) +
             "), which one clip cannot");
    out->resize(frameBytes);
    uint8_t* to = out->data();
    for (int plane = 0; plane < 3; ++plane) {
      const int rowBytes = plane == 0 ? width : chromaWidth, rows = plane == 0 ? height : chromaHeight;
      for (int row = 0; row < rows; ++row, to += rowBytes)
        std::memcpy(to, frame.data[plane] + static_cast<ptrdiff_t>(row) * frame.linesize[plane], rowBytes);
    }
    return HashBytes(out->data(), out->size(), 0);
  }

  // Decodes frame n into `out`; true when it reproduces its recorded hash.
  bool DecodeMatches(int n, std::vector<uint8_t>* out) {
    std::string why;
    const ffms2::Frame* frame = Decode(n, &why);
    return frame && Pack(*frame, n, out) == facts[n].hash;
  }

  // Decodes frames first .. n - 1 in order, so that frame n comes next.
  void DecodeUpTo(int first, int n) {
    std::string why;
    for (int i = first; i < n; ++i)
      if (!Decode(i, &why)) return;
  }

  void DecodeVerified(int n, std::vector<uint8_t>* out) {
    if (DecodeMatches(n, out)) return;
    ++redecodes;
    // From key frames further and further back: a seek FFMS2 misplaced there
    // leaves frame n misplaced too, and the next try starts earlier.
    int tries = 0;
    for (auto key = std::lower_bound(keyFrames.begin(), keyFrames.end(), n);
         key != keyFrames.begin() && tries < EarlierKeyFrames; ++tries) {
      --key;
      DecodeUpTo(*key, n);
      if (DecodeMatches(n, out)) return;
    }
    // From the file's start, as the first reading decoded it.
    OpenVideo();
    DecodeUpTo(0, n);
    if (DecodeMatches(n, out)) return;
    Refuse("its frame " + std::to_string(n) + " does not decode to the pixels it had on the first reading");
  }

  std::shared_ptr<std::vector<uint8_t>> Coded(int n) {
    ++clock;
    for (Kept& k : kept)
      if (k.coded == n) {
        k.used = clock;
        return k.bytes;
      }
    Kept& oldest =
        *std::min_element(kept.begin(), kept.end(), [](const Kept& a, const Kept& b) { return a.used < b.used; });
    // A buffer someone still holds stays theirs. One let go of (by the
    // render's writer thread, say) is filled again only after that
    // holder's last reads of it: the fence pairs with the release of its
    // count.
    if (!oldest.bytes || oldest.bytes.use_count() > 1) oldest.bytes = std::make_shared<std::vector<uint8_t>>();
    std::atomic_thread_fence(std::memory_order_acquire);
    oldest.coded = -1;
    DecodeVerified(n, oldest.bytes.get());
    oldest.coded = n;
    oldest.used = clock;
    return oldest.bytes;
  }

  std::shared_ptr<std::vector<uint8_t>> WovenBuffer() {
    for (const auto& buffer : woven)
      if (buffer.use_count() == 1) {
        std::atomic_thread_fence(std::memory_order_acquire);  // as in Coded()
        return buffer;
      }
    woven.push_back(std::make_shared<std::vector<uint8_t>>(frameBytes));
    return woven.back();
  }

  // The first reading: every frame decoded in order, its hash and flags.
  void ReadEveryFrame(int count, const Ffms2Options& options, SourceProperties* properties) {
    facts.assign(count, CodedFrameFacts());
    std::vector<uint8_t> scratch;
    for (int n = 0; n < count; ++n) {
      std::string why;
      const ffms2::Frame* frame = Decode(n, &why);
      if (!frame) Refuse("its frame " + std::to_string(n) + " cannot be decoded (" + why + ")");
      if (n == 0) TakeGeometry(*frame, properties);
      CodedFrameFacts& f = facts[n];
      f.hash = Pack(*frame, n, &scratch);
      f.topFieldFirst = frame->topFieldFirst != 0;
      f.interlaced = frame->interlacedFrame != 0;
      f.repeatPict = static_cast<uint8_t>(std::clamp(frame->repeatPict, 0, 7));
      if (options.progress && (n % 64 == 63 || n + 1 == count)) options.progress({"reading frames", n + 1, count});
    }
  }
};

namespace {

struct ProgressContext {
  const Ffms2Options* options;
};

int ZEMIVTC_FFMS_CC IndexingProgress(int64_t current, int64_t total, void* context) {
  const Ffms2Options& options = *static_cast<ProgressContext*>(context)->options;
  options.progress({"indexing", current, total});
  return 0;
}

// The order the stream's flags give the clip in `mode`, as a Y4M header would.
// `first` is the first coded frame shown.
void DeriveOrder(const std::vector<CodedFrameFacts>& facts, int first, const FieldMap& map, FieldMode mode,
                 SourceProperties* properties) {
  int interlaced = 0, top = 0;
  for (size_t n = first; n < facts.size(); ++n)
    if (const CodedFrameFacts& f = facts[n]; f.interlaced) ++interlaced, top += f.topFieldFirst ? 1 : 0;
  if (mode == FieldMode::Player && properties->repeatedFields > 0) {
    int topPairs = 0;
    for (const FieldPair& pair : map.frames) topPairs += pair.topFirst ? 1 : 0;
    const int pairs = static_cast<int>(map.frames.size());
    if (topPairs == pairs || topPairs == 0) {
      properties->streamOrder = topPairs == pairs ? stream::FieldOrder::TopFirst : stream::FieldOrder::BottomFirst;
      properties->orderReason =
          std::string("the repeat flags show every frame ") + (topPairs == pairs ? "top" : "bottom") + " field first";
    } else {
      properties->orderReason = "the repeat flags show " + std::to_string(topPairs) + " frames top field first and " +
                                std::to_string(pairs - topPairs) + " bottom field first";
    }
    return;
  }
  if (interlaced == 0) {
    properties->orderReason = "the stream marks every frame progressive";
  } else if (top == interlaced || top == 0) {
    properties->streamOrder = top ? stream::FieldOrder::TopFirst : stream::FieldOrder::BottomFirst;
    properties->orderReason = "the stream marks " + std::to_string(interlaced) + " of " +
                              std::to_string(facts.size() - first) + " frames interlaced, " + (top ? "top" : "bottom") +
                              " field first";
  } else {
    properties->orderReason = "the stream marks " + std::to_string(top) + " frames top field first and " +
                              std::to_string(interlaced - top) + " bottom field first";
  }
}

}  // namespace

Ffms2Source::Ffms2Source(std::unique_ptr<State> s) : state(std::move(s)) {}
Ffms2Source::~Ffms2Source() = default;

std::unique_ptr<Ffms2Source> Ffms2Source::Open(const std::string& path, const Ffms2Options& options) {
  return Open(path, options, true);
}

std::unique_ptr<Ffms2Source> Ffms2Source::Open(const std::string& path, const Ffms2Options& options, bool reuseEntry) {
  const SourceKey key = KeyOfFile(path);
  auto warn = [&](const std::string& line) {
    if (options.warning)
      options.warning(line);
    else
      std::fprintf(stderr, "zemivtc: warning: %s\n", line.c_str());
  };
  auto s = std::make_unique<State>();
  s->api = &LoadFfms2(options.library);
  s->path = path;
  const ffms2::Api& api = *s->api;
  SourceProperties properties;

  // The container and codec come from an indexer, which only probes the
  // file until it indexes.
  ErrorText error;
  ffms2::Indexer* indexer = api.CreateIndexer(path.c_str(), &error);
  if (!indexer) s->Refuse("FFMS2 cannot open it (" + error.Message() + ")");
  properties.container = api.GetFormatNameI(indexer);
  for (int t = 0; t < api.GetNumTracksI(indexer); ++t)
    if (api.GetTrackTypeI(indexer, t) == ffms2::TypeVideo) {
      const char* codec = api.GetCodecNameI(indexer, t);
      properties.codec = codec ? codec : "";
      break;
    }
  if (properties.codec.empty()) {
    api.CancelIndexing(indexer);
    throw stream::CliError(path + ": it has no video track FFMS2 can decode");
  }

  const std::string folder = options.useCache ? CacheFolder(options.cacheFolder) : std::string();
  const std::string entryPath = folder.empty() ? std::string() : CacheEntryPath(folder, key);
  CacheEntry entry;
  if (!entryPath.empty() && reuseEntry) {
    std::string why;
    const CacheRead read = ReadCacheEntry(entryPath, key, &entry, &why);
    if (read == CacheRead::Valid) {
      ErrorText indexError;
      s->index = api.ReadIndexFromBuffer(entry.ffmsIndex.data(), entry.ffmsIndex.size(), &indexError);
      if (!s->index)
        why = "FFMS2 cannot read it (" + indexError.Message() + ")";
      else if (api.IndexBelongsToFile(s->index, path.c_str(), &indexError) != 0)
        why = "FFMS2 finds it made for another file";
    }
    if (read == CacheRead::Damaged || (read == CacheRead::Valid && !why.empty()))
      warn("the index of " + path + " in " + entryPath + " is damaged (" + why + "); indexing it again");
    if (!why.empty() && s->index) {
      api.DestroyIndex(s->index);
      s->index = nullptr;
    }
  }

  if (s->index) {
    api.CancelIndexing(indexer);
  } else {
    entry = CacheEntry();
    ProgressContext context{&options};
    if (options.progress) api.SetProgressCallback(indexer, IndexingProgress, &context);
    ErrorText indexError;
    s->index = api.DoIndexing2(indexer, ffms2::IndexErrorAbort, &indexError);
    if (!s->index) s->Refuse("FFMS2 cannot index it (" + indexError.Message() + ")");
  }
  ErrorText trackError;
  s->track = api.GetFirstIndexedTrackOfType(s->index, ffms2::TypeVideo, &trackError);
  if (s->track < 0) throw stream::CliError(path + ": it has no video track FFMS2 can decode");
  ffms2::Track* track = api.GetTrackFromIndex(s->index, s->track);
  const int coded = api.GetNumFrames(track);
  if (coded <= 0) throw stream::CliError(path + ": its video track has no frames");
  for (int n = 0; n < coded; ++n)
    if (api.GetFrameInfo(track, n)->keyFrame) s->keyFrames.push_back(n);
  s->OpenVideo();

  properties.indexFromCache = !entry.frames.empty();
  if (properties.indexFromCache) {
    s->facts = entry.frames;
    // The first frame gives the geometry and proves the entry's hashes.
    std::string why;
    const ffms2::Frame* first = s->Decode(0, &why);
    if (!first) s->Refuse("its frame 0 cannot be decoded (" + why + ")");
    s->TakeGeometry(*first, &properties);
    std::vector<uint8_t> scratch;
    if (static_cast<int>(s->facts.size()) != coded || s->Pack(*first, 0, &scratch) != s->facts[0].hash) {
      warn("the index of " + path + " in " + entryPath + " does not fit the file; indexing it again");
      s.reset();
      return Open(path, options, false);
    }
  } else {
    s->ReadEveryFrame(coded, options, &properties);
    if (!entryPath.empty()) {
      uint8_t* buffer = nullptr;
      size_t size = 0;
      ErrorText writeError;
      if (api.WriteIndexToBuffer(&buffer, &size, s->index, &writeError) == 0) {
        entry.ffmsIndex.assign(buffer, buffer + size);
        api.FreeIndexBuffer(&buffer);
        entry.frames = s->facts;
        std::string why;
        if (!WriteCacheEntry(entryPath, key, entry, &why)) warn("the index of " + path + " is not kept: " + why);
      }
    }
  }

  // A stream cut into (its first frame no key frame) starts with frames the
  // decoder cannot make; FFMS2 gives the first whole picture in their place,
  // where ffmpeg and players show nothing. They are dropped: every frame of
  // the run of that picture at the start but its last.
  int lead = 0;
  if (!api.GetFrameInfo(track, 0)->keyFrame)
    while (lead + 1 < coded && s->facts[lead + 1].hash == s->facts[0].hash) ++lead;
  const std::vector<CodedFrameFacts> shown(s->facts.begin() + lead, s->facts.end());
  s->map = options.mode == FieldMode::Player ? PlayerFrames(shown) : CodedFrames(shown);
  for (FieldPair& pair : s->map.frames) pair.topFrom += lead, pair.bottomFrom += lead;
  properties.leadingFramesDropped = lead;
  if (s->map.frames.empty()) throw stream::CliError(path + ": its fields make no whole frame");
  properties.codedFrames = coded - lead;
  properties.frameCount = static_cast<int>(s->map.frames.size());
  properties.repeatedFields = s->map.repeatedFields;
  properties.droppedFields = s->map.droppedFields;
  const ffms2::VideoProperties& video = *api.GetVideoProperties(s->video);
  properties.sarNumerator = std::max(0, video.sarNum);
  properties.sarDenominator = std::max(0, video.sarDen);
  properties.fpsNumerator = static_cast<unsigned>(std::max(0, video.fpsNumerator));
  properties.fpsDenominator = static_cast<unsigned>(std::max(0, video.fpsDenominator));
  if (options.mode == FieldMode::Player && video.rffNumerator > 0 && video.rffDenominator > 0) {
    // FFMS2's RFF rate counts fields: a player shows frames at half of it.
    properties.fpsNumerator = static_cast<unsigned>(video.rffNumerator);
    properties.fpsDenominator = 2u * static_cast<unsigned>(video.rffDenominator);
  }
  if (properties.fpsDenominator == 0) properties.fpsNumerator = 0;
  Reduce(&properties.fpsNumerator, &properties.fpsDenominator);
  DeriveOrder(s->facts, lead, s->map, options.mode, &properties);

  std::unique_ptr<Ffms2Source> source(new Ffms2Source(std::move(s)));
  source->properties = properties;
  return source;
}

stream::Y4mHeader Ffms2Source::Header() const {
  stream::Y4mHeader header;
  header.width = properties.width;
  header.height = properties.height;
  header.fpsNumerator = properties.fpsNumerator;
  header.fpsDenominator = properties.fpsDenominator;
  header.interlace = properties.streamOrder == stream::FieldOrder::TopFirst      ? 't'
                     : properties.streamOrder == stream::FieldOrder::BottomFirst ? 'b'
                                                                                 : '?';
  header.hasAspect = properties.sarNumerator > 0 && properties.sarDenominator > 0;
  header.aspectNumerator = header.hasAspect ? properties.sarNumerator : 0;
  header.aspectDenominator = header.hasAspect ? properties.sarDenominator : 0;
  header.chroma = properties.chroma;
  header.colorTag = properties.colorTag;
  if (!properties.colorRange.empty()) header.extraTags.push_back("XCOLORRANGE=" + properties.colorRange);
  return header;
}

SourceFrame Ffms2Source::Frame(int n) {
  State& s = *state;
  if (n < 0 || n >= properties.frameCount)
    throw stream::CliError(s.path + ": frame " + std::to_string(n) + " asked for, and it has " +
                           std::to_string(properties.frameCount));
  const FieldPair& pair = s.map.frames[n];
  SourceFrame frame;
  frame.topFirst = pair.topFirst;
  if (pair.topFrom == pair.bottomFrom) {
    frame.owner = s.Coded(pair.topFrom);
  } else {
    const std::shared_ptr<std::vector<uint8_t>> top = s.Coded(pair.topFrom);
    const std::shared_ptr<std::vector<uint8_t>> bottom = s.Coded(pair.bottomFrom);
    const std::shared_ptr<std::vector<uint8_t>> out = s.WovenBuffer();
    // Rows of every plane alternate between the fields (4:2:0 chroma rows
    // too, each field having its own).
    size_t offset = 0;
    for (int plane = 0; plane < 3; ++plane) {
      const size_t rowBytes = plane == 0 ? s.width : s.chromaWidth;
      const int rows = plane == 0 ? s.height : s.chromaHeight;
      for (int row = 0; row < rows; ++row, offset += rowBytes)
        std::memcpy(out->data() + offset, (row % 2 == 0 ? top : bottom)->data() + offset, rowBytes);
    }
    frame.owner = out;
  }
  redecodes = s.redecodes;
  frame.data = frame.owner->data();
  frame.bytes = frame.owner->size();
  frame.plane[0] = frame.data;
  frame.plane[1] = frame.data + static_cast<size_t>(s.width) * s.height;
  frame.plane[2] = frame.plane[1] + static_cast<size_t>(s.chromaWidth) * s.chromaHeight;
  frame.pitch[0] = s.width;
  frame.pitch[1] = frame.pitch[2] = s.chromaWidth;
  return frame;
}

}  // namespace source
