// The line reader's slow paths and its byte scans: SSE2 where the machine
// has it (plain_line.h decides), unless the build asks for the portable
// scans (TRACE_ALIGN_SIMD=OFF), which then get tested too.

#include "trace_io/line_reader.h"

#include <cstring>

#include "trace_io/failure.h"

void LineReader::Fields::missing_column() {
  reader_.end_line(window_ + at_);  // a line too long is reported as such
  fail(reader_.where() + ": expected " + std::to_string(want_) + " columns, found " +
       std::to_string(found_));
}

uint64_t LineReader::Fields::byte_mask(const char* window, char c) {
  uint64_t mask = 0;
#ifdef TRACE_ALIGN_SSE2
  const __m128i wanted = _mm_set1_epi8(c);
  for (int i = 0; i < 4; ++i) {
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(window + 16 * i));
    uint32_t bits = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, wanted)));
    mask |= uint64_t{bits} << (16 * i);
  }
#else
  for (size_t i = 0; i < kWindow; ++i) mask |= uint64_t{window[i] == c} << i;
#endif
  return mask;
}

void LineReader::refill() {
  char* base = text_;
  size_t rest = len_ - pos_;
  std::memmove(base, base + pos_, rest);
  offset_ += pos_;
  pos_ = 0;
  len_ = rest;
  while (len_ <= kMaxLineChars && !eof_) {
    size_t n = in_.read(base + len_, kReadBlock - len_);
    if (n == 0) {
      eof_ = true;
      base[len_] = '\n';  // len_ <= kReadBlock: within the slack
    }
    size_t from = len_;
    len_ += n;
    if (n > 0) find_bad_cr(from);
  }
}

void LineReader::find_bad_cr(size_t from) {
  if (bad_cr_ != UINT64_MAX) return;  // only the first matters
  char* base = text_;
  // A carriage return that ended the last read is judged by the next byte.
  if (cr_last_ && base[from] != '\n') bad_cr_ = offset_ + from - 1;
  for (const char* p = base + from; bad_cr_ == UINT64_MAX;) {
    p = static_cast<const char*>(std::memchr(p, '\r', static_cast<size_t>(base + len_ - p)));
    if (p == nullptr || p + 1 == base + len_) break;
    if (p[1] != '\n') bad_cr_ = offset_ + static_cast<uint64_t>(p - base);
    ++p;
  }
  cr_last_ = base[len_ - 1] == '\r';
}

void LineReader::carriage_return() const { fail(where() + ": carriage return inside a line"); }

std::string LineReader::where() const { return in_.path + ":" + std::to_string(line_); }

void LineReader::too_long() const {
  fail(where() + ": line longer than " + std::to_string(kMaxLineChars) + " characters");
}

void LineReader::changed_while_read() const {
  fail(in_.path + ": the file changed while it was being read");
}

int64_t count_newlines(const char* p, size_t n) {
  int64_t count = 0;
#ifdef TRACE_ALIGN_SSE2
  // Per-byte tallies (a match compares as -1, so subtracting adds 1) for at
  // most 255 steps of 16 bytes, then summed across the bytes.
  constexpr size_t kMaxSteps = 255;
  const __m128i newline = _mm_set1_epi8('\n');
  while (n >= 16) {
    size_t steps = n / 16 < kMaxSteps ? n / 16 : kMaxSteps;
    __m128i tally = _mm_setzero_si128();
    for (size_t i = 0; i < steps; ++i, p += 16) {
      __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      tally = _mm_sub_epi8(tally, _mm_cmpeq_epi8(bytes, newline));
    }
    __m128i sums = _mm_sad_epu8(tally, _mm_setzero_si128());
    count += _mm_cvtsi128_si64(sums) + _mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums));
    n -= steps * 16;
  }
#endif
  for (; n > 0; --n) count += *p++ == '\n';
  return count;
}
