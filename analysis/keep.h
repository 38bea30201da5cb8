// The keep file: corrections to a plan that `zemivtc plan --keep FILE` keeps
// as given while it fits the cadence around them. A text file, one
// correction a line:
//
//   # anything after '#' is a comment; blank lines are skipped
//   1234 1           position 1234 gets code 1
//   1240-1249 2      positions 1240 to 1249 all get code 2
//   1300-1304 10100  one code per position, in order
//
// Positions are whole decimal numbers from 0, as in the plan; codes are
// '0' to '6'. A range names each position once: no two lines may keep the
// same position.
//
// What a kept code tells the cadence search, by the fields it shows
// (position p weaves fields p and p+1):
//   '1', '3': fields p and p+1 are one picture.
//   '2', '6': the field matching p's parity (field p) is a picture of its
//             own; '5' the top field, '4' the bottom one likewise.
//   '0':      nothing; the picture of its fields is shown elsewhere, or not.
// A picture that a kept code shows gets no other code from the search.
#ifndef ZEMIVTC_ANALYSIS_KEEP_H
#define ZEMIVTC_ANALYSIS_KEEP_H

#include <stdexcept>
#include <string>
#include <vector>

#include "analysis/cadence.h"

namespace analysis {

// A keep file that cannot be used; the message names the file and line.
class KeepError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct KeepLine {
  int first = 0, last = 0;  // positions, inclusive
  std::string codes;        // one code, or one per position
  int line = 0;             // in the file, from 1
  char CodeAt(int p) const { return codes.size() == 1 ? codes[0] : codes[p - first]; }
};

// Parses the file's text; `name` is used in messages. Throws KeepError.
std::vector<KeepLine> ParseKeepFile(const std::string& text, const std::string& name);

// The constraints of the kept lines for a clip of `positions` positions.
// Throws KeepError for a position past the clip's last one and for two kept
// codes that contradict each other (one joins two fields another keeps
// apart).
Constraints KeepConstraints(const std::vector<KeepLine>& lines, int positions, const std::string& name);

// The field that a rebuild code at position p shows, or -1 for '0', '1', '3'.
int RebuiltField(char code, int p);

}  // namespace analysis

#endif
