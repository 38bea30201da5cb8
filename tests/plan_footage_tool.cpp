// plan_footage: the plan tests' footage for the benchmark scripts.
//   plan_footage make DIR WIDTH HEIGHT   writes DIR/footage.y4m and DIR/truth.txt
//   plan_footage score DIR OUTPUT.y4m    prints how many output frames are exact film frames
//   plan_footage class DIR NAME [seed=N] [size=WxH] [phase=N] [order=t|b] [header=t|b|p|m]
//                                        [encode=none|mpeg2|x264|x264p]
//                                        writes DIR/NAME.y4m and DIR/NAME.truth (footage_classes.h)
//   plan_footage score-plan DIR NAME PLAN       scores a plan against DIR/NAME.truth
//   plan_footage score-output DIR NAME OUT.y4m  scores a tool's output frames ("-": standard input)
//                                        (both judge combed frames for combing while DIR/NAME.y4m is there)
//   plan_footage chains DIR NAME                scores the ffmpeg chains on DIR/NAME.y4m
//   plan_footage classes                        prints the class names, one a line
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/footage.h"
#include "tests/footage_classes.h"

namespace {

void Save(const footage::Truth& t, const std::string& path) {
  std::ofstream out(path);
  out << t.width << " " << t.height << " " << t.frames << " " << t.recoverableCount << "\n";
  for (const auto& r : t.recoverable) out << "r " << r.first << " " << r.second << "\n";
  for (uint64_t p : t.progressive) out << "p " << p << "\n";
}

footage::Truth Load(const std::string& path) {
  std::ifstream in(path);
  footage::Truth t;
  if (!(in >> t.width >> t.height >> t.frames >> t.recoverableCount)) throw std::runtime_error("cannot read " + path);
  std::string tag;
  uint64_t hash;
  while (in >> tag >> hash) {
    if (tag == "r") {
      in >> t.recoverable[hash];
    } else {
      t.progressive.insert(hash);
    }
  }
  return t;
}

footage::Variant ParseVariant(int argc, char** argv, int first) {
  footage::Variant v;
  for (int i = first; i < argc; ++i) {
    const std::string a = argv[i];
    const size_t eq = a.find('=');
    const std::string key = a.substr(0, eq), value = eq == std::string::npos ? "" : a.substr(eq + 1);
    if (key == "seed") {
      v.seed = static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
    } else if (key == "size" && std::sscanf(value.c_str(), "%dx%d", &v.width, &v.height) == 2) {
    } else if (key == "phase") {
      v.phase = std::atoi(value.c_str());
    } else if (key == "order" && (value == "t" || value == "b")) {
      v.order = value == "b";
    } else if (key == "header" && value.size() == 1) {
      v.headerOrder = value[0];
    } else if (key == "encode" && (value == "none" || value == "mpeg2" || value == "x264" || value == "x264p")) {
      v.encode = value;
    } else if (key == "asm" && (value == "0" || value == "1")) {
      v.x264Asm = value == "1";
    } else {
      throw std::runtime_error("bad variant " + a);
    }
  }
  return v;
}

// DIR/NAME.y4m where it is still there (the combed outputs are then judged
// for combing), else "".
std::string ClipOf(const std::string& dir, const std::string& name) {
  const std::string path = dir + "/" + name + ".y4m";
  return std::ifstream(path) ? path : "";
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "classes" && argc == 2) {
      for (const std::string& name : footage::ClassNames()) std::printf("%s\n", name.c_str());
      return 0;
    }
    if (mode == "make" && argc == 5) {
      const footage::Truth t = footage::MakeFootage(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
      Save(t, std::string(argv[2]) + "/truth.txt");
      std::printf("frames %d recoverable %d\n", t.frames, t.recoverableCount);
      return 0;
    }
    if (mode == "score" && argc == 4) {
      const footage::Truth t = Load(std::string(argv[2]) + "/truth.txt");
      const footage::Score s = footage::ScoreY4m(t, argv[3]);
      std::printf("frames %d exact %d repeated %d progressive %d other %d recoverable %d\n", s.frames, s.exactFilm,
                  s.repeatedFilm, s.progressive, s.other, t.recoverableCount);
      return 0;
    }
    if (mode == "class" && argc >= 4) {
      const std::string dir = argv[2], name = argv[3];
      const footage::ClassTruth t = footage::MakeClass(dir, name, ParseVariant(argc, argv, 4));
      footage::SaveTruth(t, dir + "/" + name + ".truth");
      std::printf("frames %d recoverable %zu\n", t.frames, t.recoverable.size());
      return 0;
    }
    if (mode == "score-plan" && argc == 5) {
      const footage::ClassTruth t = footage::LoadTruth(std::string(argv[2]) + "/" + argv[3] + ".truth");
      std::ifstream in(argv[4], std::ios::binary);
      const std::string plan((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      std::printf("%s\n", footage::ScorePlan(t, plan, ClipOf(argv[2], argv[3])).Line().c_str());
      return 0;
    }
    if (mode == "score-output" && argc == 5) {
      const footage::ClassTruth t = footage::LoadTruth(std::string(argv[2]) + "/" + argv[3] + ".truth");
      std::FILE* in = std::strcmp(argv[4], "-") == 0 ? stdin : std::fopen(argv[4], "rb");
      if (!in) throw std::runtime_error(std::string("cannot read ") + argv[4]);
      std::printf("%s\n", footage::ScoreY4mStream(t, in, ClipOf(argv[2], argv[3])).Line().c_str());
      return 0;
    }
    if (mode == "chains" && argc == 4) {
      const std::string dir = argv[2], name = argv[3];
      const footage::ClassTruth t = footage::LoadTruth(dir + "/" + name + ".truth");
      for (const auto& chain : footage::FfmpegChains(t.bottomFirst))
        std::printf("%s: %s\n", chain.first.c_str(),
                    footage::ScoreFfmpegChain(t, dir + "/" + name + ".y4m", chain.second).Line().c_str());
      return 0;
    }
    std::fprintf(stderr,
                 "usage: plan_footage make DIR WIDTH HEIGHT | score DIR OUTPUT.y4m\n"
                 "       plan_footage class DIR NAME [seed=N] [size=WxH] [phase=N] [order=t|b] [header=X]\n"
                 "                                  [encode=none|mpeg2|x264|x264p] [asm=0|1]\n"
                 "       plan_footage score-plan DIR NAME PLAN | score-output DIR NAME OUT.y4m | chains DIR NAME\n"
                 "       plan_footage classes\n");
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "plan_footage: %s\n", e.what());
    return 1;
  }
}
