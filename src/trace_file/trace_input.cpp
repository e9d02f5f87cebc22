// Trace input: every table is read by counting its lines, rewinding,
// allocating the exact array and parsing. Loads the sender and receiver
// traces, and builds the receiver frame table by writing rd_frame_dat and
// loading it back. Every problem with an input ends the run before any
// output file is touched, naming the file and, for a bad line, its number.

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <cerrno>
#include <cstring>

#include "trace_file.h"

namespace {

constexpr size_t kBlock = size_t{1} << 20;
constexpr size_t kMaxLineChars = 998;  // before the newline

std::string reason() { return std::strerror(errno); }

void rewind_or_fail(InputFile& in) {
  if (std::fseek(in.fp, 0, SEEK_SET) != 0)
    fail(in.path + ": cannot read it a second time: " + reason() +
         " (give a regular file, not a pipe)");
  std::clearerr(in.fp);
}

// Reads a stream line by line in large blocks, converting each column where
// it stands. While a line is read, a newline is guaranteed within its first
// 999 bytes: the line's own, one put after an unterminated last line, or a
// stand-in at byte 999 that marks a line too long. So scans need no bounds
// but the newline.
class LineReader {
 public:
  // Room after the data: a line is looked at 64 bytes at a time, and the
  // last window of a line may reach 63 bytes past its newline.
  static constexpr size_t kSlack = 64;
  explicit LineReader(InputFile& in) : in_(in), buf_(new char[kBlock + kSlack]()) {}

  // The columns of one line, read in order; a line with too few, or too
  // long, ends the run. Columns are found with bit masks of the spaces and
  // newlines in 64-byte windows of the line, not byte by byte.
  class Fields {
   public:
    Fields(LineReader& reader, int want) : reader_(reader), want_(want) {
      const char* line = reader.begin_line();
      if (line == nullptr) fail(reader.in_.path + ": the file changed while it was being read");
      look_at(line);
    }
    int32_t int32() {
      const char* begin = token();
      return token_int32(begin, window_ + at_);
    }
    double time() {
      const char* begin = token();
      return token_time(begin, window_ + at_);
    }
    // Skips what is left of the line (extra columns are ignored).
    void end() {
      uint64_t newline;
      while ((newline = newlines_ & (~uint64_t{0} << at_)) == 0) look_at(window_ + 64);
      reader_.end_line(window_ + __builtin_ctzll(newline));
    }

   private:
    // The next token's first byte; at_ is left on the space or newline
    // that ends it.
    const char* token() {
      uint64_t found;
      while ((found = ~spaces_ & (~uint64_t{0} << at_)) == 0) look_at(window_ + 64);
      at_ = static_cast<unsigned>(__builtin_ctzll(found));
      if ((newlines_ >> at_) & 1) missing_column();
      ++found_;
      const char* begin = window_ + at_;
      while ((found = (spaces_ | newlines_) & (~uint64_t{0} << at_)) == 0) look_at(window_ + 64);
      at_ = static_cast<unsigned>(__builtin_ctzll(found));
      return begin;
    }
    [[noreturn, gnu::cold, gnu::noinline]] void missing_column() {
      reader_.end_line(window_ + at_);  // a line too long is reported as such
      fail(reader_.where() + ": expected " + std::to_string(want_) + " columns, found " +
           std::to_string(found_));
    }
    void look_at(const char* window) {
      window_ = window;
      at_ = 0;
      spaces_ = byte_mask(window, ' ');
      newlines_ = byte_mask(window, '\n');
    }
    // Bit i set where window[i] == c, for 64 bytes.
    static uint64_t byte_mask(const char* window, char c) {
      uint64_t mask = 0;
#ifdef __SSE2__
      const __m128i wanted = _mm_set1_epi8(c);
      for (int i = 0; i < 4; ++i) {
        __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(window + 16 * i));
        uint32_t bits = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, wanted)));
        mask |= uint64_t{bits} << (16 * i);
      }
#else
      for (int i = 0; i < 64; ++i) mask |= uint64_t{window[i] == c} << i;
