// trace_report's command line: one run, or a list of runs.
#pragma once

// Runs trace_report; returns the exit status: 0 on success, 1 when an input
// (or a run of a list) is bad, 2 on a usage error.
int report_command(int argc, char** argv);
