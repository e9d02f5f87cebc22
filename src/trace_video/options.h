// trace_video's option tables and usage text, for command.cpp.
#pragma once

#include "trace_io/command_line.h"
#include "trace_io/sweep.h"
#include "trace_video/receive.h"
#include "trace_video/send.h"

extern const char* const kSynopsis;
extern const char* const kFooter;
extern const char* const kReceiveIntro;
extern const char* const kMergeIntro;

// send, whole: its options and its run.
Subcommand send_command(SendOptions& options);
// receive's options: one run's, and a sweep's.
std::vector<Option> receive_options(ReceiveOptions& options, SweepSettings& sweep);