#endif
      return mask;
    }
    LineReader& reader_;
    int want_;
    int found_ = 0;
    const char* window_ = nullptr;  // 64 bytes of the line
    unsigned at_ = 0;               // where in the window reading stands
    uint64_t spaces_ = 0;           // bit masks of the window
    uint64_t newlines_ = 0;
  };

 private:
  // The next line's first byte, or nullptr at the end of the file.
  const char* begin_line() {
    if (len_ - pos_ <= kMaxLineChars && !eof_) refill();
    if (pos_ == len_) return nullptr;
    ++line_;
    char* base = buf_.get();
    stand_in_ = pos_ + kMaxLineChars + 1;
    if (stand_in_ > len_) stand_in_ = len_;  // only at the end of the file
    saved_ = base[stand_in_];
    base[stand_in_] = '\n';
    return base + pos_;
  }

  // Ends the current line at its newline nl; checks its length.
  void end_line(const char* nl) {
    char* base = buf_.get();
    base[stand_in_] = saved_;
    size_t begin = pos_;
    pos_ = static_cast<size_t>(nl - base) + 1;
    if (pos_ > len_) pos_ = len_;  // the newline after an unterminated last line
    if (static_cast<size_t>(nl - base) - begin > kMaxLineChars) too_long(line_);
  }

  // Keeps at least 999 unread bytes in the buffer unless the file ends.
  void refill() {
    char* base = buf_.get();
    size_t rest = len_ - pos_;
    std::memmove(base, base + pos_, rest);
    pos_ = 0;
    len_ = rest;
    while (len_ <= kMaxLineChars && !eof_) {
      size_t n = std::fread(base + len_, 1, kBlock - len_, in_.fp);
      if (n == 0) {
        if (std::ferror(in_.fp)) fail(in_.path + ": cannot read: " + reason());
        eof_ = true;
        base[len_] = '\n';  // len_ <= kBlock: within the slack
      }
      len_ += n;
    }
  }

  std::string where() const { return in_.path + ":" + std::to_string(line_); }
  [[noreturn]] void too_long(int64_t line) const {
    fail(in_.path + ":" + std::to_string(line) + ": line longer than " +
         std::to_string(kMaxLineChars) + " characters");
  }

  InputFile& in_;
  std::unique_ptr<char[]> buf_;
  size_t pos_ = 0;
  size_t len_ = 0;
  bool eof_ = false;
  int64_t line_ = 0;
  size_t stand_in_ = 0;  // where the stand-in newline of the current line is
  char saved_ = 0;       // the byte it replaced
};

template <typename T>
Array<T> allocate(int32_t count, const std::string& what) {
  Array<T> array = allocate_array<T>(static_cast<size_t>(count));
  if (!array) fail(what + ": cannot allocate memory for " + std::to_string(count) + " records");
  return array;
}

char* put_frame_row(char* out, int32_t frame, int32_t src, int32_t size) {
  out = put_int_left16(out, frame);
  *out++ = ' ';
  out = put_int(out, src);
  *out++ = ' ';
  out = put_int(out, size);
  *out++ = '\n';
  return out;
}

// Rows the grouping writes: one per run of equal frame numbers, one for
// the starting frame 0, and one per frame number skipped forward. Counted
// on 64 bits and stopped as soon as the table could no longer be indexed.
int64_t count_frame_rows(const RdRecord* list, int32_t count) {
  int64_t rows = 1;
  int32_t previous = 0;
  for (int32_t i = 0; i < count; ++i) {
    int32_t frame = list[i].frame;
    if (frame == previous) continue;
    int64_t gap = static_cast<int64_t>(frame) - previous - 1;
    rows += 1 + (gap > 0 ? gap : 0);
    if (rows > INT32_MAX) return rows;
    previous = frame;
  }
  return rows;
}

