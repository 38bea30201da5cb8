// Footage classes for the plan tests and benchmark: small clips drawn here
// (photographs panned and zoomed with motion blur, drawings held on twos and
// threes, fades and dissolves, film grain per pixel or in clumps, interlaced
// video, progressive frames), telecined by ffmpeg in either field order, cut
// at odd fields, joined at field level and optionally encoded with ffmpeg
// (interlaced MPEG-2, x264) and decoded back to 8-bit 4:2:2.
//
// The truth is kept per field, in time order: what picture each field
// shows (a film frame, a video moment, a progressive frame) and the hash of
// its bytes as the finished clip holds them, so that any tool's output can
// be scored field by field: an output frame whose two fields are fields of
// one film frame (or of film frames that held one drawing) is that film
// frame recovered, byte for byte against the best weave the (decoded) input
// offers; fields of two pictures are a combed frame; anything else was
// rebuilt or blended.
#ifndef ZEMIVTC_TESTS_FOOTAGE_CLASSES_H
#define ZEMIVTC_TESTS_FOOTAGE_CLASSES_H

#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "tests/footage.h"

namespace footage {

struct FieldTruth {
  Kind kind = Kind::Film;
  int64_t picture = 0;  // unique per film frame, video moment or progressive frame
  uint64_t hash = 0;    // luma and chroma rows of the field, as the clip holds them
  // The picture's bytes before telecine and any encode (film frames of one
  // held drawing share it); unique for video and progressive pictures.
  uint64_t content = 0;
};

struct ClassTruth {
  std::string name;
  int width = 0, height = 0, frames = 0;
  bool bottomFirst = false;
  std::vector<FieldTruth> fields;  // time order: frame k's first field is 2k
  std::set<int64_t> recoverable;   // film frames with both fields next to each other
};

// Choices that make a class's clip differ from the tests' own while keeping
// what the class is about: other pictures (seed), frame size, where the
// telecine cadence starts, the field order and what the header says of it,
// the encode.
struct Variant {
  uint32_t seed = 1;
  int width = 0, height = 0;  // 0: the class's own size
  int phase = 0;              // fields dropped at the start of every film reel (0..9)
  int order = -1;             // -1: the class's own; 0 top field first; 1 bottom field first
  char headerOrder = 0;       // the Y4M I tag to write (t, b, p, m); 0: the true order's
  std::string encode;         // "none", "mpeg2", "x264", "x264p" (progressive coding); "": the class's own
  bool x264Asm = false;       // x264 with its assembly: bytes that differ between machines (benchmarks only)
};

// The class names, in the order the tests and the benchmark table use.
const std::vector<std::string>& ClassNames();

// Makes DIR/NAME.y4m and returns its truth. Throws std::runtime_error for
// an unknown class or when ffmpeg fails.
ClassTruth MakeClass(const std::string& dir, const std::string& name, const Variant& variant = Variant());

void SaveTruth(const ClassTruth& truth, const std::string& path);
ClassTruth LoadTruth(const std::string& path);

struct ClassScore {
  int outputs = 0;
  int exact = 0;        // recoverable film frames given byte for byte, each counted once
  int duplicates = 0;   // further outputs of a film frame already given (whole or rebuilt)
  int combed = 0;       // outputs woven from fields of two pictures
  int rebuilt = 0;      // outputs that are not two fields of the input (rebuilds, blends)
  int progressive = 0;  // progressive frames given whole
  int recoverable = 0;
  // Of the combed outputs, those whose rows alternate visibly more than
  // their pictures' own frames' do (-1: not judged).
  int combing = -1;
  std::string Line() const;  // "outputs N exact N ..." for scripts
};

// The outputs a plan makes from the clip, as the filter makes them: a '1'
// gives its position's two fields; the other codes rebuild or smooth.
// With the clip's path, the combed outputs are judged for combing too.
ClassScore ScorePlan(const ClassTruth& truth, const std::string& plan, const std::string& clip = "");
// Output frames (planar 4:2:2 Y4M) read from a stream, scored by their
// fields' bytes; with the clip's path, judged for combing as ScorePlan's.
ClassScore ScoreY4mStream(const ClassTruth& truth, std::FILE* in, const std::string& clip = "");

// The ffmpeg chains the plan is held against, as filter strings for the
// clip's field order.
std::vector<std::pair<std::string, std::string>> FfmpegChains(bool bottomFirst);
// Runs `ffmpeg -i CLIP -vf CHAIN` and scores what it gives.
ClassScore ScoreFfmpegChain(const ClassTruth& truth, const std::string& clip, const std::string& chain);

}  // namespace footage

#endif
