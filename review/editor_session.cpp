#include "review/editor_session.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "analysis/keep.h"
#include "cli/errors.h"
#include "cli/plan_command.h"
#include "cli/timecodes.h"
#include "plan/frame_plan.h"
#include "review/thumbnails.h"
#include "stream/output.h"
#include "stream/png.h"
#include "stream/row_bands.h"

namespace review {
namespace {

using cli::CliError;

// A keep file may name every position of the longest plan, a line each (as
// `zemivtc plan --keep` reads it).
constexpr size_t MaxPlanBytes = 10485760;
constexpr size_t MaxKeepBytes = 16 * MaxPlanBytes;
constexpr size_t FrameCacheSize = 8;

std::string Stem(const std::string& path) {
  const size_t slash = path.find_last_of("/\\"), dot = path.rfind('.');
  return dot != std::string::npos && dot > 0 && (slash == std::string::npos || dot > slash + 1) ? path.substr(0, dot)
                                                                                                : path;
}

// The file's text, or nothing when it does not exist. Throws CliError when it
// cannot be read or is longer than `limit`.
bool ReadText(const std::string& path, size_t limit, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream all;
  char buffer[65536];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    all.write(buffer, in.gcount());
    if (static_cast<size_t>(all.tellp()) > limit)
      throw CliError(path + " is longer than " + std::to_string(limit) + " bytes");
  }
  if (in.bad()) throw CliError("cannot read " + path);
  *text = all.str();
  return true;
}

void WriteWhole(const std::string& path, const std::string& text) {
  stream::OutputFile out(path);
  out.Write(text.data(), text.size());
  out.Commit();
}

// The timeline's stretch colours: film, irregular film, progressive, video.
char StretchLetter(const analysis::Decision& d) {
  return d.stretch == analysis::Stretch::Film          ? (d.cadence < 0 ? 'i' : 'f')
         : d.stretch == analysis::Stretch::Progressive ? 'p'
                                                       : 'v';
}

std::string IntList(const std::vector<int>& values) {
  std::string s = "[";
  for (size_t i = 0; i < values.size(); ++i) s += (i ? "," : "") + std::to_string(values[i]);
  return s + "]";
}

// The positions of one cycle of a cadence: its pictures' fields, twice when
// odd, since the codes repeat only once the parity of the frames does too.
int CyclePositions(int cadence) {
  if (cadence < 0) return 0;
  int fields = 0;
  for (char c : analysis::CadenceName(cadence))
    if (c >= '0' && c <= '9') fields += c - '0';
  if (fields == 0) return 0;
  return fields % 2 == 0 ? fields : 2 * fields;
}

}  // namespace

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

EditorFiles DefaultEditorFiles(const std::string& source, const std::string& keep, const std::string& plan) {
  EditorFiles f;
  f.source = source;
  f.keep = keep.empty() ? Stem(source) + ".keep" : keep;
  f.plan = plan.empty() ? Stem(source) + ".zem" : plan;
  f.timecodes = Stem(f.plan) + ".tc";
  if (f.timecodes == f.plan) f.timecodes += ".tc";
  f.state = f.keep + ".state";
  return f;
}

std::string KeepFileText(const std::map<int, char>& kept, const std::vector<std::string>& comments) {
  std::string text;
  for (const std::string& c : comments) text += c + "\n";
  for (auto it = kept.begin(); it != kept.end();) {
    const int first = it->first;
    std::string run;
    int last = first;
    for (; it != kept.end() && it->first == first + static_cast<int>(run.size()); ++it) {
      run += it->second;
      last = it->first;
    }
    const bool same = run.find_first_not_of(run[0]) == std::string::npos;
    text += first == last ? std::to_string(first) + " " + run
                          : std::to_string(first) + "-" + std::to_string(last) + " " + (same ? run.substr(0, 1) : run);
    text += "\n";
  }
  return text;
}

