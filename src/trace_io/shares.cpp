// Shares of a sweep and their merge.

#include "trace_io/shares.h"

#include <algorithm>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

#include "trace_io/failure.h"
#include "trace_io/files.h"

namespace {

constexpr std::string_view kHeaderStart = "#share ";
// The missing shares named one by one; the rest are counted.
constexpr size_t kMissingNamed = 10;

// FNV-1a, 64 bits: it tells sweeps apart and finds a changed share; it
// guards against no adversary.
class Fnv1a {
 public:
  void add(std::string_view text) {
    for (unsigned char c : text) hash_ = (hash_ ^ c) * kPrime;
  }
  void add_end() { hash_ *= kPrime; }  // a zero byte: "ab","c" is not "a","bc"
  uint64_t value() const { return hash_; }

 private:
  static constexpr uint64_t kPrime = 0x100000001b3;
  uint64_t hash_ = 0xcbf29ce484222325;
};

std::string hex16(uint64_t value) {
  char text[17];
  std::snprintf(text, sizeof text, "%016" PRIx64, value);
  return text;
}

// A hexadecimal fingerprint of 16 digits into value; false otherwise.
bool parse_hex16(std::string_view text, uint64_t& value) {
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  return text.size() == 16 && error == std::errc() && end == text.data() + text.size();
}

// The share's sum: of its header up to " sum=" and of its body, so that a
// changed byte anywhere is found.
uint64_t share_sum(std::string_view header_start, std::string_view body) {
  Fnv1a sum;
  sum.add(header_start);
  sum.add_end();
  sum.add(body);
  return sum.value();
}

std::string share_name(Shard shard) {
  return "share " + std::to_string(shard.index) + " of " + std::to_string(shard.count);
}

// A share file as read: its header's values and the bytes after it.
struct ShareFile {
  std::string path;
  std::string program;
  Shard shard;
  uint64_t first = 0, runs = 0, total = 0, failed = 0, sweep = 0, bytes = 0, sum = 0;
  std::string header_start;  // the header line up to " sum="
  bool json = false;
  std::string body;
  // Where the rows lie in body, once frame_rows found them.
  size_t rows_begin = 0, rows_end = 0;
  // The CSV header line (empty for JSON), and the rows without framing.
  std::string_view header() const {
    return std::string_view(body).substr(0, json ? 0 : rows_begin);
  }
  std::string_view rows() const {
    return std::string_view(body).substr(rows_begin, rows_end - rows_begin);
  }
  // Same sweep: the merge may put the two together.
  bool same_sweep(const ShareFile& other) const {
    return program == other.program && shard.count == other.shard.count && total == other.total &&
           sweep == other.sweep && json == other.json;
  }
};

// The header line's values into share; false when it is no share header.
bool parse_header(std::string_view line, ShareFile& share) {
  if (line.substr(0, kHeaderStart.size()) != kHeaderStart) return false;
  size_t sum_at = line.rfind(" sum=");
  if (sum_at == std::string_view::npos) return false;
  share.header_start = line.substr(0, sum_at);
  line.remove_prefix(kHeaderStart.size());
  std::map<std::string_view, std::string_view> values;
  while (!line.empty()) {
    size_t space = line.find(' ');
    std::string_view token = line.substr(0, space);
    size_t equals = token.find('=');
    if (equals == std::string_view::npos ||
        !values.emplace(token.substr(0, equals), token.substr(equals + 1)).second)
      return false;
    line.remove_prefix(space == std::string_view::npos ? line.size() : space + 1);
  }
  auto value = [&](std::string_view key) {
    auto it = values.find(key);
    return it == values.end() ? std::string_view() : it->second;
  };
  std::optional<Shard> shard = parse_shard(value("shard"));
  std::optional<uint64_t> first = whole_number(value("first"), UINT64_MAX),
                          runs = whole_number(value("runs"), UINT64_MAX),
                          total = whole_number(value("total"), UINT64_MAX),
                          failed = whole_number(value("failed"), UINT64_MAX),
                          bytes = whole_number(value("bytes"), UINT64_MAX);
  std::string_view sweep = value("sweep"), format = value("format");
  if (values.size() != 10 || value("program").empty() || !shard || !first || !runs || !total ||
      !failed || !bytes || (format != "csv" && format != "json") ||
      !parse_hex16(sweep, share.sweep) || !parse_hex16(value("sum"), share.sum))
    return false;
  share.program = value("program");
  share.shard = *shard;
  share.first = *first;
  share.runs = *runs;
  share.total = *total;
  share.failed = *failed;
  share.bytes = *bytes;
  share.json = format == "json";
  return true;
}

// A share file read no further than its header allows (compressed or
// piped ones too; fails as inputs do): the header line first, at most a
// list line long, then at most the bytes it announces and one more; what
// lies beyond is counted, not kept. A device or a file that is no share
// costs one line's reading.
struct ShareText {
  std::string header;  // the first line, without its newline
  bool header_ended = false;
  std::string body;     // at most `bytes` + 1 bytes after the header
  uint64_t beyond = 0;  // the bytes after those
};

class ShareReader {
 public:
  explicit ShareReader(const std::string& path) {
    if (!in_.open(path.c_str(), true)) fail("can't open file " + path);
  }
  // The header line: false when the file ends before it does or it is too long.
  bool header(ShareText& text) {
    while (text.header.size() <= kMaxListLine) {
      if (!fill()) return false;
      const char* begin = buf_ + at_;
      const char* nl = static_cast<const char*>(std::memchr(begin, '\n', got_ - at_));
      size_t take = nl != nullptr ? static_cast<size_t>(nl - begin) : got_ - at_;
      text.header.append(begin, take);
      at_ += take;
      if (nl != nullptr) {
        ++at_;
        return text.header_ended = text.header.size() <= kMaxListLine;
      }
    }
    return false;
  }
  void body(ShareText& text, uint64_t bytes) {
    while (fill()) {
      size_t room =
          text.body.size() <= bytes ? static_cast<size_t>(bytes + 1 - text.body.size()) : 0;
      size_t take = std::min(room, got_ - at_);
      text.body.append(buf_ + at_, take);
      text.beyond += got_ - at_ - take;
      at_ = got_;
    }
  }

