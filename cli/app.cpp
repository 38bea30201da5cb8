#include "cli/app.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>

#include "cli/errors.h"
#include "cli/field_order.h"
#include "cli/frame_sink.h"
#include "cli/plan_forecast.h"
#include "cli/stream_clip.h"
#include "cli/timecodes.h"
#include "host/runtime.h"
#include "stream/output.h"
#include "stream/row_bands.h"

namespace cli {
namespace {

std::string ExecutableDir() {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return ".";
  path[n] = '\0';
  std::string s(path);
  const size_t slash = s.rfind('/');
  return slash == std::string::npos ? "." : s.substr(0, slash);
}

const char* PixelTypeName(int pixelType) {
  switch (pixelType) {
    case CS_YUY2: return "YUY2";
    case CS_YV12: return "YV12";
    case CS_BGR24: return "RGB24";
    case CS_BGR32: return "RGB32";
    default: return "unknown";
  }
}

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
// the command cannot read (a pipe, which the filter alone may read) counts
// as one that does.
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
  f.format.chroma = options.hasChromaOut ? options.chromaOut : options.rawOut ? stream::Chroma::Yuv422 : header.chroma;
  f.output = options.rawOut ? "4:2:2 (packed yuyv422)"
                            : std::string(stream::ChromaName(f.format.chroma)) + " (C" +
                                  stream::OutputColourTag(header, f.format.chroma) + ")";
  return f;
}

// One line on standard error, rewritten in place, at most a few times a second.
class Progress {
 public:
  Progress(bool enabled, int total, std::string formats)
      : enabled(enabled), total(total), formats(std::move(formats)), start(Clock::now()), last(start) {}
  void Update(int done) {
    if (!enabled) return;
    const auto now = Clock::now();
    if (done < total && now - last < std::chrono::milliseconds(250)) return;
    last = now;
    const double seconds = std::chrono::duration<double>(now - start).count();
    const double fps = seconds > 0 ? done / seconds : 0.0;
    const double left = fps > 0 ? (total - done) / fps : 0.0;
    std::fprintf(stderr, "\rzemivtc: %s  frame %d/%d  %.1f fps  %d:%02d left ", formats.c_str(), done, total, fps,
                 static_cast<int>(left) / 60, static_cast<int>(left) % 60);
    shown = true;
  }
  ~Progress() {
    if (shown) std::fputc('\n', stderr);
  }

