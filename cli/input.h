// The command's input, chosen by its content: a Y4M stream (a file or a
// pipe, starting "YUV4MPEG2") or raw frames (--raw) are read as they are;
// any other regular file (a DVD's VOB, an MKV, a transport stream, ...) is
// read through FFMS2 (source/), its frames served as a seekable Y4M stream
// would serve them. The analysis, the render, the review and the editor
// all read through the stream::FrameReader this gives.
#ifndef ZEMIVTC_CLI_INPUT_H
#define ZEMIVTC_CLI_INPUT_H

#include <memory>
#include <string>

#include "cli/options.h"
#include "source/ffms2_source.h"
#include "stream/frame_reader.h"

namespace cli {

struct InputNotes {
  bool decoded = false;  // read through FFMS2
  source::SourceProperties properties;
};

// Opens options.input: indexing a new source shows progress (unless
// quiet). Throws CliError: the reader's refusals, FFMS2's reason with the
// ffmpeg command that makes a Y4M instead, one line on what to install
// where FFMS2 is missing, and --ffms2 or --source-frames given for a Y4M
// stream (a bad command line).
std::unique_ptr<stream::FrameReader> OpenInput(const Options& options, bool mapFile = true,
                                               InputNotes* notes = nullptr);

// The options a render needs to read a decoded source as the plan did
// (" --source-frames coded", " --ffms2 FILE"); OpenInput refuses them for
// the rest, so they are empty there.
std::string SourceOptions(const Options& options);

// The report's line on a decoded source: container, codec, the field mode,
// the fields the repeat flags showed again (soft telecine) and the fields
// and frames dropped; empty for the rest.
std::string SourceReportLine(const Options& options, const InputNotes& notes);

}  // namespace cli

#endif
