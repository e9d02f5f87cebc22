// A sweep's shares (shard.h) and their merge. A share's output is one header
// line, then exactly what the sweep's command prints for those runs alone:
//
//   #share program=trace_report shard=1/4 first=10 runs=10 total=40 failed=0
//          sweep=8c1f0e2ad4b3a977 format=csv bytes=5123 sum=0d2f...   (one line)
//
// The header lets the merge prove that the shares are all there, once
// each, uncut, unchanged (sum covers the header and the rows) and of one
// sweep (the same list, options and format), and then write the bytes the
// sweep prints on one machine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "trace_io/run_list.h"
#include "trace_io/shard.h"

// What tells one sweep from another: every run of the list as written (so
// the same on every host, wherever the list lies) and the command's
// settings that change the rows.
uint64_t sweep_fingerprint(const std::vector<RunLine>& runs, std::string_view settings);

// A share's output: the header line, then body, the rows as the command
// prints them for the share's runs alone (CSV, or JSON with json).
struct ShareOutput {
  std::string_view program;
  Shard shard;
  size_t total = 0;   // runs of the list
  size_t failed = 0;  // runs of this share that failed
  uint64_t sweep = 0;
  bool json = false;
};
std::string share_text(const ShareOutput& share, const std::string& body);

// The shares' outputs merged: on success `output` holds the bytes the
// sweep prints on one machine and `failed` its failed runs. Otherwise
// `problems` names every share that is missing, repeated, cut, changed or
// of another sweep, and every file that is no share; output is then empty.
struct MergedShares {
  std::string output;
  size_t failed = 0;
  std::vector<std::string> problems;
};
MergedShares merge_shares(const std::vector<std::string>& paths);

