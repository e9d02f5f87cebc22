// The line-counted table reading, for any record type: shared by the
// trace set's loading and by trace_report, so that every command reads
// tables by the same rules and with the same messages.
#pragma once

#include <cstdint>
#include <string>

#include "failure.h"
#include "files.h"
#include "line_reader.h"
#include "trace_file.h"

// Fails: the table has more lines than an int32 counts.
[[noreturn]] void too_many_lines(const InputFile& in);

// Room for count records of the table `name`; fails when memory is short.
template <typename Record>
inline Array<Record> allocate_records(const std::string& name, int32_t count) {
  Array<Record> list = allocate_array<Record>(static_cast<size_t>(count));
  if (!list) fail(name + ": cannot allocate memory for " + std::to_string(count) + " records");
  return list;
}

// A stream read once: its records go into an array that grows as they are
// parsed, doubling, and is cut to size at the end; the same records and
// messages as the line-counted reading.
template <typename Record, typename Parse>
void load_stream(InputFile& in, int columns, Array<Record>& list, int32_t& num, Parse parse) {
  constexpr size_t kFirstCapacity = 4096;
  size_t capacity = 0;
  int32_t count = 0;
  list.reset();
  num = 0;
  LineReader reader(in);
  while (reader.more()) {
    if (count == INT32_MAX) too_many_lines(in);
    if (static_cast<size_t>(count) == capacity) {
      size_t grown = capacity == 0 ? kFirstCapacity : capacity * 2;
      if (!resize_array(list, grown))
        fail(in.path + ": cannot allocate memory for " + std::to_string(grown) + " records");
      capacity = grown;
    }
    LineReader::Fields fields(reader, columns);
    parse(fields, list[count]);
    fields.end();
    num = ++count;
  }
  // Cut to size; an empty table gets an array too, as when counted.
  if (!list || capacity != static_cast<size_t>(count)) {
    if (!resize_array(list, static_cast<size_t>(count)) && !list)
      fail(in.path + ": cannot allocate memory for " + std::to_string(count) + " records");
  }
}

// The line-counted table reading: counts the lines of in, takes an array of
// exactly that many records from allocate(count), stores it and the count
// (before any line is parsed) and parses each line with parse(fields,
// record), which reads `columns` columns. A stream goes to load_stream.
template <typename Record, typename Allocate, typename Parse>
void load_table(InputFile& in, int columns, Array<Record>& list, int32_t& num, Allocate allocate,
                Parse parse) {
  if (in.is_stream()) return load_stream(in, columns, list, num, parse);
  int32_t count = count_lines(in);
  list = allocate(count);
  num = count;
  LineReader reader(in);
  Record* records = list.get();
  for (int32_t i = 0; i < count; ++i) {
    LineReader::Fields fields(reader, columns);
    parse(fields, records[i]);
    fields.end();
  }
}
