#include "tests/footage_classes.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace footage {
namespace {

// splitmix64: the same numbers on every platform, unlike the standard
// library's distributions.
class Rng {
 public:
  explicit Rng(uint64_t seed) : state(seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull) {}
  uint64_t Next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  double Uniform() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }
  double Range(double lo, double hi) { return lo + (hi - lo) * Uniform(); }
  double Gauss() {
    if (haveSpare) {
      haveSpare = false;
      return spare;
    }
    double u = 0, v = 0, s = 0;
    do {
      u = 2 * Uniform() - 1;
      v = 2 * Uniform() - 1;
      s = u * u + v * v;
    } while (s >= 1 || s == 0);
    const double f = std::sqrt(-2 * std::log(s) / s);
    spare = v * f;
    haveSpare = true;
    return u * f;
  }

 private:
  uint64_t state;
  double spare = 0;
  bool haveSpare = false;
};

// A picture in floating point, chroma at full resolution until it is stored.
struct Image {
  int w = 0, h = 0;
  std::vector<float> y, u, v;
  Image() = default;
  Image(int width, int height)
      : w(width), h(height), y(static_cast<size_t>(width) * height), u(y.size()), v(y.size()) {}
};

float Sample(const std::vector<float>& plane, int w, int h, double x, double y) {
  x = std::min(std::max(x, 0.0), w - 1.001);
  y = std::min(std::max(y, 0.0), h - 1.001);
  const int ix = static_cast<int>(x), iy = static_cast<int>(y);
  const double fx = x - ix, fy = y - iy;
  const float* r0 = &plane[static_cast<size_t>(iy) * w + ix];
  const float* r1 = r0 + w;
  return static_cast<float>((r0[0] * (1 - fx) + r0[1] * fx) * (1 - fy) + (r1[0] * (1 - fx) + r1[1] * fx) * fy);
}

double SmoothStep(double t) { return t * t * (3 - 2 * t); }

// Value noise of one cell size added to a plane with amplitude `amp`.
void AddValueNoise(std::vector<float>& plane, int w, int h, double cell, double amp, Rng& rng) {
  const int gw = static_cast<int>(w / cell) + 3, gh = static_cast<int>(h / cell) + 3;
  std::vector<double> lattice(static_cast<size_t>(gw) * gh);
  for (double& l : lattice) l = rng.Range(-1, 1);
  for (int y = 0; y < h; ++y) {
    const double fy = y / cell;
    const int iy = static_cast<int>(fy);
    const double ty = SmoothStep(fy - iy);
    for (int x = 0; x < w; ++x) {
      const double fx = x / cell;
      const int ix = static_cast<int>(fx);
      const double tx = SmoothStep(fx - ix);
      const double* a = &lattice[static_cast<size_t>(iy) * gw + ix];
      const double top = a[0] + (a[1] - a[0]) * tx, bottom = a[gw] + (a[gw + 1] - a[gw]) * tx;
      plane[static_cast<size_t>(y) * w + x] += static_cast<float>(amp * (top + (bottom - top) * ty));
    }
  }
}

void Normalize(std::vector<float>& plane) {
  double sum = 0, sq = 0;
  for (float p : plane) sum += p, sq += static_cast<double>(p) * p;
  const double mean = sum / plane.size(), sd = std::sqrt(std::max(1e-9, sq / plane.size() - mean * mean));
  for (float& p : plane) p = static_cast<float>((p - mean) / sd);
}

// A photograph-like canvas: soft shading at every scale, objects with hard
// edges, some of them finely striped (blinds, fabric: the fine horizontal
// detail that looks like combing to a careless eye), tinted regions.
// `contrast` 1 spans most of the luma range.
Image MakePhoto(uint64_t seed, int w, int h, double contrast) {
  Rng rng(seed);
  Image c(w, h);
  for (double cell : {w / 3.0, 120.0, 60.0, 30.0, 15.0, 8.0, 4.0})
    AddValueNoise(c.y, w, h, cell, std::pow(cell, 0.8), rng);
  for (double cell : {w / 4.0, 80.0, 25.0}) {
    AddValueNoise(c.u, w, h, cell, std::pow(cell, 0.7), rng);
    AddValueNoise(c.v, w, h, cell, std::pow(cell, 0.7), rng);
  }
  Normalize(c.y);
  Normalize(c.u);
  Normalize(c.v);
  const int shapes = 12 + static_cast<int>(w * h / 40000);
  for (int s = 0; s < shapes; ++s) {
    const double cx = rng.Range(0, w), cy = rng.Range(0, h);
    const double rx = rng.Range(6, w / 7.0), ry = rng.Range(6, h / 6.0);
    const bool ellipse = rng.Uniform() < 0.5;
    const double dy = rng.Range(-1.6, 1.6), du = rng.Range(-1, 1), dv = rng.Range(-1, 1);
    const bool striped = rng.Uniform() < 0.2;
    const double period = rng.Range(3, 8), angle = rng.Uniform() < 0.6 ? 0 : rng.Range(0, 3.14159);
    const double ca = std::cos(angle), sa = std::sin(angle);
    for (int y = std::max(0, static_cast<int>(cy - ry - 2)); y < std::min(h, static_cast<int>(cy + ry + 2)); ++y)
      for (int x = std::max(0, static_cast<int>(cx - rx - 2)); x < std::min(w, static_cast<int>(cx + rx + 2)); ++x) {
        const double nx = (x - cx) / rx, ny = (y - cy) / ry;
        // Distance outside the shape's edge, in pixels (negative inside).
        const double d = ellipse ? (std::sqrt(nx * nx + ny * ny) - 1) * std::min(rx, ry)
                                 : std::max(std::fabs(x - cx) - rx, std::fabs(y - cy) - ry);
        const double cover = std::min(1.0, std::max(0.0, 0.5 - d));
        if (cover <= 0) continue;
        double luma = dy;
        if (striped) luma += 0.9 * std::sin(2 * 3.14159265 * ((x * sa + y * ca) / period));
        const size_t i = static_cast<size_t>(y) * w + x;
        c.y[i] = static_cast<float>(c.y[i] * (1 - cover) + (0.4 * c.y[i] + luma) * cover);
        c.u[i] = static_cast<float>(c.u[i] * (1 - cover) + du * cover);
        c.v[i] = static_cast<float>(c.v[i] * (1 - cover) + dv * cover);
      }
  }
  // Optics blur every photograph a little: a [1 2 1] / 4 pass across and
  // down, so that sampling between pixels does not change the sharpness.
  for (std::vector<float>* plane : {&c.y, &c.u, &c.v}) {
    std::vector<float>& p = *plane;
    std::vector<float> t(p.size());
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const size_t i = static_cast<size_t>(y) * w + x;
        t[i] = 0.25f * p[i - (x > 0)] + 0.5f * p[i] + 0.25f * p[i + (x + 1 < w)];
      }
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const size_t i = static_cast<size_t>(y) * w + x;
        p[i] = 0.25f * t[i - (y > 0 ? w : 0)] + 0.5f * t[i] + 0.25f * t[i + (y + 1 < h ? w : 0)];
      }
  }
  const double base = 128 + rng.Range(-20, 20);
  for (size_t i = 0; i < c.y.size(); ++i) {
    c.y[i] = static_cast<float>(base + 42 * contrast * c.y[i]);
    c.u[i] = static_cast<float>(128 + 18 * contrast * c.u[i]);
    c.v[i] = static_cast<float>(128 + 18 * contrast * c.v[i]);
  }
  return c;
}

