// trace_report's command line: one run, a sweep of runs, or its merge.
#pragma once

#include <string>

// Runs trace_report as `program`; returns the exit status: 0 on success, 1
// when an input (or a run of a sweep) is bad, 2 on a usage error.
int report_command(const std::string& program, int argc, char** argv);