void CheckKeepFile(const std::string& path) {
  std::string text;
  if (!ReadText(path, MaxKeepBytes, &text)) return;
  try {
    analysis::ParseKeepFile(text, path);
  } catch (const analysis::KeepError& e) {
    throw CliError(e.what());
  }
}

SourceAnalysis AnalyzeSource(FrameSource& source, char fieldOrder, const std::function<void(int)>& progress) {
  const int width = source.Width(), height = source.Height();
  SourceAnalysis result;
  stream::RowBands bands;
  // Bands of whole block rows, each worth a thread's while (as the plan
  // command takes them).
  const int blockRowPixels = 2 * analysis::FieldAnalyzer::BlockFieldRows * width;
  const int minBlockRows = std::max(1, 131072 / blockRowPixels);
  analysis::FieldAnalyzer analyzer(width, height, [&](int count, const std::function<void(int, int)>& work) {
    bands.Run(count, minBlockRows, work);
  });
  while (const uint8_t* luma = source.NextLuma()) {
    analyzer.AddFrame(luma, width);
    if (progress) progress(analyzer.Frames());
  }
  result.frames = analyzer.Frames();
  if (result.frames < 2)
    throw CliError(result.frames == 1 ? "the input has 1 frame; a plan needs at least 2"
                                      : "the input has no frames; a plan needs at least 2");
  result.fieldSamples = analyzer.FieldSamples();
  const analysis::FieldAnalyzer::Result both = analyzer.Finish();
  const analysis::FieldOrderVerdict verdict = analysis::MeasureFieldOrder(both, result.fieldSamples);
  result.order = source.FieldOrder(fieldOrder, &verdict);
  result.measures =
      both.In(result.order.bottomFirst ? analysis::FieldOrder::BottomFirst : analysis::FieldOrder::TopFirst);
  return result;
}

EditorSession::EditorSession(std::unique_ptr<FrameSource> frameSource, SourceAnalysis sourceAnalysis,
                             const EditorFiles& editorFiles)
    : source(std::move(frameSource)),
      analysis(std::move(sourceAnalysis)),
      files(editorFiles),
      composer(source->Width(), source->Height(), source->StoredFormat(), analysis.order.bottomFirst) {
  const int positions = static_cast<int>(analysis.measures.size());
  std::string text;
  if (ReadText(files.keep, MaxKeepBytes, &text)) {
    try {
      for (const analysis::KeepLine& line : analysis::ParseKeepFile(text, files.keep))
        for (int p = line.first; p <= line.last; ++p) kept[p] = line.CodeAt(p);
      analysis::KeepConstraints(analysis::ParseKeepFile(text, files.keep), positions, files.keep);
    } catch (const analysis::KeepError& e) {
      throw CliError(e.what());
    }
    // Lines that are comments alone stay at the top of the file.
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line))
      if (line.find_first_not_of(" \t") != std::string::npos && line[line.find_first_not_of(" \t")] == '#')
        keepComments.push_back(line);
  }
  Replan();
  moved.clear();
  // The codes as the person left them (the state file's, written with every
  // change), else the saved plan's; kept codes stand over either.
  std::string resumed;
  if (ReadText(files.state, 2 * MaxPlanBytes, &text)) {
    std::istringstream in(text);
    std::string word;
    while (in >> word) {
      if (word == "codes") {
        in >> resumed;
        continue;
      }
      int value = 0;
      in >> value;
      if (word == "position") position = std::min(std::max(value, 0), positions - 1);
      if (word == "zoom") zoom = std::min(std::max(value, 0), 64);
    }
  }
  if (static_cast<int>(resumed.size()) != positions && ReadText(files.plan, MaxPlanBytes, &text)) {
    if (static_cast<int>(text.size()) != positions)
      throw CliError("the plan " + files.plan + " has " + std::to_string(text.size()) + " positions, but " +
                     files.source + " has " + std::to_string(positions) +
                     "; name another with --plan, or move it away to start from a new plan");
    resumed = text;
  }
  // Bytes other than codes make no frame, as '0' does.
  if (static_cast<int>(resumed.size()) == positions)
    for (int p = 0; p < positions; ++p)
      if (kept.count(p) == 0)
        current.positions[p].code = codes[p] = resumed[p] >= '0' && resumed[p] <= '6' ? resumed[p] : '0';
  started = true;
}