// A camera over a canvas: the frame's centre moves (canvas pixels per
// second) and its scale (canvas pixels per frame pixel) changes by a factor
// per second.
struct Camera {
  double cx = 0, cy = 0, scale = 1;
  double vx = 0, vy = 0, zoom = 0;  // zoom: log of the scale's change per second
  // Slow sway, as a hand-held camera or a pan that eases.
  double swayAmp = 0, swayRate = 0;
};

// The frame seen at time t, averaged over `shutter` seconds (motion blur).
Image Shoot(const Image& canvas, const Camera& cam, int w, int h, double t, double shutter) {
  const int samples = shutter > 0 ? 4 : 1;
  Image out(w, h);
  for (int s = 0; s < samples; ++s) {
    const double ts = t + (samples > 1 ? shutter * s / (samples - 1) : 0);
    const double scale = cam.scale * std::exp(cam.zoom * ts);
    const double cx = cam.cx + cam.vx * ts + cam.swayAmp * std::sin(cam.swayRate * ts);
    const double cy = cam.cy + cam.vy * ts + 0.6 * cam.swayAmp * std::sin(1.3 * cam.swayRate * ts + 1);
    for (int y = 0; y < h; ++y) {
      const double sy = cy + (y - h / 2.0) * scale;
      for (int x = 0; x < w; ++x) {
        const double sx = cx + (x - w / 2.0) * scale;
        const size_t i = static_cast<size_t>(y) * w + x;
        out.y[i] += Sample(canvas.y, canvas.w, canvas.h, sx, sy) / samples;
        out.u[i] += Sample(canvas.u, canvas.w, canvas.h, sx, sy) / samples;
        out.v[i] += Sample(canvas.v, canvas.w, canvas.h, sx, sy) / samples;
      }
    }
  }
  return out;
}

// Characters drawn in flat colours with dark outlines over a painted
// background; drawing d is the pose at time d * hold / 24.
struct Cel {
  double cx, cy, rx, ry, angle, vx, vy, spin, wobble;
  float luma, u, v;
};

std::vector<Cel> MakeCels(Rng& rng, int w, int h) {
  std::vector<Cel> cels;
  for (int i = 0; i < 7; ++i) {
    Cel c;
    c.cx = rng.Range(0.2, 0.8) * w;
    c.cy = rng.Range(0.25, 0.75) * h;
    c.rx = rng.Range(0.05, 0.16) * w;
    c.ry = rng.Range(0.05, 0.2) * h;
    c.angle = rng.Range(0, 3.14);
    c.vx = rng.Range(-0.25, 0.25) * w;
    c.vy = rng.Range(-0.12, 0.12) * h;
    c.spin = rng.Range(-1.5, 1.5);
    c.wobble = rng.Range(0, 0.3);
    c.luma = static_cast<float>(rng.Range(60, 230));
    c.u = static_cast<float>(rng.Range(90, 170));
    c.v = static_cast<float>(rng.Range(90, 170));
    cels.push_back(c);
  }
  return cels;
}

void DrawCels(Image& img, const std::vector<Cel>& cels, double t) {
  const double outline = std::max(1.5, img.w / 200.0);
  for (const Cel& c : cels) {
    const double cx = c.cx + c.vx * t, cy = c.cy + c.vy * t + 0.05 * img.h * std::sin(4 * t + c.angle);
    const double a = c.angle + c.spin * t, ca = std::cos(a), sa = std::sin(a);
    const double rx = c.rx * (1 + c.wobble * std::sin(6 * t)), ry = c.ry;
    const double reach = std::max(rx, ry) + outline + 2;
    for (int y = std::max(0, static_cast<int>(cy - reach)); y < std::min(img.h, static_cast<int>(cy + reach)); ++y)
      for (int x = std::max(0, static_cast<int>(cx - reach)); x < std::min(img.w, static_cast<int>(cx + reach)); ++x) {
        const double px = (x - cx) * ca + (y - cy) * sa, py = -(x - cx) * sa + (y - cy) * ca;
        const double d = (std::sqrt((px / rx) * (px / rx) + (py / ry) * (py / ry)) - 1) * std::min(rx, ry);
        const double fill = std::min(1.0, std::max(0.0, 0.5 - d));
        const double line = std::min(1.0, std::max(0.0, outline / 2 + 0.5 - std::fabs(d)));
        const size_t i = static_cast<size_t>(y) * img.w + x;
        img.y[i] = static_cast<float>(img.y[i] * (1 - fill) + c.luma * fill);
        img.u[i] = static_cast<float>(img.u[i] * (1 - fill) + c.u * fill);
        img.v[i] = static_cast<float>(img.v[i] * (1 - fill) + c.v * fill);
        img.y[i] = static_cast<float>(img.y[i] * (1 - line) + 24 * line);
        img.u[i] = static_cast<float>(img.u[i] * (1 - line) + 128 * line);
        img.v[i] = static_cast<float>(img.v[i] * (1 - line) + 128 * line);
      }
  }
}

struct Grain {
  double sigma = 0;
  bool clumped = false;
};

// Film grain: independent per pixel, or clumped (white noise under a small
// blur, scaled back to sigma). Chroma gets a weaker grain of its own.
void AddGrain(Image& img, const Grain& g, Rng& rng) {
  if (g.sigma <= 0) return;
  std::vector<float> n(img.y.size());
  for (float& v : n) v = static_cast<float>(rng.Gauss());
  if (g.clumped) {
    // [1 4 6 4 1] / 16 across and down: unit noise becomes 0.273 sd.
    const int w = img.w, h = img.h;
    std::vector<float> t(n.size());
    const float k[5] = {1 / 16.f, 4 / 16.f, 6 / 16.f, 4 / 16.f, 1 / 16.f};
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        float s = 0;
        for (int j = -2; j <= 2; ++j)
          s += k[j + 2] * n[static_cast<size_t>(y) * w + std::min(w - 1, std::max(0, x + j))];
        t[static_cast<size_t>(y) * w + x] = s;
      }
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        float s = 0;
        for (int j = -2; j <= 2; ++j)
          s += k[j + 2] * t[static_cast<size_t>(std::min(h - 1, std::max(0, y + j))) * w + x];
        n[static_cast<size_t>(y) * w + x] = s / 0.2734f;
      }
  }
  for (size_t i = 0; i < n.size(); ++i) {
    img.y[i] += static_cast<float>(g.sigma * n[i]);
    img.u[i] += static_cast<float>(0.35 * g.sigma * rng.Gauss());
    img.v[i] += static_cast<float>(0.35 * g.sigma * rng.Gauss());
  }
}

