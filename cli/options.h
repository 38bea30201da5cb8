// The command line of `zemivtc`.
#ifndef ZEMIVTC_CLI_OPTIONS_H
#define ZEMIVTC_CLI_OPTIONS_H

#include <string>
#include <vector>

#include "stream/frame_reader.h"

namespace cli {

struct Options {
  std::string plan;  // the filter's zemFile
  bool hasPlan = false;
  std::string input;
  std::string output = "-";
  std::string plugin;  // --plugin, accepted for old command lines and ignored with a warning
  stream::InputFormat inputFormat;
  // Sources read through FFMS2 (cli/input.h): --ffms2 FILE names its
  // library; --source-frames coded reads the coded frames instead of the
  // fields a player shows (player, the default).
  std::string ffms2;
  bool codedFrames = false;
  bool hasSourceFrames = false;
  bool rawOut = false;
  // --chroma-out 420|422; without it the output keeps the input's chroma
  // (4:2:2 for --raw-out).
  bool hasChromaOut = false;
  stream::Chroma chromaOut = stream::Chroma::Yuv422;
  bool info = false;
  bool quiet = false;
  bool help = false;
  bool version = false;
  // `zemivtc plan`: propose a plan from INPUT instead of rendering.
  bool planCommand = false;
  std::string planOut = "-";  // --out
  bool explain = false;
  std::string timeline;  // --timeline PNG
  // --field-order: 't' top field first, 'b' bottom field first; 0 when not
  // given (the input's header, else the footage, decides).
  char fieldOrder = 0;
  // `zemivtc edit`: the plan editor in the browser for INPUT (--plan,
  // --keep); --open starts the browser on it.
  bool editCommand = false;
  bool openBrowser = false;
  std::string review;  // --review DIR: the page of the places to look at
  std::string keep;    // --keep FILE: corrections the plan keeps
  // Render: timecodes file, and the rate the output header states.
  std::string timecodes;
  bool hasRate = false;
  unsigned rateNumerator = 60000;
  unsigned rateDenominator = 1001;
};

// Parses the arguments after the program name. Throws CliError with
// ExitUsage for anything it does not understand.
Options ParseOptions(const std::vector<std::string>& args);

// The help of the command line's form: the render, `zemivtc plan` or `zemivtc edit`.
std::string UsageText(const Options& options);

}  // namespace cli

#endif
