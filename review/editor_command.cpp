#include "review/editor_command.h"

#include <cstdio>

#include "cli/errors.h"
#include "cli/input.h"
#include "cli/plan_command.h"
#include "cli/progress.h"
#include "platform/system.h"
#include "review/editor_server.h"
#include "review/editor_session.h"
#include "review/frame_source.h"

namespace review {

void RunEditCommand(const cli::Options& options) {
  const EditorFiles files = DefaultEditorFiles(options.input, options.keep, options.plan);
  // A file the editor writes renamed over the source would destroy it.
  for (const std::string& out : {files.keep, files.plan, files.timecodes, files.state})
    if (out == files.source || cli::SameFile(out, files.source))
      throw cli::CliError("cannot write " + out + ": it is the source");

  // A bad keep file is refused before the analysis, which may take minutes.
  CheckKeepFile(files.keep);
  std::unique_ptr<FrameSource> source = OpenStreamSource(options);
  cli::FailureContext() = "input " + source->FormatName();
  std::unique_ptr<cli::Progress> progress = std::make_unique<cli::Progress>(
      cli::ProgressWanted(options.quiet), "zemivtc edit: analysing " + source->FormatName());
  SourceAnalysis analysis =
      AnalyzeSource(*source, options.fieldOrder, [&](int frame) { progress->Update(frame, source->FrameCount()); });
  progress.reset();
  analysis.sourceOptions = cli::SourceOptions(options);
  if (!analysis.order.warning.empty())
    std::fprintf(stderr, "zemivtc edit: warning: %s\n", analysis.order.warning.c_str());

  EditorSession session(std::move(source), std::move(analysis), files);
  EditorServer server(session, NewToken());
  server.Bind();
  if (!options.quiet)
    std::fprintf(stderr, "zemivtc edit: %d positions; kept codes go to %s, the plan to %s\n", session.Positions(),
                 files.keep.c_str(), files.plan.c_str());
  // The address on standard output, for a person to open and for scripts.
  std::printf("%s\n", server.Address().c_str());
  std::fflush(stdout);
  if (options.openBrowser && !sys::OpenInBrowser(server.Address()))
    std::fprintf(stderr, "zemivtc edit: could not start a browser; open the address above\n");
  server.Run();
}

}  // namespace review