// Towards black (a = 0) and back.
void Fade(Image& img, double a) {
  for (size_t i = 0; i < img.y.size(); ++i) {
    img.y[i] = static_cast<float>(16 + (img.y[i] - 16) * a);
    img.u[i] = static_cast<float>(128 + (img.u[i] - 128) * a);
    img.v[i] = static_cast<float>(128 + (img.v[i] - 128) * a);
  }
}

Image Mix(const Image& a, const Image& b, double t) {
  Image m(a.w, a.h);
  for (size_t i = 0; i < a.y.size(); ++i) {
    m.y[i] = static_cast<float>(a.y[i] * (1 - t) + b.y[i] * t);
    m.u[i] = static_cast<float>(a.u[i] * (1 - t) + b.u[i] * t);
    m.v[i] = static_cast<float>(a.v[i] * (1 - t) + b.v[i] * t);
  }
  return m;
}

uint8_t Clip8(double v) { return static_cast<uint8_t>(std::min(255.0, std::max(0.0, std::floor(v + 0.5)))); }

// Planar 4:2:2 bytes, chroma averaged over each pixel pair.
std::string Store(const Image& img) {
  const int w = img.w, h = img.h, cw = w / 2;
  std::string out(static_cast<size_t>(w) * h * 2, '\0');
  for (size_t i = 0; i < img.y.size(); ++i) out[i] = static_cast<char>(Clip8(img.y[i]));
  const size_t uBase = static_cast<size_t>(w) * h, vBase = uBase + static_cast<size_t>(cw) * h;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < cw; ++x) {
      const size_t i = static_cast<size_t>(y) * w + 2 * x, o = static_cast<size_t>(y) * cw + x;
      out[uBase + o] = static_cast<char>(Clip8((img.u[i] + img.u[i + 1]) / 2));
      out[vBase + o] = static_cast<char>(Clip8((img.v[i] + img.v[i + 1]) / 2));
    }
  return out;
}

// Hash of the rows of one parity of every plane (Y w wide, U and V w/2).
uint64_t FieldHash(const char* frame, int w, int h, int parity) {
  uint64_t hash = 1469598103934665603ull;
  size_t offset = 0;
  for (int plane = 0; plane < 3; ++plane) {
    const size_t rowBytes = plane == 0 ? w : w / 2;
    for (int row = parity; row < h; row += 2) {
      const unsigned char* p = reinterpret_cast<const unsigned char*>(frame + offset + row * rowBytes);
      for (size_t i = 0; i < rowBytes; ++i) hash = (hash ^ p[i]) * 1099511628211ull;
    }
    offset += rowBytes * h;
  }
  return hash;
}

std::string Header(int w, int h, const char* rate, char interlace) {
  return "YUV4MPEG2 W" + std::to_string(w) + " H" + std::to_string(h) + " F" + rate + " I" + interlace + " A1:1 C422\n";
}

void WriteY4m(const std::string& path, int w, int h, const char* rate, char interlace,
              const std::vector<std::string>& frames) {
  std::ofstream out(path, std::ios::binary);
  out << Header(w, h, rate, interlace);
  for (const std::string& f : frames) {
    out << "FRAME\n";
    out.write(f.data(), static_cast<std::streamsize>(f.size()));
  }
  if (!out) throw std::runtime_error("footage: cannot write " + path);
}

// Frames of a planar 4:2:2 Y4M stream; frame headers may carry parameters.
bool ReadY4mHeader(std::FILE* in, int* w, int* h) {
  char line[512];
  if (!std::fgets(line, sizeof line, in)) return false;
  return std::sscanf(line, "YUV4MPEG2 W%d H%d", w, h) == 2 && *w > 0 && *h > 0;
}

bool ReadY4mFrame(std::FILE* in, std::string* frame) {
  int c;
  std::string header;
  while ((c = std::fgetc(in)) != EOF && c != '\n') header += static_cast<char>(c);
  if (c == EOF) return false;
  if (header.compare(0, 5, "FRAME") != 0) throw std::runtime_error("footage: bad frame header");
  return std::fread(&(*frame)[0], 1, frame->size(), in) == frame->size();
}

// The frames of a Y4M file made here, which must be w x h.
std::vector<std::string> ReadFrames(const std::string& path, int w, int h) {
  int fw = 0, fh = 0;
  std::vector<std::string> frames = ReadY4mFrames(path, &fw, &fh);
  if (fw != w || fh != h) throw std::runtime_error("footage: unexpected header in " + path);
  return frames;
}

// The encodes a clip may go through: interlaced MPEG-2 at 6 Mb/s,
// interlaced x264 at crf 26, or x264 coding the frames as progressive ones,
// as many web copies of telecined video are.
enum class Encode { None, Mpeg2, X264, X264Progressive };

// A clip assembled at field level from reels (telecined film, interlaced
// video, progressive frames), in the clip's field order.
class ClipBuilder {
 public:
  ClipBuilder(std::string dir, std::string name, int w, int h, bool bottomFirst, int phase)
      : dir(std::move(dir)), name(std::move(name)), w(w), h(h), bff(bottomFirst), phase(phase) {}

  // Film frames at 24000/1001 telecined by ffmpeg; every field is traced to
  // its film frame through a marker reel telecined the same way.
  int Film(const std::vector<std::string>& frames, const std::string& pattern) {
    const std::string base = dir + "/" + name + "_r" + std::to_string(reels.size());
    std::vector<std::string> markers;
    for (size_t i = 0; i < frames.size(); ++i) markers.push_back(MarkerFrame(static_cast<int>(i)));
    WriteY4m(base + "_film.y4m", w, h, "24000:1001", 'p', frames);
    WriteY4m(base + "_marker.y4m", 16, 16, "24000:1001", 'p', markers);
    for (const char* part : {"film", "marker"})
      Run("ffmpeg -v error -y -i " + base + "_" + part + ".y4m -vf telecine=first_field=" + (bff ? "b" : "t") +
          ":pattern=" + pattern + " -f yuv4mpegpipe " + base + "_tc" + part + ".y4m");
    Reel reel;
    reel.kind = Kind::Film;
    reel.frames = ReadFrames(base + "_tcfilm.y4m", w, h);
    const std::vector<std::string> traced = ReadFrames(base + "_tcmarker.y4m", 16, 16);
    for (const std::string& m : traced)
      for (int order = 0; order < 2; ++order) {
        const int parity = FirstParity() ^ order;
        const int index = MarkerIndex(m, parity);
        if (!reel.picture.empty() && index < reel.picture.back() - Base())
          throw std::runtime_error("footage: telecined fields go back in time");
        reel.picture.push_back(Base() + index);
        reel.content.push_back(Hash(frames.at(index)));
      }
    Run("rm -f " + base + "_film.y4m " + base + "_marker.y4m " + base + "_tcfilm.y4m " + base + "_tcmarker.y4m");
    reels.push_back(std::move(reel));
    return static_cast<int>(reels.size()) - 1;
  }

