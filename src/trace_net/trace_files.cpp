// Reading sender traces and writing receiver-trace lines, shared by
// trace_net sim and the trace applications of a user's ns-3 program.

#include "trace_net/trace_files.h"

#include <cmath>
#include <stdexcept>

#include "trace_io/failure.h"
#include "trace_io/files.h"
#include "trace_io/numbers.h"
#include "trace_io/table_output.h"
#include "trace_io/trace_lines.h"

namespace trace_net {

std::vector<SentLine> load_sender(RunState& run, const std::string& path) {
  InputFile in;
  in.open_or_fail(path, run);
  Array<SentLine> list;
  int32_t num = 0;
  load_trace<SenderLine>(in, list, num, columns::kSdCol4 | columns::kSdCol5,
                         [](const SenderLine& l, SentLine& r) { r = {l.time.value(), l.col1, l.frame, l.size}; });
  std::vector<SentLine> lines(list.get(), list.get() + num);
  double previous = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    const SentLine& l = lines[i];
    std::string at = path + ":" + std::to_string(i + 1) + ": ";
    if (!std::isfinite(l.time) || l.time < 0)
      fail(at + "a send time must be a finite number of at least 0");
    if (l.time > kLatestSendTime)
      fail(at + "a send time must be at most 9e9 s, the end of the simulator's clock, not " +
           number_text(l.time));
    if (l.size < 0 || l.size > 65507)
      fail(at + "a datagram's size is 0 to 65507 bytes, not " + std::to_string(l.size));
    if (l.time < previous) fail(at + "send times must not decrease");
    previous = l.time;
  }
  return lines;
}

std::vector<SentLine> load_sender_lines(const std::string& path) {
  std::vector<SentLine> lines;
  std::string problem = failure_message_of("trace_net", [&] {
    RunState run("trace_net");
    lines = load_sender(run, path);
  });
  if (!problem.empty()) throw std::runtime_error(problem);
  return lines;
}

char* put_receiver_line(char* p, double time, int32_t source, const SentLine& line) {
  p = put_time(p, time);
  for (int32_t value : {source, line.frame, line.size, line.col1}) {
    *p++ = ' ';
    p = put_int(p, value);
  }
  *p++ = '\n';
  return p;
}

}  // namespace trace_net