// Newlines in a block, 16 bytes a step where SSE2 is there.
int64_t count_newlines(const char* p, size_t n) {
  int64_t count = 0;
#ifdef __SSE2__
  const __m128i newline = _mm_set1_epi8('\n');
  while (n >= 16) {
    // Per-byte tallies (a match compares as -1, so subtracting adds 1)
    // for at most 255 steps, then summed across the bytes.
    size_t steps = n / 16 < 255 ? n / 16 : 255;
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

}  // namespace

int32_t count_lines(InputFile& stream) {
  // Seek first: a pipe cannot be read twice, and finding out after
  // consuming it would be too late.
  rewind_or_fail(stream);
  std::unique_ptr<char[]> buf(new char[kBlock]);
  int64_t lines = 0;
  char last = '\n';
  for (;;) {
    size_t n = std::fread(buf.get(), 1, kBlock, stream.fp);
    if (n == 0) {
      if (std::ferror(stream.fp)) fail(stream.path + ": cannot read: " + reason());
      break;
    }
    lines += count_newlines(buf.get(), n);
    last = buf[n - 1];
  }
  // A last line without newline is a record too.
  if (last != '\n') ++lines;
  if (lines > INT32_MAX)
    fail(stream.path + ": too many lines (more than " + std::to_string(INT32_MAX) + ")");
  rewind_or_fail(stream);
  return static_cast<int32_t>(lines);
}

void TraceFile::read_sd(int32_t src, InputFile& stream) {
  int32_t count = count_lines(stream);
  if (src < 0 || src > 2) return;
  sd_list[src] = allocate<SdRecord>(count, stream.path);
  sd_num[src] = count;
  LineReader reader(stream);
  SdRecord* records = sd_list[src].get();
  for (int32_t i = 0; i < count; ++i) {
    LineReader::Fields f(reader, 6);
    SdRecord& r = records[i];
    r.time = f.time();
    r.col1 = f.int32();
    r.frame = f.int32();
    r.size = f.int32();
    r.col4 = f.int32();
    r.col5 = f.int32();
    f.end();
  }
}

void TraceFile::read_rd(InputFile& stream) {
  load_rd(stream);
  create_rd_frame_table();
}

void TraceFile::read_all(InputFile (&inputs)[4]) {
  JobResult senders, receiver;
  run_side_by_side(
      [&] {
        for (int32_t src = 0; src < 3; ++src) read_sd(src, inputs[src]);
      },
      senders, [&] { load_rd(inputs[3]); }, receiver);
  // The senders come first in a one-thread run: their problem is the one
  // it would have met.
  if (senders.failed) end_run(senders.message);
  if (receiver.failed) end_run(receiver.message);
  create_rd_frame_table();
}

void TraceFile::load_rd(InputFile& stream) {
  int32_t count = count_lines(stream);
  rd_list = allocate<RdRecord>(count, stream.path);
  rd_num = count;
  LineReader reader(stream);
  RdRecord* records = rd_list.get();
  for (int32_t i = 0; i < count; ++i) {
    LineReader::Fields f(reader, 5);
    RdRecord& r = records[i];
    r.time = f.time();
    r.src = f.int32();
    r.frame = f.int32();
    r.size = f.int32();
    r.col4 = f.int32();
    f.end();
  }
}

void TraceFile::create_rd_frame_table() {
  // The row count and the table come first, so that a table that cannot
  // exist ends the run before rd_frame_dat is created.
  const char* kName = "rd_frame_dat";
  int64_t rows = count_frame_rows(rd_list.get(), rd_num);
  if (rows > INT32_MAX)
    fail(std::string(kName) + ": the receiver trace's frame numbers need more than " +
         std::to_string(INT32_MAX) + " table rows");
  Array<RdFrame> table = allocate<RdFrame>(static_cast<int32_t>(rows), kName);

  rd_frame_fp.create(kName);
  int32_t previous = 0;
  int32_t source = -1;
  uint32_t sum = 0;  // sizes wrap modulo 2^32
  for (int32_t i = 0; i < rd_num; ++i) {
    const RdRecord& r = rd_list[i];
    if (r.frame == previous) {
      sum += static_cast<uint32_t>(r.size);
    } else {
      rd_frame_fp.commit(put_frame_row(rd_frame_fp.reserve(), previous, source,
                                       static_cast<int32_t>(sum)));
      sum = static_cast<uint32_t>(r.size);
      // Frames skipped forward arrived not at all: filled in with size 0
      // and the source of the last packet before the gap.
      for (int64_t f = int64_t{previous} + 1; f < r.frame; ++f)
        rd_frame_fp.commit(put_frame_row(rd_frame_fp.reserve(), static_cast<int32_t>(f), source, 0));
    }
    source = r.src;
    previous = r.frame;
  }
  rd_frame_fp.commit(put_frame_row(rd_frame_fp.reserve(), previous, source,
                                   static_cast<int32_t>(sum)));
  rd_frame_fp.close();

  // The table is what the file holds: read it back, row for row.
  InputFile back;
  if (!back.open(kName)) fail(std::string(kName) + ": cannot reopen for reading: " + reason());
  int32_t count = count_lines(back);
  if (count != rows)
    fail(std::string(kName) + ": holds " + std::to_string(count) + " rows where " +
         std::to_string(rows) + " were written");
  LineReader reader(back);
  for (int32_t i = 0; i < count; ++i) {
    LineReader::Fields f(reader, 3);
    RdFrame& row = table[i];
    row.frame = f.int32();
    row.src = f.int32();
    row.size = f.int32();
    f.end();
  }
  back.close();
  rd_frame_list = std::move(table);
  rd_frame_num = count;
}