  // Interlaced video: moment j of a 60000/1001 sequence is field j.
  int Video(const std::vector<std::string>& moments) {
    Reel reel;
    reel.kind = Kind::Video;
    for (size_t j = 0; j + 1 < moments.size(); j += 2) {
      std::string frame = moments[j];
      CopyField(moments[j + 1], FirstParity() ^ 1, w, h, &frame);
      reel.frames.push_back(frame);
      for (int i = 0; i < 2; ++i) {
        reel.picture.push_back(Base() + static_cast<int64_t>(j) + i);
        reel.content.push_back(static_cast<uint64_t>(reel.picture.back()));
      }
    }
    reels.push_back(std::move(reel));
    return static_cast<int>(reels.size()) - 1;
  }

  // Progressive frames at 30000/1001: both fields of frame k are picture k.
  int Progressive(const std::vector<std::string>& frames) {
    Reel reel;
    reel.kind = Kind::Progressive;
    reel.frames = frames;
    for (size_t k = 0; k < frames.size(); ++k)
      for (int i = 0; i < 2; ++i) {
        reel.picture.push_back(Base() + static_cast<int64_t>(k));
        reel.content.push_back(static_cast<uint64_t>(reel.picture.back()));
      }
    reels.push_back(std::move(reel));
    return static_cast<int>(reels.size()) - 1;
  }

  int Fields(int reel) const { return static_cast<int>(reels[reel].picture.size()); }
  const std::string& Dir() const { return dir; }

  // Fields [begin, end) of a reel, in time order, counted after the
  // variant's phase (whole frames dropped at the start of every film reel).
  // The join keeps parity: the first field added has the parity of the
  // clip's next field.
  void Add(int reel, int begin, int end) {
    const int shift = reels[reel].kind == Kind::Film ? 2 * phase : 0;
    begin += shift;
    end += shift;
    // A reel cut short by the shift still ends on the field parity asked.
    if (end > Fields(reel)) end -= 2 * ((end - Fields(reel) + 1) / 2);
    if (begin % 2 != static_cast<int>(fields.size() % 2)) throw std::runtime_error("footage: a join breaks parity");
    for (int f = begin; f < end; ++f) fields.push_back({reel, f});
  }

  ClassTruth Finish(Encode encode, char headerOrder, bool x264Asm) {
    if (fields.size() % 2) fields.pop_back();
    const int frames = static_cast<int>(fields.size() / 2);
    std::vector<std::string> clip;
    for (int k = 0; k < frames; ++k) {
      const Ref &first = fields[2 * k], &second = fields[2 * k + 1];
      std::string frame = reels[first.reel].frames[first.field / 2];
      if (second.reel != first.reel || second.field / 2 != first.field / 2)
        CopyField(reels[second.reel].frames[second.field / 2], FirstParity() ^ 1, w, h, &frame);
      clip.push_back(std::move(frame));
    }
    const std::string path = dir + "/" + name + ".y4m";
    const char trueOrder = bff ? 'b' : 't';
    if (encode != Encode::None) {
      const std::string raw = dir + "/" + name + "_raw.y4m",
                        coded = dir + "/" + name + (encode == Encode::Mpeg2 ? ".m2v" : ".mkv");
      WriteY4m(raw, w, h, "30000:1001", trueOrder, clip);
      clip.clear();
      std::string codec;
      if (encode == Encode::Mpeg2)
        codec = std::string("-c:v mpeg2video -threads 1 -dct int -idct simple -flags +ilme+ildct+bitexact -b:v 6M ") +
                "-g 15 -bf 2 -top " + (bff ? "0" : "1");
      else if (encode == Encode::X264)
        codec = std::string("-c:v libx264 -threads 1 -preset fast -crf 26 -x264-params asm=") +
                (x264Asm ? "auto" : "0") + ":interlaced=1:" + (bff ? "bff=1" : "tff=1");
      else
        codec =
            std::string("-c:v libx264 -threads 1 -preset fast -crf 26 -x264-params asm=") + (x264Asm ? "auto" : "0");
      // The same clip on every run and x86-64 machine: one thread (x264's share out its decisions as they are
      // scheduled, MPEG-2's slices follow their count), x264 without assembly (its SSE2 reciprocals differ between
      // processor makers), MPEG-2's integer DCT, simple IDCT and exact motion costs (+bitexact).
      Run(Ffmpeg("-i " + raw, "-vf scale=interl=1,format=yuv420p " + codec + " " + coded));
      Run(Ffmpeg("-idct simple -i " + coded,
                 "-vf scale=interl=1,format=yuv422p -fps_mode passthrough -f yuv4mpegpipe " + dir + "/" + name +
                     "_decoded.y4m"));
      clip = ReadFrames(dir + "/" + name + "_decoded.y4m", w, h);
      Run("rm -f " + raw + " " + coded + " " + dir + "/" + name + "_decoded.y4m");
      if (static_cast<int>(clip.size()) != frames)
        throw std::runtime_error("footage: the encode changed the frame count");
    }
    WriteY4m(path, w, h, "30000:1001", headerOrder ? headerOrder : trueOrder, clip);

    ClassTruth truth;
    truth.name = name;
    truth.width = w;
    truth.height = h;
    truth.frames = frames;
    truth.bottomFirst = bff;
    for (int i = 0; i < 2 * frames; ++i) {
      const Ref& r = fields[i];
      FieldTruth f;
      f.kind = reels[r.reel].kind;
      f.picture = reels[r.reel].picture[r.field];
      f.content = reels[r.reel].content[r.field];
      f.hash = FieldHash(clip[i / 2].data(), w, h, FirstParity() ^ (i % 2));
      truth.fields.push_back(f);
    }
    for (size_t i = 0; i + 1 < truth.fields.size(); ++i)
      if (truth.fields[i].kind == Kind::Film && truth.fields[i].picture == truth.fields[i + 1].picture)
        truth.recoverable.insert(truth.fields[i].picture);
    return truth;
  }

