#include "review/timeline.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

#include "review/canvas.h"
#include "stream/png.h"

namespace cli {
namespace {

constexpr double PositionsPerSecond = 60000.0 / 1001;

// Geometry, in pixels.
constexpr int LabelWidth = 60;  // row labels left of the plot
constexpr int RightMargin = 12;
constexpr int TitleTop = 6, RulerTop = 22, RowsTop = 36;
constexpr int MarkRows = 9, DecisionRows = 16, StretchRows = 6, TickRows = 3, RowPitch = 44;

const Rgb Black{0x00, 0x00, 0x00}, Grey{0x99, 0x99, 0x99}, DarkGrey{0x55, 0x55, 0x55};
const Rgb Picked{0x2E, 0xA0, 0x43}, Smoothed{0x16, 0x8C, 0x8C}, VideoField{0x3A, 0x6E, 0xD8},
    FieldAlone{0xE0, 0x3C, 0x31}, Dropped{0xD9, 0xD9, 0xD9}, Unknown{0x00, 0x00, 0x00};
const Rgb Film{0x7A, 0x7A, 0x2E}, Irregular{0xA0, 0x6A, 0x2C}, Progressive{0x8E, 0x5B, 0xB5}, Video{0x1C, 0x33, 0x7A};
const Rgb Break{0x00, 0x00, 0x00}, Place{0xF0, 0x8C, 0x00}, Kept{0x00, 0xB8, 0xD4};

// The decisions by how rare and telling they are: a column of several
// positions shows the rarest of its codes.
int CodeRank(char code) {
  switch (code) {
    case '0': return 0;
    case '1': return 1;
    case '3': return 2;
    case '2':
    case '6': return 3;
    case '4':
    case '5': return 4;
    default: return 5;
  }
}
Rgb CodeColour(int rank) {
  static const Rgb colours[] = {Dropped, Picked, Smoothed, VideoField, FieldAlone, Unknown};
  return colours[rank];
}

int StretchIndex(const analysis::Decision& d) {
  switch (d.stretch) {
    case analysis::Stretch::Progressive: return 2;
    case analysis::Stretch::Video: return 3;
    case analysis::Stretch::Film: break;
  }
  return d.cadence < 0 ? 1 : 0;
}
Rgb StretchColour(int index) {
  static const Rgb colours[] = {Film, Irregular, Progressive, Video};
  return colours[index];
}

// "+0.5s", "+10s", "+1:30", "+1:00:00" for the ruler.
std::string Offset(double seconds) {
  char text[32];
  const long s = std::lround(seconds);
  if (seconds < 1 || std::fabs(seconds - s) > 1e-9)
    std::snprintf(text, sizeof text, "+%.1fs", seconds);
  else if (s < 60)
    std::snprintf(text, sizeof text, "+%lds", s);
  else if (s < 3600)
    std::snprintf(text, sizeof text, "+%ld:%02ld", s / 60, s % 60);
  else
    std::snprintf(text, sizeof text, "+%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  return text;
}

std::string Duration(int seconds) {
  return seconds < 60 ? std::to_string(seconds) + " s" : std::to_string(seconds / 60) + " min";
}

}  // namespace

std::string PositionTime(int p, int decimals) {
  const double seconds = p / PositionsPerSecond;
  const double scale = std::pow(10.0, decimals);
  const long long units = std::llround(seconds * scale);
  const long long whole = units / static_cast<long long>(scale);
  char text[48];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
  std::string out = text;
  if (decimals > 0) {
    const std::string fraction = std::to_string(units % static_cast<long long>(scale));
    out += "." + std::string(decimals - fraction.size(), '0') + fraction;
  }
  return out;
}

TimelineScale ChooseTimelineScale(int positions) {
  static const int durations[] = {1, 2, 5, 10, 20, 30, 60, 120, 180, 300, 600, 900, 1200, 1800, 3600, 7200};
  static const double ticks[] = {0.1, 0.2, 0.5, 1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 1200};
  positions = std::max(1, positions);
  TimelineScale scale;
  for (int d : durations) {
    scale.rowSeconds = d;
    const int perRow = static_cast<int>(std::ceil(d * PositionsPerSecond));
    scale.rows = static_cast<int>(std::ceil(positions / (d * PositionsPerSecond) - 1e-9));
    // The first duration whose rows are few enough and, unless the clip is
    // shorter, hold at least half a plot's width of positions.
    if (scale.rows <= MaxTimelineRows && perRow >= std::min(positions, TimelinePlotWidth / 2)) break;
  }
  const int perRow = static_cast<int>(std::ceil(scale.rowSeconds * PositionsPerSecond));
  scale.positionsPerColumn = (perRow + TimelinePlotWidth - 1) / TimelinePlotWidth;
  scale.columnsPerPosition = std::max(1, std::min(8, TimelinePlotWidth / perRow));
  for (double t : ticks)
    if (scale.rowSeconds / t >= 6 - 1e-9) scale.tickSeconds = t;
  return scale;
}

int TimelineRowStart(const TimelineScale& scale, int row) {
  return static_cast<int>(std::llround(row * scale.rowSeconds * PositionsPerSecond));
}

std::string TimelinePng(const analysis::Proposal& proposal, const std::vector<int>& places,
                        std::vector<TimelineArea>* areas) {
  const int count = static_cast<int>(proposal.positions.size());
  const TimelineScale scale = ChooseTimelineScale(count);
  const int n = scale.positionsPerColumn, z = scale.columnsPerPosition;
  const int perRow = TimelineRowStart(scale, 1) + 1;
  const int plotWidth = (perRow + n - 1) / n * z;
  const int width = LabelWidth + plotWidth + RightMargin;
  auto columnOf = [&](int offset) { return offset / n * z; };

  // The legend, laid out first to know the picture's height.
  struct Item {
    Rgb colour;
    std::string text;
  };
  const std::vector<std::vector<Item>> legend = {
      {{Picked, "1 frame picked whole"},
       {Smoothed, "3 frame smoothed"},
       {VideoField, "2 6 video field rebuilt"},
       {FieldAlone, "4 5 field rebuilt alone"},
       {Dropped, "0 dropped"},
       {Unknown, "other byte"}},
      {{Film, "film"}, {Irregular, "film, no regular cadence"}, {Progressive, "progressive"}, {Video, "video"}},
      {{Break, "cadence break"}, {Place, "review place"}, {Kept, "code kept (--keep)"}},
  };
  const char* legendTitles[] = {"decision (middle band)", "stretch (lower band)", "marks (upper band)"};
  const int rowsBottom = RowsTop + scale.rows * RowPitch;
  const int legendTop = rowsBottom + 2 * Canvas::LineHeight;
  // The legend's groups laid out from `y`, a line of 14 pixels each and more
  // where items wrap; drawn on `canvas` when there is one. Returns the y
  // below them.
  auto layLegend = [&](Canvas* canvas, int y) {
    for (size_t g = 0; g < legend.size(); ++g) {
      if (canvas) canvas->Text(LabelWidth, y + 2, legendTitles[g], Black);
      int x = LabelWidth + 170;
      for (const Item& item : legend[g]) {
        const int w = 16 + Canvas::TextWidth(item.text) + 18;
        if (x + w > width) {
          x = LabelWidth + 170;
          y += 14;
        }
        if (canvas) {
          canvas->Fill(x, y, 12, 11, item.colour);
          canvas->Text(x + 16, y + 2, item.text, Black);
        }
        x += w;
      }
      y += 14;
    }
    return y;
  };
  const int height = layLegend(nullptr, legendTop) + (n > 1 ? 14 : 0) + 8;
  Canvas c(width, height);

  std::string title = "zemivtc plan timeline: " + std::to_string(count) + " field positions, " +
                      PositionTime(count, 1) + "; a row is " + Duration(scale.rowSeconds) + ", ";
  title += n > 1   ? "a column " + std::to_string(n) + " positions"
           : z > 1 ? std::to_string(z) + " columns a position"
                   : "a column a position";
  c.Text(LabelWidth, TitleTop, title, Black);

  // The ruler: offsets within a row.
  for (int t = 0; t * scale.tickSeconds <= scale.rowSeconds + 1e-9; ++t) {
    const int x = LabelWidth + columnOf(static_cast<int>(std::llround(t * scale.tickSeconds * PositionsPerSecond)));
    const std::string label = t == 0 ? "start" : Offset(t * scale.tickSeconds);
    c.Text(std::min(width - Canvas::TextWidth(label), std::max(0, x - Canvas::TextWidth(label) / 2)), RulerTop, label,
           DarkGrey);
    c.Fill(x, RulerTop + 10, 1, 3, DarkGrey);
  }

  const std::set<int> placeSet(places.begin(), places.end());
  for (int row = 0; row < scale.rows; ++row) {
    const int first = TimelineRowStart(scale, row), end = std::min(count, TimelineRowStart(scale, row + 1));
    const int top = RowsTop + row * RowPitch;
    c.Text(2, top + 3, PositionTime(first), Black);
    c.Text(2, top + 15, std::to_string(first), DarkGrey);
    for (int p0 = first; p0 < end; p0 += n) {
      const int p1 = std::min(end, p0 + n);
      int rank = 0, stretchCount[4] = {0, 0, 0, 0};
      bool cadenceBreak = false, kept = false;
      for (int p = p0; p < p1; ++p) {
        const analysis::Decision& d = proposal.positions[p];
        rank = std::max(rank, CodeRank(d.code));
        ++stretchCount[StretchIndex(d)];
        cadenceBreak = cadenceBreak || d.cadenceBreak;
        kept = kept || d.kept;
      }
      const int x = LabelWidth + columnOf(p0 - first);
      const int stretch = static_cast<int>(std::max_element(stretchCount, stretchCount + 4) - stretchCount);
      if (cadenceBreak) c.Fill(x, top, z, MarkRows, Break);
      if (kept) c.Fill(x, top + MarkRows - 3, z, 3, Kept);
      c.Fill(x, top + MarkRows, z, DecisionRows, CodeColour(rank));
      c.Fill(x, top + MarkRows + DecisionRows, z, StretchRows, StretchColour(stretch));
    }
    // Ticks under the row at the ruler's steps.
    const int tickTop = top + MarkRows + DecisionRows + StretchRows;
    for (int t = 0; t * scale.tickSeconds <= scale.rowSeconds + 1e-9; ++t) {
      const int offset = static_cast<int>(std::llround(t * scale.tickSeconds * PositionsPerSecond));
      if (first + offset <= end) c.Fill(LabelWidth + columnOf(offset), tickTop, 1, TickRows, Grey);
    }
  }
  // Review places over everything else: a triangle pointing at the column.
  for (int p : placeSet) {
    if (p < 0 || p >= count) continue;
    int row = 0;
    while (row + 1 < scale.rows && TimelineRowStart(scale, row + 1) <= p) ++row;
    const int top = RowsTop + row * RowPitch;
    const int x = LabelWidth + columnOf(p - TimelineRowStart(scale, row)) + z / 2;
    for (int i = 0; i < 5; ++i) c.Fill(x - 4 + i, top + i, 9 - 2 * i, 1, Place);
    if (areas) areas->push_back({p, std::max(0, x - 5), top, std::min(width, x + 6), top + MarkRows + DecisionRows});
  }

  int y = rowsBottom + 2;
  c.Text(LabelWidth, y, "last position " + std::to_string(count - 1) + " at " + PositionTime(std::max(0, count - 1), 1),
         DarkGrey);
  y = layLegend(&c, legendTop);
  if (n > 1)
    c.Text(LabelWidth, y + 2,
           "each column of " + std::to_string(n) + " positions shows its rarest code: 4 5, then 2 6, 3, 1, 0",
           DarkGrey);
  return stream::EncodePng(c.Width(), c.Height(), c.Pixels());
}

}  // namespace cli
