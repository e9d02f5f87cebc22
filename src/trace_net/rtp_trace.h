// One RTP stream of a capture turned into a trace: the stream picked,
// its sequence numbers and timestamps extended past their wraps, its
// timestamps matched to the video's frames, and a trace line written per
// packet, sender (time id frame size k packets) or receiver (time src
// frame size id).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "trace_io/out_file.h"
#include "trace_io/run_state.h"
#include "trace_net/rtp_packets.h"

namespace trace_net {

// A packet of the sender's trace, for a receiver's capture read as its
// pair (--sender): its id (the extended sequence number), its frame, and
// its capture time.
struct SentPacket {
  int64_t id;
  int32_t frame;
  uint64_t micros;
};

struct RtpTraceOptions {
  bool sender = true;
  std::optional<uint16_t> port;  // --port: the stream's UDP destination port
  std::optional<uint32_t> ssrc;  // --ssrc
  int32_t source = 0;            // --source: the receiver trace's src
  uint32_t clock = 90000;        // --clock: the RTP timestamps' rate
  // --sender: the sender's trace of the stream, sorted by id; each
  // receiver packet takes its id and frame from there.
  const std::vector<SentPacket>* sent = nullptr;
  std::string sent_name;  // as messages name it
};

// A value that wraps at 2^bits, extended into a count that does not: each
// one is read as the nearest to the highest so far, so that reordered and
// repeated packets keep their place.
class Unwrapper {
 public:
  explicit Unwrapper(int bits) : bits_(bits) {}
  int64_t operator()(uint32_t value);
  // Starts the count at `first`, the extension of the first value.
  void start_at(int64_t first) {
    started_ = true;
    highest_ = first;
  }

 private:
  int bits_;
  bool started_ = false;
  int64_t highest_ = 0;
};

class RtpTrace {
 public:
  // times: the video's frame times (frame_times); output: the trace
  // file, created on the first line; capture and video name the inputs
  // in messages.
  RtpTrace(const RtpTraceOptions& options, const std::vector<int64_t>& times,
           std::function<OutFile&()> output, std::string capture, std::string video);
  void add(uint64_t micros, const RtpPacket& packet);
  // A captured frame that is no RTP packet, and why.
  void left_out(Parsed why) { ++left_out_[static_cast<int>(why)]; }
  // Ends the trace; fails naming capture when it holds no stream or the
  // stream's timestamps match no frame of video; notes what was left out.
  void finish(RunState& run);

 private:
  using Key = std::pair<uint32_t, uint16_t>;  // SSRC, port
  struct Held {
    uint64_t micros;
    RtpPacket packet;
  };
  bool wanted(const RtpPacket& p) const;
  void decide(bool at_end);
  bool find_offset();
  [[noreturn]] void fail_no_match() const;
  void write(uint64_t micros, const RtpPacket& p);
  void flush_frame();
  int32_t frame_at(int64_t pts) const;
  bool ready() const { return offset_.has_value() || (o_.sent != nullptr && stream_.has_value()); }
  // The sender's packet of this receiver packet, or null when the sender
  // never sent it.
  const SentPacket* sent_packet(uint64_t micros, uint16_t seq);

  RtpTraceOptions o_;
  std::vector<int64_t> times_;                        // by frame, in decode order
  std::vector<std::pair<int64_t, int32_t>> by_time_;  // (pts, frame), sorted
  int64_t tolerance_ = 0;
  std::function<OutFile&()> output_;
  OutFile* out_ = nullptr;
  std::string capture_, video_;

  std::vector<Held> held_;  // until the stream and its offset are known
  std::optional<Key> stream_;
  std::set<uint32_t> held_stamps_;  // the stream's distinct timestamps held
  std::map<Key, int> seen_;  // RTP streams met, and their packets (a few)
  std::optional<int64_t> offset_;
  Unwrapper seq_{16}, timestamp_{32};

  struct Line {
    uint64_t micros;
    int64_t id;
    uint32_t size;
  };
  std::vector<Line> frame_lines_;  // the sender's frame being read
  int32_t frame_ = -1;
  // The last timestamp looked up: a frame's packets share theirs.
  int64_t last_time_ = INT64_MIN;
  int32_t last_frame_ = -1;

  uint64_t left_out_[6] = {};
  uint64_t other_streams_ = 0, unmatched_ = 0, written_ = 0, never_sent_ = 0;
  int32_t first_frame_ = -1;  // the frame of the first line written
  bool seq_started_ = false;  // with --sender: the first packet placed
};

}  // namespace trace_net
