#include "cli/options.h"

#include "cli/errors.h"

namespace cli {
namespace {

[[noreturn]] void Usage(const std::string& message) { throw CliError(message, ExitUsage); }

void ParseRawSize(const std::string& text, InputFormat* format) {
  const size_t x = text.find('x');
  auto number = [&](const std::string& s) {
    if (s.empty() || s.size() > 5 || s.find_first_not_of("0123456789") != std::string::npos)
      Usage("--raw wants WIDTHxHEIGHT, e.g. --raw 720x480 (got \"" + text + "\")");
    return std::stoi(s);
  };
  if (x == std::string::npos) Usage("--raw wants WIDTHxHEIGHT, e.g. --raw 720x480 (got \"" + text + "\")");
  format->raw = true;
  format->rawWidth = number(text.substr(0, x));
  format->rawHeight = number(text.substr(x + 1));
  if (format->rawWidth <= 0 || format->rawHeight <= 0 || format->rawWidth > MaxDimension ||
      format->rawHeight > MaxDimension)
    Usage("--raw size out of range (1 to " + std::to_string(MaxDimension) + " each)");
  if (format->rawWidth % 2 != 0) Usage("--raw width must be even (packed 4:2:2)");
}

}  // namespace

Options ParseOptions(const std::vector<std::string>& args) {
  Options o;
  std::vector<std::string> positional;
  bool optionsDone = false;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    if (optionsDone || arg == "-" || arg.empty() || arg[0] != '-') {
      positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsDone = true;
      continue;
    }
    std::string value;
    bool hasValue = false;
    const size_t eq = arg.find('=');
    if (arg.compare(0, 2, "--") == 0 && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
      hasValue = true;
    }
    auto takeValue = [&]() -> std::string {
      if (hasValue) return value;
      if (i + 1 >= args.size()) Usage(arg + " needs a value");
      return args[++i];
    };
    auto noValue = [&]() {
      if (hasValue) Usage(arg + " takes no value");
    };
    if (arg == "--plan" || arg == "-p") {
      o.plan = takeValue();
      o.hasPlan = true;
    } else if (arg == "--plugin") {
      o.plugin = takeValue();
      if (o.plugin.empty()) Usage("--plugin needs a path");
    } else if (arg == "--raw") {
      ParseRawSize(takeValue(), &o.inputFormat);
    } else if (arg == "--raw-out") {
      noValue();
      o.rawOut = true;
    } else if (arg == "--info") {
      noValue();
      o.info = true;
    } else if (arg == "--quiet" || arg == "-q") {
      noValue();
      o.quiet = true;
    } else if (arg == "--help" || arg == "-h") {
      noValue();
      o.help = true;
    } else if (arg == "--version" || arg == "-V") {
      noValue();
      o.version = true;
    } else {
      Usage("unknown option " + arg + " (see zemivtc --help)");
    }
  }
  if (o.help || o.version) return o;
  if (positional.empty()) Usage("no INPUT given (a Y4M file, or - for standard input; see zemivtc --help)");
  if (positional.size() > 2) Usage("too many arguments: \"" + positional[2] + "\" (zemivtc takes INPUT [OUTPUT])");
  o.input = positional[0];
  if (positional.size() == 2) o.output = positional[1];
  if (o.input.empty() || o.output.empty()) Usage("empty file name");
  return o;
}

std::string UsageText() {
  return "Usage: zemivtc --plan PLAN [options] INPUT [OUTPUT]\n"
         "\n"
         "Runs the ZEMIVTC filter over a video stream: each byte of PLAN is one field\n"
         "position of INPUT, and its code says which frame is made there.\n"
         "\n"
         "  INPUT              a YUV4MPEG2 file, or - for standard input; 8-bit 4:2:2 (C422)\n"
         "  OUTPUT             a Y4M file (planar 4:2:2, 60000/1001), or - for standard\n"
         "                     output (the default); a file is replaced only on success\n"
         "  -p, --plan PLAN    the plan file (the filter's zemFile)\n"
         "      --raw WxH      read packed yuyv422 frames of that size instead of Y4M\n"
         "      --raw-out      write packed yuyv422 frames instead of Y4M\n"
         "      --info         print the output clip's properties and render nothing\n"
         "      --plugin PATH  load this filter module instead of the default one\n"
         "  -q, --quiet        no progress line on standard error\n"
         "  -h, --help         this text\n"
         "  -V, --version      the version\n"
         "\n"
         "Example:\n"
         "  ffmpeg -i in.mkv -pix_fmt yuv422p -f yuv4mpegpipe - | zemivtc --plan movie.zem - - |\n"
         "      ffmpeg -f yuv4mpegpipe -i - -c:v libx264 out.mkv\n"
         "\n"
         "Exit status: 0 success, 1 input, filter or output error, 2 bad command line.\n";
}

}  // namespace cli
