// Sweeps in shares: the blocks a share takes, and the merge, which must
// give the one-machine bytes or name every share that is not right.

#include "trace_io/shares.h"

#include <algorithm>

#include "test_support.h"
#include "trace_io/table_output.h"

namespace {

const std::string kExamples = TRACE_ALIGN_SOURCE_DIR "/examples/";

TEST(ShardTest, BlocksAreContiguousNearEqualAndCoverTheListInOrder) {
  for (size_t total = 0; total <= 50; ++total) {
    for (int64_t count = 1; count <= 12; ++count) {
      size_t next = 0;
      for (int64_t k = 0; k < count; ++k) {
        ShardRuns runs = shard_runs(total, {k, count});
        EXPECT_EQ(next, runs.first) << total << " " << k << "/" << count;
        EXPECT_GE(runs.runs, total / static_cast<size_t>(count));
        EXPECT_LE(runs.runs, (total + static_cast<size_t>(count) - 1) / static_cast<size_t>(count));
        next = runs.first + runs.runs;
      }
      EXPECT_EQ(total, next) << total << " in " << count;
    }
  }
  // Products beyond 64 bits do not wrap.
  size_t huge = size_t{1} << 60;
  ShardRuns last = shard_runs(huge, {kMaxShards - 1, kMaxShards});
  EXPECT_EQ(huge, last.first + last.runs);
}

TEST(ShardTest, OnlyWholeNumbersWithKBelowNAreAShard) {
  struct {
    const char* text;
    int64_t index, count;  // count 0: refused
  } cases[] = {
      {"0/1", 0, 1},   {"3/4", 3, 4},  {"999999/1000000", 999999, 1000000},
      {"4/4", 0, 0},   {"0/0", 0, 0},  {"-1/4", 0, 0},
      {"+1/4", 0, 0},  {"1/4x", 0, 0}, {" 1/4", 0, 0},
      {"1", 0, 0},     {"", 0, 0},     {"1/1000001", 0, 0},
      {"1.0/4", 0, 0}, {"1//4", 0, 0}, {"99999999999999999999/4", 0, 0},
  };
  for (const auto& c : cases) {
    std::optional<Shard> shard = parse_shard(c.text);
    EXPECT_EQ(c.count != 0, shard.has_value()) << c.text;
    if (shard && c.count != 0) {
      EXPECT_EQ(c.index, shard->index) << c.text;
      EXPECT_EQ(c.count, shard->count) << c.text;
    }
  }
}

// Rows as a sweep prints them, and each share's output of them.
class MergeTest : public ScratchTest {
 protected:
  std::vector<std::string> names = {"run", "value", "error"};
  std::vector<std::vector<Field>> Rows(size_t count) {
    std::vector<std::vector<Field>> rows;
    for (size_t i = 0; i < count; ++i)
      rows.push_back({Field::string("r\"," + std::to_string(i)),
                      Field::number(number_text(0.1 * static_cast<double>(i))),
                      i == 2 ? Field::string("bad, run") : Field{}});
    return rows;
  }
  // Writes share K of N of the rows as FILE share-K, in reverse order; the paths.
  std::vector<std::string> WriteShares(size_t count, int64_t shards, bool json, uint64_t sweep = 7,
                                       const std::string& prefix = "share-") {
    std::vector<std::vector<Field>> rows = Rows(count);
    std::vector<std::string> paths;
    for (int64_t k = shards - 1; k >= 0; --k) {
      ShardRuns mine = shard_runs(count, {k, shards});
      std::vector<std::vector<Field>> part(
          rows.begin() + static_cast<ptrdiff_t>(mine.first),
          rows.begin() + static_cast<ptrdiff_t>(mine.first + mine.runs));
      size_t failed = mine.first <= 2 && 2 < mine.first + mine.runs ? 1 : 0;
      std::string path = prefix + std::to_string(k);
      WriteFile(path, share_text({"prog", {k, shards}, count, failed, sweep, json},
                                 format_rows(names, part, json)));
      paths.push_back(path);
    }
    return paths;
  }
};

TEST_F(MergeTest, SharesInAnyOrderMergeToTheOneMachineBytes) {
  for (bool json : {false, true}) {
    for (size_t count : {0, 1, 5, 9}) {
      for (int64_t shards : {1, 2, 3, 7}) {
        MergedShares merged = merge_shares(WriteShares(count, shards, json));
        EXPECT_EQ(std::vector<std::string>{}, merged.problems);
        EXPECT_EQ(format_rows(names, Rows(count), json), merged.output)
            << count << " runs in " << shards << (json ? " JSON" : " CSV");
        EXPECT_EQ(count > 2 ? 1u : 0u, merged.failed);
      }
    }
  }
}

TEST_F(MergeTest, EveryShareThatIsNotRightIsNamedAndNothingMerged) {
  struct {
    const char* what;
    std::function<void(std::vector<std::string>&)> spoil;
    std::vector<std::string> problems;
  } cases[] = {
      {"missing", [](auto& p) { p.erase(p.begin() + 1); }, {"share 2 of 4 missing"}},
      {"repeated",
       [](auto& p) { p.push_back("share-1"); },
       {"share 1 of 4 given twice: share-1 and share-1"}},
      {"cut",
       [](auto&) { fs::resize_file("share-1", fs::file_size("share-1") - 58); },
       {"share-1: share 1 of 4 is cut: 10 of its 68 bytes", "share 1 of 4 missing"}},
      {"longer",
       [](auto&) { std::ofstream("share-3", std::ios::app) << "x,1,\n"; },
       {"share-3: share 3 of 4 has 5 bytes more than its header says", "share 3 of 4 missing"}},
      {"header changed",
       [](auto&) {
         std::string text = ReadFile("share-0");
         text.replace(text.find("runs=2"), 6, "runs=3");
         WriteFile("share-0", text);
       },
       {"share-0: share 0 of 4 has been changed: its header and rows do not agree",
        "share 0 of 4 missing"}},
      {"lines converted to CR LF",
       [](auto&) {
         std::string text = ReadFile("share-1"), crlf;
         for (char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
         WriteFile("share-1", crlf);
       },
       {"share-1: share 1 of 4 has been changed: its lines end in CR LF (a text-mode copy?)",
        "share 1 of 4 missing"}},
      {"cut inside the header",
       [](auto&) { fs::resize_file("share-2", 40); },
       {"share-2: share 2 of 4 is cut inside its header line", "share 2 of 4 missing"}},
      {"cut before the shard is named",
       [](auto&) { fs::resize_file("share-2", 10); },
       {"share-2: a share is cut inside its header line", "share 2 of 4 missing"}},
      {"header line of another kind",
       [](auto&) {
         std::string text = ReadFile("share-3");
         text.replace(0, text.find('\n'), "#share whatever");
         WriteFile("share-3", text);
       },
       {"share-3: a share has been changed: its header line is no share header",
        "share 3 of 4 missing"}},
      {"changed row",
       [](auto&) {
         std::string text = ReadFile("share-2");
         text[text.size() - 3] ^= 1;
         WriteFile("share-2", text);
       },
       {"share-2: share 2 of 4 has been changed: its header and rows do not agree",
        "share 2 of 4 missing"}},
      {"another sweep",
       [this](auto&) {
         WriteShares(9, 4, false, 8, "other-");
         fs::rename("other-2", "share-2");
       },
       {"share-2: share 2 of 4 is of another sweep than share-3 (its command, list, options or "
        "format differ)",
        "share 2 of 4 missing"}},
      {"empty",
       [](auto&) { WriteFile("share-3", ""); },
       {"share-3: empty: its share never finished", "share 3 of 4 missing"}},
      {"no share",
       [](auto&) { WriteFile("share-3", "run,value,error\n"); },
       {"share-3: not the output of a share (--shard K/N)", "share 3 of 4 missing"}},
      // Read no further than a header line: it ends at once, small.
      {"a device that never ends",
       [](auto& p) { p.push_back("/dev/zero"); },
       {"/dev/zero: not the output of a share (--shard K/N)"}},
      {"much longer: counted, not kept",
       [](auto&) { std::ofstream("share-3", std::ios::app) << std::string(3 << 20, 'x'); },
       {"share-3: share 3 of 4 has 3145728 bytes more than its header says",
        "share 3 of 4 missing"}},
      {"gone",
       [](auto&) { fs::remove("share-0"); },
       {"can't open file share-0", "share 0 of 4 missing"}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> paths = WriteShares(9, 4, false);  // share-3 first
    c.spoil(paths);
    MergedShares merged = merge_shares(paths);
    EXPECT_EQ(c.problems, merged.problems) << c.what;
    EXPECT_EQ("", merged.output) << c.what;
  }
  // Many shares missing: ten named, the rest counted.
  std::vector<std::string> one = WriteShares(30, 25, true);
  one.resize(1);  // share 24
  MergedShares merged = merge_shares(one);
  ASSERT_EQ(11u, merged.problems.size());
  EXPECT_EQ("share 0 of 25 missing", merged.problems[0]);
  EXPECT_EQ("and 14 more of the 25 shares missing", merged.problems[10]);
}

// The commands: shares of a sweep with a broken run, each with its status,
// merged by the merging command to the bytes and status of --runs.
TEST_F(MergeTest, ReportSharesMergeToTheSweepsOutput) {
  for (const char* f : {"sd0.txt", "sd1.txt", "sd2.txt", "rd.txt"}) fs::copy_file(kExamples + f, f);
  std::string list = "# name,sd0,sd1,sd2,rd\n\n";
  for (int i = 0; i < 7; ++i)
    list += (i == 3 ? "broken,sd0.txt,sd1.txt,sd2.txt,missing\n"
                    : "run" + std::to_string(i) + ",sd0.txt,sd1.txt,sd2.txt,rd.txt\n");
  WriteFile("list.csv", list);
  auto report = [](const std::vector<std::string>& args) {
    return RunToolAt(TRACE_REPORT_BINARY, args);
  };
  for (std::string style : {"--csv", "--json"}) {
    RunResult whole = report({style, "--runs", "list.csv"});
    ASSERT_EQ(1, whole.status);
    std::vector<std::string> merge_args = {"--merge"};
    for (int k = 2; k >= 0; --k) {
      std::string shard = std::to_string(k) + "/3";
      RunResult share = report({style, "--runs", "list.csv", "--shard", shard, "-j", "2"});
      EXPECT_EQ(k == 1 ? 1 : 0, share.status) << shard;  // runs 2 to 3 of 0 to 6 hold "broken"
      WriteFile("share" + std::to_string(k), share.out);
      merge_args.push_back("share" + std::to_string(k));
    }
    RunResult merged = report(merge_args);
    EXPECT_EQ(1, merged.status) << style;
    EXPECT_EQ(whole.out, merged.out) << style;
    merge_args.pop_back();
    RunResult missing = report(merge_args);
    EXPECT_EQ(1, missing.status);
    EXPECT_EQ("", missing.out);
  }
}

}  // namespace
