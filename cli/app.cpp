#include "cli/app.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "cli/errors.h"
#include "cli/field_order.h"
#include "cli/filter_core.h"
#include "cli/frame_sink.h"
#include "cli/input.h"
#include "cli/plan_forecast.h"
#include "cli/progress.h"
#include "cli/stream_clip.h"
#include "cli/timecodes.h"
#include "compose/planes.h"
#include "plan/plan_file.h"
#include "stream/output.h"
#include "stream/row_bands.h"

namespace cli {
namespace {

// The formats of one render, for --info, the progress line and messages.
struct RenderFormats {
  std::string input;  // "720x480 4:2:0 (C420mpeg2)"
  std::string order;  // "bottom field first (the header's Ib)"
  bool bottomFirst = false;
  bool orderIrrelevant = false;  // the plan makes the same frames in either order
  std::string output;            // "4:2:0 (C420mpeg2)"
  stream::OutputFormat format;

  // "4:2:0 (C420mpeg2) bff to 4:2:0 (C420mpeg2)"
  std::string Short() const {
    return input.substr(input.find(' ') + 1) + (orderIrrelevant ? "" : bottomFirst ? " bff" : " tff") + " to " + output;
  }
  std::string Context() const {
    return "input " + input + ", " + (orderIrrelevant ? "field order " : "") + order + "; output " + output;
  }
};

// The order is measured only where the plan's frames depend on it: a plan
// the command cannot look at before the render (a pipe, which can be read
// only once) counts as one that does.
RenderFormats ChooseFormats(const Options& options, stream::FrameReader& reader, const PlanForecast& planCodes,
                            stream::RowBands& bands) {
  const stream::Y4mHeader& header = reader.Header();
  RenderFormats f;
  const FieldOrderDecision order =
      planCodes.DependsOnFieldOrder() ? ResolveFieldOrder(options.fieldOrder, reader, &bands) : OrderDoesNotMatter();
  f.orderIrrelevant = order.irrelevant;
  f.bottomFirst = order.bottomFirst;
  f.order = DescribeFieldOrder(order);
  f.input = stream::InputFormatName(header, reader.Raw());
  f.format.raw = options.rawOut;
  f.format.mirrored = order.bottomFirst;
  f.format.rawInput = reader.Raw();
  f.format.chroma = options.hasChromaOut ? options.chromaOut : options.rawOut ? stream::Chroma::Yuv422 : header.chroma;
  f.output = options.rawOut ? "4:2:2 (packed yuyv422)"
                            : std::string(stream::ChromaName(f.format.chroma)) + " (C" +
                                  stream::OutputColourTag(header, f.format.chroma) + ")";
  return f;
}

// The plan's frame table, read as every front end reads it (a pipe or FIFO
// to its end); a plan that cannot be read is refused with the filter's words.
// A plan's bytes that no plan writer makes: anything but the codes 0 to 6
// (line breaks at its very end aside). The format takes them (each takes a
// position and makes no frame), but many of them say the file is not a plan,
// and a few shift every position after them.
void WarnOfStrayBytes(const std::string& plan, const uint8_t* data, int32_t size) {
  int32_t end = size;
  while (end > 0 && (data[end - 1] == '\n' || data[end - 1] == '\r')) --end;
  int64_t stray = 0;
  int32_t first = -1;
  for (int32_t p = 0; p < end; ++p) {
    if (data[p] >= '0' && data[p] <= '6') continue;
    if (first < 0) first = p;
    ++stray;
  }
  if (stray == 0) return;
  std::fprintf(stderr,
               "zemivtc: warning: the plan %s holds %lld %s that %s not a code 0 to 6 (the first at position %d: "
               "0x%02X); each takes a field position and makes no frame: is it a plan?\n",
               plan.c_str(), static_cast<long long>(stray), stray == 1 ? "byte" : "bytes", stray == 1 ? "is" : "are",
               first, data[first]);
}

// A plan far shorter or longer than the clip was made for another clip (or
// a part of it): said after the render, once the clip's length is known.
// The clip's F frames have positions 0 to 2F - 2; a plan may leave out its
// last position or two.
void WarnOfPlanLength(const std::string& plan, int64_t planSize, int inputFrames, bool clamped) {
  if (inputFrames <= 0) return;
  const int64_t positions = 2 * static_cast<int64_t>(inputFrames) - 1;
  if (planSize < positions - 2) {
    const int64_t firstUnread = planSize / 2 + 1;
    std::fprintf(stderr,
                 "zemivtc: warning: the plan %s has %lld positions, %lld fewer than the input's %d frames have; "
                 "input frames %lld to %d make no output (is the plan for another clip?)\n",
                 plan.c_str(), static_cast<long long>(planSize), static_cast<long long>(positions - planSize),
                 inputFrames, static_cast<long long>(firstUnread), inputFrames - 1);
  } else if (planSize > positions + 2 && !clamped) {
    std::fprintf(stderr,
                 "zemivtc: warning: the plan %s has %lld positions, %lld more than the input's %d frames have "
                 "(is the plan for another clip?)\n",
                 plan.c_str(), static_cast<long long>(planSize), static_cast<long long>(planSize - positions),
                 inputFrames);
  }
}

std::vector<FramePlanEntry> ReadFrameTable(const Options& options, bool* dependsOnOrder, int64_t* planSize) {
  uint8_t* data = nullptr;
  int32_t size = 0;
  const PlanReadResult read = ReadPlanFile(options.hasPlan ? options.plan.c_str() : nullptr, &data, &size);
  if (read != PlanReadOk) throw CliError(PlanReadMessage(read));
  std::vector<FramePlanEntry> table(static_cast<size_t>(CountPlanFrames(data, size)));
  FillFrameTable(data, size, table.data());
  *dependsOnOrder = PlanDependsOnFieldOrder(data, size);
  *planSize = size;
  if (!options.info) WarnOfStrayBytes(options.plan, data, size);
  std::free(data);
  return table;
}

// Frame buffers of one size for the writer; one whose only holder is this
// list is free to be filled again. Their bytes are left as they come: every
// one is written before it is read.
class FrameBuffers {
 public:
  explicit FrameBuffers(size_t bytes) : bytes(bytes) {}
  std::shared_ptr<uint8_t[]> Take() {
    for (const auto& buffer : buffers) {
      if (buffer.use_count() == 1) {
        // The writer's last reads of it came before it let go of it.
        std::atomic_thread_fence(std::memory_order_acquire);
        return buffer;
      }
    }
    buffers.emplace_back(new uint8_t[bytes]);
    return buffers.back();
  }