 private:
  struct Reel {
    Kind kind;
    std::vector<std::string> frames;
    std::vector<int64_t> picture;  // per field, time order
    std::vector<uint64_t> content;
  };
  struct Ref {
    int reel, field;
  };
  int FirstParity() const { return bff ? 1 : 0; }
  int64_t Base() const { return static_cast<int64_t>(reels.size()) * 1000000; }

  std::string dir, name;
  int w, h;
  bool bff;
  int phase;
  std::vector<Reel> reels;
  std::vector<Ref> fields;
};

// A shot of a photograph: `count` frames at `rate` frames per second from
// a camera over a canvas twice the frame's size, with motion blur over half
// a frame time, each frame with its own grain, faded by `fade(i)` (1: none).
struct PhotoShot {
  uint64_t seed = 1;
  double contrast = 1;
  double vx = 0, vy = 0, zoom = 0, sway = 0;  // in frame widths per second
  double shutter = 0.5;                       // of a frame time
  Grain grain;
};

std::vector<Image> ShootPhoto(const PhotoShot& s, int w, int h, int count, double rate) {
  Rng rng(s.seed);
  const Image canvas = MakePhoto(rng.Next(), 2 * w + 64, 2 * h + 64, s.contrast);
  Camera cam;
  cam.cx = canvas.w / 2.0 - s.vx * w * count / rate / 2;
  cam.cy = canvas.h / 2.0 - s.vy * w * count / rate / 2;
  cam.scale = 1;
  cam.vx = s.vx * w;
  cam.vy = s.vy * w;
  cam.zoom = s.zoom;
  cam.swayAmp = s.sway * w;
  cam.swayRate = 2.1;
  std::vector<Image> frames;
  for (int i = 0; i < count; ++i) frames.push_back(Shoot(canvas, cam, w, h, i / rate, s.shutter / rate));
  return frames;
}

std::vector<std::string> Finish(std::vector<Image> frames, const Grain& grain, uint64_t seed,
                                const std::function<double(int)>& fade = nullptr) {
  Rng rng(seed ^ 0x5EED);
  std::vector<std::string> out;
  for (size_t i = 0; i < frames.size(); ++i) {
    const double a = fade ? fade(static_cast<int>(i)) : 1.0;
    if (a < 1) Fade(frames[i], a);
    Grain g = grain;
    g.sigma *= 0.4 + 0.6 * a;
    AddGrain(frames[i], g, rng);
    out.push_back(Store(frames[i]));
  }
  return out;
}

// Drawings over a panning painted background; a new drawing every `hold`
// film frames (1: on ones).
std::vector<Image> Animate(uint64_t seed, int w, int h, int count, int hold, double panPerSecond) {
  Rng rng(seed);
  Image canvas = MakePhoto(rng.Next(), 2 * w + 64, 2 * h + 64, 0.35);
  const std::vector<Cel> cels = MakeCels(rng, w, h);
  Camera cam;
  cam.cx = canvas.w / 2.0 - panPerSecond * w * count / 24 / 2;
  cam.cy = canvas.h / 2.0;
  cam.vx = panPerSecond * w;
  std::vector<Image> frames;
  for (int i = 0; i < count; ++i) {
    Image f = Shoot(canvas, cam, w, h, i / 24.0, 0);
    DrawCels(f, cels, (i / hold) * hold / 24.0);
    frames.push_back(std::move(f));
  }
  return frames;
}

// Film frames from one of ffmpeg's own sources, with ffmpeg's noise filter
// as grain (`noise` strength; 0: none).
std::vector<std::string> FfmpegFilm(const std::string& dir, const std::string& source, int w, int h, int count,
                                    int noise, const std::string& extra = "") {
  std::string filters = extra;
  if (noise > 0) filters += std::string(filters.empty() ? "" : ",") + "noise=alls=" + std::to_string(noise) + ":allf=t";
  const std::string path = Generate(dir, "ffsource", source, "24000/1001", w, h, count, filters);
  std::vector<std::string> frames = ReadFrames(path, w, h);
  Run("rm -f " + path);
  return frames;
}

struct ClassDef {
  const char* name;
  int width, height;
  bool bottomFirst;
  std::function<void(ClipBuilder&, Rng&, int w, int h, Encode*)> build;
};

PhotoShot Pan(Rng& rng, double speed, const Grain& g) {
  PhotoShot s;
  s.seed = rng.Next();
  const double angle = rng.Range(0, 6.283);
  s.vx = speed * std::cos(angle);
  s.vy = speed * std::sin(angle) * 0.5;
  s.zoom = rng.Range(-0.15, 0.15);
  s.sway = rng.Range(0, 0.01);
  s.grain = g;
  return s;
}

std::vector<std::string> FilmShot(const PhotoShot& s, int w, int h, int count) {
  return Finish(ShootPhoto(s, w, h, count, 24000.0 / 1001), s.grain, s.seed);
}

