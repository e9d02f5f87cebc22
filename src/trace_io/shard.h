// A sweep's runs cut into shares for many machines (a job array, hosts
// driven by a shell tool): share K of N takes the K-th of N contiguous,
// near-equal blocks of a list's runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "trace_io/run_list.h"

// Share index of count, index from 0.
struct Shard {
  int64_t index = 0;
  int64_t count = 1;
};

// The most shares of a sweep: more is a mistyped number, not a cluster.
constexpr int64_t kMaxShards = 1000000;

// "K/N" with whole numbers 0 <= K < N <= kMaxShards; nothing otherwise.
std::optional<Shard> parse_shard(std::string_view text);
// The usage error of --shard given text, which is not a shard (null: none given).
std::string shard_usage_error(const char* text);

// text as a whole number in [0, limit]; nothing otherwise.
std::optional<uint64_t> whole_number(std::string_view text, uint64_t limit);

// The runs share `shard` takes of `total`: [first, first + runs).
struct ShardRuns {
  size_t first = 0, runs = 0;
};
ShardRuns shard_runs(size_t total, Shard shard);

// The runs a command runs: the share's block of runs, or all of them.
std::vector<RunLine> runs_of(const std::vector<RunLine>& runs, const std::optional<Shard>& shard);
