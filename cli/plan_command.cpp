#include "cli/plan_command.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

#include "analysis/field_measures.h"
#include "analysis/field_order.h"
#include "analysis/keep.h"
#include "cli/errors.h"
#include "cli/field_order.h"
#include "cli/input.h"
#include "cli/plan_forecast.h"
#include "cli/progress.h"
#include "plan/frame_plan.h"
#include "platform/system.h"
#include "review/review.h"
#include "review/timeline.h"
#include "stream/frame_reader.h"
#include "stream/output.h"
#include "stream/row_bands.h"

namespace cli {
namespace {

// The longest plan the filter module accepts.
constexpr size_t MaxPlanBytes = 10485760;
// A keep file may name every position of the longest plan, a line each.
constexpr size_t MaxKeepBytes = 16 * MaxPlanBytes;

const char* StretchName(analysis::Stretch s) {
  switch (s) {
    case analysis::Stretch::Film: return "film";
    case analysis::Stretch::Progressive: return "progressive";
    case analysis::Stretch::Video: return "video";
  }
  return "?";
}

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

// The keep file's lines (none without one). Throws CliError.
std::vector<analysis::KeepLine> ReadKeepFile(const std::string& path) {
  if (path.empty()) return {};
  std::string text;
  if (!sys::ReadWholeFile(path, MaxKeepBytes, &text)) {
    const std::string why = sys::ErrorText();
    throw CliError(std::string(sys::StatusOf(path).exists ? "cannot read" : "cannot open") + " the keep file " + path +
                   ": " + why);
  }
  if (text.size() > MaxKeepBytes)
    throw CliError("the keep file " + path + " is longer than " + std::to_string(MaxKeepBytes) + " bytes");
  try {
    return analysis::ParseKeepFile(text, path);
  } catch (const analysis::KeepError& e) {
    throw CliError(e.what());
  }
}

analysis::Constraints KeepConstraints(const std::vector<analysis::KeepLine>& keep, const std::string& path,
                                      int positions) {
  try {
    return analysis::KeepConstraints(keep, positions, path);
  } catch (const analysis::KeepError& e) {
    throw CliError(e.what());
  }
}

// Whether the proposed plan's frames depend on the field order.
bool DependsOnFieldOrder(const analysis::Proposal& proposal) {
  std::vector<uint8_t> codes;
  for (const analysis::Decision& d : proposal.positions) codes.push_back(static_cast<uint8_t>(d.code));
  return PlanDependsOnFieldOrder(codes.data(), static_cast<int32_t>(codes.size()));
}

}  // namespace

bool SameFile(const std::string& a, const std::string& b) {
  return a != "-" && b != "-" && sys::StatusOf(a).regular && sys::SameFile(a, b);
}

std::string RenderAdvice(const analysis::Proposal& proposal, const FieldOrderDecision& order, const std::string& plan,
                         const std::string& input, const std::string& sourceOptions) {
  const analysis::PlanSummary s = analysis::Summarize(proposal);
  const std::string planName = plan == "-" ? "PLAN" : plan, inputName = input == "-" ? "INPUT.y4m" : input;
  // The render takes the order from the header by itself; any other the plan
  // was made in (the option's, or the footage's over the whole clip, which
  // the render, reading only the start, might not find) goes on its line,
  // unless the plan makes the same frames in either order.
  const bool named = !order.fromHeader && DependsOnFieldOrder(proposal);
  const std::string orderOption = named ? std::string(" --field-order ") + (order.bottomFirst ? "bff" : "tff") : "";
  const std::string base = "zemivtc --plan " + planName + orderOption + sourceOptions;
  const std::string timecodes = base + " --timecodes TIMES.txt " + inputName +
                                " - | ffmpeg -f yuv4mpegpipe -i - -c:v libx264 VIDEO.mkv\n" +
                                "    mkvmerge -o OUTPUT.mkv --timestamps 0:TIMES.txt VIDEO.mkv\n";
  std::string r;
  if (s.outputFrames == 0) return "  render: the plan makes no frames\n";
  if (s.videoPositions == 0 && s.progressivePositions == 0) {
    r += "  render (all film, 24000/1001 frames a second):\n    " + base + " --rate 24000/1001 " + inputName +
         " OUTPUT.y4m\n";
    // Fields an edit left alone are frames of their own, and cuts drop
    // fields: at a constant rate the film then runs longer or shorter than
    // the source. Where that is more than two film frames, say so.
    const double drift = s.outputFrames * 1001.0 / 24000 - (s.positions + 1) * 1001.0 / 60000;
    if (std::fabs(drift) > 2 * 1001.0 / 24000)
      r += Format(
               "    (at that rate it runs %.2f s %s than the source, from %d %s rebuilt alone and %d %s; "
               "for the source's own times:)\n    ",
               std::fabs(drift), drift > 0 ? "longer" : "shorter", s.orphans, s.orphans == 1 ? "field" : "fields",
               static_cast<int>(s.breakFrames.size()), s.breakFrames.size() == 1 ? "break" : "breaks") +
           timecodes;
  } else if (s.filmPositions == 0 && s.videoPositions == 0) {
    r += "  render (all progressive, 30000/1001 frames a second):\n    " + base + " --rate 30000/1001 " + inputName +
         " OUTPUT.y4m\n";
  } else if (s.filmPositions == 0 && s.progressivePositions == 0) {
    r += "  render (all video, one frame per field at 60000/1001):\n    " + base + " " + inputName + " OUTPUT.y4m\n";
  } else {
    r += "  render (film and video mixed: each frame keeps its own time):\n    " + timecodes;
  }
  return r;
}

std::string PlanReport(const analysis::Proposal& proposal, int frames, const FieldOrderDecision& order,
                       const std::string& plan, const std::string& input, const std::string& sourceOptions) {
  const analysis::PlanSummary s = analysis::Summarize(proposal);
  std::string r =
      Format("zemivtc plan: %d frames, %d field positions, %d output frames\n", frames, s.positions, s.outputFrames);
  r += "  field order: " +
       std::string(DependsOnFieldOrder(proposal) ? "" : "does not matter for this plan; measures taken ") +
       DescribeFieldOrder(order) + "\n";
  r += Format("  film:        %7d positions, %d film frames\n", s.filmPositions, s.filmFrames);
  r += Format("  progressive: %7d positions, %d frames\n", s.progressivePositions, s.progressiveFrames);
  r += Format("  video:       %7d positions, %d fields rebuilt\n", s.videoPositions, s.videoFields);
  r += Format("  orphans:     %7d %s\n", s.orphans,
              s.orphans == 1 ? "field rebuilt from itself" : "fields rebuilt from themselves");
  if (proposal.lastFieldLeftOut) r += "  the last field stands alone and has no position of its own: left out\n";
  r += "  cadence breaks: " + std::to_string(s.breakFrames.size());
  for (size_t i = 0; i < s.breakFrames.size() && i < 40; ++i)
    r += (i ? ", " : s.breakFrames.size() == 1 ? " at frame " : " at frames ") + std::to_string(s.breakFrames[i]);
  if (s.breakFrames.size() > 40) r += ", ...";
  r += "\n";
  r += RenderAdvice(proposal, order, plan, input, sourceOptions);
  return r;
}

std::string ExplainLine(const analysis::Proposal& proposal, const std::vector<analysis::PositionMeasures>& measures,
                        int p, analysis::FieldOrder order) {
  const analysis::Decision& d = proposal.positions[p];
  const analysis::PositionMeasures& m = measures[p];
  // An odd position's fields, top one first: frame k's second field and
  // frame k+1's first.
  const bool bottomFirst = order == analysis::FieldOrder::BottomFirst;
  const std::string fields = p % 2 == 0    ? Format("frame %d", p / 2)
                             : bottomFirst ? Format("t%d/b%d", p / 2, p / 2 + 1)
                                           : Format("t%d/b%d", p / 2 + 1, p / 2);
  const std::string cadence =
      d.cadence < 0 ? std::string("irregular") : analysis::CadenceName(d.cadence) + "/" + std::to_string(d.phase);
  return Format(
      "%8d %-14s %c %-11s %-11s %-8s combed=%.2f evidence=%.2f comb=%.0f motion=%.0f repeat=%.0f noise=%.0f "
      "pairing=%.0f pmotion=%.0f weaves=%.0f share=%.2f margin=%.1f%s%s\n",
      p, fields.c_str(), d.code, StretchName(d.stretch), cadence.c_str(), d.boundary ? "boundary" : "joined", d.combed,
      d.evidence, m.comb, m.motion, m.repeat, m.repeatNoise, m.pairing, m.pairingMotion, m.pairingWeaves, m.repeatShare,
      d.margin, d.orphan ? " orphan" : "", d.cadenceBreak ? " break" : "");
}

void RunPlanCommand(const Options& options) {
  // An output renamed over the input would destroy it.
  for (const std::string& out : {options.planOut, options.timeline}) {
    if (!out.empty() && SameFile(out, options.input)) throw CliError("cannot write " + out + ": it is the input");
    if (!out.empty() && SameFile(out, options.keep)) throw CliError("cannot write " + out + ": it is the keep file");
    if (!out.empty() && !options.review.empty() && IsReviewFile(options.review, out))
      throw CliError("cannot write " + out + ": the review in " + options.review + " writes that file");
  }
  // The keep file, then the outputs, so that a bad or unwritable one fails
  // before the work.
  const std::vector<analysis::KeepLine> keep = ReadKeepFile(options.keep);
  stream::OutputFile planOut(options.planOut);
  std::unique_ptr<stream::OutputFile> timelineOut;
  if (!options.timeline.empty()) timelineOut = std::make_unique<stream::OutputFile>(options.timeline);
  std::unique_ptr<ReviewWriter> review;
  if (!options.review.empty()) review = std::make_unique<ReviewWriter>(options.review);

  InputNotes notes;
  std::unique_ptr<stream::FrameReader> reader = OpenInput(options, true, &notes);
  if (review && !reader->Seekable())
    throw CliError(
        "--review reads the frames of its places again after the analysis: INPUT must be a file, "
        "not a pipe");
  if (reader->EstimatedFrameCount() > 0) KeepConstraints(keep, options.keep, 2 * reader->EstimatedFrameCount() - 1);
  const stream::Y4mHeader& header = reader->Header();
  const int width = header.width, height = header.height;
  const bool raw = options.inputFormat.raw;
  // Both orders are measured in one pass; the option or the header decides
  // now where it can, the footage after the pass where they say nothing.
  const FieldOrderDecision stated = DecideFieldOrder(options.fieldOrder, *reader, nullptr);
  const std::string inputFormat = stream::InputFormatName(header, raw);
  const std::string format =
      inputFormat + ", " + (stated.measured ? std::string("field order measured") : DescribeFieldOrder(stated));
  FailureContext() = "input " + format;
  const std::string problem = stream::LayoutProblem(width, height, {header.chroma, stated.bottomFirst});
  if (!problem.empty()) throw CliError(problem);

  stream::RowBands bands;
  // Bands of whole block rows, each worth a thread's while.
  const int blockRowPixels = 2 * analysis::FieldAnalyzer::BlockFieldRows * width;
  const int minBlockRows = std::max(1, 131072 / blockRowPixels);
  analysis::FieldAnalyzer analyzer(width, height, [&](int count, const std::function<void(int, int)>& work) {
    bands.Run(count, minBlockRows, work);
  });

  const bool progressShown = ProgressWanted(options.quiet);
  {
    Progress progress(progressShown, "zemivtc plan: analysing " + inputFormat);
    const int total = reader->EstimatedFrameCount();
    stream::StoredFrame current;
    std::vector<uint8_t> lumaPlane;  // raw frames' luma, gathered
    while (reader->ReadStoredFrame(&current)) {
      analyzer.AddFrame(reader->StoredLuma(current, &lumaPlane), width);
      current = stream::StoredFrame();
      progress.Update(analyzer.Frames(), total);
    }
  }
  const int frames = analyzer.Frames();
  if (frames < 2)
    throw CliError(frames == 1 ? "the input has 1 frame; a plan needs at least 2"
                               : "the input has no frames; a plan needs at least 2");

  const double fieldSamples = analyzer.FieldSamples();
  const analysis::FieldAnalyzer::Result both = analyzer.Finish();
  const analysis::FieldOrderVerdict verdict = analysis::MeasureFieldOrder(both, fieldSamples);
  const FieldOrderDecision order = DecideFieldOrder(options.fieldOrder, *reader, &verdict);
  if (order.measured) {
    const std::string problem = stream::LayoutProblem(width, height, {header.chroma, order.bottomFirst});
    if (!problem.empty()) throw CliError(problem);
  }
  const analysis::FieldOrder fieldOrder =
      order.bottomFirst ? analysis::FieldOrder::BottomFirst : analysis::FieldOrder::TopFirst;
  const std::vector<analysis::PositionMeasures>& measures = both.In(fieldOrder);
  const analysis::Constraints constraints = KeepConstraints(keep, options.keep, static_cast<int>(measures.size()));
  const analysis::Proposal proposal = analysis::ProposePlan(measures, fieldSamples, &constraints);

  std::string plan(proposal.positions.size(), '0');
  for (size_t p = 0; p < plan.size(); ++p) plan[p] = proposal.positions[p].code;
  const std::vector<ReviewPlace> places = ChooseReviewPlaces(proposal);
  if (timelineOut) {
    std::vector<int> marks;
    for (const ReviewPlace& place : places) marks.push_back(place.position);
    const std::string png = TimelinePng(proposal, marks);
    timelineOut->Write(png.data(), png.size());
  }
  const std::vector<MovingStretch> stretches =
      review ? ChooseMovingStretches(proposal, measures) : std::vector<MovingStretch>();
  if (review) {
    ReviewContent content;
    content.inputName = options.input;
    content.width = width;
    content.height = height;
    content.bottomFirst = order.bottomFirst;
    content.proposal = &proposal;
    content.measures = &measures;
    content.places = places;
    content.stretches = stretches;
    content.readFrame = [&](int n, std::vector<uint8_t>* yuy2) {
      yuy2->resize(static_cast<size_t>(2 * width) * height);
      if (!reader->ReadFrame(n, yuy2->data(), 2 * width))
        throw CliError("input frame " + std::to_string(n) + " is gone: the input changed during the analysis");
    };
    content.runner = [&](int count, const std::function<void(int, int)>& work) { bands.Run(count, 1, work); };
    Progress progress(progressShown, "zemivtc plan: the review's pictures", "place");
    content.progress = [&](int done, int total) { progress.Update(done, total); };
    review->Write(content);
  }
  planOut.Write(plan.data(), plan.size());
  if (options.explain) {
    std::string lines =
        "# position  fields         code stretch  cadence/phase  fields are  measures (combed: 0 one moment .. 1 "
        "two)\n";
    for (size_t p = 0; p < plan.size(); ++p) {
      lines += ExplainLine(proposal, measures, static_cast<int>(p), fieldOrder);
      if (lines.size() > (1 << 16)) {
        std::fputs(lines.c_str(), stderr);
        lines.clear();
      }
    }
    std::fputs(lines.c_str(), stderr);
  }
  if (timelineOut) timelineOut->Commit();
  planOut.Commit();
  if (review) review->Commit();
  std::string report = PlanReport(proposal, frames, order, options.planOut, options.input, SourceOptions(options));
  report.insert(report.find('\n') + 1, SourceReportLine(options, notes));
  std::fputs(report.c_str(), stderr);
  if (!keep.empty())
    std::fprintf(stderr, "  kept: %zu %s of %s\n", keep.size(), keep.size() == 1 ? "line" : "lines",
                 options.keep.c_str());
  if (review)
    std::fprintf(stderr, "  review: %d places and %d %s of whole frames that move in %s/index.html\n",
                 static_cast<int>(places.size()), static_cast<int>(stretches.size()),
                 stretches.size() == 1 ? "stretch" : "stretches", options.review.c_str());
  if (!order.warning.empty()) std::fputs(("zemivtc plan: warning: " + order.warning + "\n").c_str(), stderr);
  if (plan.size() > MaxPlanBytes)
    std::fputs(("zemivtc plan: warning: the plan has " + std::to_string(plan.size()) +
                " positions, more than the filter reads (" + std::to_string(MaxPlanBytes) + "); split the input\n")
                   .c_str(),
               stderr);
}

}  // namespace cli
