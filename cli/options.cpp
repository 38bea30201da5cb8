#include "cli/options.h"

#include "cli/errors.h"

namespace cli {
namespace {

[[noreturn]] void Usage(const std::string& message) { throw CliError(message, ExitUsage); }

void ParseRawSize(const std::string& text, stream::InputFormat* format) {
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
  if (format->rawWidth <= 0 || format->rawHeight <= 0 || format->rawWidth > stream::MaxDimension ||
      format->rawHeight > stream::MaxDimension)
    Usage("--raw size out of range (1 to " + std::to_string(stream::MaxDimension) + " each)");
  if (format->rawWidth % 2 != 0) Usage("--raw width must be even (packed 4:2:2)");
}

// N/D, both from 1 to 2^31 - 1.
void ParseRate(const std::string& text, Options* o) {
  const size_t slash = text.find('/');
  auto number = [&](const std::string& s) {
    if (s.empty() || s.size() > 10 || s.find_first_not_of("0123456789") != std::string::npos || std::stoll(s) < 1 ||
        std::stoll(s) > 2147483647)
      Usage("--rate wants N/D with whole numbers from 1 to 2147483647, e.g. --rate 24000/1001 (got \"" + text + "\")");
    return static_cast<unsigned>(std::stoll(s));
  };
  if (slash == std::string::npos) number("");
  o->rateNumerator = number(text.substr(0, slash));
  o->rateDenominator = number(text.substr(slash + 1));
  o->hasRate = true;
}

}  // namespace

Options ParseOptions(const std::vector<std::string>& args) {
  Options o;
  std::vector<std::string> positional;
  bool optionsDone = false;
  size_t first = 0;
  if (!args.empty() && args[0] == "plan") {
    o.planCommand = true;
    first = 1;
  } else if (!args.empty() && args[0] == "edit") {
    o.editCommand = true;
    first = 1;
  }
  for (size_t i = first; i < args.size(); ++i) {
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
    } else if (arg == "--ffms2") {
      o.ffms2 = takeValue();
      if (o.ffms2.empty()) Usage("--ffms2 needs the library's file name");
    } else if (arg == "--source-frames") {
      const std::string mode = takeValue();
      if (mode != "player" && mode != "coded") Usage("--source-frames wants player or coded (got \"" + mode + "\")");
      o.codedFrames = mode == "coded";
      o.hasSourceFrames = true;
    } else if (arg == "--chroma-out") {
      const std::string chroma = takeValue();
      if (chroma != "420" && chroma != "422") Usage("--chroma-out wants 420 or 422 (got \"" + chroma + "\")");
      o.chromaOut = chroma == "420" ? stream::Chroma::Yuv420 : stream::Chroma::Yuv422;
      o.hasChromaOut = true;
      if (o.planCommand) Usage("--chroma-out belongs to the render, not to zemivtc plan");
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
    } else if (arg == "--out" || arg == "-o") {
      o.planOut = takeValue();
      if (!o.planCommand) Usage(arg + " belongs to zemivtc plan (the render names OUTPUT after INPUT)");
    } else if (arg == "--explain") {
      noValue();
      o.explain = true;
      if (!o.planCommand) Usage("--explain belongs to zemivtc plan");
    } else if (arg == "--timeline") {
      o.timeline = takeValue();
      if (!o.planCommand) Usage("--timeline belongs to zemivtc plan");
    } else if (arg == "--field-order") {
      const std::string order = takeValue();
      if (order != "tff" && order != "bff") Usage("--field-order wants tff or bff (got \"" + order + "\")");
      o.fieldOrder = order == "tff" ? 't' : 'b';
    } else if (arg == "--review" || arg == "--keep") {
      (arg == "--review" ? o.review : o.keep) = takeValue();
      if (!o.planCommand && !(o.editCommand && arg == "--keep")) Usage(arg + " belongs to zemivtc plan");
      if ((arg == "--review" ? o.review : o.keep).empty()) Usage(arg + " needs a name");
    } else if (arg == "--open") {
      noValue();
      o.openBrowser = true;
      if (!o.editCommand) Usage("--open belongs to zemivtc edit");
    } else if (arg == "--timecodes") {
      o.timecodes = takeValue();
      if (o.planCommand) Usage("--timecodes belongs to the render, not to zemivtc plan");
    } else if (arg == "--rate") {
      ParseRate(takeValue(), &o);
      if (o.planCommand) Usage("--rate belongs to the render, not to zemivtc plan");
    } else {
      Usage("unknown option " + arg + " (see zemivtc --help)");
    }
  }
  if (o.help || o.version) return o;
  if (positional.empty())
    Usage("no INPUT given (a Y4M file, - for standard input, or a video file; see zemivtc --help)");
  if (positional.size() > 2) Usage("too many arguments: \"" + positional[2] + "\" (zemivtc takes INPUT [OUTPUT])");
  o.input = positional[0];
  if (positional.size() == 2) o.output = positional[1];
  if (o.input.empty() || o.output.empty()) Usage("empty file name");
  if (o.inputFormat.raw && (!o.ffms2.empty() || o.hasSourceFrames))
    Usage("--ffms2 and --source-frames are for sources read through FFMS2, not --raw frames");
  if (o.planCommand) {
    if (positional.size() > 1) Usage("zemivtc plan takes one INPUT; name the plan file with --out");
    if (o.hasPlan || o.rawOut || o.info || !o.plugin.empty())
      Usage(
          "zemivtc plan takes --out, --explain, --timeline, --review, --keep, --field-order, --raw, --ffms2, "
          "--source-frames and --quiet only");
    if (o.planOut.empty() || (!o.timeline.empty() && o.timeline == o.planOut))
      Usage("zemivtc plan: --out and --timeline need two different file names");
    if (o.review == "-" || o.keep == "-" || (!o.keep.empty() && (o.keep == o.planOut || o.keep == o.timeline)))
      Usage("zemivtc plan: --review and --keep need names of their own (not -, --out or --timeline)");
  }
  if (o.editCommand) {
    if (positional.size() > 1) Usage("zemivtc edit takes one SOURCE");
    if (o.rawOut || o.info || !o.plugin.empty() || o.hasChromaOut || o.hasRate || !o.timecodes.empty())
      Usage(
          "zemivtc edit takes --plan, --keep, --open, --field-order, --raw, --ffms2, --source-frames and --quiet "
          "only");
    if (o.input == "-" || o.keep == "-" || o.plan == "-" || (o.hasPlan && o.plan.empty()) ||
        (!o.keep.empty() && o.keep == o.plan))
      Usage("zemivtc edit: SOURCE, --plan and --keep need files of their own (not -)");
  }
  if (o.info && (o.hasRate || !o.timecodes.empty()))
    Usage("--info renders nothing; --rate and --timecodes belong to a render");
  if (o.hasRate && o.rawOut) Usage("--rate sets the Y4M header, which --raw-out does not write");
  if (o.rawOut && o.hasChromaOut && o.chromaOut == stream::Chroma::Yuv420)
    Usage("--raw-out writes packed yuyv422 (4:2:2); --chroma-out 420 needs a Y4M output");
  if (o.timecodes == "-" || (!o.timecodes.empty() && (o.timecodes == o.output || o.timecodes == o.input)))
    Usage("--timecodes needs a file of its own");
  return o;
}

