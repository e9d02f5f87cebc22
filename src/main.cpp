// trace_align SD0 SD1 SD2 RD: lines up three sender traces and a receiver
// trace frame by frame and writes the aligned traces and frame summaries
// into the current directory. Exit status is 1 on every path.

#include "trace_file/failure.h"
#include "trace_file/run_control.h"

int main(int argc, char** argv) { end_run(run(argc, argv)); }
