// A sweep: the runs of a list, each its own run with its own failure, on
// several threads, one row each (first column run, last column error), cut
// into shares when asked, and the shares merged back. A command supplies
// one function, a run line in and its figures out; the list, the shards,
// the threads, the progress line, the notes, the share header and the
// merge are all here.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "trace_io/command_line.h"
#include "trace_io/run_list.h"
#include "trace_io/shard.h"
#include "trace_io/table_output.h"

// The options that make a command line a sweep: --runs LIST, -j N,
// --shard K/N.
struct SweepSettings {
  std::string list;
  int jobs = 0;  // 0: the number of cores
  std::optional<Shard> shard;
};
std::vector<Option> sweep_options(SweepSettings* settings, const char* runs_help,
                                  const char* jobs_help, const char* shard_help);
// For a command line of one run: fails with "-j goes with --runs" or
// "--shard goes with --runs" when either is given.
void refuse_sweep_options(const SweepSettings& settings);

struct Sweep {
  std::vector<std::string> columns;  // a run's figures, between run and error
  std::string settings;              // the options that change the rows, told apart by shares
  bool json = false;                 // rows as a JSON array, else CSV
  bool one_thread = false;           // every run on the calling thread alone
  // One run of the list: its figures, in columns' order; fails as a run does.
  std::function<std::vector<Field>(RunState& run, const RunLine& line)> run;
};

// Runs the list's runs (the share's block of them) and writes their rows
// on standard output, under a share header with --shard. Returns 1 when a
// run failed, else 0; fails when the list cannot be read.
int run_sweep(const Call& call, const SweepSettings& settings, const Sweep& sweep);

// Merges shares into the bytes the sweep prints on one machine, on
// standard output. Returns 1 when a run of the sweep failed (as on one
// machine), else 0; fails naming every share that is not right.
int run_merge(const Call& call, const std::vector<std::string>& shares);
