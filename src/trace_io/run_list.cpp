// Run lists and their runs.

#include "trace_io/run_list.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "trace_io/failure.h"
#include "trace_io/files.h"
#include "trace_io/runner.h"

namespace {

// Reads the lines of a list through the trace input (so a byte-order mark
// is skipped, and compressed lists and pipes read too).
class ListLines {
 public:
  explicit ListLines(InputFile& in) : in_(in) {}
  // The next line without its newline; false at the end.
  bool next(std::string& line, int64_t number) {
    line.clear();
    for (;;) {
      if (at_ == got_) {
        got_ = in_.read(buf_, sizeof buf_);
        at_ = 0;
        if (got_ == 0) return !line.empty();
      }
      const char* begin = buf_ + at_;
      const char* nl = static_cast<const char*>(std::memchr(begin, '\n', got_ - at_));
      size_t take = nl != nullptr ? static_cast<size_t>(nl - begin) : got_ - at_;
      if (line.size() + take > kMaxListLine)
        fail(in_.path + ":" + std::to_string(number) + ": line longer than " +
             std::to_string(kMaxListLine) + " characters");
      line.append(begin, take);
      at_ += take;
      if (nl != nullptr) {
        ++at_;
        return true;
      }
    }
  }

 private:
  InputFile& in_;
  char buf_[1 << 16];
  size_t at_ = 0, got_ = 0;
};

}  // namespace

std::vector<RunLine> read_run_list(const std::string& list_path) {
  InputFile in;
  if (!in.open(list_path.c_str(), true)) fail("can't open file " + list_path);
  auto lines = std::make_unique<ListLines>(in);
  std::string folder;
  size_t slash = list_path.rfind('/');
  if (slash != std::string::npos) folder = list_path.substr(0, slash + 1);
  std::vector<RunLine> runs;
  std::string line;
  for (int64_t number = 1; lines->next(line, number); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    std::vector<std::string> fields;
    for (size_t at = 0;;) {
      size_t comma = line.find(',', at);
      fields.push_back(
          line.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
      if (comma == std::string::npos) break;
      at = comma + 1;
    }
    bool empty_field = false;
    for (const std::string& f : fields) empty_field = empty_field || f.empty();
    if (fields.size() != 5 || empty_field)
      fail(list_path + ":" + std::to_string(number) + ": expected name,sd0,sd1,sd2,rd");
    RunLine run;
    run.line = number;
    run.name = fields[0];
    run.written = line;
    for (int i = 0; i < 4; ++i)
      run.paths[i] = fields[i + 1][0] == '/' ? fields[i + 1] : folder + fields[i + 1];
    runs.push_back(run);
  }
  return runs;
}

void run_each(size_t count, int jobs, const std::function<bool(size_t)>& run,
              const std::function<void(const Progress&)>& progress) {
  std::atomic<size_t> next{0}, done{0}, failed{0};
  std::mutex told;
  auto tell = [&](bool last) {
    if (!progress) return;
    std::lock_guard<std::mutex> lock(told);
    progress({done.load(), failed.load(), last});
  };
  auto work = [&] {
    for (size_t i; (i = next++) < count;) {
      if (!run(i)) ++failed;
      ++done;
      tell(false);
    }
  };
  std::vector<std::thread> threads;
  if (one_thread_asked()) jobs = 1;  // -j is the user's own choice otherwise
  for (int t = 1; t < jobs && static_cast<size_t>(t) < count; ++t) {
    try {
      threads.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // fewer threads then
    }
  }
  work();
  for (std::thread& t : threads) t.join();
  tell(true);
}