const std::vector<ClassDef>& Classes() {
  static const std::vector<ClassDef> classes = {
      // Grain on every pixel on its own, luma sd 6: photographs panned and
      // zoomed, 3:2 then 2:3:3:2 from a cut at an odd field, then 3:2.
      {"grain6", 352, 240, false,
       [](ClipBuilder& b, Rng& rng, int w, int h, Encode*) {
         const Grain g{6, false};
         const int a = b.Film(FilmShot(Pan(rng, 0.25, g), w, h, 48), "23");
         const int c = b.Film(FilmShot(Pan(rng, 0.12, g), w, h, 40), "2332");
         const int d = b.Film(FilmShot(Pan(rng, 0.4, g), w, h, 36), "23");
         b.Add(a, 0, 95);
         b.Add(c, 5, 90);
         b.Add(d, 0, 80);
       }},
      // Clumped grain (sd 3): photographs and drawings, 3:2, a cut at an
      // odd field.
      {"clumped", 352, 240, false,
       [](ClipBuilder& b, Rng& rng, int w, int h, Encode*) {
         const Grain g{3, true};
         const int a = b.Film(FilmShot(Pan(rng, 0.2, g), w, h, 48), "23");
         const int c = b.Film(Finish(Animate(rng.Next(), w, h, 40, 1, 0.1), g, rng.Next()), "23");
         const int d = b.Film(FilmShot(Pan(rng, 0.05, g), w, h, 40), "23");
         b.Add(a, 0, 101);
         b.Add(c, 3, 90);
         b.Add(d, 0, 90);
       }},
      // Interlaced MPEG-2, 4:2:0 at 6 Mb/s, decoded back to 4:2:2: DVD
      // size, grain sd 4 on every pixel.
      {"mpeg2", 720, 480, false,
       [](ClipBuilder& b, Rng& rng, int w, int h, Encode* e) {
         const Grain g{4, false};
         const int a = b.Film(FilmShot(Pan(rng, 0.15, g), w, h, 40), "23");
         const int c = b.Film(FilmShot(Pan(rng, 0.3, g), w, h, 36), "23");
         b.Add(a, 0, 99);
         b.Add(c, 1, 90);
         *e = Encode::Mpeg2;
       }},
      // x264 at crf 26, 4:2:0, interlaced, decoded back to 4:2:2; grain sd 5.
      {"x264", 720, 480, false,
       [](ClipBuilder& b, Rng& rng, int w, int h, Encode* e) {
         const Grain g{5, false};
         const int a = b.Film(FilmShot(Pan(rng, 0.2, g), w, h, 40), "23");
         const int c = b.Film(FilmShot(Pan(rng, 0.08, g), w, h, 36), "2332");
         b.Add(a, 0, 99);
         b.Add(c, 3, 90);
         *e = Encode::X264;
       }},
      // A fade in from black, a dissolve between two shots, a fade out to
      // black, with grain (sd 4) throughout.
      {"fades", 352, 240, false,
       [](ClipBuilder& b, Rng& rng, int w, int h, Encode*) {
         const Grain g{4, false};
         PhotoShot s1 = Pan(rng, 0.15, g), s2 = Pan(rng, 0.2, g);
         std::vector<Image> one = ShootPhoto(s1, w, h, 60, 24000.0 / 1001);
         std::vector<Image> two = ShootPhoto(s2, w, h, 60, 24000.0 / 1001);
         std::vector<Image> film;
         for (int i = 0; i < 36; ++i) film.push_back(one[i]);
         for (int i = 0; i < 16; ++i) film.push_back(Mix(one[36 + i], two[i], (i + 1) / 17.0));
         for (int i = 16; i < 60; ++i) film.push_back(two[i]);
         const int total = static_cast<int>(film.size());
         const int r = b.Film(Finish(film, g, s1.seed,
                                     [total](int i) {
                                       if (i < 18) return i / 18.0;
                                       if (i >= total - 20) return (total - 1 - i) / 20.0;
                                       return 1.0;
                                     }),
                              "23");
         b.Add(r, 0, b.Fields(r));
       }},
      // A near-still, low-contrast grainy shot (a slow drift, grain sd 5),
      // then a moving one.
      {"nearstill", 352, 240, false,
       [](ClipBuilder& b, Rng& rng, int w, int h, Encode*) {
         const Grain g{5, false};
         PhotoShot s = Pan(rng, 0.004, g);
         s.contrast = 0.18;
         s.zoom = 0.01;
         s.sway = 0;
         const int a = b.Film(FilmShot(s, w, h, 72), "23");
         const int c = b.Film(FilmShot(Pan(rng, 0.2, g), w, h, 30), "23");
         b.Add(a, 0, 180);
         b.Add(c, 0, 75);
       }},
      // Drawings held on twos over a still background, then on threes over
      // a pan, then on twos again, clean as animation usually is.
      {"drawings", 352, 240, false,
       [](ClipBuilder& b, Rng& rng, int w, int h, Encode*) {
         const Grain none;
         const int a = b.Film(Finish(Animate(rng.Next(), w, h, 48, 2, 0), none, 1), "23");
         const int c = b.Film(Finish(Animate(rng.Next(), w, h, 48, 3, 0.08), none, 2), "23");
         const int d = b.Film(Finish(Animate(rng.Next(), w, h, 30, 2, 0.05), none, 3), "23");
         b.Add(a, 0, 111);
         b.Add(c, 1, 111);
         b.Add(d, 1, 70);
       }},
      // Bottom field first 3:2 film with a cut that breaks the cadence;
      // clumped grain.
      {"bff", 352, 240, true,
       [](ClipBuilder& b, Rng& rng, int w, int h, Encode*) {
         const Grain g{3, true};
         const int a = b.Film(FilmShot(Pan(rng, 0.25, g), w, h, 48), "23");
         const int c = b.Film(FilmShot(Pan(rng, 0.18, g), w, h, 48), "23");
         b.Add(a, 0, 107);
         b.Add(c, 3, 110);
       }},
      // Film, then 60i video, then 30p, then film again; grain sd 5.
      {"mixed", 352, 240, false,
       [](ClipBuilder& b, Rng& rng, int w, int h, Encode*) {
         const Grain g{5, false};
         const int a = b.Film(FilmShot(Pan(rng, 0.2, g), w, h, 40), "23");
         PhotoShot vs = Pan(rng, 0.25, g);
         vs.shutter = 0.5;
         const int v = b.Video(Finish(ShootPhoto(vs, w, h, 80, 60000.0 / 1001), g, vs.seed));
         PhotoShot ps = Pan(rng, 0.2, g);
         const int p = b.Progressive(Finish(ShootPhoto(ps, w, h, 30, 30000.0 / 1001), g, ps.seed));
         const int c = b.Film(FilmShot(Pan(rng, 0.15, g), w, h, 40), "23");
         b.Add(a, 0, 90);
         b.Add(v, 0, 70);
         b.Add(p, 0, 56);
         b.Add(c, 0, 90);
       }},
      // Not among the tests' classes: ffmpeg's own sources with ffmpeg's
      // noise as grain, MPEG-2 at 6 Mb/s, for checks on pictures and grain
      // made elsewhere.
      {"sources", 720, 480, false,
       [](ClipBuilder& b, Rng& rng, int w, int h, Encode* e) {
         const std::string dir = b.Dir();
         const int noise = 8 + static_cast<int>(rng.Next() % 8);
         const int a = b.Film(FfmpegFilm(dir, "testsrc2", w, h, 40, noise), "23");
         const int c = b.Film(FfmpegFilm(dir, "mandelbrot", w, h, 40, noise), "23");
         const std::string life = "life=seed=" + std::to_string(rng.Next() % 100000);
         const int d = b.Film(FfmpegFilm(dir, life, w, h, 30, noise, "scale=iw:ih"), "2332");
         b.Add(a, 0, 95);
         b.Add(c, 3, 90);
         b.Add(d, 0, 70);
         *e = Encode::Mpeg2;
       }},
      // Cuts at odd fields, between 3:2 and 2:3:3:2 reels, light grain.
      {"cuts", 352, 240, false,
       [](ClipBuilder& b, Rng& rng, int w, int h, Encode*) {
         const Grain g{2, true};
         const int a = b.Film(FilmShot(Pan(rng, 0.22, g), w, h, 30), "23");
         const int c = b.Film(FilmShot(Pan(rng, 0.3, g), w, h, 30), "2332");
         const int d = b.Film(FilmShot(Pan(rng, 0.15, g), w, h, 30), "23");
         const int e = b.Film(FilmShot(Pan(rng, 0.25, g), w, h, 30), "23");
         b.Add(a, 0, 45);
         b.Add(c, 7, 51);
         b.Add(d, 3, 41);
         b.Add(e, 1, 71);
         b.Add(a, 47, 70);
       }},
  };
  return classes;
}

}  // namespace

