// What the trace applications read and write, behind plain types: this
// header is included by C++17 code built against ns-3 (network.h) and by
// the library's C++20 code that reads and formats the traces.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace trace_net {

// A sender-trace line as the simulation needs it.
struct SentLine {
  double time;  // on the traces' clock
  int32_t col1, frame, size;
};

// The latest send time the simulator's clock (64 bits of nanoseconds,
// about 9.2e9 s) holds with room for the warm-up and the drain.
constexpr double kLatestSendTime = 9e9;

// Loads a sender trace as trace_net sim does (compressed or piped inputs,
// the same line rules) and checks that it can be sent: send times finite,
// 0 to kLatestSendTime and not decreasing, sizes 0 to 65507. Throws
// std::runtime_error with the message trace_net would print.
std::vector<SentLine> load_sender_lines(const std::string& path);

// Room one receiver-trace line takes at most.
constexpr size_t kMaxReceiverLine = 128;
// Writes the receiver-trace line of a delivered datagram, "time src frame
// size col1\n" (time with six decimals), at out; returns its end.
char* put_receiver_line(char* out, double time, int32_t source, const SentLine& line);

}  // namespace trace_net
