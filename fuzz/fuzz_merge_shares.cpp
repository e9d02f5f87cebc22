// Fuzz target: the merge of a sweep's shares. Two kinds of input, by the
// first byte's top bit:
//   set    the rest, split at the byte 0x01, is up to four files given to
//          the merge as shares (the parser of headers and bodies);
//   clear  the rest builds rows, cut into 1 to 5 shares as the commands
//          cut them, then one share may be spoiled (a byte changed, cut
//          short, dropped or given twice). Unspoiled, the merge must give
//          the rows' one-machine bytes; spoiled, it must refuse. It may
//          never give other bytes.

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "trace_io/shares.h"
#include "trace_io/table_output.h"

namespace {

std::string Name(size_t k) { return "share-" + std::to_string(k); }

void RawShares(const uint8_t* data, size_t size) {
  const uint8_t* end = data + size;
  std::vector<std::string> paths;
  for (size_t k = 0; k < 4 && (k == 0 || data < end); ++k) {
    const uint8_t* cut = static_cast<const uint8_t*>(std::memchr(data, 1, end - data));
    const uint8_t* part_end = cut != nullptr ? cut : end;
    WriteInput(Name(k).c_str(), data, part_end - data);
    paths.push_back(Name(k));
    data = cut != nullptr ? cut + 1 : end;
  }
  MergedShares merged = merge_shares(paths);
  if (!merged.problems.empty() && !merged.output.empty()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  EnterScratchDirectory();
  if (size < 5) return 0;
  if (data[0] & 0x80) {
    RawShares(data + 1, size - 1);
    return 0;
  }
  int64_t shards = data[0] % 5 + 1;
  bool json = data[1] & 1;
  int spoil = data[1] >> 1 & 7;  // 0, 5, 6, 7: none
  size_t victim = data[2] % static_cast<size_t>(shards);
  size_t at = data[3] | static_cast<size_t>(data[4]) << 8;
  data += 5;
  size -= 5;

  // A row per line: the line as a run name, its length as a figure.
  std::vector<std::string> names = {"run", "bytes", "error"};
  std::vector<std::vector<Field>> rows;
  const char* text = reinterpret_cast<const char*>(data);
  for (size_t start = 0; start < size && rows.size() < 64;) {
    const char* nl = static_cast<const char*>(std::memchr(text + start, '\n', size - start));
    size_t stop = nl != nullptr ? static_cast<size_t>(nl - text) : size;
    std::string line(text + start, stop - start);
    rows.push_back({Field::string(line), Field::number(std::to_string(line.size())),
                    line.empty() ? Field::string("empty") : Field{}});
    start = stop + 1;
  }
  size_t failed = 0;
  for (const auto& row : rows) failed += row[2].text.has_value();
  std::string whole = format_rows(names, rows, json);

  std::vector<std::string> paths;
  for (int64_t k = shards - 1; k >= 0; --k) {  // given in reverse order
    ShardRuns mine = shard_runs(rows.size(), {k, shards});
    std::vector<std::vector<Field>> part(
        rows.begin() + static_cast<ptrdiff_t>(mine.first),
        rows.begin() + static_cast<ptrdiff_t>(mine.first + mine.runs));
    size_t bad = 0;
    for (const auto& row : part) bad += row[2].text.has_value();
    std::string share = share_text({"fuzz", {k, shards}, rows.size(), bad, 42, json},
                                   format_rows(names, part, json));
    if (static_cast<size_t>(k) == victim) {
      if (spoil == 1) share[at % share.size()] ^= static_cast<char>(1 + (at >> 8) % 255);
      if (spoil == 2) share.resize(at % share.size());
    }
    WriteInput(Name(static_cast<size_t>(k)).c_str(), share);
    if (!(spoil == 3 && static_cast<size_t>(k) == victim)) paths.push_back(Name(k));
  }
  if (spoil == 4) paths.push_back(Name(victim));
  bool spoiled = spoil >= 1 && spoil <= 4;

  MergedShares merged = merge_shares(paths);
  if (spoiled != !merged.problems.empty()) std::abort();
  if (!spoiled && (merged.output != whole || merged.failed != failed)) std::abort();
  if (spoiled && !merged.output.empty()) std::abort();
  return 0;
}
