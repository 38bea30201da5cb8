// `zemivtc edit`: what the plan editor works on. The analysis of the source
// (taken once), the plan as the person has it now, the codes they set (the
// keep file, rewritten whole after every change, so that nothing is lost
// however the editor ends), undo and redo, and the pictures of a position.
//
// The page asks; the session answers in JSON (a position's measures, the
// changes an edit made) or PNG. One lock serialises everything: the frame
// source and the worker pool serve one caller at a time.
#ifndef ZEMIVTC_REVIEW_EDITOR_SESSION_H
#define ZEMIVTC_REVIEW_EDITOR_SESSION_H

#include <deque>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "analysis/cadence.h"
#include "analysis/field_measures.h"
#include "cli/field_order.h"
#include "review/compose_adapter.h"
#include "review/frame_source.h"
#include "review/review.h"
#include "review/thumbnails.h"

namespace review {

// The pictures' code is the review page's (namespace cli since its move).
using cli::CloseUp;
using cli::FieldChoice;
using cli::FramePicture;
using cli::PackedFrame;
using cli::RgbPicture;
using cli::Thumbnail;

struct EditorFiles {
  std::string source;  // shown on the page and in the render line
  std::string keep;    // the kept codes, rewritten after every change
  std::string plan;    // "Save plan" writes it; read at the start when it exists
  std::string timecodes;
  std::string state;  // where the person was (position, zoom) and the codes they had
};

// The files beside SOURCE that the editor uses where the command line names
// none: SOURCE's name without its extension, then ".keep", ".zem", ".tc";
// the state file is the keep file's name and ".state" (beside it).
EditorFiles DefaultEditorFiles(const std::string& source, const std::string& keep, const std::string& plan);

// The kept codes as keep-file text: runs of neighbouring positions on one
// line ("40-49 2", "60-64 10100", "70 1"), after the comment lines given.
std::string KeepFileText(const std::map<int, char>& kept, const std::vector<std::string>& comments);

// Reads and parses the keep file, where it exists, so that a bad one is
// refused before the analysis. Throws CliError.
void CheckKeepFile(const std::string& path);

// What the analysis found: the measures, the order, and the first plan.
struct SourceAnalysis {
  int frames = 0;
  double fieldSamples = 0;
  cli::FieldOrderDecision order;
  std::vector<analysis::PositionMeasures> measures;
  // What the render line adds to read the source as the analysis did
  // (cli::SourceOptions).
  std::string sourceOptions;
};

// Measures every field position of the source (its luma from NextLuma) on
// `threads` threads; `progress(frame)` is called now and then. Throws
// CliError for fewer than two frames.
SourceAnalysis AnalyzeSource(FrameSource& source, char fieldOrder, const std::function<void(int)>& progress);

enum class PictureKind { Previous, Here, Next, TopField, BottomField, CloseUp, Output };
constexpr int EditorThumbnailWidth = 360;

class EditorSession {
 public:
  // Reads the keep file and the plan where they exist (throws CliError for
  // a bad one) and makes the plan with the kept codes.
  EditorSession(std::unique_ptr<FrameSource> source, SourceAnalysis analysis, const EditorFiles& files);

  int Positions() const { return static_cast<int>(codes.size()); }
  // Everything the page draws at its start and after a re-plan.
  std::string StateJson();
  // The position's code, its --explain line, and whether it is kept.
  std::string PositionJson(int p);
  // The PNG of a picture of position p, with the output frame of `code`;
  // empty when there is none (no neighbour there, a code that makes no
  // frame).
  std::string Picture(PictureKind kind, int p, char code);

  // Edits: each answers with the changes ({"changes": [[p, code, kept,
  // stretch], ...], "frames": N, "render": "...", ...}), or {"error": "..."}
  // when the edit would make a keep file that contradicts itself, which is
  // then not made.
  std::string SetCodes(int first, int last, const std::string& codes);
  // The range as film at the cadence and phase of the nearest film around
  // it, or as video (every position's code '2').
  std::string SetFilm(int first, int last);
  std::string SetVideo(int first, int last);
  std::string Undo();
  std::string Redo();
  // The analysis again with the kept codes: the state, and which positions
  // moved.
  std::string Replan();
  // Writes the plan and its timecodes.
  std::string SavePlan();
  // Remembers where the person is, for the next start.
  std::string SetView(int position, int zoom);

  const std::string& Codes() const { return codes; }

 private:
  struct Change {
    int position;
    char codeBefore, codeAfter;
    char keptBefore, keptAfter;  // '\0': not kept
    analysis::Stretch stretchBefore, stretchAfter;
  };
  using Edit = std::vector<Change>;

  // Sets the edit's codes and writes the keep file; `answer` gets the
  // changes' JSON members, or the whole answer of a refusal (false).
  bool Apply(const Edit& edit, std::string* answer);
  // Apply, then onto the undo list.
  std::string Record(Edit edit);
  void WriteKeepFile();
  void WriteState();
  std::string Summary();
  const uint8_t* Frame(int n);
  PackedFrame Packed(int n);

  std::mutex lock;
  std::unique_ptr<FrameSource> source;
  SourceAnalysis analysis;
  EditorFiles files;
  FrameComposer composer;
  std::string codes;
  analysis::Proposal current;  // the proposal with the codes set since
  std::map<int, char> kept;
  std::vector<std::string> keepComments;
  std::vector<int> places;
  std::vector<int> moved;
  // Undo goes back at most MaxUndoChanges positions' changes in all: a
  // range over a whole film is hundreds of thousands of them.
  static constexpr size_t MaxUndoChanges = size_t(1) << 22;
  std::deque<Edit> done;
  std::vector<Edit> undone;
  size_t doneChanges = 0;
  int position = 0, zoom = 0;
  bool started = false;                                        // the constructor is done: the state file may be written
  std::list<std::pair<int, std::vector<uint8_t>>> frameCache;  // most recent first
  std::vector<uint8_t> outputFrame, outputRows;                // the output frame as stored, and as YUY2 rows
};

// JSON string text of `s` (quotes included).
std::string JsonString(const std::string& s);

}  // namespace review

#endif
