// trace_net sim: the sender traces replayed through a network simulated
// by ns-3, and what arrives written as a receiver trace.
#pragma once

#include <cstdint>
#include <string>

#include "trace_io/run_state.h"

struct SimOptions {
  std::string net = "p2p";
  std::string rate = "10Mbps", delay = "20ms";
  std::string qdisc = "fifo";
  uint32_t queue = 100;
  double loss = 0;
  uint32_t seed = 1;
  double drain = 5;
  std::string drops;  // --drops FILE
  std::string pcap;   // --pcap PREFIX
  double distance = 10;
  std::string standard = "ac", rate_control;
  uint32_t stations = 0;
  double speed = 0;
};

// Replays sd[0..2] through the network and writes rd; fails with the
// first problem's message.
void run_sim(RunState& run, const SimOptions& options, const std::string (&sd)[3],
             const std::string& rd);
