// plan_footage: the plan tests' footage for the benchmark script.
//   plan_footage make DIR WIDTH HEIGHT   writes DIR/footage.y4m and DIR/truth.txt
//   plan_footage score DIR OUTPUT.y4m    prints how many output frames are exact film frames
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <string>

#include "tests/footage.h"

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

}  // namespace

int main(int argc, char** argv) {
  try {
    const std::string mode = argc > 1 ? argv[1] : "";
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
    std::fprintf(stderr, "usage: plan_footage make DIR WIDTH HEIGHT | plan_footage score DIR OUTPUT.y4m\n");
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "plan_footage: %s\n", e.what());
    return 1;
  }
}
