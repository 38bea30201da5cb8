#include "cli/field_order.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "analysis/field_measures.h"
#include "stream/errors.h"

namespace cli {
namespace {

std::string HeaderSays(const stream::FrameReader& reader) {
  const char tag = reader.Header().interlace;
  return reader.Raw()                    ? "raw input states no order"
         : !reader.OrderOrigin().empty() ? reader.OrderOrigin()
         : tag == '?'                    ? "the header has no I tag"
                                         : std::string("the header says I") + tag;
}

// The votes for each order. A measured order reports those that settled it,
// counted up to the deciding frame pair, so that the plan, which reads the
// whole clip, and the render, which stops there, give the same figures; a
// warning against a stated order counts the whole clip.
std::string Votes(int top, int bottom) {
  char text[160];
  std::snprintf(text, sizeof text, "%d frame pairs look top field first, %d bottom field first", top, bottom);
  return text;
}

std::string SettlingVotes(const analysis::FieldOrderVerdict& v) {
  if (v.decidedAtFrame < 0) return Votes(v.allTopVotes, v.allBottomVotes);
  return Votes(v.topVotes, v.bottomVotes) + ", settled at frame " + std::to_string(v.decidedAtFrame);
}

bool ReadsOn(stream::FrameReader& reader, stream::StoredFrame* frame) {
  try {
    return reader.ReadStoredFrame(frame);
  } catch (const stream::CliError&) {
    return false;
  }
}

// The render measures the order on bands of whole block rows (16 rows of
// each field), one band in `step`, so that a large frame costs about what a
// frame of some eight block rows costs: the order shows in every part of a
// moving picture, and a frame pair's vote needs far less than a 1080-row
// frame's area. Small frames are measured whole.
constexpr int MeasuredBlockRows = 8;
int BandStep(int height) {
  return std::max(1, height / (2 * analysis::FieldAnalyzer::BlockFieldRows) / MeasuredBlockRows);
}

}  // namespace

FieldOrderDecision DecideFieldOrder(char requested, const stream::FrameReader& reader,
                                    const analysis::FieldOrderVerdict* measured) {
  FieldOrderDecision d;
  if (requested == 't' || requested == 'b') {
    d.bottomFirst = requested == 'b';
    d.reason = "--field-order";
  } else if (!reader.Raw() && stream::HeaderFieldOrder(reader.Header()) != stream::FieldOrder::Unknown) {
    d.bottomFirst = stream::HeaderFieldOrder(reader.Header()) == stream::FieldOrder::BottomFirst;
    d.fromHeader = true;
    d.reason =
        reader.OrderOrigin().empty() ? std::string("the header's I") + reader.Header().interlace : reader.OrderOrigin();
  } else if (!measured) {
    d.measured = true;
    d.reason = "assumed: " + HeaderSays(reader);
  } else if (measured->known) {
    d.measured = true;
    d.bottomFirst = measured->order == analysis::FieldOrder::BottomFirst;
    d.reason = "measured: " + HeaderSays(reader) + "; " + SettlingVotes(*measured);
  } else {
    // Progressive or still pictures weave alike in both orders.
    d.measured = true;
    d.reason = "assumed: " + HeaderSays(reader) + "; the footage shows no order";
  }
  // The footage against a stated order: a clear majority of frame pairs
  // the other way round.
  if (measured && !d.measured) {
    const int against = d.bottomFirst ? measured->allTopVotes : measured->allBottomVotes;
    const int with = d.bottomFirst ? measured->allBottomVotes : measured->allTopVotes;
    if (against >= analysis::FieldOrderVotes && against > 2 * with)
      d.warning = std::string("the footage looks ") + (d.bottomFirst ? "top" : "bottom") + " field first (" +
                  Votes(measured->allTopVotes, measured->allBottomVotes) +
                  "); if the film frames come out as rebuilt fields, use --field-order " +
                  (d.bottomFirst ? "tff" : "bff");
  }
  return d;
}

analysis::FieldOrderVerdict MeasureStreamFieldOrder(stream::FrameReader& reader, int maxFrames, stream::RowBands* bands,
                                                    int* framesRead) {
  const stream::Y4mHeader& header = reader.Header();
  const int width = header.width, bandRows = 2 * analysis::FieldAnalyzer::BlockFieldRows;
  const int step = BandStep(header.height);
  const int height = step == 1 ? header.height : (header.height / bandRows + step - 1) / step * bandRows;
  std::vector<uint8_t> kept(step == 1 ? 0 : static_cast<size_t>(width) * height);
  // Bands of whole block rows, each worth a thread's while.
  const int minBlockRows = std::max(1, 131072 / (bandRows * width));
  analysis::BandRunner runner;
  if (bands)
    runner = [bands, minBlockRows](int count, const std::function<void(int, int)>& work) {
      bands->Run(count, minBlockRows, work);
    };
  analysis::FieldAnalyzer analyzer(width, height, runner);
  analysis::FieldOrderProbe probe(analyzer.FieldSamples());
  stream::StoredFrame frame;
  std::vector<uint8_t> luma;
  // Positions reach the probe one frame late (an odd position needs the
  // frame after it); the last frame's are taken at the end.
  size_t fed = 1;
  auto feed = [&](const std::vector<analysis::PositionMeasures>& top,
                  const std::vector<analysis::PositionMeasures>& bottom) {
    for (; fed + 1 < top.size() && !probe.Decided(); fed += 2)
      probe.Add(top[fed - 1], top[fed], bottom[fed], top[fed + 1]);
  };
  auto enough = [&] { return probe.Decided() || probe.ProgressiveStart(); };
  // A frame the reader cannot give ends the measuring; the command that
  // reads it again reports it.
  while (!enough() && analyzer.Frames() < maxFrames && ReadsOn(reader, &frame)) {
    const uint8_t* plane = reader.StoredLuma(frame, &luma);
    if (step > 1) {
      const size_t bandBytes = static_cast<size_t>(width) * bandRows;
      for (size_t b = 0; b * bandRows < static_cast<size_t>(height); ++b)
        std::memcpy(&kept[b * bandBytes], plane + b * step * bandBytes, bandBytes);
      plane = kept.data();
    }
    analyzer.AddFrame(plane, width);
    frame = stream::StoredFrame();
    feed(analyzer.Positions(analysis::FieldOrder::TopFirst), analyzer.Positions(analysis::FieldOrder::BottomFirst));
  }
  if (framesRead) *framesRead = analyzer.Frames();
  const analysis::FieldAnalyzer::Result result = analyzer.Finish();
  feed(result.In(analysis::FieldOrder::TopFirst), result.In(analysis::FieldOrder::BottomFirst));
  return probe.Final();
}

FieldOrderDecision ResolveFieldOrder(char requested, stream::FrameReader& reader, stream::RowBands* bands) {
  const FieldOrderDecision stated = DecideFieldOrder(requested, reader, nullptr);
  // Frames whose layout the command refuses anyway are not read.
  const stream::Y4mHeader& header = reader.Header();
  if (!stated.measured || !stream::LayoutProblem(header.width, header.height, {header.chroma, false}).empty())
    return stated;
  if (!reader.Seekable()) {
    FieldOrderDecision d = stated;
    d.reason += "; a pipe cannot be read ahead to measure the order";
    return d;
  }
  int frames = 0;
  reader.HoldMappedPages(true);
  const analysis::FieldOrderVerdict verdict = MeasureStreamFieldOrder(reader, RenderFieldOrderFrames, bands, &frames);
  reader.HoldMappedPages(false);
  FieldOrderDecision d = DecideFieldOrder(requested, reader, &verdict);
  if (!verdict.known && verdict.progressiveStart)
    d.reason = "assumed: " + HeaderSays(reader) + "; its first " + std::to_string(frames) +
               " frames show progressive pictures, which weave alike in both orders";
  else if (!verdict.known && frames >= RenderFieldOrderFrames && reader.KnownFrameCount() != frames)
    d.reason = "assumed: " + HeaderSays(reader) + "; its first " + std::to_string(frames) + " frames show no order";
  return d;
}

FieldOrderDecision OrderDoesNotMatter() {
  FieldOrderDecision d;
  d.irrelevant = true;
  d.reason = "the plan makes the same frames in either order";
  return d;
}

std::string DescribeFieldOrder(const FieldOrderDecision& decision) {
  if (decision.irrelevant) return "does not matter for this plan";
  return std::string(decision.bottomFirst ? "bottom" : "top") + " field first (" + decision.reason + ")";
}

}  // namespace cli
