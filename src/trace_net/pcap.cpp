// Reading a capture with libpcap, through the library's input (so that a
// compressed or piped capture reads as any input does).

#include "trace_net/pcap.h"

#include <fcntl.h>
#include <pcap/pcap.h>
#include <stdio_ext.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

#include "trace_io/failure.h"
#include "trace_io/files.h"
#include "trace_io/trace_lines.h"
#include "trace_net/video_times.h"

namespace {

// A stdio stream over the library's input, for libpcap. A failure of the
// input (a read error, a compressed stream that is corrupt) cannot cross
// libpcap's C frames: it is kept, and libpcap sees an error.
struct CookieInput {
  InputFile* in;
  std::optional<RunFailure> failure;
};

ssize_t cookie_read(void* cookie, char* buf, size_t size) {
  auto* c = static_cast<CookieInput*>(cookie);
  std::optional<RunFailure> failure = failure_of([&] { size = c->in->read(buf, size); });
  if (!failure) return static_cast<ssize_t>(size);
  c->failure = std::move(failure);
  errno = EIO;
  return -1;
}

struct PcapClose {
  void operator()(pcap_t* p) const { pcap_close(p); }
};

// The sender's trace that pcap --as sender wrote, sorted by id: each
// line's id (col1), frame and capture time.
std::vector<trace_net::SentPacket> load_sent(RunState& run, const std::string& path) {
  InputFile in;
  in.open_or_fail(path, run);
  Array<SenderLine> list;
  int32_t num = 0;
  load_trace<SenderLine>(in, list, num, 0, [](const SenderLine& l, SenderLine& r) { r = l; });
  std::vector<trace_net::SentPacket> sent;
  sent.reserve(static_cast<size_t>(num));
  for (int32_t i = 0; i < num; ++i) {
    double t = list[i].time.value();
    uint64_t micros =
        std::isfinite(t) && t > 0 && t < 1.8e13 ? static_cast<uint64_t>(std::llround(t * 1e6)) : 0;
    sent.push_back({list[i].col1, list[i].frame, micros});
  }
  std::stable_sort(
      sent.begin(), sent.end(),
      [](const trace_net::SentPacket& a, const trace_net::SentPacket& b) { return a.id < b.id; });
  for (size_t i = 1; i < sent.size(); ++i)
    if (sent[i].id == sent[i - 1].id)
      fail(path + ": id " + std::to_string(sent[i].id) +
           " is on two lines: not a sender trace of one stream");
  return sent;
}

}  // namespace

void run_pcap(RunState& run, const PcapOptions& o, const std::string& capture, const std::string& out) {
  std::vector<int64_t> times = trace_net::frame_times(run, o.video, o.trace.clock);
  std::vector<trace_net::SentPacket> sent;
  trace_net::RtpTraceOptions trace_options = o.trace;
  if (!o.sender.empty()) {
    sent = load_sent(run, o.sender);
    trace_options.sent = &sent;
    trace_options.sent_name = o.sender;
  }
  InputFile in;
  in.open_or_fail(capture, run);
  run.claim_outputs({out});

  CookieInput cookie{&in, std::nullopt};
  std::FILE* stream = nullptr;
  if (!in.is_stream()) {
    // A plain file: libpcap reads it itself, from its start, without the
    // copy through the input's reader.
    int fd = ::dup(fileno(in.fp));
    if (fd >= 0 && ::lseek(fd, 0, SEEK_SET) == 0) stream = ::fdopen(fd, "r");
    if (stream == nullptr && fd >= 0) ::close(fd);
  } else {
    cookie_io_functions_t io{cookie_read, nullptr, nullptr, nullptr};
    stream = fopencookie(&cookie, "r", io);
  }
  if (stream == nullptr) fail(capture + ": cannot read: " + std::strerror(errno));
  std::setvbuf(stream, nullptr, _IOFBF, 1 << 20);
  // Read by this thread alone: no lock around each of libpcap's reads.
  __fsetlocking(stream, FSETLOCKING_BYCALLER);
  char error[PCAP_ERRBUF_SIZE] = {};
  // pcap_close closes the stream.
  std::unique_ptr<pcap_t, PcapClose> pcap(
      pcap_fopen_offline_with_tstamp_precision(stream, PCAP_TSTAMP_PRECISION_NANO, error));
  if (!pcap) {
    std::fclose(stream);
    if (cookie.failure) throw *cookie.failure;
    fail(capture + ": not a packet capture (" + error + ")");
  }
  int link = pcap_datalink(pcap.get());
  if (!trace_net::known_link_type(link)) {
    const char* name = pcap_datalink_val_to_name(link);
    fail(capture + ": its link type " + (name ? name : std::to_string(link)) +
         " is not one trace_net reads (Ethernet, Linux cooked capture v1 and v2, raw IP, loopback)");
  }

  OutFile file;
  bool created = false;
  trace_net::RtpTrace trace(
      trace_options, times,
      [&]() -> OutFile& {
        if (!created) file.create(run, out.c_str());
        created = true;
        return file;
      },
      capture, o.video);
  for (;;) {
    pcap_pkthdr* header;
    const u_char* data;
    int got = pcap_next_ex(pcap.get(), &header, &data);
    if (got == PCAP_ERROR_BREAK) break;
    if (got != 1) {
      if (cookie.failure) throw *cookie.failure;
      fail(capture + ": cannot read the capture: " + pcap_geterr(pcap.get()));
    }
    trace_net::RtpPacket packet;
    trace_net::Parsed parsed = trace_net::parse_rtp_packet(link, data, header->caplen, header->len, packet);
    if (parsed != trace_net::Parsed::kRtp) {
      trace.left_out(parsed);
      continue;
    }
    // Nanoseconds to the nearest microsecond; a capture's clock is not
    // before 1970.
    if (header->ts.tv_sec < 0) fail(capture + ": a packet's time is before 1970");
    uint64_t micros = static_cast<uint64_t>(header->ts.tv_sec) * 1000000 +
                      (static_cast<uint64_t>(header->ts.tv_usec) + 500) / 1000;
    trace.add(micros, packet);
  }
  trace.finish(run);
  file.close();
}