 private:
  using Clock = std::chrono::steady_clock;
  bool enabled;
  int total;
  std::string formats;
  Clock::time_point start, last;
  bool shown = false;
};

// A clip of no frames (a plan with no code 1 to 6) has nothing to render:
// rather than write an empty stream and report success, ask the filter for
// its first frame so that it refuses with its own message, and fail before
// any output is opened.
void RefuseFramelessClip(const PClip& filtered, host::ScriptEnvironment& env) {
  if (filtered->GetVideoInfo().num_frames > 0) return;
  filtered->GetFrame(0, &env);
  throw CliError("the filter's clip has no frames; nothing written");
}

// Output frame n. A source frame the plan says comes back unchanged
// (`unchanged`, else -1) is handed to the filter unconverted; if the filter
// made a frame of its own from it after all, that frame is made again from
// converted source frames.
PVideoFrame FilteredFrame(const PClip& filtered, StreamClip& source, int unchanged, int n,
                          host::ScriptEnvironment& env) {
  source.ExpectUnchanged(unchanged);
  PVideoFrame frame = filtered->GetFrame(n, &env);
  if (source.HandedOutUnconverted() && !source.StoredBytes(frame).Valid()) {
    frame = PVideoFrame();
    source.ExpectUnchanged(-1);
    frame = filtered->GetFrame(n, &env);
  }
  return frame;
}

void Render(const Options& options, const RunTuning& tuning, stream::RowBands& bands, host::ScriptEnvironment& env,
            const PClip& filtered, StreamClip& source, const stream::Y4mHeader& header, const RenderFormats& formats,
            const PlanForecast& planCodes) {
  const VideoInfo& vi = filtered->GetVideoInfo();
  if (vi.pixel_type != CS_YUY2 || vi.width != header.width || vi.height != header.height)
    throw CliError("the filter's output is not YUY2 at the input's size; nothing written");
  source.SetDeferredConversion(tuning.deferConversion);
  stream::OutputFile out(options.output);
  // With a writer thread, output frames are converted there, on one core,
  // while the filter makes the next; otherwise here, in bands.
  stream::FrameWriter writer(out, header, formats.format, tuning.writerThread ? nullptr : &bands);
  // Unchanged frames are written from their stored bytes (when the output
  // stores frames as the input does), so only then may they go to the
  // filter unconverted.
  const bool passThrough = tuning.passThrough && writer.WritesInputFrames();
  PlanForecast forecast;
  if (tuning.deferConversion && passThrough && options.hasPlan)
    forecast = tuning.forecastPlan.empty() ? planCodes : PlanForecast::Read(tuning.forecastPlan);
  if (forecast.FrameCount() != vi.num_frames) forecast = PlanForecast();  // not the plan the filter read
  // Weaves of two source frames as they are ('1' at an odd position) are
  // written from the stored frames without the filter, which would convert
  // both to YUY2 and its weave back again for the same bytes. Unlike a
  // pass-through guess, the filter cannot confirm this one, so it is taken
  // only when the forecast is the plan file itself and the file still holds
  // those bytes now that the filter has read it.
  const bool weaveStored = forecast.Known() && tuning.forecastPlan.empty() &&
                           PlanForecast::Read(options.plan).Bytes() == forecast.Bytes();
  writer.WriteHeader(options.rateNumerator, options.rateDenominator);
  std::unique_ptr<FrameSink> sink;  // after `out` and `writer`: it stops before they go
  if (tuning.writerThread) sink = std::make_unique<FrameSink>(writer);
  Progress progress(!options.quiet && isatty(STDERR_FILENO), vi.num_frames, formats.Short());
  for (int n = 0; n < vi.num_frames; ++n) {
    OutputFrame output;
    int upper, lower;
    if (weaveStored && forecast.WovenSources(n, &upper, &lower)) {
      output.stored = source.StoredSource(upper, &env);
      output.lower = source.StoredSource(lower, &env);
      if (source.Failed()) throw CliError(source.Error());
      if (!output.stored.data || !output.lower.data) output = OutputFrame();  // raw input: the filter makes it
    }
    if (!output.lower.Valid()) {
      output.frame = FilteredFrame(filtered, source, forecast.PassThroughSource(n), n, env);
      if (source.Failed()) throw CliError(source.Error());
      if (!output.frame || output.frame->GetRowSize() < 2 * vi.width || output.frame->GetHeight() < vi.height)
        throw CliError("the filter returned a malformed frame " + std::to_string(n));
      // A source frame the filter returned as it is ('1' at an even
      // position) goes out as the input stored it: converting it to YUY2
      // and back to the input's chroma would give these bytes (4:2:0 chroma
      // is duplicated within each field and taken back as the mean of
      // copies).
      if (passThrough) output.stored = source.StoredBytes(output.frame);
    }
    if (sink)
      sink->Push(std::move(output));
    else
      WriteOutputFrame(writer, output);
    progress.Update(n + 1);
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

std::string DefaultModulePath() {
  const std::string dir = ExecutableDir();
  const std::string beside = dir + "/zemivtc.so";
  const std::string installed = dir + "/../lib/zemivtc/zemivtc.so";
  if (access(beside.c_str(), R_OK) == 0) return beside;
  if (access(installed.c_str(), R_OK) == 0) return installed;
  throw CliError("cannot find the filter module (looked for " + beside + " and " + installed +
                 "); name it with --plugin PATH");
}

void RunCommand(const Options& options, const RunTuning& tuning) {
  const std::string modulePath = options.plugin.empty() ? DefaultModulePath() : options.plugin;
  std::unique_ptr<stream::FrameReader> reader =
      stream::OpenFrameReader(options.input, options.inputFormat, tuning.mapInput);
  const stream::Y4mHeader header = reader->Header();
  // Declared before the environment and the clips, so it outlives them.
  stream::RowBands bands(tuning.threads);
  // The plan's codes as the command reads them beside the filter.
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
  host::ScriptEnvironment env;
  env.SetPoisonNewFrames(false);  // the reader and the filter write every byte of their frames
  // Host messages live in the environment: copy them out before it goes.
  std::string failure;
  try {
    env.LoadPlugin(modulePath);
    // A file can be read again at any frame: keeping the frames of one plan
    // position (k and k+1) and one more is enough, and fewer kept frames
    // leave fewer frame buffers going round, warm in the cache.
    const int keep = reader->Seekable() ? StreamClip::SeekableKeep : StreamClip::DefaultKeep;
    StreamClip* source = new StreamClip(std::move(reader), keep);
    PClip sourceClip(source);
    AVSValue args[2] = {AVSValue(sourceClip), AVSValue(options.plan.c_str())};
    const char* names[2] = {nullptr, "zemFile"};
    // Without --plan the filter is called without zemFile and answers for itself.
    AVSValue result = env.Invoke("ZEMIVTC", AVSValue(args, options.hasPlan ? 2 : 1), names);
    PClip filtered = result.AsClip();
    if (!filtered) throw CliError("the module's ZEMIVTC returned no clip");
    // The order was left unmeasured on the command's own reading of the
    // plan: the filter must have read the same plan.
    if (formats.orderIrrelevant && planCodes.FrameCount() != filtered->GetVideoInfo().num_frames)
      throw CliError("the plan " + options.plan + " changed while it was read; nothing written");
    if (options.info) {
      const VideoInfo& vi = filtered->GetVideoInfo();
      std::printf(
          "frames: %d\nrate: %u/%u\nwidth: %d\nheight: %d\npixel_type: %s\ninput: %s\nfield_order: %s\noutput: %s\n",
          vi.num_frames, vi.fps_numerator, vi.fps_denominator, vi.width, vi.height, PixelTypeName(vi.pixel_type),
          formats.input.c_str(), formats.order.c_str(), formats.output.c_str());
      if (std::fflush(stdout) != 0 || std::ferror(stdout)) throw CliError("cannot write standard output");
      return;
    }
    RefuseFramelessClip(filtered, env);
    // Written beside the render and put in place only when it succeeds.
    std::unique_ptr<TimecodesFile> timecodes;
    if (!options.timecodes.empty())
      timecodes = std::make_unique<TimecodesFile>(options.timecodes, options.plan, filtered->GetVideoInfo().num_frames);
    Render(options, tuning, bands, env, filtered, *source, header, formats, planCodes);
    if (timecodes) timecodes->Commit();
  } catch (const AvisynthError& e) {
    failure = e.msg ? e.msg : "the filter failed";
  }
  if (!failure.empty()) throw CliError(failure);
}

}  // namespace cli
