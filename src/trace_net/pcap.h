// trace_net pcap: a sender or receiver trace from the packet capture of
// an RTP video stream.
#pragma once

#include <string>

#include "trace_io/run_state.h"
#include "trace_net/rtp_trace.h"

struct PcapOptions {
  std::string video;  // --video
  std::string sender;  // --sender: the sender's trace, for a receiver's capture
  bool as_set = false;
  trace_net::RtpTraceOptions trace;
};

// Reads capture with libpcap (pcap or pcapng, compressed or piped as any
// input) and writes the trace of its RTP stream to out.
void run_pcap(RunState& run, const PcapOptions& options, const std::string& capture, const std::string& out);