 private:
  bool fill() {
    if (at_ < got_) return true;
    got_ = in_.read(buf_, sizeof buf_);
    at_ = 0;
    return got_ > 0;
  }
  InputFile in_;
  char buf_[1 << 16];
  size_t at_ = 0, got_ = 0;
};

// The shard a damaged header names, when its token is whole.
std::optional<Shard> shard_token(std::string_view line) {
  size_t at = line.find(" shard=");
  if (at == std::string_view::npos) return std::nullopt;
  line.remove_prefix(at + 7);
  size_t space = line.find(' ');
  if (space == std::string_view::npos) return std::nullopt;
  return parse_shard(line.substr(0, space));
}

// Finds the body's rows, framing taken off: for CSV what follows its
// header line, for JSON the objects between "[\n" and "]\n". False when the
// body is not rows of that format.
bool frame_rows(ShareFile& share) {
  std::string_view body = share.body;
  if (share.json) {
    if (body.size() < 4 || body.substr(0, 2) != "[\n" || body.substr(body.size() - 2) != "]\n")
      return false;
    share.rows_begin = 2;
    share.rows_end = body.size() - 2;
    return share.rows().empty() || share.rows().back() == '\n';
  }
  size_t nl = body.find('\n');
  if (nl == std::string_view::npos || body.back() != '\n') return false;
  share.rows_begin = nl + 1;
  share.rows_end = body.size();
  return true;
}

}  // namespace

uint64_t sweep_fingerprint(const std::vector<RunLine>& runs, std::string_view settings) {
  Fnv1a hash;
  for (const RunLine& run : runs) {
    hash.add(run.written);
    hash.add_end();
  }
  hash.add(settings);
  return hash.value();
}

std::string share_text(const ShareOutput& share, const std::string& body) {
  ShardRuns runs = shard_runs(share.total, share.shard);
  std::string header =
      std::string(kHeaderStart) + "program=" + std::string(share.program) +
      " shard=" + std::to_string(share.shard.index) + "/" + std::to_string(share.shard.count) +
      " first=" + std::to_string(runs.first) + " runs=" + std::to_string(runs.runs) +
      " total=" + std::to_string(share.total) + " failed=" + std::to_string(share.failed) +
      " sweep=" + hex16(share.sweep) + " format=" + (share.json ? "json" : "csv") +
      " bytes=" + std::to_string(body.size());
  return header + " sum=" + hex16(share_sum(header, body)) + "\n" + body;
}

