#include "review/frame_source.h"

#include "cli/errors.h"

namespace review {
namespace {

class StreamSource : public FrameSource {
 public:
  StreamSource(const std::string& path, const stream::InputFormat& format)
      : reader(stream::OpenFrameReader(path, format)), raw(format.raw) {
    if (!reader->Seekable())
      throw cli::CliError("zemivtc edit reads frames again as you step: " + path + " must be a file, not a pipe");
  }
  int Width() const override { return reader->Header().width; }
  int Height() const override { return reader->Header().height; }
  std::string FormatName() const override { return stream::InputFormatName(reader->Header(), raw); }
  const uint8_t* NextLuma() override {
    stored = stream::StoredFrame();
    if (!reader->ReadStoredFrame(&stored)) return nullptr;
    return reader->StoredLuma(stored, &lumaScratch);
  }
  void ReadPacked(int n, std::vector<uint8_t>* yuy2) override {
    yuy2->resize(static_cast<size_t>(2 * Width()) * Height());
    if (!reader->ReadFrame(n, yuy2->data(), 2 * Width()))
      throw cli::CliError("input frame " + std::to_string(n) + " is gone: the input changed while it was open");
  }
  cli::FieldOrderDecision FieldOrder(char requested, const analysis::FieldOrderVerdict* measured) override {
    return cli::DecideFieldOrder(requested, *reader, measured);
  }

 private:
  std::unique_ptr<stream::FrameReader> reader;
  bool raw;
  stream::StoredFrame stored;
  std::vector<uint8_t> lumaScratch;
};

}  // namespace

std::unique_ptr<FrameSource> OpenStreamSource(const std::string& path, const stream::InputFormat& format) {
  if (path == "-") throw cli::CliError("zemivtc edit reads frames again as you step: SOURCE must be a file, not -");
  return std::make_unique<StreamSource>(path, format);
}

}  // namespace review
