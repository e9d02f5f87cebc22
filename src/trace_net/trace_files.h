// The sender traces as trace_net reads them, for a run.
#pragma once

#include <string>
#include <vector>

#include "trace_io/run_state.h"
#include "trace_net/trace_apps_lines.h"

namespace trace_net {

// Loads and checks the sender trace at path; fails the run with the first
// problem's message, naming the file and line.
std::vector<SentLine> load_sender(RunState& run, const std::string& path);

}  // namespace trace_net
