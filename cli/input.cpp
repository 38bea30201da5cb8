#include "cli/input.h"

#include <cstring>
#include <vector>

#include "cli/errors.h"
#include "cli/progress.h"
#include "platform/system.h"

namespace cli {
namespace {

// A Ffms2Source as the frames a reader serves.
class Ffms2Frames : public stream::DecodedFrames {
 public:
  explicit Ffms2Frames(std::unique_ptr<source::Ffms2Source> source) : source(std::move(source)) {}
  int Count() const override { return source->Properties().frameCount; }
  std::shared_ptr<const std::vector<uint8_t>> Frame(int n) override { return source->Frame(n).owner; }

 private:
  std::unique_ptr<source::Ffms2Source> source;
};

// Whether the file at `path` goes to the Y4M reader: a pipe, a device, a
// file that starts as a Y4M stream (or is too short to tell, which the Y4M
// reader then refuses), or one that cannot be opened (the reader says why).
bool ReadAsY4m(const std::string& path) {
  if (path == "-" || !sys::StatusOf(path).regular) return true;
  const int fd = sys::OpenForReading(path);
  if (fd < 0) return true;
  static const char Magic[] = "YUV4MPEG2";
  char start[sizeof Magic - 1] = {0};
  const int64_t got = sys::ReadAt(fd, start, sizeof start, 0);
  sys::Close(fd);
  return got >= 0 && std::memcmp(start, Magic, static_cast<size_t>(got)) == 0;
}

}  // namespace

std::unique_ptr<stream::FrameReader> OpenInput(const Options& options, bool mapFile, InputNotes* notes) {
  if (options.inputFormat.raw || ReadAsY4m(options.input)) {
    if (!options.ffms2.empty() || options.hasSourceFrames)
      throw CliError(std::string(options.hasSourceFrames ? "--source-frames" : "--ffms2") +
                         " is for sources read through FFMS2; " +
                         (options.input == "-" ? "standard input" : options.input) +
                         (options.inputFormat.raw ? " is raw frames" : " is a Y4M stream") + ", read as it is",
                     ExitUsage);
    return stream::OpenFrameReader(options.input, options.inputFormat, mapFile);
  }
  source::Ffms2Options ffms2;
  ffms2.mode = options.codedFrames ? source::FieldMode::Coded : source::FieldMode::Player;
  ffms2.library = options.ffms2;
  // The first opening of a file indexes it and reads every frame: a line
  // for each stage.
  const bool shown = ProgressWanted(options.quiet);
  std::unique_ptr<Progress> progress;
  std::string stage;
  ffms2.progress = [&](const source::IndexProgress& p) {
    if (!shown) return;
    if (stage != p.stage) {
      progress.reset();
      stage = p.stage;
      const bool bytes = stage == "indexing";
      progress = std::make_unique<Progress>(
          true, "zemivtc: " + (bytes ? "indexing " + options.input : "reading every frame once (first opening)"),
          bytes ? "" : "frame");
    }
    progress->Update(p.done, p.total);
  };
  std::unique_ptr<source::Ffms2Source> source = source::Ffms2Source::Open(options.input, ffms2);
  progress.reset();
  const stream::Y4mHeader header = source->Header();
  if (notes) {
    notes->decoded = true;
    notes->properties = source->Properties();
  }
  const std::string reason = source->Properties().orderReason;
  auto reader =
      std::make_unique<stream::FrameReader>(std::make_unique<Ffms2Frames>(std::move(source)), header, options.input);
  reader->SetOrderOrigin("the stream's flags: " + reason);
  return reader;
}

std::string SourceOptions(const Options& options) {
  return std::string(options.codedFrames ? " --source-frames coded" : "") +
         (options.ffms2.empty() ? "" : " --ffms2 " + options.ffms2);
}

std::string SourceReportLine(const Options& options, const InputNotes& notes) {
  if (!notes.decoded) return "";
  const source::SourceProperties& p = notes.properties;
  std::string line = "  source:      " + p.container + " (" + p.codec + ") through FFMS2, " +
                     std::to_string(p.codedFrames) + " coded frames";
  if (options.codedFrames) {
    line += " as coded (--source-frames coded): no repeat-first-field flag applied";
  } else if (p.repeatedFields > 0) {
    line += " as a player shows them: repeat-first-field flags applied (soft telecine), " +
            std::to_string(p.repeatedFields) + (p.repeatedFields == 1 ? " field" : " fields") + " repeated";
  } else {
    line += " as a player shows them: no repeat-first-field flags";
  }
  if (p.droppedFields > 0)
    line += ", " + std::to_string(p.droppedFields) + (p.droppedFields == 1 ? " field" : " fields") +
            " without a partner dropped";
  if (p.leadingFramesDropped > 0)
    line += ", " + std::to_string(p.leadingFramesDropped) + " frames before the first key frame dropped";
  return line + "\n";
}

}  // namespace cli