 private:
  size_t bytes;
  std::vector<std::shared_ptr<uint8_t[]>> buffers;
};

void Render(const Options& options, const RunTuning& tuning, stream::RowBands& bands, StreamClip& source,
            const std::vector<FramePlanEntry>& frames, const RenderFormats& formats) {
  const stream::Y4mHeader& header = source.Reader().Header();
  const int width = header.width, height = header.height;
  const bool turned = formats.bottomFirst;
  stream::OutputFile out(options.output);
  // With a writer thread, output frames are converted there, on one core,
  // while the filter makes the next; otherwise here, in bands.
  stream::FrameWriter writer(out, header, formats.format, tuning.writerThread ? nullptr : &bands);
  const FrameFormat inputFormat = stream::StreamFrameFormat(source.Reader().Raw(), header.chroma);
  // Frames the filter makes are in the input's format; for 4:2:0 written as
  // 4:2:2, with the chroma row it makes for every frame row, before the two
  // rows of a field are averaged into one (the chroma a trip through packed
  // rows carries).
  const FrameFormat madeFormat =
      inputFormat == FormatYuv420 && writer.Format() != FormatYuv420 ? FormatYuv422 : inputFormat;
  // Unchanged source frames and weaves of two are written from the input's
  // bytes when the output stores frames as the input does.
  const bool fromStored = tuning.passThrough && writer.WritesInputFrames();
  // The core's workers and tables, for a plan that has the core make any of
  // its frames (before anything is written, as a module would make them).
  std::unique_ptr<FilterCore> core;
  for (size_t n = 0; n < frames.size() && !core; ++n) {
    const FrameRecipe recipe = RecipeFor(frames[n]);
    if (recipe.code != '1' || (recipe.woven && !fromStored)) core = std::make_unique<FilterCore>(width, height);
  }
  // Frames the filter makes (in madeFormat, or the input's for a weave)
  // and, made when first needed, the weave a '3' smooths next.
  FrameBuffers buffers(std::max(stream::StreamFrameBytes(width, height, madeFormat),
                                stream::StreamFrameBytes(width, height, inputFormat)));
  std::unique_ptr<uint8_t[]> weave;
  writer.WriteHeader(options.rateNumerator, options.rateDenominator);
  std::unique_ptr<FrameSink> sink;  // after `out` and `writer`: it stops before they go
  if (tuning.writerThread) sink = std::make_unique<FrameSink>(writer);
  const int total = static_cast<int>(frames.size());
  Progress progress(ProgressWanted(options.quiet), "zemivtc: " + formats.Short());
  for (int n = 0; n < total; ++n) {
    const FrameRecipe recipe = RecipeFor(frames[n]);
    const bool even = recipe.upper == recipe.lower;
    const bool whole = recipe.code == '1' && even;
    // The source frames in the order the filter has always asked for them:
    // k+1, then k; each loaded where its pixels are read.
    const bool readsUpper = even ? !(whole && fromStored) : recipe.woven || recipe.code == '5';
    const bool readsLower = !even && (recipe.woven || recipe.code == '4');
    const stream::StoredFrame upper = source.Frame(recipe.upper, readsUpper);
    const stream::StoredFrame lower = even ? upper : source.Frame(recipe.lower, readsLower);
    auto planesOf = [&](const stream::StoredFrame& frame) {
      return PlanesOfFrame(frame.data, inputFormat, width, height, turned);
    };
    OutputFrame output;
    if (whole || (recipe.code == '1' && fromStored)) {
      // The source frame as it is ('1' at an even position), written as the
      // input stored it, or converted; or the weave written from both frames.
      output.stored = upper;
      if (!even) output.lower = lower;
      if (even && !fromStored) {
        output.frame = upper.data;
        output.format = inputFormat;
      }
    } else {
      const std::shared_ptr<uint8_t[]> made = buffers.Take();
      output.keep = made;
      output.frame = made.get();
      output.format = recipe.code == '1' ? inputFormat : madeFormat;
      const FramePlanes target = PlanesOfFrame(made.get(), output.format, width, height, turned);
      if (recipe.code == '1') {
        WeavePlanes(core->pool, inputFormat, planesOf(upper), planesOf(lower), target, width, height);
      } else {
        FramePlanes selected;
        if (recipe.woven) {
          // Laid out as the source frames are, so that the offsets kept for
          // their pitches serve it too.
          if (!weave) weave.reset(new uint8_t[stream::StreamFrameBytes(width, height, inputFormat)]);
          selected = PlanesOfFrame(weave.get(), inputFormat, width, height, turned);
          WeavePlanes(core->pool, inputFormat, planesOf(upper), planesOf(lower), selected, width, height);
        } else {
          selected = planesOf(recipe.code == '4' ? lower : upper);
        }
        if (!FinishPlanes(core->pool, core->tables, core->offsets, recipe.code, inputFormat, selected, madeFormat,
                          target, width, height))
          throw CliError("Out of memory");
      }
    }
    if (sink)
      sink->Push(std::move(output));
    else
      WriteOutputFrame(writer, output);
    progress.Update(n + 1, total);
  }
  if (sink) sink->Finish();
  out.Commit();
  if (source.Clamped())
    std::fprintf(stderr,
                 "zemivtc: warning: the plan reaches input frame %d but the input has %d frames; "
                 "the last frame stood in for the missing ones\n",
                 source.HighestRequest(), source.KnownFrameCount());
}

}  // namespace

void RunCommand(const Options& options, const RunTuning& tuning) {
  if (!options.plugin.empty())
    std::fprintf(stderr,
                 "zemivtc: warning: --plugin is no longer needed: the filter is built into zemivtc, and %s is "
                 "not loaded\n",
                 options.plugin.c_str());
  std::unique_ptr<stream::FrameReader> reader = OpenInput(options, tuning.mapInput);
  const stream::Y4mHeader header = reader->Header();
  // Declared before the source frames, so it outlives their reader.
  stream::RowBands bands(tuning.threads);
  // The plan's codes as far as the command can look at them before the render.
  const PlanForecast planCodes = options.hasPlan ? PlanForecast::Read(options.plan) : PlanForecast();
  const RenderFormats formats = ChooseFormats(options, *reader, planCodes, bands);
  FailureContext() = formats.Context();
  reader->SetMirrored(formats.bottomFirst);
  if (!reader->ConversionProblem().empty()) throw CliError(reader->ConversionProblem());
  const std::string outputProblem =
      stream::LayoutProblem(header.width, header.height, {formats.format.chroma, formats.bottomFirst});
  if (!outputProblem.empty())
    throw CliError("cannot write " + std::string(stream::ChromaName(formats.format.chroma)) + ": " + outputProblem);
  reader->SetRowBands(&bands);
  // The filter's own limits, checked before the plan is read: one row per
  // field (the width and size are bounded by the reader).
  if (header.height < 2) throw CliError("Video height must be at least 2");
  bool dependsOnOrder = true;
  int64_t planSize = 0;
  const std::vector<FramePlanEntry> frames = ReadFrameTable(options, &dependsOnOrder, &planSize);
  // The order was left unmeasured on the command's early look at the plan:
  // the plan read now must make the same frames in either order too.
  if (formats.orderIrrelevant && dependsOnOrder)
    throw CliError("the plan " + options.plan + " changed while it was read; nothing written");
  const int frameCount = static_cast<int>(frames.size());
  if (options.info) {
    std::printf(
        "frames: %d\nrate: 60000/1001\nwidth: %d\nheight: %d\npixel_type: YUY2\ninput: %s\nfield_order: %s\noutput: "
        "%s\n",
        frameCount, header.width, header.height, formats.input.c_str(), formats.order.c_str(), formats.output.c_str());
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) throw CliError("cannot write standard output");
    return;
  }
  // A plan of no frames (no code 1 to 6) has nothing to render: rather than
  // write an empty stream and report success, fail before any output is
  // opened.
  if (frameCount == 0) throw CliError("The plan makes no frames");
  // Written beside the render and put in place only when it succeeds.
  std::unique_ptr<TimecodesFile> timecodes;
  if (!options.timecodes.empty())
    timecodes = std::make_unique<TimecodesFile>(options.timecodes, options.plan, frameCount);
  // A file can be read again at any frame: keeping the frames of one plan
  // position (k and k+1) and one more is enough.
  const int keep = reader->Seekable() ? StreamClip::SeekableKeep : StreamClip::DefaultKeep;
  const int estimatedFrames = reader->EstimatedFrameCount();
  StreamClip source(std::move(reader), keep, tuning.deferRead);
  Render(options, tuning, bands, source, frames, formats);
  if (timecodes) timecodes->Commit();
  WarnOfPlanLength(options.plan, planSize, source.KnownFrameCount() >= 0 ? source.KnownFrameCount() : estimatedFrames,
                   source.Clamped());
}

}  // namespace cli
