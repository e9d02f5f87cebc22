// trace_video's command line: `send` and `receive`, their options, and
// what each prints and returns (0 done, 1 bad input, 2 usage).
#pragma once

int video_command(int argc, char** argv);
