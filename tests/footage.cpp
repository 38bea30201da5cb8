#include "tests/footage.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <stdexcept>

namespace footage {
namespace {

// A Y4M file of planar 4:2:2 frames with plain frame headers, read by index.
class Y4mFile {
 public:
  explicit Y4mFile(const std::string& path) : in(path, std::ios::binary) {
    std::string header;
    if (!std::getline(in, header)) throw std::runtime_error("footage: cannot read " + path);
    if (std::sscanf(header.c_str(), "YUV4MPEG2 W%d H%d", &width, &height) != 2)
      throw std::runtime_error("footage: bad header in " + path);
    dataStart = static_cast<std::streamoff>(header.size() + 1);
    frameBytes = static_cast<size_t>(width) * height * 2;
    in.seekg(0, std::ios::end);
    frames = static_cast<int>((in.tellg() - dataStart) / static_cast<std::streamoff>(6 + frameBytes));
  }
  std::string Frame(int n) {
    if (n < 0 || n >= frames) throw std::runtime_error("footage: frame out of range");
    std::string data(frameBytes, '\0');
    in.seekg(dataStart + static_cast<std::streamoff>(n) * static_cast<std::streamoff>(6 + frameBytes) + 6);
    in.read(&data[0], static_cast<std::streamsize>(frameBytes));
    return data;
  }
  int width = 0, height = 0, frames = 0;

 private:
  std::ifstream in;
  std::streamoff dataStart = 0;
  size_t frameBytes = 0;
};

class Y4mWriter {
 public:
  Y4mWriter(const std::string& path, int width, int height, const char* rate)
      : out(path, std::ios::binary), frameBytes(static_cast<size_t>(width) * height * 2) {
    out << "YUV4MPEG2 W" << width << " H" << height << " F" << rate << " Ip A1:1 C422\n";
  }
  void Add(const std::string& frame) {
    if (frame.size() != frameBytes) throw std::runtime_error("footage: frame of the wrong size");
    out << "FRAME\n";
    out.write(frame.data(), static_cast<std::streamsize>(frame.size()));
  }

