// trace_net sim: the traces loaded and checked, the network simulated
// (network.h), the receiver trace and the drops written.

#include "trace_net/sim.h"

#include <algorithm>
#include <vector>

#include "trace_io/failure.h"
#include "trace_io/files.h"
#include "trace_io/numbers.h"
#include "trace_io/out_file.h"
#include "trace_io/table_output.h"
#include "trace_net/network.h"
#include "trace_net/trace_files.h"

using trace_net::SentLine;

namespace {

// The files ns-3 writes for --pcap PREFIX: the sending and the receiving
// node's device.
std::vector<std::string> pcap_files(const std::string& prefix) {
  if (prefix.empty()) return {};
  return {prefix + "-0-0.pcap", prefix + "-1-0.pcap"};
}

}  // namespace

void run_sim(RunState& run, const SimOptions& o, const std::string (&sd)[3], const std::string& rd) {
  std::vector<SentLine> lines[3];
  double last_send = 0;
  for (int s = 0; s < 3; ++s) {
    lines[s] = trace_net::load_sender(run, sd[s]);
    if (!lines[s].empty()) last_send = std::max(last_send, lines[s].back().time);
  }
  std::string problem = check_network(o.net, o.network, last_send);
  if (!problem.empty()) fail_usage(problem);
  std::vector<std::string> pcaps = pcap_files(o.network.pcap);
  std::vector<std::string> outputs = {rd, o.drops};
  outputs.insert(outputs.end(), pcaps.begin(), pcaps.end());
  run.claim_outputs(outputs);
  // Every output checked before the simulation, which can take minutes:
  // one that cannot be written ends the run before that is spent.
  for (const std::string& path : outputs)
    if (!path.empty()) check_can_create(path);
  // ns-3 writes the pcap files itself, from the start: an interrupted run
  // leaves them cut.
  if (!pcaps.empty()) run.outputs_created = true;

  NetworkResult result;
  problem = o.net == "wifi" ? simulate_wifi(o.network, lines, result)
                            : simulate_p2p(o.network, lines, result);
  if (!problem.empty()) fail_usage(problem);

  OutFile out;
  out.create(run, rd.c_str());
  for (const Arrival& a : result.arrivals) {
    char* p = out.reserve();
    out.commit(trace_net::put_receiver_line(p, a.time, a.source, lines[a.source][a.line]));
  }
  out.close();
  uint64_t in_flight = 0, fragmented = 0;
  for (int s = 0; s < 3; ++s)
    for (size_t i = 0; i < lines[s].size(); ++i) {
      in_flight += result.fates[s][i] == Fate::kOther;
      fragmented += static_cast<uint64_t>(lines[s][i].size) + 28 > result.mtu;
    }
  for (const std::string& note : result.notes) run.note(note);
  if (fragmented > 0)
    run.note(std::to_string(fragmented) +
             " datagrams are larger than the receiver's link's MTU of " +
             std::to_string(result.mtu) +
             " bytes (size + 28 bytes of UDP and IPv4 headers) and crossed it as " +
             "IP fragments, each of which can be lost");
  if (in_flight > 0)
    run.note(std::to_string(in_flight) +
             " datagrams were neither delivered nor dropped when the run ended, " +
             number_text(o.network.drain) +
             " s after the last send (--drain sets how long it goes on)");
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