const std::vector<std::string>& ClassNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> n;
    for (const ClassDef& c : Classes())
      if (std::string(c.name) != "sources") n.push_back(c.name);
    return n;
  }();
  return names;
}

ClassTruth MakeClass(const std::string& dir, const std::string& name, const Variant& variant) {
  for (size_t i = 0; i < Classes().size(); ++i) {
    const ClassDef& def = Classes()[i];
    if (name != def.name) continue;
    const int w = variant.width ? variant.width : def.width, h = variant.height ? variant.height : def.height;
    if (w % 2 || w < 16 || h < 16) throw std::runtime_error("footage: bad size");
    const bool bff = variant.order >= 0 ? variant.order == 1 : def.bottomFirst;
    ClipBuilder builder(dir, name, w, h, bff, std::max(0, std::min(4, variant.phase)));
    Rng rng(variant.seed * 7919 + i * 104729);
    Encode encode = Encode::None;
    def.build(builder, rng, w, h, &encode);
    if (variant.encode == "none") encode = Encode::None;
    if (variant.encode == "mpeg2") encode = Encode::Mpeg2;
    if (variant.encode == "x264") encode = Encode::X264;
    if (variant.encode == "x264p") encode = Encode::X264Progressive;
    return builder.Finish(encode, variant.headerOrder, variant.x264Asm);
  }
  throw std::runtime_error("footage: no class " + name);
}

void SaveTruth(const ClassTruth& t, const std::string& path) {
  std::ofstream out(path);
  out << t.name << " " << t.width << " " << t.height << " " << t.frames << " " << (t.bottomFirst ? 1 : 0) << "\n";
  for (const FieldTruth& f : t.fields)
    out << static_cast<char>(f.kind) << " " << f.picture << " " << f.hash << " " << f.content << "\n";
  if (!out) throw std::runtime_error("footage: cannot write " + path);
}

ClassTruth LoadTruth(const std::string& path) {
  std::ifstream in(path);
  ClassTruth t;
  int bff = 0;
  if (!(in >> t.name >> t.width >> t.height >> t.frames >> bff)) throw std::runtime_error("cannot read " + path);
  t.bottomFirst = bff != 0;
  char kind;
  FieldTruth f;
  while (in >> kind >> f.picture >> f.hash >> f.content) {
    f.kind = static_cast<Kind>(kind);
    t.fields.push_back(f);
  }
  for (size_t i = 0; i + 1 < t.fields.size(); ++i)
    if (t.fields[i].kind == Kind::Film && t.fields[i].picture == t.fields[i + 1].picture)
      t.recoverable.insert(t.fields[i].picture);
  return t;
}

std::string ClassScore::Line() const {
  std::ostringstream s;
  s << "outputs " << outputs << " exact " << exact << " duplicates " << duplicates << " combed " << combed
    << " rebuilt " << rebuilt << " progressive " << progressive << " recoverable " << recoverable;
  if (combing >= 0) s << " combing " << combing;
  return s.str();
}

namespace {

// One output frame: its top and bottom fields' hashes when it is made of
// two whole fields, else the picture it was rebuilt from (-1: unknown);
// its luma when it is to be judged for combing.
struct Output {
  bool whole = false;
  uint64_t top = 0, bottom = 0;
  int64_t rebuiltFrom = -1;
  std::string luma;
};

// A comb shows where rows alternate against their neighbours: a row's
// difference from the mean of the rows above and below, squared, over a
// block of 16 x 16 pixels. Two moments woven leave the rows of their moving
// edges tens of levels apart; a block whose mean square stands VisibleComb
// (rows alternating 3 levels either way throughout: each 6 from its
// neighbours' mean) over the same block of the picture's own frame combs
// visibly. The picture's frame takes out what the picture has of such
// detail itself: stripes a row high, and an encode's errors between its
// fields.
constexpr int CombBlock = 16;
constexpr double VisibleComb = 6 * 6;

double BlockComb(const std::string& luma, int w, int h, int top, int left) {
  double sum = 0;
  int n = 0;
  for (int y = std::max(1, top); y < std::min(h - 1, top + CombBlock); ++y)
    for (int x = left; x < std::min(w, left + CombBlock); ++x, ++n) {
      const auto at = [&](int row) { return static_cast<unsigned char>(luma[static_cast<size_t>(row) * w + x]); };
      const double d = at(y) - (at(y - 1) + at(y + 1)) / 2.0;
      sum += d * d;
    }
  return n ? sum / n : 0;
}

bool CombsVisibly(const std::string& luma, const std::string& reference, int w, int h) {
  for (int top = 0; top < h; top += CombBlock)
    for (int left = 0; left < w; left += CombBlock)
      if (BlockComb(luma, w, h, top, left) - BlockComb(reference, w, h, top, left) > VisibleComb) return true;
  return false;
}

// Field position p of the clip's frames, its two fields woven (the luma
// comes first).
std::string PositionLuma(const ClassTruth& truth, const std::vector<std::string>& clip, size_t p) {
  const bool firstOnTop = (p % 2 == 0) != truth.bottomFirst;
  std::string frame = clip[firstOnTop ? p / 2 : (p + 1) / 2];
  CopyField(clip[firstOnTop ? (p + 1) / 2 : p / 2], 1, truth.width, truth.height, &frame);
  return frame;
}

// The clip's frames, none where there is no clip ("").
std::vector<std::string> ClipFrames(const ClassTruth& truth, const std::string& clip) {
  return clip.empty() ? std::vector<std::string>() : ReadFrames(clip, truth.width, truth.height);
}

// The luma of every picture whose two fields lie next to each other in the
// clip (its frames), woven as the clip has them.
std::map<int64_t, std::string> PictureFrames(const ClassTruth& truth, const std::vector<std::string>& clip) {
  std::map<int64_t, std::string> frames;
  for (size_t p = 0; p + 1 < truth.fields.size() && (p + 1) / 2 < clip.size(); ++p)
    if (truth.fields[p].picture == truth.fields[p + 1].picture && !frames.count(truth.fields[p].picture))
      frames[truth.fields[p].picture] = PositionLuma(truth, clip, p);
  return frames;
}

// `pictures`: PictureFrames of the clip, to judge combed outputs by; null
// leaves them unjudged (ClassScore::combing -1).
ClassScore ScoreOutputs(const ClassTruth& truth, const std::vector<Output>& outputs,
                        const std::map<int64_t, std::string>* pictures = nullptr) {
  // Pictures each field's bytes stand for, by parity (held drawings and
  // still scenes give the same bytes to several film frames).
  std::map<uint64_t, std::vector<int64_t>> byHash[2];
  std::map<int64_t, Kind> kinds;
  std::map<int64_t, uint64_t> contents;
  for (size_t i = 0; i < truth.fields.size(); ++i) {
    const int parity = static_cast<int>(i % 2) ^ (truth.bottomFirst ? 1 : 0);
    std::vector<int64_t>& v = byHash[parity][truth.fields[i].hash];
    if (std::find(v.begin(), v.end(), truth.fields[i].picture) == v.end()) v.push_back(truth.fields[i].picture);
    kinds[truth.fields[i].picture] = truth.fields[i].kind;
    contents[truth.fields[i].picture] = truth.fields[i].content;
  }
  ClassScore s;
  s.recoverable = static_cast<int>(truth.recoverable.size());
  if (pictures) s.combing = 0;
  // Whether a combed output shows a comb that neither of its fields'
  // pictures' frames has (one without such a frame counts as combing).
  auto combing = [&](const Output& o, const std::vector<int64_t>& tops, const std::vector<int64_t>& bottoms) {
    for (const auto* candidates : {&tops, &bottoms})
      for (int64_t p : *candidates) {
        const auto frame = pictures->find(p);
        if (frame != pictures->end() && !CombsVisibly(o.luma, frame->second, truth.width, truth.height)) return false;
      }
    return true;
  };
  std::map<int64_t, int> given;  // film picture -> outputs of it
  std::set<int64_t> exact;
  for (const Output& o : outputs) {
    ++s.outputs;
    if (!o.whole) {
      ++s.rebuilt;
      if (o.rebuiltFrom >= 0 && kinds[o.rebuiltFrom] == Kind::Film) ++given[o.rebuiltFrom];
      continue;
    }
    const auto t = byHash[0].find(o.top), b = byHash[1].find(o.bottom);
    if (t == byHash[0].end() || b == byHash[1].end()) {
      ++s.rebuilt;
      continue;
    }
    // Fields of one film frame, or of two film frames that showed the same
    // picture before any encode (a held drawing): one picture.
    std::vector<int64_t> both;
    for (int64_t p : t->second)
      for (int64_t q : b->second)
        if (contents[p] == contents[q]) {
          if (std::find(both.begin(), both.end(), p) == both.end()) both.push_back(p);
          if (std::find(both.begin(), both.end(), q) == both.end()) both.push_back(q);
        }
    if (both.empty()) {
      ++s.combed;
      if (pictures && combing(o, t->second, b->second)) ++s.combing;
      continue;
    }
    int64_t pick = both.front();
    for (int64_t p : both)
      if (!exact.count(p) && truth.recoverable.count(p)) {
        pick = p;
        break;
      }
    switch (kinds[pick]) {
      case Kind::Film:
        if (truth.recoverable.count(pick)) exact.insert(pick);
        ++given[pick];
        break;
      case Kind::Progressive: ++s.progressive; break;
      case Kind::Video: break;
    }
  }
  s.exact = static_cast<int>(exact.size());
  for (const auto& g : given) s.duplicates += std::max(0, g.second - 1);
  return s;
}

}  // namespace