 private:
  std::ofstream out;
  size_t frameBytes;
};

struct FieldRef {
  int piece, frame, parity;
  Kind kind;
  int64_t picture;  // unique per film frame, progressive frame or video field
};

struct Piece {
  std::string path;
  Kind kind;
  // Film: the film frame index of each field (frame * 2 + parity).
  std::vector<int> origin;
  std::vector<uint64_t> filmHashes;  // film: content hash per film frame
  int64_t pictureBase;
};

// Telecines a progressive reel with ffmpeg and traces every field to its
// film frame through a marker reel (frame i: luma i % 256, chroma i / 256)
// telecined the same way.
Piece TelecineReel(const std::string& dir, const std::string& name,
                   const std::vector<std::pair<std::string, int>>& frames, int width, int height,
                   const std::string& pattern, int64_t pictureBase) {
  Piece piece;
  piece.kind = Kind::Film;
  piece.pictureBase = pictureBase;
  {
    Y4mWriter film(dir + "/" + name + "_film.y4m", width, height, "24000:1001");
    Y4mWriter marker(dir + "/" + name + "_marker.y4m", 16, 16, "24000:1001");
    std::map<std::string, std::unique_ptr<Y4mFile>> sources;
    for (size_t i = 0; i < frames.size(); ++i) {
      auto& source = sources[frames[i].first];
      if (!source) source = std::make_unique<Y4mFile>(frames[i].first);
      const std::string frame = source->Frame(frames[i].second);
      piece.filmHashes.push_back(Hash(frame));
      film.Add(frame);
      marker.Add(MarkerFrame(static_cast<int>(i)));
    }
  }
  for (const char* part : {"film", "marker"})
    Run("ffmpeg -v error -y -i " + dir + "/" + name + "_" + part + ".y4m -vf telecine=pattern=" + pattern +
        " -f yuv4mpegpipe " + dir + "/" + name + "_tc" + part + ".y4m");
  piece.path = dir + "/" + name + "_tcfilm.y4m";
  Y4mFile marker(dir + "/" + name + "_tcmarker.y4m");
  for (int f = 0; f < marker.frames; ++f) {
    const std::string m = marker.Frame(f);
    for (int parity = 0; parity < 2; ++parity) piece.origin.push_back(MarkerIndex(m, parity));
  }
  return piece;
}

}  // namespace

void Run(const std::string& command) {
  if (std::system(command.c_str()) != 0) throw std::runtime_error("footage: failed: " + command);
}

std::string Ffmpeg(const std::string& input, const std::string& output) {
  return std::string("ffmpeg -v error -nostdin -y ") + (std::getenv("ZEMIVTC_FOOTAGE_PLAIN") ? "-cpuflags 0 " : "") +
         input + " -sws_flags +bitexact+accurate_rnd+full_chroma_int " + output;
}

std::string Generate(const std::string& dir, const std::string& name, const std::string& source,
                     const std::string& rate, int width, int height, int frames, const std::string& filters) {
  const std::string path = dir + "/" + name + ".y4m";
  Run(Ffmpeg("-f lavfi -i " + source + (source.find('=') == std::string::npos ? "=" : ":") +
                 "size=" + std::to_string(width) + "x" + std::to_string(height) + ":rate=" + rate,
             "-frames:v " + std::to_string(frames) + (filters.empty() ? "" : " -vf " + filters) +
                 " -pix_fmt yuv422p -f yuv4mpegpipe " + path));
  return path;
}

std::string MarkerFrame(int index) {
  return std::string(16 * 16, static_cast<char>(index % 256)) + std::string(2 * 8 * 16, static_cast<char>(index / 256));
}

int MarkerIndex(const std::string& frame, int parity) {
  return static_cast<uint8_t>(frame[parity * 16]) + 256 * static_cast<uint8_t>(frame[256 + parity * 8]);
}

void CopyField(const std::string& from, int parity, int width, int height, std::string* to) {
  size_t offset = 0;
  for (int plane = 0; plane < 3; ++plane) {
    const size_t rowBytes = plane == 0 ? width : width / 2;
    for (int row = parity; row < height; row += 2)
      to->replace(offset + row * rowBytes, rowBytes, from, offset + row * rowBytes, rowBytes);
    offset += rowBytes * height;
  }
}

uint64_t Hash(const std::string& bytes) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char c : bytes) h = (h ^ c) * 1099511628211ull;
  return h;
}

std::vector<std::string> ReadY4mFrames(const std::string& path, int* width, int* height) {
  Y4mFile file(path);
  if (width) *width = file.width;
  if (height) *height = file.height;
  std::vector<std::string> frames;
  for (int f = 0; f < file.frames; ++f) frames.push_back(file.Frame(f));
  return frames;
}