namespace {

// What every form of the command says of its input and of the options they share.
const char* const InputHelp =
    "  INPUT              a YUV4MPEG2 file, or - for standard input; 8-bit 4:2:0\n"
    "                     (C420jpeg, C420mpeg2, C420paldv, C420, C420p8) or 4:2:2\n"
    "                     (C422, C422p8); or any other file FFMS2 opens (VOB, MKV,\n"
    "                     MPEG-TS, MP4)\n"
    "      --raw WxH      read packed yuyv422 frames of that size instead of Y4M\n"
    "      --ffms2 FILE   the FFMS2 library to read other files with (default:\n"
    "                     libffms2.so.5, ffms2.dll beside zemivtc.exe or on the PATH)\n"
    "      --source-frames player|coded\n"
    "                     read such a file's fields as a player shows them, with the\n"
    "                     repeat-first-field flags applied (player, the default), or\n"
    "                     its coded frames as they are; plan and render alike\n"
    "      --field-order tff|bff\n"
    "                     the input's first field: top or bottom (default: the\n"
    "                     header's It or Ib, or the stream's flags; else measured\n"
    "                     from the footage)\n"
    "  -q, --quiet        no progress line on standard error\n"
    "  -h, --help         this text\n";

const char* const ExitHelp = "\nExit status: 0 success, 1 input, filter or output error, 2 bad command line.\n";

std::string PlanUsage() {
  return std::string(
             "Usage: zemivtc plan [--out PLAN] [--explain] [--timeline PNG] [--review DIR]\n"
             "                    [--keep FILE] [--field-order tff|bff] [--raw WxH] INPUT\n"
             "\n"
             "Proposes a plan from INPUT's fields: one code per field position, to PLAN\n"
             "(standard output without --out), and a report on standard error that ends\n"
             "with the command line that renders it.\n"
             "\n") +
         InputHelp +
         "  -o, --out PLAN     the plan file to write (replaced only on success)\n"
         "      --explain      one line of measures per position on standard error\n"
         "      --timeline PNG the decisions drawn as a picture\n"
         "      --review DIR   a page of the places to check (DIR/index.html)\n"
         "      --keep FILE    corrections to keep, lines \"POSITION[-LAST] CODES\" (as\n"
         "                     the review page and zemivtc edit write them); the plan is\n"
         "                     fitted around them\n"
         "\n"
         "Example:\n"
         "  zemivtc plan --review movie-review --out movie.zem movie.vob\n" +
         ExitHelp;
}

std::string EditUsage() {
  return std::string(
             "Usage: zemivtc edit [--plan PLAN] [--keep FILE] [--open] [--field-order tff|bff]\n"
             "                    [--raw WxH] SOURCE\n"
             "\n"
             "Opens the plan of SOURCE in the browser (docs/edit.md): it prints the page's\n"
             "address, for this machine only. Every code set there goes at once into the\n"
             "keep file; \"Save plan\" writes PLAN and its timecodes (PLAN's name with .tc).\n"
             "\n") +
         InputHelp +
         "  -p, --plan PLAN    the plan to start from and to save to (default: SOURCE's\n"
         "                     name with .zem; made by the analysis when missing)\n"
         "      --keep FILE    the keep file (default: SOURCE's name with .keep)\n"
         "      --open         start the default browser on the page\n" +
         ExitHelp;
}

}  // namespace

