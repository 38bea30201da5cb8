#include "review/frame_source.h"

#include "cli/errors.h"
#include "cli/input.h"
#include "stream/output.h"

namespace review {
namespace {

class StreamSource : public FrameSource {
 public:
  explicit StreamSource(const cli::Options& options)
      : reader(cli::OpenInput(options)), raw(options.inputFormat.raw), frameCount(reader->EstimatedFrameCount()) {
    if (!reader->Seekable())
      throw cli::CliError("zemivtc edit reads frames again as you step: " + options.input +
                          " must be a file, not a pipe");
  }
  int Width() const override { return reader->Header().width; }
  int Height() const override { return reader->Header().height; }
  int FrameCount() const override { return frameCount; }
  std::string FormatName() const override { return stream::InputFormatName(reader->Header(), raw); }
  const uint8_t* NextLuma() override {
    stored = stream::StoredFrame();
    if (!reader->ReadStoredFrame(&stored)) return nullptr;
    return reader->StoredLuma(stored, &lumaScratch);
  }
  void ReadPacked(int n, std::vector<uint8_t>* yuy2) override {
    yuy2->resize(static_cast<size_t>(2 * Width()) * Height());
    if (!reader->ReadFrame(n, yuy2->data(), 2 * Width())) Gone(n);
  }
  FrameFormat StoredFormat() const override { return stream::StreamFrameFormat(raw, reader->Header().chroma); }
  stream::StoredFrame Stored(int n) override {
    stream::StoredFrame frame;
    if (!reader->ReadFrame(n, nullptr, 0, &frame)) Gone(n);
    reader->LoadStoredBytes(frame);
    return frame;
  }
  cli::FieldOrderDecision FieldOrder(char requested, const analysis::FieldOrderVerdict* measured) override {
    return cli::DecideFieldOrder(requested, *reader, measured);
  }

 private:
  [[noreturn]] static void Gone(int n) {
    throw cli::CliError("input frame " + std::to_string(n) + " is gone: the input changed while it was open");
  }

  std::unique_ptr<stream::FrameReader> reader;
  bool raw;
  int frameCount;
  stream::StoredFrame stored;
  std::vector<uint8_t> lumaScratch;
};

}  // namespace

std::unique_ptr<FrameSource> OpenStreamSource(const cli::Options& options) {
  if (options.input == "-")
    throw cli::CliError("zemivtc edit reads frames again as you step: SOURCE must be a file, not -");
  return std::make_unique<StreamSource>(options);
}

std::unique_ptr<FrameSource> OpenStreamSource(const std::string& path, const stream::InputFormat& format) {
  cli::Options options;
  options.input = path;
  options.inputFormat = format;
  options.quiet = true;
  return OpenStreamSource(options);
}

}  // namespace review