const uint8_t* EditorSession::Frame(int n) {
  for (auto it = frameCache.begin(); it != frameCache.end(); ++it)
    if (it->first == n) {
      frameCache.splice(frameCache.begin(), frameCache, it);
      return frameCache.front().second.data();
    }
  std::vector<uint8_t> rows;
  if (frameCache.size() >= FrameCacheSize) {
    rows = std::move(frameCache.back().second);
    frameCache.pop_back();
  }
  source->ReadPacked(n, &rows);
  frameCache.emplace_front(n, std::move(rows));
  return frameCache.front().second.data();
}

PackedFrame EditorSession::Packed(int n) {
  return PackedFrame{Frame(n), 2 * static_cast<ptrdiff_t>(source->Width()), source->Width(), source->Height()};
}

std::string EditorSession::Summary() {
  std::vector<uint8_t> bytes(codes.begin(), codes.end());
  const int frames = CountPlanFrames(bytes.data(), static_cast<int32_t>(bytes.size()));
  return "\"frames\":" + std::to_string(frames) + ",\"render\":" +
         JsonString(cli::RenderAdvice(current, analysis.order, files.plan, files.source, analysis.sourceOptions)) +
         ",\"undo\":" + (done.empty() ? "false" : "true") + ",\"redo\":" + (undone.empty() ? "false" : "true");
}

std::string EditorSession::StateJson() {
  std::lock_guard<std::mutex> hold(lock);
  std::string stretches(codes.size(), 'f'), keptFlags(codes.size(), '.');
  std::vector<int> breaks;
  for (size_t p = 0; p < codes.size(); ++p) {
    stretches[p] = StretchLetter(current.positions[p]);
    if (current.positions[p].cadenceBreak) breaks.push_back(static_cast<int>(p));
  }
  for (const auto& k : kept) keptFlags[k.first] = 'k';
  const std::string name = files.source.substr(files.source.find_last_of("/\\") + 1);
  return "{\"source\":" + JsonString(name) + ",\"width\":" + std::to_string(source->Width()) +
         ",\"height\":" + std::to_string(source->Height()) +
         ",\"bottomFirst\":" + (analysis.order.bottomFirst ? "true" : "false") + ",\"codes\":" + JsonString(codes) +
         ",\"stretches\":" + JsonString(stretches) + ",\"kept\":" + JsonString(keptFlags) +
         ",\"places\":" + IntList(places) + ",\"breaks\":" + IntList(breaks) + ",\"moved\":" + IntList(moved) +
         ",\"position\":" + std::to_string(position) + ",\"zoom\":" + std::to_string(zoom) + "," + Summary() + "}";
}

std::string EditorSession::PositionJson(int p) {
  std::lock_guard<std::mutex> hold(lock);
  if (p < 0 || p >= Positions()) return "{\"error\":\"no such position\"}";
  const analysis::FieldOrder order =
      analysis.order.bottomFirst ? analysis::FieldOrder::BottomFirst : analysis::FieldOrder::TopFirst;
  std::string explain = cli::ExplainLine(current, analysis.measures, p, order);
  while (!explain.empty() && explain.back() == '\n') explain.pop_back();
  return "{\"position\":" + std::to_string(p) + ",\"code\":" + JsonString(std::string(1, codes[p])) +
         ",\"kept\":" + (kept.count(p) ? "true" : "false") + ",\"explain\":" + JsonString(explain) + "}";
}