std::string UsageText(const Options& options) {
  if (options.planCommand) return PlanUsage();
  if (options.editCommand) return EditUsage();
  return std::string(
             "Usage: zemivtc --plan PLAN [options] INPUT [OUTPUT]\n"
             "       zemivtc plan [options] INPUT     (zemivtc plan --help)\n"
             "       zemivtc edit [options] SOURCE    (zemivtc edit --help)\n"
             "\n"
             "Runs the ZEMIVTC filter over a video stream: each byte of PLAN is one field\n"
             "position of INPUT, and its code says which frame is made there.\n"
             "\n") +
         InputHelp +
         "  OUTPUT             a Y4M file (the input's chroma, 60000/1001), or - for\n"
         "                     standard output (the default); a file is replaced only on success\n"
         "  -p, --plan PLAN    the plan file (the filter's zemFile)\n"
         "      --raw-out      write packed yuyv422 frames instead of Y4M\n"
         "      --chroma-out 420|422\n"
         "                     write 4:2:0 or 4:2:2 (default: the input's chroma)\n"
         "      --timecodes F  write the output frames' times to F (timecode format v2),\n"
         "                     for mkvmerge where film and video mix\n"
         "      --rate N/D     state this rate in the output header instead of 60000/1001\n"
         "                     (24000/1001 for a plan that is film throughout)\n"
         "      --info         print the output clip's properties and render nothing\n"
         "      --plugin PATH  ignored: the filter is built into zemivtc (kept for old\n"
         "                     command lines)\n"
         "  -V, --version      the version\n"
         "\n"
         "Example:\n"
         "  zemivtc plan --out movie.zem movie.vob\n"
         "  zemivtc --plan movie.zem --timecodes movie.tc movie.vob - |\n"
         "      ffmpeg -f yuv4mpegpipe -i - -c:v libx264 video.mkv\n"
         "\n"
         "zemivtc plan proposes a plan from INPUT's fields; zemivtc edit opens it in the\n"
         "browser to check and change it.\n" +
         ExitHelp;
}

}  // namespace cli
