// trace_net's subcommands and their option tables.

#include "trace_net/command.h"

#include <cmath>

#include "trace_io/command_line.h"
#include "trace_io/failure.h"
#include "trace_net/sim.h"

namespace {

constexpr const char* kSynopsis =
    "usage: trace_net sim [--net p2p] [--rate RATE] [--delay TIME] [--qdisc NAME]\n"
    "                     [--queue N] [--loss P] [--seed N] [--drain S] [--drops FILE]\n"
    "                     [--pcap PREFIX] SD0 SD1 SD2 RD\n";
constexpr const char* kFooter =
    "\n"
    "Exit status: 0 on success, 1 when an input is bad, 2 on a usage error.\n"
    "Full description: man trace_net\n";
constexpr const char* kSimIntro =
    "sim: replays the three sender traces as UDP datagrams through a network\n"
    "simulated by ns-3 and writes what arrives as the receiver trace RD.\n";

Option text_option(const char* name, const char* argument, std::string* into, const char* help) {
  return {name, argument, help, [name, into](const char* v) {
            if (v == nullptr || *v == '\0') fail_usage(std::string(name) + " needs a value");
            *into = v;
          }};
}

Option whole_option(const char* name, uint32_t low, uint32_t* into, const char* help) {
  return number_option(
      name, low, false,
      [name, into](double n) {
        if (n != std::floor(n) || n > 4294967295.0)
          fail_usage(std::string(name) + " needs a whole number");
        *into = static_cast<uint32_t>(n);
      },
      help);
}

Subcommand sim_command(SimOptions& o) {
  return {"sim",
          kSimIntro,
          {{"--net", "NAME", "  --net p2p|wifi  the network (default p2p)\n",
            [&o](const char* v) {
              std::string n = v != nullptr ? v : "";
              if (n != "p2p" && n != "wifi") fail_usage("--net takes p2p or wifi");
              o.net = n;
            }},
           whole_option("--cross", 0, &o.network.cross,
                        "  --cross N       p2p: TCP bulk flows over the link for the whole run\n"),
           text_option("--tcp", "NAME", &o.network.tcp,
                       "  --tcp NAME      p2p: the cross flows' TCP, newreno or cubic (default newreno)\n"),
           number_option("--distance", 0, false, [&o](double m) { o.network.distance = m; },
                         "  --distance M    wifi: the receiver's metres from the AP (default 10)\n"),
           text_option("--standard", "STD", &o.network.standard,
                       "  --standard STD  wifi: n, ac or ax (default ac)\n"),
           text_option("--rate-control", "NAME", &o.network.rate_control,
                       "  --rate-control NAME  wifi: an ns-3 rate manager (default Minstrel)\n"),
           whole_option("--stations", 0, &o.network.stations,
                        "  --stations N    wifi: further stations sending saturating UDP\n"),
           number_option("--speed", 0, false, [&o](double v) { o.network.speed = v; },
                         "  --speed V       wifi: the receiver walking away at V m/s\n"),
           text_option("--rate", "RATE", &o.network.rate,
                       "  --rate RATE     the link's rate, as ns-3 reads it (default 10Mbps)\n"),
           text_option("--delay", "TIME", &o.network.delay,
                       "  --delay TIME    the link's delay, as ns-3 reads it (default 20ms)\n"),
           text_option("--qdisc", "NAME", &o.network.qdisc,
                       "  --qdisc NAME    fifo, red, codel, fq_codel or pie (default fifo)\n"),
           whole_option("--queue", 1, &o.network.queue, "  --queue N       the queue disc's packets (default 100)\n"),
           number_option(
               "--loss", 0, false,
               [&o](double p) {
                 if (p > 1) fail_usage("--loss needs a number from 0 to 1");
                 o.network.loss = p;
               },
               "  --loss P        packet error rate on the receiving device (default 0)\n"),
           whole_option("--seed", 1, &o.network.seed, "  --seed N        the random draws' run number (default 1)\n"),
           number_option("--drain", 0, false, [&o](double s) { o.network.drain = s; },
                         "  --drain S       simulated time after the last send (default 5)\n"),
           file_option("--drops", &o.drops,
                       "  --drops FILE    a CSV row per datagram that never arrived\n"),
           file_option("--pcap", &o.network.pcap, "  --pcap PREFIX   ns-3's pcap files of the link\n")},
          nullptr,
          [&o](Call& call) {
            if (call.paths.size() != 4) fail_usage("sim takes SD0 SD1 SD2 RD");
            std::string sd[3] = {call.paths[0], call.paths[1], call.paths[2]};
            run_sim(call.run, o, sd, call.paths[3]);
            return 0;
          }};
}

}  // namespace

int net_command(const std::string& program, int argc, char** argv) {
  SimOptions sim;
  return run_program({program, kSynopsis, {sim_command(sim)}, kFooter}, argc, argv);
}
