// The simulated network, behind an interface of plain records: ns-3's
// headers are C++17 (3.37's do not compile as C++20), so the files that
// include them are built as C++17 and include nothing of the library.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "trace_net/trace_apps_lines.h"

struct NetworkSettings {
  std::string rate = "10Mbps", delay = "20ms";
  std::string qdisc = "fifo";
  uint32_t queue = 100;
  double loss = 0;
  uint32_t seed = 1;
  double drain = 5;
  std::string pcap;  // prefix; empty: none
  uint32_t cross = 0;            // p2p: TCP bulk flows over the link
  std::string tcp = "newreno";   // their congestion control
  // wifi
  double distance = 10;  // metres from the access point
  std::string standard = "ac";
  std::string rate_control;  // empty: Minstrel
  uint32_t stations = 0;     // further stations, sending saturating UDP
  double speed = 0;          // the receiver walking away, m/s
};

// What became of each datagram of each source.
enum class Fate : uint8_t { kOther, kQueue, kChannel, kDelivered };
struct Arrival {
  double time;  // on the traces' clock
  uint8_t source;
  uint32_t line;
};
struct NetworkResult {
  std::vector<Arrival> arrivals;  // in arrival order
  std::vector<Fate> fates[3];     // by source and line
  uint32_t mtu = 0;               // the receiver's link's IP MTU
  std::vector<std::string> notes;  // what the user should know of the run
};

// The latest time, in seconds of the traces' clock, that ns-3's clock (64
// bits of nanoseconds) holds with the warm-up before it and the time a
// datagram needs to arrive after it.
constexpr double kLatestTime = 9.2e9;

// Checks every setting of the network "p2p" or "wifi" as the simulation
// will read it, before anything is built or written: a value ns-3 would
// abort on, overflow or ignore is refused. last_send is the latest send
// time of the traces. Returns "" or the problem, for a usage error.
std::string check_network(const std::string& net, const NetworkSettings& settings,
                          double last_send);

// Runs the simulation of the three sources' lines through a point-to-point
// link, its settings checked by check_network; returns "" on success,
// else the problem with a setting.
std::string simulate_p2p(const NetworkSettings& settings,
                         const std::vector<trace_net::SentLine> (&lines)[3], NetworkResult& result);

// The same through Wi-Fi: the sender is the access point, the receiver a
// station at `distance` metres.
std::string simulate_wifi(const NetworkSettings& settings,
                          const std::vector<trace_net::SentLine> (&lines)[3], NetworkResult& result);
