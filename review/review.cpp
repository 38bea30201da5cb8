#include "review/review.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <set>

#include "cli/errors.h"
#include "platform/system.h"
#include "review/thumbnails.h"
#include "review/timeline.h"
#include "stream/output.h"
#include "stream/png.h"

namespace cli {
namespace {

std::string Html(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string Fixed(double v, int decimals) {
  if (std::isinf(v)) return "kept";
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, v);
  return text;
}

// "frame 61", or "t62/b61" (top field first) or "t61/b62" (bottom field
// first): the fields a position weaves.
std::string Fields(int p, bool bottomFirst) {
  if (p % 2 == 0) return "frame " + std::to_string(p / 2);
  const int top = bottomFirst ? p / 2 : p / 2 + 1;
  return "t" + std::to_string(top) + "/b" + std::to_string(p - top);
}

std::string Why(const ReviewPlace& place, const analysis::Decision& d) {
  if (place.cadenceBreak) return "cadence break";
  if (!place.againstPairings) return "small margin";
  return d.refused ? "rebuilt, its fields refusing each other" : "woven against its pairings";
}

std::string CodeMeaning(char code, bool bottomFirst) {
  switch (code) {
    case '0': return "nothing made here";
    case '1': return "the weave taken whole";
    case '2':
    case '6': return "the field matching the position rebuilt";
    case '3': return "the weave smoothed";
    case '4': return bottomFirst ? "the top field rebuilt" : "the bottom field rebuilt";
    case '5': return bottomFirst ? "the bottom field rebuilt" : "the top field rebuilt";
    default: return "no frame";
  }
}

std::string StretchText(const analysis::Decision& d) {
  std::string s = d.stretch == analysis::Stretch::Video         ? "video"
                  : d.stretch == analysis::Stretch::Progressive ? "progressive"
                                                                : "film";
  s += ", " + (d.cadence < 0 ? std::string("no regular cadence")
                             : analysis::CadenceName(d.cadence) + "/" + std::to_string(d.phase));
  return s + (d.boundary ? ", fields apart" : ", fields joined");
}

// The pictures of a place, p<position>-<kind>.png.
const char* const ThumbnailKinds[] = {"before", "weave",   "after",  "top",
                                      "bottom", "closeup", "moving", "movingcloseup"};

bool IsOurThumbnail(const std::string& name) {
  if (name.size() < 7 || name[0] != 'p' || name.compare(name.size() - 4, 4, ".png") != 0) return false;
  const size_t dash = name.find('-');
  if (dash == std::string::npos || dash < 2 || name.find_first_not_of("0123456789", 1) != dash) return false;
  const std::string kind = name.substr(dash + 1, name.size() - 4 - dash - 1);
  return std::any_of(std::begin(ThumbnailKinds), std::end(ThumbnailKinds), [&](const char* k) { return kind == k; });
}

}  // namespace

bool IsReviewFile(const std::string& dir, const std::string& path) {
  std::string folder, name;
  sys::SplitPath(path, &folder, &name);
  if (name != "index.html" && name != "timeline.png" && !IsOurThumbnail(name)) return false;
  return sys::SameFile(dir, folder);
}

namespace {

const char* PageStyle() {
  return "body{font:14px/1.4 sans-serif;margin:1em 2em;color:#222;background:#fff}"
         "h1{font-size:1.4em}h2{font-size:1.1em;margin:0 0 .3em}"
         "code{background:#f2f2f2;padding:0 .3em;border-radius:3px;overflow-wrap:anywhere}"
         ".timeline{overflow-x:auto}.timeline img{border:1px solid #ccc}"
         ".place,.stretch{border-top:1px solid #ccc;padding:.8em 0}"
         ".tag{display:inline-block;padding:0 .4em;border-radius:3px;font-size:.85em;color:#fff}"
         ".break{background:#000}.doubt{background:#f08c00}.moving{background:#7b3fa0}"
         ".cands{display:flex;flex-wrap:wrap;gap:10px}"
         "figure{margin:0;padding:4px;border:2px solid #ddd;width:150px;font-size:12px;overflow-wrap:anywhere}"
         "figure.chosen{border-color:#2ea043}figure img{display:block}"
         "table{border-collapse:collapse;font-size:12px;margin:.4em 0}"
         "td,th{border:1px solid #ddd;padding:1px 6px;text-align:right}";
}

// A weave (taken whole or smoothed) that the pairings of its fields speak
// against, or the first field rebuilt where they refuse each other.
bool Against(const analysis::Decision& d) {
  return d.refused || ((d.code == '1' || d.code == '3') && d.combed * d.evidence >= AgainstEvidence);
}

}  // namespace

std::vector<ReviewPlace> ChooseReviewPlaces(const analysis::Proposal& proposal) {
  const auto& d = proposal.positions;
  const int count = static_cast<int>(d.size());
  std::vector<ReviewPlace> places;
  std::vector<bool> near(count + 2, false);  // next to a place already (shifted by one)
  auto take = [&](int p) {
    places.push_back(
        {p, d[p].cadenceBreak, d[p].margin, !d[p].cadenceBreak && d[p].margin >= DoubtfulMargin && Against(d[p])});
    for (int q = p; q <= p + 2; ++q) near[q] = true;
  };
  // Cadence breaks first, least sure first, then the weaves against their
  // pairings, most combed first (a likely combed frame), then the doubtful
  // decisions, least sure first, while the share allows; a position next to
  // a place shares it.
  std::vector<int> breaks, doubtful, against;
  for (int p = 0; p < count; ++p) {
    if (d[p].cadenceBreak) {
      breaks.push_back(p);
    } else if (d[p].margin < DoubtfulMargin) {
      doubtful.push_back(p);
    } else if (Against(d[p])) {
      against.push_back(p);
    }
  }
  auto leastSure = [&](int a, int b) { return d[a].margin < d[b].margin; };
  std::stable_sort(breaks.begin(), breaks.end(), leastSure);
  std::stable_sort(doubtful.begin(), doubtful.end(), leastSure);
  std::stable_sort(against.begin(), against.end(),
                   [&](int a, int b) { return d[a].combed * d[a].evidence > d[b].combed * d[b].evidence; });
  const size_t budget = static_cast<size_t>(std::min(count / ReviewShareDivisor, MaxReviewPlaces));
  for (const std::vector<int>* group : {&breaks, &against, &doubtful})
    for (int p : *group) {
      if (places.size() >= budget) break;
      if (!near[p + 1]) take(p);
    }
  std::sort(places.begin(), places.end(),
            [](const ReviewPlace& a, const ReviewPlace& b) { return a.position < b.position; });
  return places;
}

std::vector<MovingStretch> ChooseMovingStretches(const analysis::Proposal& proposal,
                                                 const std::vector<analysis::PositionMeasures>& measures) {
  const auto& d = proposal.positions;
  const int count = static_cast<int>(d.size());
  auto wholeFrames = [&](int p) { return d[p].stretch == analysis::Stretch::Progressive && !d[p].kept; };
  // A clip of whole frames throughout is progressive footage.
  if (std::all_of(d.begin(), d.end(),
                  [](const analysis::Decision& x) { return x.stretch == analysis::Stretch::Progressive; }))
    return {};
  std::vector<MovingStretch> stretches;
  auto add = [&](int first, int last) {
    // The field the part starts with may belong to a picture of the
    // positions before it; the second field of its last frame is shown by
    // the position after it. So the line names every field of its frames
    // and no other.
    if (first > 0 && !d[first - 1].boundary) ++first;
    if (!d[last].boundary && last + 1 < count && !d[last + 1].kept) ++last;
    if (last - first + 1 < MinStretchPositions) return;
    MovingStretch s;
    s.first = first;
    s.last = last;
    s.weave = -1;
    int moving = 0;
    for (int p = first; p <= last; ++p) {
      moving += d[p].evidence >= MovingEvidence;
      if (d[p].code == '1' || d[p].code == '3') {
        ++s.frames;
        if (s.weave < 0 || measures[p].comb > measures[s.weave].comb) s.weave = p;
      }
    }
    if (moving >= MinMovingPositions && s.weave >= 0) stretches.push_back(s);
  };
  for (int p = 0; p < count;) {
    if (!wholeFrames(p)) {
      ++p;
      continue;
    }
    int end = p;
    while (end + 1 < count && wholeFrames(end + 1)) ++end;
    std::vector<double> motion;
    for (int q = p; q <= end; ++q) motion.push_back(measures[q].motion);
    std::nth_element(motion.begin(), motion.begin() + motion.size() / 2, motion.end());
    const double cut = SceneCutMotion * motion[motion.size() / 2];
    // The weave across a cut changes most of the positions around it.
    int start = p;
    for (int q = p; q < end; ++q) {
      const double m = measures[q].motion;
      if (cut > 0 && m > cut && m >= measures[q + 1].motion && (q == p || m > measures[q - 1].motion)) {
        add(start, q);
        start = q + 1;
      }
    }
    add(start, end);
    p = end + 1;
  }
  return stretches;
}

std::string VideoKeepLine(const MovingStretch& stretch) {
  return std::to_string(stretch.first) + (stretch.last > stretch.first ? "-" + std::to_string(stretch.last) : "") +
         " 2";
}

ReviewWriter::ReviewWriter(const std::string& directory) : dir(directory) {
  if (dir.empty()) throw CliError("--review needs a directory name");
  const sys::MadeDirectory made = sys::MakeDirectory(dir);
  if (made == sys::MadeDirectory::Failed)
    throw CliError("cannot make the review directory " + dir + ": " + sys::ErrorText());
  madeDir = made == sys::MadeDirectory::Made;
  if (!sys::StatusOf(dir).directory) throw CliError("cannot write the review into " + dir + ": it is not a directory");
  // A file to be written there shows now whether the directory takes one.
  try {
    stream::OutputFile probe(dir + "/index.html");
  } catch (...) {
    if (madeDir) sys::RemoveDirectory(dir);
    throw;
  }
}

ReviewWriter::~ReviewWriter() {
  if (committed) return;
  for (const std::string& name : written) sys::RemoveFile(dir + "/" + name);
  if (madeDir) sys::RemoveDirectory(dir);
}

void ReviewWriter::WriteFile(const std::string& name, const std::string& bytes) {
  const bool existed = sys::StatusOf(dir + "/" + name).exists;
  stream::OutputFile out(dir + "/" + name);
  out.Write(bytes.data(), bytes.size());
  out.Commit();
  if (!existed) written.push_back(name);
}

void ReviewWriter::Write(const ReviewContent& content) {
  const analysis::Proposal& proposal = *content.proposal;
  const std::vector<analysis::PositionMeasures>& measures = *content.measures;
  const int count = static_cast<int>(proposal.positions.size());
  std::vector<int> placePositions;
  for (const ReviewPlace& place : content.places) placePositions.push_back(place.position);
  std::vector<TimelineArea> areas;
  const std::string timeline = TimelinePng(proposal, placePositions, &areas);
  WriteFile("timeline.png", timeline);

  int breaks = 0, breaksOnlyMarked = 0;
  int against = 0;
  for (const ReviewPlace& place : content.places) {
    breaks += place.cadenceBreak;
    against += place.againstPairings;
  }
  for (int p = 0; p < count; ++p)
    if (proposal.positions[p].cadenceBreak &&
        std::none_of(content.places.begin(), content.places.end(),
                     [&](const ReviewPlace& place) { return std::abs(place.position - p) <= 1; }))
      ++breaksOnlyMarked;
  const analysis::PlanSummary summary = analysis::Summarize(proposal);
  std::string page = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>Plan review: " +
                     Html(content.inputName) + "</title>\n<style>" + PageStyle() + "</style></head>\n<body>\n";
  page += "<h1>Plan review: " + Html(content.inputName) + "</h1>\n";
  page += "<p>" + std::to_string((count + 1) / 2) + " frames, " + std::to_string(count) + " field positions (" +
          PositionTime(count, 1) + "), " + std::to_string(summary.outputFrames) + " output frames. " +
          std::to_string(content.places.size()) + " places to look at: " + std::to_string(breaks) +
          " cadence breaks, the " + std::to_string(content.places.size() - breaks - against) +
          " decisions the analysis is least sure of and " + std::to_string(against) +
          " joins that the pairings of their fields speak against, woven whole or rebuilt from one field (" +
          Fixed(100.0 * content.places.size() / std::max(1, count), 2) + "% of the positions)." +
          (content.stretches.empty() ? std::string()
                                     : " " + std::to_string(content.stretches.size()) +
                                           (content.stretches.size() == 1 ? " stretch" : " stretches") +
                                           " of whole frames that move, below.") +
          (breaksOnlyMarked ? " " + std::to_string(breaksOnlyMarked) +
                                  " further cadence breaks, decided more surely, are only marked on the timeline: the "
                                  "places are at most " +
                                  Fixed(100.0 / ReviewShareDivisor, 0) + " % of the positions and " +
                                  std::to_string(MaxReviewPlaces) + " in all."
                            : std::string()) +
          "</p>\n";
  page +=
      "<p>Each place shows the weave at the position and at its neighbours, the position's two fields rebuilt "
      "alone, and a close-up of its weave where it is most combed; the plan's choice has a green frame. To "
      "choose otherwise, copy the line under a picture into a keep file and run <code>zemivtc plan --keep "
      "FILE</code> again: the plan keeps those codes and fits the cadence around them. The margin says how much "
      "dearer the cheapest plan deciding the other way at the position is (a change of cadence costs " +
      Fixed(analysis::CutSwitchCost, 0) + " at a cut and " + Fixed(analysis::SwitchCost, 0) + " elsewhere).</p>\n";
  // At its own size: the map's rectangles are in the picture's pixels.
  page +=
      "<div class=\"timeline\"><img src=\"timeline.png\" usemap=\"#timeline\" alt=\"the plan's timeline, places "
      "marked\"></div>\n<map name=\"timeline\">\n";
  for (const TimelineArea& a : areas)
    page += "<area shape=\"rect\" coords=\"" + std::to_string(a.x0) + "," + std::to_string(a.y0) + "," +
            std::to_string(a.x1) + "," + std::to_string(a.y1) + "\" href=\"#p" + std::to_string(a.position) +
            "\" alt=\"position " + std::to_string(a.position) + "\">\n";
  page += "</map>\n<table><tr><th>position</th><th>time</th><th>code</th><th>why</th><th>margin</th></tr>\n";
  for (const ReviewPlace& place : content.places) {
    const std::string id = std::to_string(place.position);
    page += "<tr><td><a href=\"#p" + id + "\">" + id + "</a></td><td>" + PositionTime(place.position, 2) + "</td><td>" +
            proposal.positions[place.position].code + "</td><td>" + Why(place, proposal.positions[place.position]) +
            "</td><td>" + Fixed(place.margin, 1) + "</td></tr>\n";
  }
  page += "</table>\n";

  // Frames by number, kept while the places of a batch need them.
  std::map<int, std::vector<uint8_t>> frames;
  // The frames whose top and bottom fields position q weaves.
  auto topFrame = [&](int q) { return content.bottomFirst ? q / 2 : (q + 1) / 2; };
  auto bottomFrame = [&](int q) { return content.bottomFirst ? (q + 1) / 2 : q / 2; };
  auto frame = [&](int n) {
    auto it = frames.find(n);
    if (it == frames.end()) {
      it = frames.emplace(n, std::vector<uint8_t>()).first;
      content.readFrame(n, &it->second);
    }
    return PackedFrame{it->second.data(), 2 * static_cast<ptrdiff_t>(content.width), content.width, content.height};
  };
  auto measureText = [&](int q) {
    const analysis::Decision& d = proposal.positions[q];
    const analysis::PositionMeasures& m = measures[q];
    return "combed " + Fixed(d.combed, 2) + ", evidence " + Fixed(d.evidence, 2) + "<br>comb " + Fixed(m.comb, 0) +
           ", motion " + Fixed(m.motion, 0) + ", repeat " + Fixed(m.repeat, 0);
  };
  // A picture to make: its frames are read first, then the pictures of a
  // batch of places are made on all threads, then written in order.
  struct Picture {
    std::string name;
    PackedFrame top, bottom;
    int kind = 0;  // 0 weave, 1 top field, 2 bottom field, 3 close-up
    int width = 0, height = 0;
    std::string png;
  };
  auto makePictures = [&](std::vector<Picture>& pictures) {
    auto make = [&](int begin, int end) {
      for (int i = begin; i < end; ++i) {
        Picture& pic = pictures[i];
        static const FieldChoice choice[] = {FieldChoice::Both, FieldChoice::Top, FieldChoice::Bottom};
        const RgbPicture rgb =
            pic.kind == 3 ? CloseUp(pic.top, pic.bottom) : Thumbnail(pic.top, pic.bottom, choice[pic.kind]);
        pic.width = rgb.width;
        pic.height = rgb.height;
        pic.png = stream::EncodePng(rgb.width, rgb.height, rgb.rgb);
      }
    };
    if (content.runner)
      content.runner(static_cast<int>(pictures.size()), make);
    else
      make(0, static_cast<int>(pictures.size()));
  };
  auto image = [&](Picture& pic) {
    WriteFile(pic.name, pic.png);
    return "<img src=\"" + pic.name + "\" width=\"" + std::to_string(pic.width) + "\" height=\"" +
           std::to_string(pic.height) + "\" alt=\"" + pic.name + "\">";
  };

  // The moving stretches of whole frames, each with its most combed weave.
  if (!content.stretches.empty())
    page += "<p>Whole frames that move between film or video: " + std::to_string(content.stretches.size()) +
            (content.stretches.size() == 1 ? " stretch" : " stretches") +
            " the plan takes as progressive frames. If one is video whose comb an encode erased, each "
            "of its frames weaves two moments: keep it as video with the line given. Progressive footage reads "
            "the same, so look at the weaves first.</p>\n";
  std::vector<Picture> stretchPictures;
  for (const MovingStretch& s : content.stretches)
    for (int kind : {0, 3}) {
      Picture pic;
      pic.name = "p" + std::to_string(s.weave) + (kind == 0 ? "-moving.png" : "-movingcloseup.png");
      pic.top = frame(topFrame(s.weave));
      pic.bottom = frame(bottomFrame(s.weave));
      pic.kind = kind;
      stretchPictures.push_back(std::move(pic));
    }
  makePictures(stretchPictures);
  for (size_t i = 0; i < content.stretches.size(); ++i) {
    const MovingStretch& s = content.stretches[i];
    const std::string id = "s" + std::to_string(s.first);
    page += "<section class=\"stretch\" id=\"" + id + "\" data-first=\"" + std::to_string(s.first) + "\" data-last=\"" +
            std::to_string(s.last) + "\">\n<h2><a href=\"#" + id + "\">Positions " + std::to_string(s.first) + "-" +
            std::to_string(s.last) + "</a> &middot; " + PositionTime(s.first, 1) + " to " +
            PositionTime(s.last + 1, 1) + " &middot; " + std::to_string(s.frames) +
            " frames taken whole <span class=\"tag moving\">whole frames that move</span></h2>\n";
    page += "<p>If this is video whose comb an encode erased, keep it as video, every field a frame: <code>" +
            VideoKeepLine(s) + "</code></p>\n<div class=\"cands\">\n";
    page += "<figure class=\"chosen\">" + image(stretchPictures[2 * i]) + "<figcaption>weave at " +
            std::to_string(s.weave) + " (" + Fields(s.weave, content.bottomFirst) + "), code " +
            proposal.positions[s.weave].code + ", the most combed frame taken whole<br>" + measureText(s.weave) +
            "</figcaption></figure>\n";
    page += "<figure>" + image(stretchPictures[2 * i + 1]) + "<figcaption>weave at " + std::to_string(s.weave) +
            ", twice the size, where it is most combed</figcaption></figure>\n</div>\n</section>\n";
  }
  stretchPictures.clear();
  frames.clear();

  constexpr size_t PlacesPerBatch = 4;
  for (size_t batchStart = 0; batchStart < content.places.size(); batchStart += PlacesPerBatch) {
    const size_t batchEnd = std::min(content.places.size(), batchStart + PlacesPerBatch);
    const int lowest = (content.places[batchStart].position - 1) / 2;
    for (auto it = frames.begin(); it != frames.end();) it = it->first < lowest ? frames.erase(it) : std::next(it);
    std::vector<Picture> pictures;
    auto add = [&](const std::string& name, PackedFrame top, PackedFrame bottom, int kind) {
      Picture pic;
      pic.name = name;
      pic.top = top;
      pic.bottom = bottom;
      pic.kind = kind;
      pictures.push_back(std::move(pic));
    };
    for (size_t i = batchStart; i < batchEnd; ++i) {
      const int p = content.places[i].position;
      const std::string stem = "p" + std::to_string(p);
      for (int q = std::max(0, p - 1); q <= std::min(count - 1, p + 1); ++q)
        add(stem + (q < p   ? "-before.png"
                    : q > p ? "-after.png"
                            : "-weave.png"),
            frame(topFrame(q)), frame(bottomFrame(q)), 0);
      const PackedFrame top = frame(topFrame(p)), bottom = frame(bottomFrame(p));
      // In the order the page shows them: '5' (the first parity) then '4'.
      for (int kind : content.bottomFirst ? std::vector<int>{2, 1} : std::vector<int>{1, 2})
        add(stem + (kind == 1 ? "-top.png" : "-bottom.png"), top, bottom, kind);
      add(stem + "-closeup.png", top, bottom, 3);
    }
    makePictures(pictures);
    if (content.progress) content.progress(static_cast<int>(batchEnd), static_cast<int>(content.places.size()));
    size_t next = 0;
    auto nextImage = [&]() { return image(pictures[next++]); };
    for (size_t i = batchStart; i < batchEnd; ++i) {
      const ReviewPlace& place = content.places[i];
      const int p = place.position;
      const std::string id = std::to_string(p);
      const analysis::Decision& d = proposal.positions[p];
      page += "<section class=\"place\" id=\"p" + id + "\">\n<h2><a href=\"#p" + id + "\">Position " + id +
              "</a> &middot; " + PositionTime(p, 2) + " &middot; " + Fields(p, content.bottomFirst) + " " +
              "<span class=\"tag " + (place.cadenceBreak ? "break" : "doubt") + "\">" + Why(place, d) + "</span>" +
              "</h2>\n";
      page += "<p>Chosen: <b>" + std::string(1, d.code) + "</b> (" + CodeMeaning(d.code, content.bottomFirst) + ")" +
              (d.kept ? ", kept from the keep file" : "") + " &middot; " + StretchText(d) + " &middot; margin " +
              Fixed(place.margin, 1) + "</p>\n";
      if (place.cadenceBreak) {
        // The stretch that starts here runs to the next break.
        int last = p;
        while (last + 1 < count && !proposal.positions[last + 1].cadenceBreak) ++last;
        const std::string range = id + "-" + std::to_string(last);
        page += "<p>The stretch from here: positions " + range + " (" + PositionTime(p, 1) + " to " +
                PositionTime(last + 1, 1) + "), " + StretchText(d).substr(0, StretchText(d).rfind(',')) + ".";
        if (d.stretch != analysis::Stretch::Video) {
          page += " If it is interlaced video throughout: <code>" + range + " 2</code>";
        } else if (last - p < 2000) {
          // Progressive frames: each frame whole at its even position.
          std::string codes;
          for (int q = p; q <= last; ++q) codes += q % 2 ? '0' : '1';
          page += " If it is progressive throughout: <code>" + range + " " + codes + "</code>";
        }
        page += "</p>\n";
      }
      page += "<div class=\"cands\">\n";
      // The weaves at p-1, p and p+1.
      for (int q = std::max(0, p - 1); q <= std::min(count - 1, p + 1); ++q) {
        const char code = proposal.positions[q].code;
        page += std::string("<figure") + (code == '1' || code == '3' ? " class=\"chosen\"" : "") + ">" + nextImage() +
                "<figcaption>weave at " + std::to_string(q) + " (" + Fields(q, content.bottomFirst) + "), code " +
                code + "<br>" + measureText(q) + "<br>to take it whole: <code>" + std::to_string(q) +
                " 1</code></figcaption></figure>\n";
      }
      // The two fields of p alone: '5' rebuilds the field of the parity
      // each frame shows first (the top one, or the bottom one in a
      // bottom-field-first source), '4' the other.
      for (const char code : {'5', '4'}) {
        const bool isTop = (code == '5') != content.bottomFirst;
        const bool chosen = d.code == code || ((d.code == '2' || d.code == '6') && (code == '5') == (p % 2 == 0));
        const std::string field = isTop ? "t" + std::to_string(topFrame(p)) : "b" + std::to_string(bottomFrame(p));
        page += std::string("<figure") + (chosen ? " class=\"chosen\"" : "") + ">" + nextImage() + "<figcaption>" +
                (isTop ? "top" : "bottom") + " field " + field + " rebuilt alone<br>to use it: <code>" + id + " " +
                code + "</code></figcaption></figure>\n";
      }
      page += "<figure>" + nextImage() + "<figcaption>weave at " + id +
              ", twice the size, where it is most combed</figcaption></figure>\n";
      page += "</div>\n<p>To make nothing at " + id + ": <code>" + id + " 0</code></p>\n</section>\n";
    }
  }
  page += "</body></html>\n";
  WriteFile("index.html", page);

  // Thumbnails of an earlier review that this one did not write again.
  std::set<std::string> current(written.begin(), written.end());
  for (const ReviewPlace& place : content.places)
    for (const char* kind : ThumbnailKinds) current.insert("p" + std::to_string(place.position) + "-" + kind + ".png");
  for (const MovingStretch& s : content.stretches)
    for (const char* kind : {"-moving.png", "-movingcloseup.png"}) current.insert("p" + std::to_string(s.weave) + kind);
  std::vector<std::string> names;
  if (sys::ListDirectory(dir, &names))
    for (const std::string& name : names)
      if (IsOurThumbnail(name) && !current.count(name)) sys::RemoveFile(dir + "/" + name);
}

}  // namespace cli
