// trace_net sim: the traces loaded and checked, the network simulated
// (network.h), the receiver trace and the drops written.

#include "trace_net/sim.h"

#include <cmath>
#include <vector>

#include "trace_io/failure.h"
#include "trace_io/files.h"
#include "trace_io/numbers.h"
#include "trace_io/table_output.h"
#include "trace_io/trace_lines.h"
#include "trace_net/network.h"

namespace {

using trace_net::SentLine;

std::vector<SentLine> load_sender(RunState& run, const std::string& path) {
  InputFile in;
  in.open_or_fail(path, run);
  Array<SentLine> list;
  int32_t num = 0;
  size_t line_number = 0;
  load_trace<SenderLine>(in, list, num, columns::kSdCol4 | columns::kSdCol5,
                         [&](const SenderLine& l, SentLine& r) {
                           ++line_number;
                           r = {l.time.value(), l.col1, l.frame, l.size};
                         });
  std::vector<SentLine> lines(list.get(), list.get() + num);
  double previous = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    const SentLine& l = lines[i];
    std::string at = path + ":" + std::to_string(i + 1) + ": ";
    if (!std::isfinite(l.time) || l.time < 0)
      fail(at + "a send time must be a finite number of at least 0");
    if (l.size < 0 || l.size > 65507)
      fail(at + "a datagram's size is 0 to 65507 bytes, not " + std::to_string(l.size));
    if (l.time < previous) fail(at + "send times must not decrease");
    previous = l.time;
  }
  return lines;
}

}  // namespace

void run_sim(RunState& run, const SimOptions& o, const std::string (&sd)[3], const std::string& rd) {
  std::vector<SentLine> lines[3];
  for (int s = 0; s < 3; ++s) lines[s] = load_sender(run, sd[s]);
  run.claim_outputs({rd, o.drops});
  NetworkResult result;
  std::string problem = o.net == "wifi" ? simulate_wifi(o.network, lines, result)
                                        : simulate_p2p(o.network, lines, result);
  if (!problem.empty()) fail_usage(problem);

  OutFile out;
  out.create(run, rd.c_str());
  for (const Arrival& a : result.arrivals) {
    const SentLine& l = lines[a.source][a.line];
    char* p = out.reserve();
    p = put_time(p, a.time);
    for (int32_t value : {static_cast<int32_t>(a.source), l.frame, l.size, l.col1}) {
      *p++ = ' ';
      p = put_int(p, value);
    }
    *p++ = '\n';
    out.commit(p);
  }
  out.close();
  if (o.drops.empty()) return;
  OutFile drops;
  drops.create(run, o.drops.c_str());
  drops.write("time_s,src,frame,size,where\n");
  for (int s = 0; s < 3; ++s)
    for (size_t i = 0; i < lines[s].size(); ++i) {
      Fate fate = result.fates[s][i];
      if (fate == Fate::kDelivered) continue;
      const SentLine& l = lines[s][i];
      const char* where = fate == Fate::kQueue ? "queue" : fate == Fate::kChannel ? "channel" : "other";
      drops.write(number_text(l.time) + "," + std::to_string(s) + "," + std::to_string(l.frame) + "," +
                  std::to_string(l.size) + "," + where + "\n");
    }
  drops.close();
}
