// Reading a table file line by line in large blocks, converting each
// column where it stands in the block. The limits on a line are defined
// here, once, and tied together below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "trace_io/files.h"
#include "trace_io/numbers.h"
#include "trace_io/plain_line.h"

// A line holds at most this many characters before its newline (a line of
// 999 bytes, newline included: what a 1000-byte line buffer holds).
inline constexpr size_t kMaxLineChars = 998;
// Blocks read from the file at a time.
inline constexpr size_t kReadBlock = size_t{1} << 18;
// Columns are found with bit masks of 64-byte windows of the line.
inline constexpr size_t kWindow = 64;
// Room after the data in the read buffer: the last window of a line may
// reach kWindow - 1 bytes past its newline, the plain-form reading
// kPlainLookahead bytes past its start.
inline constexpr size_t kReadSlack = 128;
static_assert(kReadSlack >= kWindow - 1, "a window past the newline must stay in the buffer");
static_assert(kReadSlack >= kPlainLookahead && kMaxLineChars + 1 >= kPlainLookahead,
              "the plain-form reading must stay in the buffer");
static_assert(kReadSlack >= kTokenLookahead, "token readers look past the token's end");
static_assert(kReadBlock > kMaxLineChars + 1, "a whole line must fit in the buffer");

// Number of newline bytes in [p, p + n).
int64_t count_newlines(const char* p, size_t n);

// While a line is read, a newline is guaranteed within its first
// kMaxLineChars + 1 bytes: the line's own, one put after an unterminated
// last line, or a stand-in that marks a line too long. So scans need no
// bounds but the newline.
class LineReader {
 public:
  explicit LineReader(InputFile& in)
      : in_(in),
        buf_(new char[kPlainLookbehind + kReadBlock + kReadSlack]()),
        text_(buf_.get() + kPlainLookbehind) {}

  // The columns of one line, read in order. Tokens are separated by spaces
  // only; the newline belongs to the last token, so after a trailing space
  // it is a token of its own and reads as 0. A line with too few columns,
  // or too long, ends the run.
  // True while a line is left to read.
  bool more() {
    if (len_ - pos_ <= kMaxLineChars && !eof_) refill();
    return pos_ != len_;
  }

  // The columns of a line read whole in the plain form, handed out in
  // order as Fields hands them out.
  class PlainFields {
   public:
    int32_t int32() { return ints_[found_++]; }
    double time() { return trace_time().value(); }
    TraceTime trace_time() {
      int32_t column = found_++;
      return column == 0 ? time_ : TraceTime(static_cast<double>(ints_[column]));
    }
    void end() {}

   private:
    friend class LineReader;
    int found_ = 0;
    TraceTime time_;
    int32_t ints_[kMaxPlainColumns];
  };

  // Reads the next line whole into fields if it has the plain form
  // (plain_line.h) and `want` columns; returns false, reading nothing, for
  // any other line. The integer columns whose bits are set in `unused` (bit
  // k for column k), whose values the caller ignores, are not converted
  // and read as 0.
  bool read_plain(int want, uint32_t unused, PlainFields& fields) {
    if (len_ - pos_ <= kMaxLineChars && !eof_) refill();
    const char* line = text_ + pos_;
    size_t length;
    switch (want) {
      case 3:
        length = plain_line::read<3>(line, unused, &fields.time_, fields.ints_);
        break;
      case 5:
        length = plain_line::read<5>(line, unused, &fields.time_, fields.ints_);
        break;
      case 6:
        length = plain_line::read<6>(line, unused, &fields.time_, fields.ints_);
        break;
      default:
        return false;
    }
    if (length == 0) return false;
    // A stray carriage return in the line, whichever column holds it (the
    // plain form leaves unused columns unread): the token reader refuses it.
    if (bad_cr_ < offset_ + pos_ + length) return false;
    ++line_;
    pos_ += length;
    if (pos_ > len_) pos_ = len_;  // past an unterminated last line's stand-in newline
    return true;
  }

  class Fields {
   public:
    Fields(LineReader& reader, int want) : reader_(reader), want_(want) {
      const char* line = reader.begin_line();
      if (line == nullptr) reader.changed_while_read();
      look_at(line);
    }
    int32_t int32() {
      const char* begin = token();
      return token_int32(begin, window_ + at_);
    }
    double time() { return trace_time().value(); }
    // The same, kept as the record keeps it.
    TraceTime trace_time() {
      const char* begin = token();
      return TraceTime(token_time(begin, window_ + at_));
    }
    // Skips what is left of the line (extra columns are ignored).
    void end() {
      uint64_t newline;
      while ((newline = newlines_ & above(at_)) == 0) look_at(window_ + kWindow);
      reader_.end_line(window_ + __builtin_ctzll(newline));
    }

