// Where the editor gets its frames: one small interface over any source the
// command reads (Y4M and raw files, and containers read through FFMS2).
// Frames come as the source stores them, for the filter's core, or as
// packed YUY2 rows for the pictures, in the source's own row order (a
// bottom-field-first source is not turned over here).
#ifndef ZEMIVTC_REVIEW_FRAME_SOURCE_H
#define ZEMIVTC_REVIEW_FRAME_SOURCE_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "analysis/field_order.h"
#include "cli/field_order.h"
#include "cli/options.h"
#include "compose/planes.h"
#include "stream/frame_reader.h"

namespace review {

class FrameSource {
 public:
  virtual ~FrameSource() = default;
  virtual int Width() const = 0;
  virtual int Height() const = 0;
  // Frames it holds, where known before they are read; else -1.
  virtual int FrameCount() const = 0;
  // "720x480 4:2:0 (C420mpeg2)", for messages.
  virtual std::string FormatName() const = 0;
  // The frames' luma planes (Width() bytes a row, rows packed) from frame 0
  // on, once, for the analysis; nullptr after the last. The plane stays
  // valid until the next call.
  virtual const uint8_t* NextLuma() = 0;
  // Frame n as YUY2 rows of 2 * Width() bytes. Throws CliError when the
  // source no longer holds it.
  virtual void ReadPacked(int n, std::vector<uint8_t>* yuy2) = 0;
  // How Stored() frames lie (stream::StreamFrameFormat), and frame n so,
  // its bytes at `data` as long as the frame is held.
  virtual FrameFormat StoredFormat() const = 0;
  virtual stream::StoredFrame Stored(int n) = 0;
  // The field order by the command's rule: `requested` ('t', 'b' or 0),
  // else what the source's container says, else `measured` (nullptr before
  // the analysis).
  virtual cli::FieldOrderDecision FieldOrder(char requested, const analysis::FieldOrderVerdict* measured) = 0;
};

// The command's input as the options name it (cli::OpenInput): a Y4M or
// raw file, or a container read through FFMS2; not a pipe, since the
// editor reads frames again at will. Throws CliError when it cannot be
// opened or read.
std::unique_ptr<FrameSource> OpenStreamSource(const cli::Options& options);
// The same for `path` alone, read as `format` says, quietly.
std::unique_ptr<FrameSource> OpenStreamSource(const std::string& path, const stream::InputFormat& format);

}  // namespace review

#endif
