// The reading rules of a sender trace written the slow, obvious way, so
// that unit tests and fuzz targets hold the fast reader to one statement
// of them.
#pragma once

#include <cmath>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "trace_align/trace_file.h"
#include "trace_io/numbers.h"

// The tokens of each line of text: a UTF-8 byte-order mark at the start is
// skipped; a line is split at runs of spaces, its newline belonging to its
// last token; a newline alone is a token only after others.
inline std::vector<std::vector<std::string>> TokensOfLines(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::vector<std::vector<std::string>> lines;
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end) {
    const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    const char* stop = nl != nullptr ? nl + 1 : end;
    std::vector<std::string> tokens;
    for (const char* q = p; q < stop;) {
      if (*q == ' ') {
        ++q;
        continue;
      }
      const char* r = q;
      while (r < stop && *r != ' ') ++r;
      tokens.emplace_back(q, r);
      q = r;
    }
    if (tokens.size() == 1 && tokens[0] == "\n") tokens.clear();
    lines.push_back(tokens);
    p = stop;
  }
  return lines;
}

// What a sender record holds that its line's tokens do not give ("" when
// it holds their conversions). A NaN keeps only its sign, which is all
// that printing it shows.
inline std::string SenderRecordMismatch(const SdRecord& r, const std::vector<std::string>& tokens) {
  if (tokens.size() < 6) return "a line of " + std::to_string(tokens.size()) + " tokens was loaded";
  auto Int = [&](size_t k) {
    return parse_int32(tokens[k].data(), tokens[k].data() + tokens[k].size());
  };
  double want = parse_time(tokens[0].data(), tokens[0].data() + tokens[0].size());
  double got = r.time.value();
  bool same_time = std::isnan(want) ? std::isnan(got) && std::signbit(want) == std::signbit(got)
                                    : std::memcmp(&want, &got, sizeof want) == 0;
  if (!same_time) return "time of " + tokens[0];
  if (Int(2) != r.frame) return "frame of " + tokens[2];
  if (Int(3) != r.size) return "size of " + tokens[3];
  if (Int(4) != r.col4) return "col4 of " + tokens[4];
  if (Int(5) != r.col5) return "col5 of " + tokens[5];
  return "";
}