MergedShares merge_shares(const std::vector<std::string>& paths) {
  MergedShares merged;
  auto problem = [&](std::string text) { merged.problems.push_back(std::move(text)); };
  std::vector<ShareFile> shares;
  for (const std::string& path : paths) {
    ShareFile share;
    share.path = path;
    ShareText text;
    bool parsed = false;
    std::optional<RunFailure> failure = failure_of([&] {
      auto reader = std::make_unique<ShareReader>(path);
      parsed = reader->header(text) && parse_header(text.header, share);
      if (parsed) reader->body(text, share.bytes);
    });
    if (failure) {
      problem(failure->message);
      continue;
    }
    if (text.header.empty() && !text.header_ended) {
      problem(path + ": empty: its share never finished");
      continue;
    }
    if (!parsed) {
      // A share's header cut, or changed (a CR LF conversion, say), is
      // said so, naming the share when its header still can.
      bool share_like = text.header.substr(0, kHeaderStart.size()) == kHeaderStart;
      std::optional<Shard> shard = share_like ? shard_token(text.header) : std::nullopt;
      std::string name = path + (shard ? ": " + share_name(*shard) : std::string(": a share"));
      if (!share_like)
        problem(path + ": not the output of a share (--shard K/N)");
      else if (!text.header_ended && text.header.size() <= kMaxListLine)
        problem(name + " is cut inside its header line");
      else if (!text.header.empty() && text.header.back() == '\r')
        problem(name + " has been changed: its lines end in CR LF (a text-mode copy?)");
      else
        problem(name + " has been changed: its header line is no share header");
      continue;
    }
    share.body = std::move(text.body);
    std::string name = path + ": " + share_name(share.shard);
    ShardRuns runs = shard_runs(share.total, share.shard);
    if (share.body.size() < share.bytes)
      problem(name + " is cut: " + std::to_string(share.body.size()) + " of its " +
              std::to_string(share.bytes) + " bytes");
    else if (share.body.size() > share.bytes)
      problem(name + " has " + std::to_string(share.body.size() - share.bytes + text.beyond) +
              " bytes more than its header says");
    else if (share_sum(share.header_start, share.body) != share.sum || runs.first != share.first ||
             runs.runs != share.runs || share.failed > share.runs || !frame_rows(share))
      problem(name + " has been changed: its header and rows do not agree");
    else
      shares.push_back(std::move(share));
  }
  if (shares.empty()) {
    if (merged.problems.empty()) problem("no share to merge");
    return merged;
  }

  const ShareFile& model = shares.front();
  std::vector<const ShareFile*> slots(static_cast<size_t>(model.shard.count), nullptr);
  for (const ShareFile& share : shares) {
    std::string name = share.path + ": " + share_name(share.shard);
    if (!share.same_sweep(model) || share.header() != model.header()) {
      problem(name + " is of another sweep than " + model.path +
              " (its command, list, options or format differ)");
      continue;
    }
    const ShareFile*& slot = slots[static_cast<size_t>(share.shard.index)];
    if (slot != nullptr)
      problem(share_name(share.shard) + " given twice: " + slot->path + " and " + share.path);
    else
      slot = &share;
  }
  size_t missing = 0;
  for (size_t k = 0; k < slots.size(); ++k) {
    if (slots[k] != nullptr) continue;
    if (++missing <= kMissingNamed)
      problem(share_name({static_cast<int64_t>(k), model.shard.count}) + " missing");
  }
  if (missing > kMissingNamed)
    problem("and " + std::to_string(missing - kMissingNamed) + " more of the " +
            std::to_string(model.shard.count) + " shares missing");
  if (!merged.problems.empty()) return merged;

  // The one-machine framing around every share's rows, in shard order.
  std::string out = model.json ? "[\n" : std::string(model.header());
  bool any_rows = false;
  for (const ShareFile* share : slots) {
    merged.failed += share->failed;
    std::string_view rows = share->rows();
    if (rows.empty()) continue;
    if (model.json && any_rows) {
      out.pop_back();  // the previous share's last object gets its comma
      out += ",\n";
    }
    out += rows;
    any_rows = true;
  }
  if (model.json) out += "]\n";
  merged.output = std::move(out);
  return merged;
}