ClassScore ScorePlan(const ClassTruth& truth, const std::string& plan, const std::string& clip) {
  std::vector<Output> outputs;
  const std::vector<std::string> frames = ClipFrames(truth, clip);
  const std::map<int64_t, std::string> pictures = PictureFrames(truth, frames);
  const int fields = static_cast<int>(truth.fields.size());
  for (int p = 0; p < static_cast<int>(plan.size()) && p + 1 < fields; ++p) {
    const char code = plan[p];
    if (code < '1' || code > '6') continue;
    Output o;
    // The position's fields in time order, and which is on top.
    const FieldTruth &first = truth.fields[p], &second = truth.fields[p + 1];
    const bool firstOnTop = (p % 2 == 0) != truth.bottomFirst;
    if (code == '1') {
      o.whole = true;
      o.top = firstOnTop ? first.hash : second.hash;
      o.bottom = firstOnTop ? second.hash : first.hash;
      if (!frames.empty()) o.luma = PositionLuma(truth, frames, p);
    } else if (code == '3') {
      o.rebuiltFrom = first.picture == second.picture ? first.picture : -1;
    } else {
      // '2' and '6' rebuild field p; '5' the weave's first field in the
      // source's order, '4' its second.
      int field = p;
      if (code == '5') field = p % 2 == 0 ? p : p + 1;
      if (code == '4') field = p % 2 == 0 ? p + 1 : p;
      o.rebuiltFrom = truth.fields[field].picture;
    }
    outputs.push_back(o);
  }
  return ScoreOutputs(truth, outputs, frames.empty() ? nullptr : &pictures);
}

ClassScore ScoreY4mStream(const ClassTruth& truth, std::FILE* in, const std::string& clip) {
  const std::map<int64_t, std::string> pictures = PictureFrames(truth, ClipFrames(truth, clip));
  int w = 0, h = 0;
  if (!ReadY4mHeader(in, &w, &h)) throw std::runtime_error("footage: no Y4M header in the output");
  if (w != truth.width || h != truth.height) throw std::runtime_error("footage: the output has another size");
  std::string frame(static_cast<size_t>(w) * h * 2, '\0');
  std::vector<Output> outputs;
  while (ReadY4mFrame(in, &frame)) {
    Output o;
    o.whole = true;
    o.top = FieldHash(frame.data(), w, h, 0);
    o.bottom = FieldHash(frame.data(), w, h, 1);
    if (!clip.empty()) o.luma = frame.substr(0, static_cast<size_t>(w) * h);
    outputs.push_back(o);
  }
  return ScoreOutputs(truth, outputs, clip.empty() ? nullptr : &pictures);
}

std::vector<std::pair<std::string, std::string>> FfmpegChains(bool bottomFirst) {
  const std::string order = bottomFirst ? "bff" : "tff";
  return {{"fieldmatch,decimate", "fieldmatch=order=" + order + ",decimate"},
          {"fieldmatch=combmatch=full,decimate", "fieldmatch=order=" + order + ":combmatch=full,decimate"},
          {"pullup,fps=24000/1001", "setfield=" + order + ",pullup,fps=24000/1001"}};
}

ClassScore ScoreFfmpegChain(const ClassTruth& truth, const std::string& clip, const std::string& chain) {
  const std::string command = "ffmpeg -v error -i " + clip + " -vf " + chain + " -pix_fmt yuv422p -f yuv4mpegpipe -";
  std::FILE* in = popen(command.c_str(), "r");
  if (!in) throw std::runtime_error("footage: cannot run " + command);
  ClassScore s;
  try {
    s = ScoreY4mStream(truth, in, clip);
  } catch (...) {
    pclose(in);
    throw;
  }
  if (pclose(in) != 0) throw std::runtime_error("footage: failed: " + command);
  return s;
}

}  // namespace footage