std::string EditorSession::Picture(PictureKind kind, int p, char code) {
  std::lock_guard<std::mutex> hold(lock);
  const int positions = Positions();
  const bool bottomFirst = analysis.order.bottomFirst;
  // The frames whose top and bottom fields position q weaves.
  auto topFrame = [&](int q) { return bottomFirst ? q / 2 : (q + 1) / 2; };
  auto bottomFrame = [&](int q) { return bottomFirst ? (q + 1) / 2 : q / 2; };
  const int q = kind == PictureKind::Previous ? p - 1 : kind == PictureKind::Next ? p + 1 : p;
  if (q < 0 || q >= positions) return "";
  RgbPicture rgb;
  if (kind == PictureKind::Output) {
    // The source frames as stored, held while the composer reads them.
    std::vector<stream::StoredFrame> held;
    const bool made = composer.Compose(
        p, code,
        [&](int n) {
          held.push_back(source->Stored(n));
          return held.back().data;
        },
        &outputFrame);
    if (!made) return "";
    const FrameFormat format = source->StoredFormat();
    if (format == FormatYuy2) {
      outputRows = outputFrame;
    } else {
      outputRows.resize(2 * static_cast<size_t>(source->Width()) * source->Height());
      stream::PlanarToPacked(outputFrame.data(), source->Width(), source->Height(), outputRows.data(),
                             2 * static_cast<ptrdiff_t>(source->Width()),
                             {format == FormatYuv420 ? stream::Chroma::Yuv420 : stream::Chroma::Yuv422, false});
    }
    rgb = FramePicture(
        PackedFrame{outputRows.data(), 2 * static_cast<ptrdiff_t>(source->Width()), source->Width(), source->Height()});
  } else {
    const PackedFrame top = Packed(topFrame(q));
    const PackedFrame bottom = Packed(bottomFrame(q));
    switch (kind) {
      case PictureKind::TopField: rgb = Thumbnail(top, bottom, FieldChoice::Top, EditorThumbnailWidth); break;
      case PictureKind::BottomField: rgb = Thumbnail(top, bottom, FieldChoice::Bottom, EditorThumbnailWidth); break;
      case PictureKind::CloseUp: rgb = CloseUp(top, bottom); break;
      default: rgb = Thumbnail(top, bottom, FieldChoice::Both, EditorThumbnailWidth);
    }
  }
  return stream::EncodePng(rgb.width, rgb.height, rgb.rgb,
                           kind == PictureKind::Output ? stream::PngEffort::Stored : stream::PngEffort::Fast);
}

void EditorSession::WriteKeepFile() {
  std::vector<std::string> comments = keepComments;
  if (comments.empty())
    comments.push_back("# kept codes of " + files.source.substr(files.source.find_last_of("/\\") + 1) +
                       " (zemivtc edit writes this file after every change; zemivtc plan --keep reads it)");
  WriteWhole(files.keep, KeepFileText(kept, comments));
}

void EditorSession::WriteState() {
  WriteWhole(files.state,
             "position " + std::to_string(position) + "\nzoom " + std::to_string(zoom) + "\ncodes " + codes + "\n");
}

