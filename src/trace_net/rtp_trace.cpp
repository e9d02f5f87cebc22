// Turning an RTP stream into a trace.

#include "trace_net/rtp_trace.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "trace_io/digits.h"
#include "trace_io/failure.h"
#include "trace_io/numbers.h"

namespace trace_net {

namespace {

// Packets held while the stream and its timestamp offset are found: the
// stream's first distinct timestamps matched against the video's frames,
// and a bound on what is held meanwhile.
constexpr size_t kMatchTimestamps = 64;
constexpr size_t kMaxHeld = 1 << 16;
// Streams told apart for the note.
constexpr size_t kMaxStreams = 64;

// An extended sequence number: below the first packet's only when packets
// before it arrive after it.
char* put_id(char* p, int64_t id) {
  if (id < 0) *p++ = '-';
  return digits::put_unsigned(p, static_cast<uint64_t>(id < 0 ? -id : id));
}

}  // namespace

int64_t Unwrapper::operator()(uint32_t value) {
  const int64_t span = int64_t{1} << bits_;
  if (!started_) {
    started_ = true;
    highest_ = value;
    return value;
  }
  int64_t step = (static_cast<int64_t>(value) - highest_) % span;
  if (step < 0) step += span;
  if (step >= span / 2) step -= span;  // nearer behind than ahead
  int64_t v = highest_ + step;
  highest_ = std::max(highest_, v);
  return v;
}

RtpTrace::RtpTrace(const RtpTraceOptions& options, const std::vector<int64_t>& times,
                   std::function<OutFile&()> output, std::string capture, std::string video)
    : o_(options), times_(times), output_(std::move(output)), capture_(std::move(capture)), video_(std::move(video)) {
  by_time_.reserve(times.size());
  for (size_t f = 0; f < times.size(); ++f) by_time_.emplace_back(times[f], static_cast<int32_t>(f));
  std::sort(by_time_.begin(), by_time_.end());
  // A timestamp within a millisecond of a frame's time is that frame's (a
  // sender may round differently), but never as near to another frame.
  int64_t gap = INT64_MAX;
  for (size_t i = 1; i < by_time_.size(); ++i)
    if (by_time_[i].first != by_time_[i - 1].first) gap = std::min(gap, by_time_[i].first - by_time_[i - 1].first);
  tolerance_ = std::min<int64_t>(o_.clock / 1000, gap == INT64_MAX ? 0 : (gap - 1) / 2);
}

int32_t RtpTrace::frame_at(int64_t pts) const {
  auto at = std::lower_bound(by_time_.begin(), by_time_.end(), std::make_pair(pts - tolerance_, INT32_MIN));
  if (at == by_time_.end() || at->first > pts + tolerance_) return -1;
  // The nearest; the first in decode order of frames sharing a time.
  auto best = at;
  for (auto i = at; i != by_time_.end() && i->first <= pts + tolerance_; ++i)
    if (std::llabs(i->first - pts) < std::llabs(best->first - pts)) best = i;
  return best->second;
}

bool RtpTrace::wanted(const RtpPacket& p) const {
  return (!o_.port || *o_.port == p.port) && (!o_.ssrc || *o_.ssrc == p.ssrc);
}

void RtpTrace::add(uint64_t micros, const RtpPacket& p) {
  Key key{p.ssrc, p.port};
  if (seen_.size() < kMaxStreams || seen_.count(key)) ++seen_[key];
  if (ready()) {
    if (stream_ == key)
      write(micros, p);
    else
      ++other_streams_;
    return;
  }
  held_.push_back({micros, p});
  if (stream_ == key) {
    held_stamps_.insert(p.timestamp);
  } else if (!stream_ && wanted(p) && (o_.port || o_.ssrc || seen_[key] >= 2)) {
    // The stream: the first wanted one, with options that name it; else
    // the first of at least two packets (one UDP datagram may look like
    // RTP by chance).
    stream_ = key;
    for (const Held& h : held_)
      if (Key{h.packet.ssrc, h.packet.port} == key) held_stamps_.insert(h.packet.timestamp);
  }
  decide(false);
}

void RtpTrace::decide(bool at_end) {
  if (!stream_ && at_end) {
    // A stream of one packet, as the capture ends.
    for (const Held& h : held_)
      if (wanted(h.packet)) {
        stream_ = Key{h.packet.ssrc, h.packet.port};
        break;
      }
  }
  if (!stream_) {
    if (held_.size() < kMaxHeld) return;
    other_streams_ += held_.size();  // RTP by chance, each of its own
    held_.clear();
    return;
  }
  if (o_.sent == nullptr) {
    if (!at_end && held_.size() < kMaxHeld &&
        held_stamps_.size() < std::min(kMatchTimestamps, by_time_.size()))
      return;
    if (!find_offset()) fail_no_match();
  }
  std::vector<Held> held = std::move(held_);
  held_.clear();
  held_stamps_.clear();
  for (const Held& h : held) {
    if (Key{h.packet.ssrc, h.packet.port} == *stream_)
      write(h.micros, h.packet);
    else
      ++other_streams_;
  }
}

void RtpTrace::fail_no_match() const {
  fail(capture_ + ": the RTP timestamps match no frame of " + video_ + " (at a " + std::to_string(o_.clock) +
       " Hz clock; --clock sets another)");
}

// The offset between the stream's timestamps and the video's times: the
// one that puts most of the stream's first distinct timestamps on a
// frame's time; of equals, the one that puts its first packet on the
// earliest frame (a video at a constant rate fits many).
bool RtpTrace::find_offset() {
  Unwrapper unwrap(32);
  std::vector<int64_t> stamps;
  std::set<int64_t> distinct;
  for (const Held& h : held_) {
    if (Key{h.packet.ssrc, h.packet.port} != *stream_) continue;
    int64_t t = unwrap(h.packet.timestamp);
    if (distinct.insert(t).second) stamps.push_back(t);
    if (stamps.size() == kMatchTimestamps) break;
  }
  if (stamps.empty()) return false;
  // Frames tried in decode order: the first that fits every timestamp is
  // the answer, and a capture from the stream's start has it at once.
  size_t best = 0;
  for (size_t f = 0; f < times_.size() && best < stamps.size(); ++f) {
    int64_t offset = stamps[0] - times_[f];
    size_t matched = 0;
    // Stops where it can no longer beat the best so far.
    for (size_t i = 0; i < stamps.size() && matched + (stamps.size() - i) > best; ++i)
      matched += frame_at(stamps[i] - offset) >= 0;
    if (matched > best) {
      best = matched;
      offset_ = offset;
    }
  }
  // Fewer than half on a frame: not this video, or not this clock.
  if (best * 2 < stamps.size()) offset_.reset();
  return offset_.has_value();
}

// The first packet is put on the sender's packet of its sequence number
// sent nearest in time (the only one in a stream of at most 65,536
// packets); from there on each is unwrapped as the sender's ids were.
const SentPacket* RtpTrace::sent_packet(uint64_t micros, uint16_t seq) {
  const std::vector<SentPacket>& sent = *o_.sent;
  if (sent.empty()) return nullptr;
  int64_t id = 0;
  if (!seq_started_) {
    seq_started_ = true;
    const SentPacket* best = nullptr;
    for (const SentPacket& s : sent) {
      if (((s.id - seq) & 0xFFFF) != 0) continue;
      auto distance = [micros](const SentPacket* x) {
        return x->micros > micros ? x->micros - micros : micros - x->micros;
      };
      if (best == nullptr || distance(&s) < distance(best)) best = &s;
    }
    // Never sent: unwrapped near the sender's first id instead.
    id = best != nullptr
             ? best->id
             : sent.front().id + ((static_cast<int64_t>(seq) - sent.front().id) & 0xFFFF);
    seq_.start_at(id);
  } else {
    id = seq_(seq);
  }
  auto at = std::lower_bound(sent.begin(), sent.end(), id,
                             [](const SentPacket& s, int64_t want) { return s.id < want; });
  return at != sent.end() && at->id == id ? &*at : nullptr;
}

void RtpTrace::write(uint64_t micros, const RtpPacket& p) {
  int64_t id = 0;
  int32_t frame = -1;
  if (o_.sent != nullptr) {
    const SentPacket* sent = sent_packet(micros, p.seq);
    if (sent == nullptr) {
      ++never_sent_;
      return;
    }
    id = sent->id;
    frame = sent->frame;
  } else {
    id = seq_(p.seq);
    int64_t time = timestamp_(p.timestamp) - *offset_;
    if (time != last_time_) {
      last_time_ = time;
      last_frame_ = frame_at(time);
    }
    frame = last_frame_;
  }
  if (frame < 0) {
    ++unmatched_;
    return;
  }
  if (first_frame_ < 0) first_frame_ = frame;
  if (out_ == nullptr) out_ = &output_();
  ++written_;
  if (o_.sender) {
    if (frame != frame_) flush_frame();
    frame_ = frame;
    frame_lines_.push_back({micros, id, p.payload_size});
    return;
  }
  char* at = out_->reserve();
  at = digits::put_micros(at, micros);
  *at++ = ' ';
  at = put_int(at, o_.source);
  *at++ = ' ';
  at = put_int(at, frame);
  *at++ = ' ';
  at = put_int(at, static_cast<int32_t>(p.payload_size));
  *at++ = ' ';
  at = put_id(at, id);
  *at++ = '\n';
  out_->commit(at);
}

void RtpTrace::flush_frame() {
  for (size_t k = 0; k < frame_lines_.size(); ++k) {
    const Line& l = frame_lines_[k];
    char* at = out_->reserve();
    at = digits::put_micros(at, l.micros);
    *at++ = ' ';
    at = put_id(at, l.id);
    *at++ = ' ';
    at = put_int(at, frame_);
    *at++ = ' ';
    at = put_int(at, static_cast<int32_t>(l.size));
    *at++ = ' ';
    at = put_int(at, static_cast<int32_t>(k));
    *at++ = ' ';
    at = put_int(at, static_cast<int32_t>(frame_lines_.size()));
    *at++ = '\n';
    out_->commit(at);
  }
  frame_lines_.clear();
}

void RtpTrace::finish(RunState& run) {
  if (!ready()) decide(true);
  if (!stream_) {
    std::string which = o_.port && o_.ssrc ? " to port " + std::to_string(*o_.port) + " with that SSRC"
                        : o_.port          ? " to port " + std::to_string(*o_.port)
                        : o_.ssrc          ? " with that SSRC"
                                           : "";
    fail(capture_ + ": no RTP stream" + which);
  }
  if (o_.sender) flush_frame();
  if (seen_.size() > 1 && !o_.port && !o_.ssrc) {
    char ssrc[16];
    std::snprintf(ssrc, sizeof ssrc, "0x%08" PRIx32, stream_->first);
    run.note(capture_ + ": " + std::to_string(seen_.size()) + " RTP streams; took the first, SSRC " + ssrc +
             " to port " + std::to_string(stream_->second) + " (--port or --ssrc picks another)");
  }
  static const char* const kWhy[] = {"", "not UDP", "fragments", "RTCP", "UDP but not RTP", "cut short"};
  uint64_t total = other_streams_;
  std::string parts;
  for (int i = 1; i < 6; ++i) {
    total += left_out_[i];
    if (left_out_[i] > 0) parts += (parts.empty() ? "" : ", ") + std::to_string(left_out_[i]) + " " + kWhy[i];
  }
  if (other_streams_ > 0)
    parts += (parts.empty() ? "" : ", ") + std::to_string(other_streams_) + " of other RTP streams";
  if (total > 0) run.note(capture_ + ": " + std::to_string(total) + " packets left out (" + parts + ")");
  if (unmatched_ > 0)
    run.note(capture_ + ": " + std::to_string(unmatched_) + " packets of the stream carry a timestamp of no frame of " +
             video_ + "; left out");
  if (never_sent_ > 0)
    run.note(capture_ + ": " + std::to_string(never_sent_) + " packets of the stream are not in " +
             o_.sent_name + " (never sent by its sender); left out");
  // Without the sender's trace, the frames are found from the RTP
  // timestamps alone, which cannot tell a capture that starts with the
  // stream from one that missed its first frames.
  if (!o_.sender && o_.sent == nullptr && first_frame_ >= 0)
    run.note(capture_ + ": its first packet was put on frame " + std::to_string(first_frame_) +
             " of " + video_ +
             "; a capture that missed the stream's first frames can be shifted: --sender SD, the "
             "sender's trace, "
             "makes the two agree");
  if (out_ == nullptr) out_ = &output_();  // an empty trace, still written
}

}  // namespace trace_net
