// trace_net's subcommands and their option tables.

#include "trace_net/command.h"

#include <cmath>

#include "trace_io/command_line.h"
#include "trace_io/failure.h"
#include "trace_net/pcap.h"
#include "trace_net/sim.h"

namespace {

constexpr const char* kSynopsis =
    "usage: trace_net sim [--net p2p|wifi] [NETWORK OPTIONS] [--loss P] [--seed N] [--drain S]\n"
    "                     [--drops FILE] [--pcap PREFIX] SD0 SD1 SD2 RD\n"
    "       trace_net pcap --video VIDEO --as sender|receiver [--sender SD] [--port P]\n"
    "                      [--ssrc X] [--source S] [--clock HZ] CAPTURE OUT\n";
constexpr const char* kFooter =
    "\n"
    "Exit status: 0 on success, 1 when an input is bad, 2 on a usage error.\n"
    "Full description: man trace_net\n";
constexpr const char* kPcapIntro =
    "pcap: the packets of an RTP video stream in a capture (pcap or pcapng) as a\n"
    "sender or receiver trace, each packet's frame found in VIDEO.\n";
constexpr const char* kSimIntro =
    "sim: replays the three sender traces as UDP datagrams through a network\n"
    "simulated by ns-3 and writes what arrives as the receiver trace RD.\n"
    "Options of every network:\n";

Option text_option(const char* name, const char* argument, std::string* into, const char* help) {
  return {name, argument, help, [name, into](const char* v) {
            if (v == nullptr || *v == '\0') fail_usage(std::string(name) + " needs a value");
            *into = v;
          }};
}

Option whole_option(const char* name, uint32_t low, uint32_t* into, const char* help) {
  return number_option(
      name, low, false,
      [name, low, into](double n) {
        if (n != std::floor(n) || n > 4294967295.0)
          fail_usage(std::string(name) + " needs a whole number of at least " +
                     std::to_string(low));
        *into = static_cast<uint32_t>(n);
      },
      help);
}

// An option that belongs to one network: noted when given, so that the
// run refuses it on the other network instead of ignoring it.
Option of_network(Option option, const char* net, SimOptions& o) {
  auto set = std::move(option.set);
  std::string name = option.name;
  option.set = [set, name, net, &o](const char* v) {
    set(v);
    o.given.emplace_back(name, net);
  };
  return option;
}

Subcommand sim_command(SimOptions& o) {
  auto p2p = [&o](Option option) { return of_network(std::move(option), "p2p", o); };
  auto wifi = [&o](Option option) { return of_network(std::move(option), "wifi", o); };
  return {
      "sim",
      kSimIntro,
      {{"--net", "NAME", "  --net p2p|wifi  the network (default p2p)\n",
        [&o](const char* v) {
          std::string n = v != nullptr ? v : "";
          if (n != "p2p" && n != "wifi") fail_usage("--net takes p2p or wifi");
          o.net = n;
        }},
       number_option(
           "--loss", 0, false, [&o](double p) { o.network.loss = p; },
           "  --loss P        packet error rate on the receiver's device (default 0)\n", 1),
       whole_option("--seed", 1, &o.network.seed,
                    "  --seed N        the random draws' run number (default 1)\n"),
       number_option(
           "--drain", 0, false, [&o](double s) { o.network.drain = s; },
           "  --drain S       simulated seconds after the last send (default 5)\n"),
       file_option("--drops", &o.drops,
                   "  --drops FILE    a CSV row per datagram that never arrived\n"),
       file_option("--pcap", &o.network.pcap, "  --pcap PREFIX   ns-3's pcap files of both ends\n"),
       p2p(text_option("--rate", "RATE", &o.network.rate,
                       "--net p2p:\n"
                       "  --rate RATE     the link's rate, as ns-3 reads it (default 10Mbps)\n")),
       p2p(text_option("--delay", "TIME", &o.network.delay,
                       "  --delay TIME    the link's delay, with its unit (default 20ms)\n")),
       p2p(text_option("--qdisc", "NAME", &o.network.qdisc,
                       "  --qdisc NAME    fifo, red, codel, fq_codel or pie (default fifo)\n")),
       p2p(whole_option("--queue", 1, &o.network.queue,
                        "  --queue N       the queue disc's packets (default 100)\n")),
       p2p(whole_option("--cross", 0, &o.network.cross,
                        "  --cross N       TCP bulk flows over the link for the whole run\n")),
       p2p(text_option(
           "--tcp", "NAME", &o.network.tcp,
           "  --tcp NAME      the cross flows' TCP, newreno or cubic (default newreno)\n")),
       wifi(number_option(
           "--distance", 0, false, [&o](double m) { o.network.distance = m; },
           "--net wifi:\n"
           "  --distance M    the receiver's metres from the AP (default 10)\n")),
       wifi(text_option("--standard", "STD", &o.network.standard,
                        "  --standard STD  n, ac or ax (default ac)\n")),
       wifi(text_option(
           "--rate-control", "NAME", &o.network.rate_control,
           "  --rate-control NAME  an ns-3 rate manager for HT rates (default Minstrel)\n")),
       wifi(whole_option("--stations", 0, &o.network.stations,
                         "  --stations N    further stations sending saturating UDP\n")),
       wifi(number_option(
           "--speed", 0, false, [&o](double v) { o.network.speed = v; },
           "  --speed V       the receiver walking away at V m/s\n"))},
      nullptr,
      [&o](Call& call) {
        for (const auto& [name, net] : o.given)
          if (o.net != net) fail_usage(name + " is not a setting of --net " + o.net);
        if (call.paths.size() != 4) fail_usage("sim takes SD0 SD1 SD2 RD");
        std::string sd[3] = {call.paths[0], call.paths[1], call.paths[2]};
        run_sim(call.run, o, sd, call.paths[3]);
        return 0;
      }};
}

// A whole number from low to high, decimal or (0x) hexadecimal.
uint32_t whole_in(const char* name, const char* v, uint64_t low, uint64_t high, const char* what) {
  std::string text = v != nullptr ? v : "";
  bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  std::string digits = hex ? text.substr(2) : text;
  uint64_t n = 0;
  bool ok = !digits.empty() && digits.size() <= 10;
  for (char c : digits) {
    int d = c >= '0' && c <= '9'                ? c - '0'
            : hex && c >= 'a' && c <= 'f'       ? c - 'a' + 10
            : hex && c >= 'A' && c <= 'F'       ? c - 'A' + 10
                                                : -1;
    if (d < 0) ok = false;
    if (ok) n = n * (hex ? 16 : 10) + static_cast<uint64_t>(d);
  }
  if (!ok || n < low || n > high) fail_usage(std::string(name) + " needs " + what);
  return static_cast<uint32_t>(n);
}

Subcommand pcap_command(PcapOptions& o) {
  return {"pcap",
          kPcapIntro,
          {file_option("--video", &o.video,
                       "  --video VIDEO   the video the stream carries (its frames' times)\n"),
           file_option(
               "--sender", &o.sender,
               "  --sender SD     receiver: the sender's trace of the stream (pcap --as sender);\n"
               "                  each packet's id and frame are taken from it\n"),
           {"--as", "ROLE", "  --as sender|receiver  which trace to write\n",
            [&o](const char* v) {
              std::string role = v != nullptr ? v : "";
              if (role != "sender" && role != "receiver")
                fail_usage("--as takes sender or receiver");
              o.trace.sender = role == "sender";
              o.as_set = true;
            }},
           {"--port", "P", "  --port P        the stream to UDP port P\n",
            [&o](const char* v) {
              o.trace.port = static_cast<uint16_t>(whole_in("--port", v, 1, 65535, "a port from 1 to 65535"));
            }},
           {"--ssrc", "X",
            "  --ssrc X        the stream of SSRC X (decimal, or hexadecimal after 0x)\n",
            [&o](const char* v) {
              o.trace.ssrc = whole_in("--ssrc", v, 0, 0xFFFFFFFF, "an SSRC from 0 to 0xffffffff");
            }},
           {"--source", "S", "  --source S      receiver: the trace's src (default 0)\n",
            [&o](const char* v) {
              o.trace.source = static_cast<int32_t>(whole_in("--source", v, 0, 2147483647, "a whole number"));
            }},
           {"--clock", "HZ", "  --clock HZ      the RTP timestamps' clock (default 90000)\n",
            [&o](const char* v) {
              o.trace.clock = whole_in("--clock", v, 1, 1000000000, "a whole number of Hz from 1 to 10^9");
            }}},
          nullptr,
          [&o](Call& call) {
            if (call.paths.size() != 2) fail_usage("pcap takes CAPTURE OUT");
            if (o.video.empty()) fail_usage("pcap needs --video VIDEO");
            if (!o.as_set) fail_usage("pcap needs --as sender or --as receiver");
            if (!o.sender.empty() && o.trace.sender) fail_usage("--sender goes with --as receiver");
            run_pcap(call.run, o, call.paths[0], call.paths[1]);
            return 0;
          }};
}

}  // namespace

int net_command(const std::string& program, int argc, char** argv) {
  SimOptions sim;
  PcapOptions pcap;
  return run_program({program, kSynopsis, {sim_command(sim), pcap_command(pcap)}, kFooter}, argc, argv);
}