   private:
    static uint64_t above(unsigned at) { return ~uint64_t{0} << at; }
    // The next token's first byte; at_ is left on the space or newline
    // that ends it.
    const char* token() {
      uint64_t found;
      while ((found = ~spaces_ & above(at_)) == 0) look_at(window_ + kWindow);
      at_ = static_cast<unsigned>(__builtin_ctzll(found));
      const char* begin = window_ + at_;
      if ((newlines_ >> at_) & 1) {
        // A newline after a space is a token if it follows another one on
        // the line and is the line's own; it reads as 0 (the empty text).
        if (found_ == 0 || after_last_ || !reader_.is_line_end(begin)) missing_column();
        ++found_;
        after_last_ = true;
        return begin;
      }
      ++found_;
      while ((found = (spaces_ | newlines_) & above(at_)) == 0) look_at(window_ + kWindow);
      at_ = static_cast<unsigned>(__builtin_ctzll(found));
      after_last_ = (newlines_ >> at_) & 1;
      return begin;
    }
    [[noreturn, gnu::cold, gnu::noinline]] void missing_column();
    void look_at(const char* window) {
      window_ = window;
      at_ = 0;
      spaces_ = byte_mask(window, ' ');
      newlines_ = byte_mask(window, '\n');
    }
    // Bit i set where window[i] == c, for kWindow bytes.
    static uint64_t byte_mask(const char* window, char c);

    LineReader& reader_;
    int want_;
    int found_ = 0;
    bool after_last_ = false;       // the newline has ended a token already
    const char* window_ = nullptr;  // kWindow bytes of the line
    unsigned at_ = 0;               // where in the window reading stands
    uint64_t spaces_ = 0;           // bit masks of the window
    uint64_t newlines_ = 0;
    static_assert(kWindow == 64, "one bit of a uint64_t per byte of the window");
  };

 private:
  // The next line's first byte, or nullptr at the end of the file.
  const char* begin_line() {
    if (len_ - pos_ <= kMaxLineChars && !eof_) refill();
    if (pos_ == len_) return nullptr;
    ++line_;
    char* base = text_;
    stand_in_ = pos_ + kMaxLineChars + 1;
    if (stand_in_ > len_) stand_in_ = len_;  // only at the end of the file
    saved_ = base[stand_in_];
    base[stand_in_] = '\n';
    return base + pos_;
  }
  // True when nl is the newline that the current line itself ends with:
  // neither the stand-in of a line too long nor the one put after an
  // unterminated last line.
  bool is_line_end(const char* nl) const {
    size_t at = static_cast<size_t>(nl - text_);
    return at < len_ && (at != stand_in_ || saved_ == '\n');
  }
  // Ends the current line at its newline nl; checks its length and that it
  // holds no carriage return but one right before its newline.
  void end_line(const char* nl) {
    char* base = text_;
    if (bad_cr_ < offset_ + static_cast<uint64_t>(nl - base)) carriage_return();
    base[stand_in_] = saved_;
    size_t begin = pos_;
    pos_ = static_cast<size_t>(nl - base) + 1;
    if (pos_ > len_) pos_ = len_;  // the newline after an unterminated last line
    if (static_cast<size_t>(nl - base) - begin > kMaxLineChars) too_long();
  }
  // Keeps at least kMaxLineChars + 1 unread bytes in the buffer unless the file ends.
  void refill();
  [[noreturn]] void too_long() const;
  [[noreturn]] void carriage_return() const;
  // Notes the first carriage return in text_[from, len_) not followed by a newline.
  void find_bad_cr(size_t from);
  [[noreturn]] void changed_while_read() const;
  std::string where() const;

  InputFile& in_;
  std::unique_ptr<char[]> buf_;
  char* text_;  // the text read, after kPlainLookbehind bytes of room
  size_t pos_ = 0;
  size_t len_ = 0;
  bool eof_ = false;
  int64_t line_ = 0;
  uint64_t offset_ = 0;           // offset in the text of text_[0]
  uint64_t bad_cr_ = UINT64_MAX;  // offset of the first stray carriage return
  bool cr_last_ = false;          // the last byte read so far is a carriage return
  size_t stand_in_ = 0;           // where the stand-in newline of the current line is
  char saved_ = 0;                // the byte it replaced
};
