// trace_net sim: the sender traces replayed through a network simulated
// by ns-3, and what arrives written as a receiver trace.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "trace_io/run_state.h"
#include "trace_net/network.h"

struct SimOptions {
  std::string net = "p2p";
  NetworkSettings network;
  std::string drops;  // --drops FILE
  // The network options given, and the network each belongs to.
  std::vector<std::pair<std::string, std::string>> given;
};

// Replays sd[0..2] through the network and writes rd; fails with the
// first problem's message.
void run_sim(RunState& run, const SimOptions& options, const std::string (&sd)[3],
             const std::string& rd);
