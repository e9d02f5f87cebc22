// trace_net sim: the traces loaded and checked, the network simulated
// (network.h), the receiver trace and the drops written.

#include "trace_net/sim.h"

#include <vector>

#include "trace_io/failure.h"
#include "trace_io/files.h"
#include "trace_io/numbers.h"
#include "trace_io/table_output.h"
#include "trace_net/network.h"
#include "trace_net/trace_files.h"

using trace_net::SentLine;

void run_sim(RunState& run, const SimOptions& o, const std::string (&sd)[3], const std::string& rd) {
  std::vector<SentLine> lines[3];
  for (int s = 0; s < 3; ++s) lines[s] = trace_net::load_sender(run, sd[s]);
  run.claim_outputs({rd, o.drops});
  NetworkResult result;
  std::string problem = o.net == "wifi" ? simulate_wifi(o.network, lines, result)
                                        : simulate_p2p(o.network, lines, result);
  if (!problem.empty()) fail_usage(problem);

  OutFile out;
  out.create(run, rd.c_str());
  for (const Arrival& a : result.arrivals) {
    char* p = out.reserve();
    out.commit(trace_net::put_receiver_line(p, a.time, a.source, lines[a.source][a.line]));
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
