// The table reading, for any record type: every command reads its tables
// through load_table, by the same rules and with the same messages.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>

#include "trace_io/failure.h"
#include "trace_io/files.h"
#include "trace_io/line_reader.h"
#include "trace_io/memory.h"

// Fails: the table has more lines than an int32 counts.
[[noreturn]] inline void too_many_lines(const InputFile& in) {
  fail(in.path + ": too many lines (more than " + std::to_string(INT32_MAX) + ")");
}

// Room for count records of the table `name`; fails when memory is short.
template <typename Record>
inline Array<Record> allocate_records(const std::string& name, int32_t count) {
  Array<Record> list = allocate_array<Record>(static_cast<size_t>(count));
  if (!list)
    fail_out_of_memory(name + ": cannot allocate memory for " + std::to_string(count) + " records");
  return list;
}

// The room a table starts with, in records: for a file of known size, as
// many as it has lines if they are not shorter than kShortLine (room never
// touched costs no memory); for a stream, kSmallestRoom.
inline constexpr size_t kSmallestRoom = 4096;
inline size_t first_capacity(uint64_t text_size) {
  constexpr uint64_t kShortLine = 16;
  uint64_t lines = text_size / kShortLine + 1;
  return lines < kSmallestRoom ? kSmallestRoom
         : lines < INT32_MAX   ? static_cast<size_t>(lines)
                               : INT32_MAX;
}

// Reads the table in once, in a single pass: counts the records in num
// and parses each line with parse(fields, record), which reads `columns`
// columns and ignores the values of those in `unused` (bit k for column k).
// A parse that takes any fields type (auto&) is given a line in the plain
// form as LineReader::PlainFields, read in one scan; other lines, and every
// line for a parse that takes only LineReader::Fields, token by token. The
// records go into an array that starts with room for the lines the text's
// size suggests, doubles when they are more, and is cut
// to their number at the end, so the table ends up allocated at its exact
// size. Fails naming the file and line of the first bad line.
template <typename Record, typename Parse>
void load_table(InputFile& in, int columns, Array<Record>& list, int32_t& num, Parse parse,
                uint32_t unused = 0) {
  size_t capacity = 0;
  int32_t count = 0;
  list.reset();
  num = 0;
  LineReader reader(in);
  auto grow = [&] {
    size_t wanted = capacity == 0 ? first_capacity(in.text_size()) : capacity * 2;
    // Memory is checked before it is asked for, as the frame table's: an
    // allocation that overcommit grants can still be killed later. A first
    // guess larger than memory allows is only a guess: start small then.
    uint64_t available = available_memory();
    uint64_t more = (wanted - capacity) * uint64_t{sizeof(Record)};
    if (capacity == 0 && more > available) wanted = kSmallestRoom, more = wanted * sizeof(Record);
    if (more > available)
      fail_out_of_memory(in.path + ": " + std::to_string(wanted) + " records need " +
                         std::to_string((wanted * uint64_t{sizeof(Record)}) >> 20) +
                         " MiB, more than the " +
                         std::to_string((available + capacity * sizeof(Record)) >> 20) +
                         " MiB of memory this process can get");
    bool grown = resize_array(list, wanted);
    // A first guess larger than memory allows: start small instead.
    if (!grown && capacity == 0) grown = resize_array(list, wanted = kSmallestRoom);
    if (!grown)
      fail_out_of_memory(in.path + ": cannot allocate memory for " + std::to_string(wanted) +
                         " records");
    capacity = wanted;
  };
  while (reader.more()) {
    if (count == INT32_MAX) too_many_lines(in);
    if (static_cast<size_t>(count) == capacity) grow();
    if constexpr (std::is_invocable_v<Parse&, LineReader::PlainFields&, Record&>) {
      LineReader::PlainFields plain;
      if (reader.read_plain(columns, unused, plain)) {
        parse(plain, list[count]);
        num = ++count;
        continue;
      }
    }
    LineReader::Fields fields(reader, columns);
    parse(fields, list[count]);
    fields.end();
    num = ++count;
  }
  // Cut to size; an empty table gets an array too.
  if (!list || capacity != static_cast<size_t>(count)) {
    if (!resize_array(list, static_cast<size_t>(count)) && !list)
      fail_out_of_memory(in.path + ": cannot allocate memory for " + std::to_string(count) +
                         " records");
  }
}
