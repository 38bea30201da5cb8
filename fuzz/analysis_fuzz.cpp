// Arbitrary Y4M through the plan analysis, as `zemivtc plan` reads it: the
// stream reader, the field measures of both orders, the field order verdict
// and the cadence search. The first input byte chooses the band split and a
// frame limit; the rest is the stream. A stream the reader refuses must say
// why; one it takes must give a plan of 2N-1 positions in either order whose
// codes are the analysis's own and whose output frames use every field at
// most once, with finite measures throughout.
#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "analysis/cadence.h"
#include "analysis/field_measures.h"
#include "analysis/field_order.h"
#include "analysis/keep.h"
#include "stream/errors.h"
#include "stream/frame_reader.h"

namespace {

[[noreturn]] void Fault(const std::string& what) {
  std::fprintf(stderr, "analysis_fuzz: %s\n", what.c_str());
  std::abort();
}

// Frames larger than this are not analysed: a header may claim 16384 x 16384.
constexpr int64_t MaxPixels = 1 << 16;

// The fields a position's code takes, in time order: a frame of two fields,
// one field rebuilt, or none.
void FieldsOf(char code, int p, int* first, int* count) {
  if (code != '0' && code != '1' && code != '2' && code != '4' && code != '5')
    Fault(std::string("unexpected code ") + code);
  const int rebuilt = analysis::RebuiltField(code, p);
  *first = rebuilt >= 0 ? rebuilt : p;
  *count = code == '1' ? 2 : rebuilt >= 0 ? 1 : 0;
}

void CheckPlan(const std::vector<analysis::PositionMeasures>& measures, double samples, int frames) {
  if (static_cast<int>(measures.size()) != 2 * frames - 1) Fault("wrong number of positions");
  for (const analysis::PositionMeasures& m : measures)
    for (double v :
         {m.comb, m.motion, m.motionBefore, m.motionAfter, m.repeat, m.repeatNoise, m.pairing, m.pairingMotion})
      if (!std::isfinite(v)) Fault("a measure is not finite");
  const analysis::Proposal proposal = analysis::ProposePlan(measures, samples);
  if (proposal.positions.size() != measures.size()) Fault("the plan does not cover every position");
  std::vector<int> used(2 * frames, 0);
  for (int p = 0; p < static_cast<int>(proposal.positions.size()); ++p) {
    const analysis::Decision& d = proposal.positions[p];
    // Video fields are rebuilt with '2': inside video, and the last field of
    // video where a new stretch starts at its position.
    const bool video = d.stretch == analysis::Stretch::Video ||
                       (p > 0 && d.cadenceBreak && proposal.positions[p - 1].stretch == analysis::Stretch::Video);
    if (d.code == '2' && !video) Fault("a field rebuilt as video outside video");
    int first = 0, count = 0;
    FieldsOf(d.code, p, &first, &count);
    for (int f = first; f < first + count; ++f)
      if (f >= 2 * frames || ++used[f] > 1) Fault("a field used twice, at position " + std::to_string(p));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t mode = data[0];
  const int fd = memfd_create("zemivtc_input", 0);
  if (fd < 0) Fault("memfd_create failed");
  if (size > 1 && write(fd, data + 1, size - 1) != static_cast<ssize_t>(size - 1)) Fault("memfd write failed");
  if (lseek(fd, 0, SEEK_SET) != 0) Fault("memfd seek failed");

  std::unique_ptr<stream::FrameReader> reader;
  try {
    reader = std::make_unique<stream::FrameReader>(fd, "input", stream::InputFormat(), (mode & 1) != 0);
  } catch (const stream::CliError& e) {
    close(fd);
    if (std::string(e.what()).empty()) Fault("refusal without a message");
    return 0;
  }
  const stream::Y4mHeader& header = reader->Header();
  const int width = header.width, height = header.height;
  if (static_cast<int64_t>(width) * height > MaxPixels) return 0;

  // Bands of one to four block rows, as the command's threads would take
  // them, run here one after the other.
  const int band = 1 + ((mode >> 1) & 3);
  analysis::FieldAnalyzer analyzer(width, height, [band](int count, const std::function<void(int, int)>& work) {
    for (int begin = 0; begin < count; begin += band) work(begin, std::min(count, begin + band));
  });
  const int maxFrames = 2 + ((mode >> 3) & 15);
  try {
    stream::StoredFrame frame;
    while (analyzer.Frames() < maxFrames && reader->ReadStoredFrame(&frame)) {
      if (!frame.data) Fault("a stored frame without bytes");
      analyzer.AddFrame(frame.data, width);
      frame = stream::StoredFrame();
    }
  } catch (const stream::CliError& e) {
    if (std::string(e.what()).empty()) Fault("failure without a message");
  }
  const int frames = analyzer.Frames();
  const double samples = analyzer.FieldSamples();
  const analysis::FieldAnalyzer::Result result = analyzer.Finish();
  if (frames == 0) {
    if (!result.In(analysis::FieldOrder::TopFirst).empty()) Fault("positions without frames");
    return 0;
  }
  const analysis::FieldOrderVerdict verdict = analysis::MeasureFieldOrder(result, samples);
  if (verdict.topVotes + verdict.bottomVotes > frames || verdict.decidedAtFrame >= frames)
    Fault("a verdict beyond the frames");
  for (analysis::FieldOrder order : {analysis::FieldOrder::TopFirst, analysis::FieldOrder::BottomFirst})
    CheckPlan(result.In(order), samples, frames);
  return 0;
}
