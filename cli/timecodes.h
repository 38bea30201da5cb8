// Timecodes for a render: the start time of every output frame, in the
// Matroska "timecode format v2" text that mkvmerge --timestamps reads. An
// output frame made at field position p starts at p * 1001/60000 s, except
// in stretches of telecined film, whose frames get the film's own even times.
#ifndef ZEMIVTC_CLI_TIMECODES_H
#define ZEMIVTC_CLI_TIMECODES_H

#include <string>

#include "stream/output.h"

namespace cli {

// The file's text for a plan's bytes: the header line, then one time in
// milliseconds per code '1' to '6', with six decimals. Frames that repeat a
// film cadence (4 in 10 positions, 5 in 12, 12 in 25) for two cycles or more
// lie on one line at the cadence's rate, fitted to their positions over
// whole cycles, where that keeps every one within a field of its position;
// a frame the line would put before 0 or before the frame before it keeps
// its position's time.
std::string TimecodesText(const std::string& plan);

// Reads the plan again (it must be a regular file, since the module has
// already read it), checks that it makes `frames` frames and writes the
// timecodes under a temporary name; Commit() puts them in place.
class TimecodesFile {
 public:
  TimecodesFile(const std::string& path, const std::string& planPath, int frames);
  void Commit() { out.Commit(); }

 private:
  stream::OutputFile out;
};

}  // namespace cli

#endif
