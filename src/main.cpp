// trace_align SD0 SD1 SD2 RD: lines up three sender traces and a receiver
// trace frame by frame and writes the aligned traces and frame summaries
// into the current directory. Exit status is 1 on every path.

#include <exception>

#include "trace_file/trace_file.h"

int main(int argc, char** argv) try {
  if (argc != 5) end_run("check input files and try again");

  InputFile inputs[4];
  for (int i = 0; i < 4; ++i) {
    if (!inputs[i].open(argv[i + 1])) end_run(std::string("can't open file ") + argv[i + 1]);
  }
  refuse_inputs_among_outputs(inputs, 4);

  // Never destroyed: the run ends inside start, by exiting the process.
  TraceFile* run = new TraceFile();
  run->read_all(inputs);
  run->start();
} catch (const std::exception& e) {
  // Only allocation can throw here; say so rather than abort.
  end_run(std::string("trace_align: ") + e.what());
}