bool EditorSession::Apply(const Edit& edit, std::string* answer) {
  // The keep file the edit makes must read back as it is, with no two codes
  // that contradict each other: else the edit is refused and nothing changes.
  std::map<int, char> next = kept;
  for (const Change& c : edit) {
    if (c.keptAfter)
      next[c.position] = c.keptAfter;
    else
      next.erase(c.position);
  }
  try {
    const std::string name = files.keep.substr(files.keep.find_last_of("/\\") + 1);
    analysis::KeepConstraints(analysis::ParseKeepFile(KeepFileText(next, {}), name), Positions(), name);
  } catch (const analysis::KeepError& e) {
    std::string why = e.what();
    why = why.substr(why.find(": ") == std::string::npos ? 0 : why.find(": ") + 2);
    *answer = "{\"error\":" + JsonString("not set: " + why) + "}";
    return false;
  }
  const std::map<int, char> before = kept;
  kept = next;
  try {
    WriteKeepFile();
  } catch (const CliError& e) {
    kept = before;
    *answer = "{\"error\":" + JsonString(std::string("not set: ") + e.what()) + "}";
    return false;
  }
  std::string changes;
  for (const Change& c : edit) {
    codes[c.position] = c.codeAfter;
    current.positions[c.position].code = c.codeAfter;
    current.positions[c.position].stretch = c.stretchAfter;
    changes += std::string(changes.empty() ? "" : ",") + "[" + std::to_string(c.position) + "," +
               JsonString(std::string(1, c.codeAfter)) + "," + (c.keptAfter ? "true" : "false") + ",\"" +
               StretchLetter(current.positions[c.position]) + "\"]";
  }
  *answer = "\"changes\":[" + changes + "]";
  try {
    WriteState();
  } catch (const CliError& e) {
    *answer += ",\"warning\":" + JsonString(e.what());
  }
  return true;
}

std::string EditorSession::Record(Edit edit) {
  std::string answer;
  if (!Apply(edit, &answer)) return answer;
  doneChanges += edit.size();
  done.push_back(std::move(edit));
  undone.clear();
  while (doneChanges > MaxUndoChanges && done.size() > 1) {
    doneChanges -= done.front().size();
    done.pop_front();
  }
  return "{" + answer + "," + Summary() + "}";
}

std::string EditorSession::SetCodes(int first, int last, const std::string& newCodes) {
  std::lock_guard<std::mutex> hold(lock);
  if (first < 0 || last < first || last >= Positions() ||
      (newCodes.size() != 1 && newCodes.size() != static_cast<size_t>(last - first + 1)) ||
      newCodes.find_first_not_of("0123456") != std::string::npos)
    return "{\"error\":\"not set: a range of this clip's positions and codes 0 to 6 are needed\"}";
  Edit edit;
  for (int p = first; p <= last; ++p) {
    const char code = newCodes.size() == 1 ? newCodes[0] : newCodes[p - first];
    const auto k = kept.find(p);
    const analysis::Stretch stretch = current.positions[p].stretch;
    edit.push_back({p, codes[p], code, k == kept.end() ? '\0' : k->second, code, stretch, stretch});
  }
  return Record(std::move(edit));
}

std::string EditorSession::SetVideo(int first, int last) {
  std::lock_guard<std::mutex> hold(lock);
  if (first < 0 || last < first || last >= Positions()) return "{\"error\":\"not set: no such range\"}";
  Edit edit;
  for (int p = first; p <= last; ++p) {
    const auto k = kept.find(p);
    edit.push_back({p, codes[p], '2', k == kept.end() ? '\0' : k->second, '2', current.positions[p].stretch,
                    analysis::Stretch::Video});
  }
  return Record(std::move(edit));
}

std::string EditorSession::SetFilm(int first, int last) {
  std::lock_guard<std::mutex> hold(lock);
  const int positions = Positions();
  if (first < 0 || last < first || last >= positions) return "{\"error\":\"not set: no such range\"}";
  // The nearest whole cycle of film outside the range, before it first: its
  // codes, repeated, give the range the cadence and phase read there.
  auto filmCycle = [&](int start, int length) {
    if (start < 0 || start + length > positions || (start <= last && start + length > first)) return false;
    for (int q = start; q < start + length; ++q)
      if (current.positions[q].stretch != analysis::Stretch::Film ||
          current.positions[q].cadence != current.positions[start].cadence)
        return false;
    return true;
  };
  int reference = -1, cycle = 0;
  for (int distance = 0; reference < 0 && distance < positions; ++distance) {
    for (int side = 0; side < 2 && reference < 0; ++side) {
      const int near = side == 0 ? first - 1 - distance : last + 1 + distance;
      if (near < 0 || near >= positions) continue;
      const int length = CyclePositions(current.positions[near].cadence);
      if (length == 0 || current.positions[near].stretch != analysis::Stretch::Film) continue;
      const int start = side == 0 ? near - length + 1 : near;
      if (filmCycle(start, length)) {
        reference = start;
        cycle = length;
      }
    }
  }
  if (reference < 0) return "{\"error\":\"not set: no film around the range to take its cadence from\"}";
  Edit edit;
  for (int p = first; p <= last; ++p) {
    const char code = codes[reference + (((p - reference) % cycle) + cycle) % cycle];
    const auto k = kept.find(p);
    edit.push_back({p, codes[p], code, k == kept.end() ? '\0' : k->second, code, current.positions[p].stretch,
                    analysis::Stretch::Film});
  }
  return Record(std::move(edit));
}

