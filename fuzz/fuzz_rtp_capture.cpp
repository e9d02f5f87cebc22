// Fuzz target: the frames of a capture taken apart down to RTP, and the
// RTP packets found turned into a trace. The input: a byte choosing the
// link type and the role, then frames, each a two-byte length, a byte
// cutting its captured part short, and its bytes. Whatever the bytes, a
// parse must stay inside the frame, a payload inside its datagram, and a
// trace end in a line or a failure.

#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "trace_io/out_file.h"
#include "trace_io/run_state.h"
#include "trace_net/rtp_packets.h"
#include "trace_net/rtp_trace.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  EnterScratchDirectory();
  if (size < 1) return 0;
  static const int kLinks[] = {1, 113, 276, 12, 228, 229, 0, 108, 147};
  int link = kLinks[data[0] % (sizeof kLinks / sizeof kLinks[0])];
  trace_net::RtpTraceOptions options;
  options.sender = (data[0] & 0x80) != 0;
  // A short video at 25 frames a second with B-frames' order.
  std::vector<int64_t> times;
  for (int f = 0; f < 40; ++f) times.push_back(3600 * (f % 3 == 0 ? f : f + 1));
  std::optional<RunFailure> failure = failure_of([&] {
    RunState run("trace_net");
    std::string notes;
    run.captured_notes = &notes;
    OutFile out;
    bool created = false;
    trace_net::RtpTrace trace(
        options, times,
        [&]() -> OutFile& {
          if (!created) out.create(run, "trace");
          created = true;
          return out;
        },
        "capture", "video");
    size_t at = 1;
    uint64_t micros = 1000000;
    while (at + 3 <= size) {
      size_t length = static_cast<size_t>(data[at]) << 8 | data[at + 1];
      size_t cut = data[at + 2];
      at += 3;
      if (length > size - at) length = size - at;
      // Copied, so that a read past the frame is the sanitizer's to see.
      std::vector<uint8_t> frame(data + at, data + at + length);
      size_t captured = cut < length ? length - cut : length;
      trace_net::RtpPacket packet;
      trace_net::Parsed parsed = trace_net::parse_rtp_packet(link, frame.data(), captured, length, packet);
      if (parsed == trace_net::Parsed::kRtp) {
        if (packet.payload_size + 12 > length) std::abort();
        trace.add(micros, packet);
      } else {
        trace.left_out(parsed);
      }
      micros += 1000;
      at += length;
    }
    trace.finish(run);
    out.close();
  });
  (void)failure;
  return 0;
}
