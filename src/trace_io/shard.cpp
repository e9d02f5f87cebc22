// Cutting a sweep's runs into shares.

#include "trace_io/shard.h"

#include <charconv>

// text as a whole number in [0, limit]; nothing otherwise.
std::optional<uint64_t> whole_number(std::string_view text, uint64_t limit) {
  uint64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value > limit) return {};
  return value;
}

std::optional<Shard> parse_shard(std::string_view text) {
  size_t slash = text.find('/');
  if (slash == std::string_view::npos) return {};
  std::optional<uint64_t> index = whole_number(text.substr(0, slash), kMaxShards),
                          count = whole_number(text.substr(slash + 1), kMaxShards);
  if (!index || !count || *index >= *count) return {};
  return Shard{static_cast<int64_t>(*index), static_cast<int64_t>(*count)};
}

std::string shard_usage_error(const char* text) {
  if (text == nullptr) return "--shard needs K/N";
  return "--shard needs K/N, whole numbers with 0 <= K < N <= " + std::to_string(kMaxShards) +
         ", not " + text;
}

ShardRuns shard_runs(size_t total, Shard shard) {
  // Floors of K*total/N: blocks differ by at most one run, in list order.
  auto start = [&](int64_t k) {
    return static_cast<size_t>(static_cast<unsigned __int128>(total) * static_cast<uint64_t>(k) /
                               static_cast<uint64_t>(shard.count));
  };
  size_t first = start(shard.index);
  return {first, start(shard.index + 1) - first};
}

std::vector<RunLine> runs_of(const std::vector<RunLine>& runs, const std::optional<Shard>& shard) {
  if (!shard) return runs;
  ShardRuns mine = shard_runs(runs.size(), *shard);
  return {runs.begin() + static_cast<ptrdiff_t>(mine.first),
          runs.begin() + static_cast<ptrdiff_t>(mine.first + mine.runs)};
}
