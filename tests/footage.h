// Generated footage with known pictures, for the plan tests and the plan
// benchmark: film reels telecined by ffmpeg (patterns 23 and 2332) with a
// still scene and a low-contrast scene, cuts at odd field offsets, true
// interlaced video woven from a 60000/1001 source, and progressive
// 30000/1001 frames, joined at field level into one 8-bit 4:2:2 Y4M file.
//
// Every field's origin is known: a film reel's fields are traced through
// the same telecine run on a marker reel whose frames carry their own index.
#ifndef ZEMIVTC_TESTS_FOOTAGE_H
#define ZEMIVTC_TESTS_FOOTAGE_H

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace footage {

enum class Kind : char { Film = 'f', Video = 'v', Progressive = 'p' };

struct Truth {
  int width = 0, height = 0, frames = 0;
  // Content hash of every recoverable film frame (both fields next to each
  // other somewhere in the footage), with how many film frames have it.
  std::map<uint64_t, int> recoverable;
  int recoverableCount = 0;
  // Hashes of every whole picture a clean weave may give: film frames and
  // progressive frames.
  std::set<uint64_t> pictures;
  std::set<uint64_t> progressive;
  // Per field position: the kind of both its fields, or 'x' where they come
  // from different segments (a join).
  std::string positionKinds;
  // Per field: the picture it belongs to (a film frame, progressive frame or
  // video field; fields of one picture share it), and that picture's content
  // hash (pictures of equal content, a still scene's, share it).
  std::vector<int64_t> fieldPictures;
  std::vector<uint64_t> fieldContents;
};

uint64_t Hash(const std::string& bytes);

// Runs a shell command; throws std::runtime_error when it fails.
void Run(const std::string& command);
// An ffmpeg command, INPUT (options, -i) then OUTPUT (options, file), its scaler bit-exact: the same bytes on
// every x86-64 processor. ZEMIVTC_FOOTAGE_PLAIN turns its processor extensions off (tests/footage_bytes.sh).
std::string Ffmpeg(const std::string& input, const std::string& output);

// Makes DIR/NAME.y4m, `frames` frames of planar 4:2:2 from an ffmpeg lavfi
// source (e.g. "testsrc2", "life=seed=7") at `rate`, through `filters`; returns its
// path. Throws std::runtime_error when ffmpeg fails.
std::string Generate(const std::string& dir, const std::string& name, const std::string& source,
                     const std::string& rate, int width, int height, int frames, const std::string& filters = "");

// A 16 x 16 planar 4:2:2 frame that carries its index through a telecine
// (luma index % 256, chroma index / 256), so that every field of the
// telecined marker reel names the film frame it came from; and the index a
// field of such a frame shows.
std::string MarkerFrame(int index);
int MarkerIndex(const std::string& frame, int parity);

// Copies the rows of one parity of every plane of a planar 4:2:2 frame (Y
// width wide, U and V width/2) from `from` into `to`.
void CopyField(const std::string& from, int parity, int width, int height, std::string* to);

// Makes DIR/footage.y4m (width x height) and its truth. Throws
// std::runtime_error when ffmpeg fails.
Truth MakeFootage(const std::string& dir, int width, int height);

// Sets soft-telecine flags in an MPEG-2 elementary stream of progressive
// 24000/1001 frames coded without B-frames (so coded order is display
// order): 30000/1001 in the sequence header, an interlaced sequence, and
// per picture progressive_frame with top_field_first and repeat_first_field
// in the 3:2 rhythm (TFF+RFF, BFF, BFF+RFF, TFF).
void SoftTelecine(const std::string& from, const std::string& to);

// Frame payloads of a Y4M file (every frame header must be plain "FRAME").
std::vector<std::string> ReadY4mFrames(const std::string& path, int* width = nullptr, int* height = nullptr);

struct Score {
  int frames = 0;
  int exactFilm = 0;     // output frames equal to a recoverable film frame, each counted once
  int repeatedFilm = 0;  // further output frames equal to a film frame already counted
  int progressive = 0;   // output frames equal to a progressive frame
  int other = 0;         // everything else (rebuilds, combed weaves)
};
Score ScoreFrames(const Truth& truth, const std::vector<uint64_t>& frameHashes);
// Streams a Y4M file (for outputs too large to hold); "-" is standard input.
Score ScoreY4m(const Truth& truth, const std::string& path);

}  // namespace footage

#endif