Truth MakeFootage(const std::string& dir, int width, int height) {
  const std::string w = std::to_string(width), h = std::to_string(height);
  const std::string film = "24000/1001";
  const std::string moving = Generate(dir, "moving", "testsrc2", film, width, height, 24);
  const std::string still = Generate(dir, "still", "smptehdbars", film, width, height, 1);
  const std::string dim = Generate(dir, "dim", "testsrc2", film, width, height, 24,
                                   "lutyuv=y='16+(val-16)*0.12':u='128+(val-128)*0.12':v='128+(val-128)*0.12'");
  const std::string flipped = Generate(dir, "flipped", "testsrc2", film, width, height, 40, "hflip");
  const std::string tinted = Generate(dir, "tinted", "testsrc2", film, width, height, 40, "hue=h=90");
  const std::string fast = Generate(dir, "fast", "mandelbrot", "60000/1001", width, height, 60);
  const std::string progressive = Generate(dir, "progressive", "testsrc2", "30000/1001", width, height, 30, "negate");

  // Reel A: moving, a still scene, a low-contrast scene, moving again.
  std::vector<std::pair<std::string, int>> reelA;
  for (int i = 0; i < 16; ++i) reelA.push_back({moving, i});
  for (int i = 0; i < 16; ++i) reelA.push_back({still, 0});
  for (int i = 0; i < 24; ++i) reelA.push_back({dim, i});
  for (int i = 16; i < 24; ++i) reelA.push_back({moving, i});
  std::vector<std::pair<std::string, int>> reelB, reelC;
  for (int i = 0; i < 40; ++i) reelB.push_back({flipped, i});
  for (int i = 0; i < 40; ++i) reelC.push_back({tinted, i});

  std::vector<Piece> pieces;
  pieces.push_back(TelecineReel(dir, "a", reelA, width, height, "23", 0));
  pieces.push_back(TelecineReel(dir, "b", reelB, width, height, "2332", 1000));
  pieces.push_back(TelecineReel(dir, "c", reelC, width, height, "23", 2000));
  // True interlaced video: the top field of 60p frame 2i over the bottom
  // field of frame 2i+1.
  {
    Y4mFile source(fast);
    Y4mWriter video(dir + "/video.y4m", width, height, "30000:1001");
    for (int i = 0; i + 1 < source.frames; i += 2) {
      std::string frame = source.Frame(i);
      CopyField(source.Frame(i + 1), 1, width, height, &frame);
      video.Add(frame);
    }
  }
  pieces.push_back({dir + "/video.y4m", Kind::Video, {}, {}, 3000});
  pieces.push_back({progressive, Kind::Progressive, {}, {}, 4000});
  enum { A, B, C, V, P };

  // The edit: [piece, first field, end field). Each piece starts with the
  // parity after the previous one's last field; A ends on a top field and B
  // starts on a bottom one, and C is cut inside itself the same way.
  const int edit[][3] = {{A, 0, 125}, {B, 7, 100}, {V, 0, 60}, {P, 0, 60}, {C, 0, 51}, {C, 57, 100}};
  std::vector<FieldRef> fields;
  for (int e = 0; e < 6; ++e) {
    const Piece& piece = pieces[edit[e][0]];
    for (int f = edit[e][1]; f < edit[e][2]; ++f) {
      if (f % 2 != static_cast<int>(fields.size() % 2)) throw std::runtime_error("footage: the edit breaks parity");
      FieldRef ref{edit[e][0] * 100 + e, f / 2, f % 2, piece.kind, 0};
      switch (piece.kind) {
        case Kind::Film: ref.picture = piece.pictureBase + piece.origin.at(f); break;
        case Kind::Video: ref.picture = piece.pictureBase + f; break;
        case Kind::Progressive: ref.picture = piece.pictureBase + f / 2; break;
      }
      fields.push_back(ref);
    }
  }
  if (fields.size() % 2) fields.pop_back();

  Truth truth;
  truth.width = width;
  truth.height = height;
  truth.frames = static_cast<int>(fields.size() / 2);
  std::map<int64_t, uint64_t> filmHash;  // picture -> content hash
  for (const Piece& piece : pieces)
    for (size_t i = 0; i < piece.filmHashes.size(); ++i) {
      filmHash[piece.pictureBase + static_cast<int64_t>(i)] = piece.filmHashes[i];
      truth.pictures.insert(piece.filmHashes[i]);
    }
  std::map<int64_t, uint64_t> progressiveHash;  // picture -> content hash
  {
    Y4mFile source(progressive);
    for (int f = 0; f < source.frames; ++f) {
      truth.progressive.insert(Hash(source.Frame(f)));
      truth.pictures.insert(Hash(source.Frame(f)));
      progressiveHash[pieces[P].pictureBase + f] = Hash(source.Frame(f));
    }
  }
  for (const FieldRef& ref : fields) {
    truth.fieldPictures.push_back(ref.picture);
    const auto& hashes = ref.kind == Kind::Film ? filmHash : progressiveHash;
    truth.fieldContents.push_back(ref.kind == Kind::Video ? ref.picture : hashes.at(ref.picture));
  }
  std::set<int64_t> recoverable;
  for (size_t i = 0; i + 1 < fields.size(); ++i) {
    const FieldRef &a = fields[i], &b = fields[i + 1];
    truth.positionKinds += a.piece == b.piece ? static_cast<char>(a.kind) : 'x';
    if (a.kind == Kind::Film && a.piece == b.piece && a.picture == b.picture) recoverable.insert(a.picture);
  }
  for (int64_t picture : recoverable) ++truth.recoverable[filmHash.at(picture)];
  truth.recoverableCount = static_cast<int>(recoverable.size());

  std::map<std::string, std::unique_ptr<Y4mFile>> open;
  auto frameOf = [&](const FieldRef& ref) {
    const int e = ref.piece % 100;
    const std::string& path = pieces[edit[e][0]].path;
    auto& file = open[path];
    if (!file) file = std::make_unique<Y4mFile>(path);
    return file->Frame(ref.frame);
  };
  Y4mWriter out(dir + "/footage.y4m", width, height, "30000:1001");
  for (size_t i = 0; i + 1 < fields.size(); i += 2) {
    std::string frame = frameOf(fields[i]);
    if (fields[i + 1].piece != fields[i].piece || fields[i + 1].frame != fields[i].frame)
      CopyField(frameOf(fields[i + 1]), 1, width, height, &frame);
    out.Add(frame);
  }
  return truth;
}

