// `zemivtc plan`: reads the input's frames, measures its field positions on
// all cores and writes the proposed plan, a report, and on request one line
// per position and the timeline picture.
#ifndef ZEMIVTC_CLI_PLAN_COMMAND_H
#define ZEMIVTC_CLI_PLAN_COMMAND_H

#include <string>

#include "analysis/cadence.h"
#include "analysis/field_order.h"
#include "cli/field_order.h"
#include "cli/options.h"

namespace cli {

// Throws CliError on failure.
void RunPlanCommand(const Options& options);

// True when both name one existing regular file ("-" names none).
bool SameFile(const std::string& a, const std::string& b);

// The command line that renders the plan (the report's last lines);
// `sourceOptions` read the input as the plan did (SourceOptions).
std::string RenderAdvice(const analysis::Proposal& proposal, const FieldOrderDecision& order, const std::string& plan,
                         const std::string& input, const std::string& sourceOptions = "");

// The report on standard error (with the render line that fits the plan),
// and one --explain line of position p.
std::string PlanReport(const analysis::Proposal& proposal, int frames, const FieldOrderDecision& order,
                       const std::string& plan, const std::string& input, const std::string& sourceOptions = "");
std::string ExplainLine(const analysis::Proposal& proposal, const std::vector<analysis::PositionMeasures>& measures,
                        int p, analysis::FieldOrder order);

}  // namespace cli

#endif
