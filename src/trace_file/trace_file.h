// The trace set of one run: the records of the three sender traces and the
// receiver trace, the receiver frame table, the output files and the stages
// that line the traces up frame by frame. Read top to bottom, this header is
// the whole run: load (trace_input.cpp), summarise (sender_frame_size.cpp),
// write (trace_output.cpp), all driven by run_control.cpp.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

// ---------------------------------------------------------------- records

// One sender-trace line: time col1 frame size col4 col5.
struct SdRecord {
  double time;  // send time
  int32_t col1;
  int32_t frame;
  int32_t size;
  int32_t col4;
  int32_t col5;
};

// One receiver-trace line: time src frame size col4.
struct RdRecord {
  double time;  // receive time
  int32_t src;
  int32_t frame;
  int32_t size;
  int32_t col4;
};

// One row of the receiver frame table and one line of rd_frame_dat.
struct RdFrame {
  int32_t frame;
  int32_t src;   // source of the last packet of the row's run; -1 before any
  int32_t size;  // summed size, wrapping modulo 2^32
};

// ---------------------------------------------------------------- arrays

// Arrays of records, allocated once at their exact size and released only
// by the process exit (or in tests).
struct ArrayFree {
  void operator()(void* p) const;
};
template <typename T>
using Array = std::unique_ptr<T[], ArrayFree>;
// Uninitialised room for count elements of size bytes; null when the size
// overflows or memory is short.
void* allocate_bytes(size_t count, size_t size);
template <typename T>
Array<T> allocate_array(size_t count) {
  return Array<T>(static_cast<T*>(allocate_bytes(count, sizeof(T))));
}

// ---------------------------------------------------------------- files

// An input trace: its open stream and the path that names it in messages.
struct InputFile {
  std::FILE* fp = nullptr;
  std::string path;
  // False when the path cannot be opened for reading or is a directory.
  bool open(const char* path);
  void close();
  ~InputFile() { close(); }
};

// A buffered output file in the working directory. Creating, writing and
// closing either succeed or end the run with a message naming the file.
// Each on its own cache line: two threads write two files at once.
class alignas(64) OutFile {
 public:
  static constexpr size_t kMaxLine = 1024;  // room one formatted line may need
  // Opens name for writing, creating it, and empties it.
  void create(const char* name);
  // The two halves of create: emptying a large file releases all its pages
  // and blocks, which takes a while that another thread can spend. open
  // returns false, with errno set, where create would fail.
  bool open(const char* name);
  void empty();
  [[noreturn]] void cannot_create(int error) const;
  // Room for at most kMaxLine bytes; hand the end of what was written to commit.
  char* reserve() {
    if (kBufSize - len_ < kMaxLine) flush();
    return buf_.get() + len_;
  }
  void commit(const char* end) { len_ = static_cast<size_t>(end - buf_.get()); }
  void close();
  ~OutFile();

 private:
  static constexpr size_t kBufSize = size_t{1} << 20;
  void flush();
  int fd_ = -1;
  std::string name_;
  std::unique_ptr<char[]> buf_;
  size_t len_ = 0;
};

// ---------------------------------------------------------------- numbers
// Conversions of the text formats, independent of the user's locale.

// Base 10, optional sign, stops at the first character that cannot continue
// the number; out of range clamps to the int32 limits; no number reads as 0.
int32_t parse_int32(const char* begin, const char* end);
// Exactly what the C library's strtod gives in the C locale.
double parse_time(const char* begin, const char* end);
// The same for a whole token [begin, end) followed by at least 8 readable
// bytes: plain numbers are then read 8 bytes at a time.
int32_t token_int32(const char* begin, const char* end);
double token_time(const char* begin, const char* end);
// Append printf's "%d", "%-16d", "%f" and "%-16f"; return the new end.
char* put_int(char* out, int32_t value);
char* put_int_left16(char* out, int32_t value);
char* put_time(char* out, double value);
char* put_time_left16(char* out, double value);

// ---------------------------------------------------------------- run end

// Print the message (when not empty) and end the run with exit status 1.
// Tests and fuzz targets link a replacement that throws RunEnded instead.
[[noreturn]] void end_run(const std::string& message);
struct RunEnded {
  std::string message;
};
// End the run on a problem; says so when outputs of the run already exist.
[[noreturn]] void fail(const std::string& what);
void set_outputs_created(bool created);

// What became of a job run by run_side_by_side.
struct JobResult {
  bool failed = false;
  std::string message;  // the message the run would have ended with
};
// Runs `first` on this thread and `second` on another and waits for both:
// two independent halves of a stage in the time of one on two cores. A
// failure inside either ends only its job, so that the caller can report
// failures in the order a one-thread run meets them. Where no second
// thread can be started, the jobs run one after the other.
void run_side_by_side(const std::function<void()>& first, JobResult& first_result,
                      const std::function<void()>& second, JobResult& second_result);

// Refuse a run whose outputs would overwrite one of its inputs.
void refuse_inputs_among_outputs(const InputFile* inputs, int count);

// ---------------------------------------------------------------- reading

// Number of records in a table file: its lines, a last line without newline
// included. Leaves the stream rewound; ends the run if it cannot be re-read.
int32_t count_lines(InputFile& stream);

// ---------------------------------------------------------------- trace set

// Records of a frame grouped by frame number, so that writing one frame
// touches only its own records. start[f]..start[f+1] index into pos.
struct FrameIndex {
  uint32_t rows = 0;
  Array<uint32_t> start;
  Array<uint32_t> pos;  // empty when the trace is in frame order already
};

class TraceFile {
 public:
  TraceFile();

  // Loading (trace_input.cpp).
  void read_sd(int32_t src, InputFile& stream);
  void read_rd(InputFile& stream);
  void create_rd_frame_table();
  // read_sd for sources 0, 1, 2 and read_rd on the four inputs, the
  // receiver trace parsed while the sender traces are; problems are
  // reported as those four calls in turn would meet them.
  void read_all(InputFile (&inputs)[4]);

  // Creates the two aligned traces, runs the output stages, ends the process.
  [[noreturn]] void start();

  // Sender frame summaries (sender_frame_size.cpp).
  void create_sd_frame_size();

  // Trace output (trace_output.cpp).
  void write_sd(uint32_t src, uint32_t frame);
  void write_rd(uint32_t frame);
  void write_lost(uint32_t src, uint32_t frame);
  void compare();

  Array<SdRecord> sd_list[3];
  Array<RdRecord> rd_list;
  Array<RdFrame> rd_frame_list;
  OutFile rd_trace_fp;
  OutFile sd_trace_fp;
  OutFile rd_frame_fp;
  OutFile sd_frame_fp[3];
  int32_t rd_num;
  int32_t sd_num[3];
  int32_t rd_frame_num;
  int32_t rd_id;
  alignas(64) int32_t sd_id;  // apart from rd_id: two threads count them

 private:
  void load_rd(InputFile& stream);
  void build_frame_index();
  // compare's two walks, over the index built already; closing each trace
  // when its walk is done, if asked.
  void write_traces(bool close);
  void write_sd_rows(std::atomic<int32_t>& end, int32_t& row);
  void write_rd_rows(std::atomic<int32_t>& end, int32_t& row);
  FrameIndex sd_index_[3];
  FrameIndex rd_index_;
};