Score ScoreFrames(const Truth& truth, const std::vector<uint64_t>& hashes) {
  Score s;
  std::map<uint64_t, int> seen;
  for (uint64_t h : hashes) {
    ++s.frames;
    const auto film = truth.recoverable.find(h);
    if (film != truth.recoverable.end()) {
      if (++seen[h] <= film->second)
        ++s.exactFilm;
      else
        ++s.repeatedFilm;
    } else if (truth.progressive.count(h)) {
      ++s.progressive;
    } else {
      ++s.other;
    }
  }
  return s;
}

Score ScoreY4m(const Truth& truth, const std::string& path) {
  std::ifstream file;
  if (path != "-") file.open(path, std::ios::binary);
  std::istream& in = path == "-" ? std::cin : file;
  std::string header, frameHeader;
  int width = 0, height = 0;
  if (!std::getline(in, header) || std::sscanf(header.c_str(), "YUV4MPEG2 W%d H%d", &width, &height) != 2)
    throw std::runtime_error("footage: cannot read a Y4M header from " + path);
  std::string frame(static_cast<size_t>(width) * height * 2, '\0');
  std::vector<uint64_t> hashes;
  while (std::getline(in, frameHeader) && in.read(&frame[0], static_cast<std::streamsize>(frame.size())))
    hashes.push_back(Hash(frame));
  return ScoreFrames(truth, hashes);
}

void SoftTelecine(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  std::string b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  int picture = 0;
  const std::string startCode("\0\0\1", 3);
  for (size_t i = b.find(startCode); i != std::string::npos && i + 8 < b.size(); i = b.find(startCode, i + 3)) {
    const auto code = static_cast<uint8_t>(b[i + 3]), id = static_cast<uint8_t>(static_cast<uint8_t>(b[i + 4]) >> 4);
    if (code == 0xb3) b[i + 7] = static_cast<char>((b[i + 7] & 0xf0) | 4);
    if (code == 0xb5 && id == 1) b[i + 5] = static_cast<char>(b[i + 5] & ~0x08);
    if (code == 0xb5 && id == 8) {
      const int phase = picture++ % 4;
      const bool tff = phase == 0 || phase == 3, rff = phase % 2 == 0;
      b[i + 7] = static_cast<char>((b[i + 7] & 0x7c) | (tff ? 0x80 : 0) | (rff ? 0x02 : 0) | 0x01);
      b[i + 8] = static_cast<char>(b[i + 8] | 0x80);
    }
  }
  std::ofstream(to, std::ios::binary) << b;
}

}  // namespace footage