std::string EditorSession::Undo() {
  std::lock_guard<std::mutex> hold(lock);
  if (done.empty()) return "{\"error\":\"nothing to undo\"}";
  Edit back;
  for (const Change& c : done.back())
    back.push_back({c.position, c.codeAfter, c.codeBefore, c.keptAfter, c.keptBefore, c.stretchAfter, c.stretchBefore});
  std::string answer;
  if (!Apply(back, &answer)) return answer;
  doneChanges -= done.back().size();
  undone.push_back(std::move(done.back()));
  done.pop_back();
  return "{" + answer + "," + Summary() + "}";
}

std::string EditorSession::Redo() {
  std::lock_guard<std::mutex> hold(lock);
  if (undone.empty()) return "{\"error\":\"nothing to redo\"}";
  std::string answer;
  if (!Apply(undone.back(), &answer)) return answer;
  doneChanges += undone.back().size();
  done.push_back(std::move(undone.back()));
  undone.pop_back();
  return "{" + answer + "," + Summary() + "}";
}

std::string EditorSession::Replan() {
  {
    std::lock_guard<std::mutex> hold(lock);
    const int positions = static_cast<int>(analysis.measures.size());
    std::vector<analysis::KeepLine> lines;
    try {
      lines = analysis::ParseKeepFile(KeepFileText(kept, {}), files.keep);
      const analysis::Constraints constraints = analysis::KeepConstraints(lines, positions, files.keep);
      current = analysis::ProposePlan(analysis.measures, analysis.fieldSamples, &constraints);
    } catch (const analysis::KeepError& e) {
      throw CliError(e.what());
    }
    const std::string before = codes;
    codes.assign(positions, '0');
    for (int p = 0; p < positions; ++p) codes[p] = current.positions[p].code;
    moved.clear();
    if (before.size() == codes.size())
      for (int p = 0; p < positions; ++p)
        if (before[p] != codes[p]) moved.push_back(p);
    places.clear();
    for (const cli::ReviewPlace& place : cli::ChooseReviewPlaces(current)) places.push_back(place.position);
    if (started) WriteState();
  }
  return StateJson();
}

std::string EditorSession::SavePlan() {
  std::lock_guard<std::mutex> hold(lock);
  try {
    WriteWhole(files.plan, codes);
    WriteWhole(files.timecodes, cli::TimecodesText(codes));
  } catch (const CliError& e) {
    return "{\"error\":" + JsonString(std::string("not saved: ") + e.what()) + "}";
  }
  return "{\"saved\":" +
         JsonString(files.plan.substr(files.plan.find_last_of("/\\") + 1) + " and " +
                    files.timecodes.substr(files.timecodes.find_last_of("/\\") + 1)) +
         "}";
}

std::string EditorSession::SetView(int p, int z) {
  std::lock_guard<std::mutex> hold(lock);
  if (p < 0 || p >= Positions() || z < 0 || z > 64) return "{\"error\":\"no such view\"}";
  position = p;
  zoom = z;
  try {
    WriteState();
  } catch (const CliError& e) {
    return "{\"error\":" + JsonString(e.what()) + "}";
  }
  return "{}";
}

}  // namespace review
