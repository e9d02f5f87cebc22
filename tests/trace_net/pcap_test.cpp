// trace_net pcap on captures the tests write themselves: the formats and
// link types a Linux capture comes in, the RTP header's optional parts,
// sequence numbers past their wrap, what a receiver's capture holds
// (reordering, duplicates, a lost first packet), what is left out, and
// the bad inputs.

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <sstream>

#include "test_support.h"

namespace {

const std::string kVideo = TRACE_ALIGN_SOURCE_DIR "/examples/video/clip.mp4";

// The example clip's frame times at 90 kHz, from its frame table.
std::vector<int64_t> ClipTimes() {
  std::vector<int64_t> times;
  std::istringstream in(ReadFile(TRACE_ALIGN_SOURCE_DIR "/examples/video/frames.csv"));
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    std::vector<std::string> cells;
    std::istringstream l(line);
    for (std::string c; std::getline(l, c, ',');) cells.push_back(c);
    times.push_back(std::llround(std::stod(cells[4]) * 90000));
  }
  return times;
}

using Bytes = std::string;

void Put16(Bytes& b, uint16_t v) { b += static_cast<char>(v >> 8), b += static_cast<char>(v & 0xFF); }
void Put32(Bytes& b, uint32_t v) { Put16(b, static_cast<uint16_t>(v >> 16)), Put16(b, static_cast<uint16_t>(v)); }
void Le16(Bytes& b, uint16_t v) { b += static_cast<char>(v & 0xFF), b += static_cast<char>(v >> 8); }
void Le32(Bytes& b, uint32_t v) { Le16(b, static_cast<uint16_t>(v)), Le16(b, static_cast<uint16_t>(v >> 16)); }

struct Rtp {
  uint16_t seq;
  uint32_t timestamp;
  uint32_t payload = 100;
  uint32_t ssrc = 0x11223344;
  uint16_t port = 5004;
  int csrcs = 0, extension_words = -1, padding = 0;  // extension_words < 0: none
  uint8_t type = 96;
};

Bytes RtpBytes(const Rtp& r) {
  Bytes b;
  b += static_cast<char>(0x80 | (r.padding ? 0x20 : 0) | (r.extension_words >= 0 ? 0x10 : 0) | r.csrcs);
  b += static_cast<char>(r.type);
  Put16(b, r.seq);
  Put32(b, r.timestamp);
  Put32(b, r.ssrc);
  for (int i = 0; i < r.csrcs; ++i) Put32(b, 0xC0000000u + static_cast<uint32_t>(i));
  if (r.extension_words >= 0) {
    Put16(b, 0xBEDE);
    Put16(b, static_cast<uint16_t>(r.extension_words));
    b += Bytes(4 * static_cast<size_t>(r.extension_words), '\x01');
  }
  b += Bytes(r.payload, '\x5A');
  if (r.padding) {
    b += Bytes(static_cast<size_t>(r.padding - 1), '\0');
    b += static_cast<char>(r.padding);
  }
  return b;
}

Bytes Udp(const Bytes& payload, uint16_t port) {
  Bytes b;
  Put16(b, 40000);
  Put16(b, port);
  Put16(b, static_cast<uint16_t>(payload.size() + 8));
  Put16(b, 0);
  return b + payload;
}

Bytes Ipv4(const Bytes& payload, uint8_t protocol = 17, uint16_t fragment = 0) {
  Bytes b;
  b += '\x45';
  b += '\0';
  Put16(b, static_cast<uint16_t>(payload.size() + 20));
  Put16(b, 1);
  Put16(b, fragment);
  b += '\x40';
  b += static_cast<char>(protocol);
  Put16(b, 0);
  Put32(b, 0x0A000001);
  Put32(b, 0x0A000002);
  return b + payload;
}

Bytes Ipv6(const Bytes& payload) {
  Bytes b;
  Put32(b, 0x60000000);
  Put16(b, static_cast<uint16_t>(payload.size() + 8));
  b += '\0';  // a hop-by-hop options header first
  b += '\x40';
  b += Bytes(32, '\0');
  b[31] = 1, b[39] = 2;
  b += '\x11';  // then UDP
  b += '\0';
  b += Bytes(6, '\0');
  return b + payload;
}

enum Link { kEthernet = 1, kRaw = 101, kNull = 0, kLoop = 108, kSll = 113, kSll2 = 276, kIpv4Link = 228 };

// An IP packet (v4 or v6, by its first byte) in a frame of the link.
Bytes Frame(Link link, const Bytes& ip) {
  bool v6 = (static_cast<uint8_t>(ip[0]) >> 4) == 6;
  uint16_t type = v6 ? 0x86DD : 0x0800;
  Bytes b;
  switch (link) {
    case kEthernet:
      b = Bytes(12, '\x02');
      Put16(b, 0x8100);  // a VLAN tag
      Put16(b, 7);
      Put16(b, type);
      break;
    case kSll:
      b = Bytes(14, '\0');
      Put16(b, type);
      break;
    case kSll2:
      Put16(b, type);
      b += Bytes(18, '\0');
      break;
    case kNull:
      Le32(b, v6 ? 10 : 2);
      break;
    case kLoop:
      Put32(b, v6 ? 30 : 2);
      break;
    case kRaw:
    case kIpv4Link:
      break;
  }
  return b + ip;
}

// A capture file: classic pcap (microseconds or nanoseconds) or pcapng.
enum Format { kPcapMicro, kPcapNano, kPcapng };

class Capture {
 public:
  Capture(Format format, Link link) : format_(format), link_(link) {
    if (format == kPcapng) {
      Bytes shb;
      Le32(shb, 0x1A2B3C4D);
      Le16(shb, 1);
      Le16(shb, 0);
      Le32(shb, 0xFFFFFFFF);
      Le32(shb, 0xFFFFFFFF);
      Block(0x0A0D0D0A, shb);
      Bytes idb;
      Le16(idb, static_cast<uint16_t>(link));
      Le16(idb, 0);
      Le32(idb, 262144);
      Le16(idb, 9);  // if_tsresol: nanoseconds
      Le16(idb, 1);
      idb += '\x09';
      idb += Bytes(3, '\0');
      Le32(idb, 0);  // the end of the options
      Block(1, idb);
    } else {
      Le32(bytes_, format == kPcapNano ? 0xA1B23C4D : 0xA1B2C3D4);
      Le16(bytes_, 2);
      Le16(bytes_, 4);
      Le32(bytes_, 0);
      Le32(bytes_, 0);
      Le32(bytes_, 262144);
      Le32(bytes_, static_cast<uint32_t>(link));
    }
  }
  // A frame captured at `micros` since 1970.
  void Add(uint64_t micros, const Bytes& ip) {
    Bytes frame = Frame(link_, ip);
    uint64_t sub = format_ == kPcapMicro ? micros % 1000000 : (micros % 1000000) * 1000;
    if (format_ == kPcapng) {
      uint64_t ns = micros * 1000;
      Bytes epb;
      Le32(epb, 0);
      Le32(epb, static_cast<uint32_t>(ns >> 32));
      Le32(epb, static_cast<uint32_t>(ns));
      Le32(epb, static_cast<uint32_t>(frame.size()));
      Le32(epb, static_cast<uint32_t>(frame.size()));
      epb += frame;
      epb += Bytes((4 - frame.size() % 4) % 4, '\0');
      Block(6, epb);
      return;
    }
    Le32(bytes_, static_cast<uint32_t>(micros / 1000000));
    Le32(bytes_, static_cast<uint32_t>(sub));
    Le32(bytes_, static_cast<uint32_t>(frame.size()));
    Le32(bytes_, static_cast<uint32_t>(frame.size()));
    bytes_ += frame;
  }
  void AddRtp(uint64_t micros, const Rtp& r) { Add(micros, Ipv4(Udp(RtpBytes(r), r.port))); }
  const Bytes& bytes() const { return bytes_; }

 private:
  void Block(uint32_t type, const Bytes& body) {
    Le32(bytes_, type);
    Le32(bytes_, static_cast<uint32_t>(body.size() + 12));
    bytes_ += body;
    Le32(bytes_, static_cast<uint32_t>(body.size() + 12));
  }
  Format format_;
  Link link_;
  Bytes bytes_;
};

constexpr uint64_t kStart = 1765000000ull * 1000000;  // a capture's clock, in microseconds
constexpr uint32_t kBase = 4000000000u;               // the stream's random offset: wraps soon

class PcapTest : public ScratchTest {
 protected:
  static RunResult Pcap(const std::vector<std::string>& args) {
    std::vector<std::string> all = {"pcap", "--video", kVideo};
    all.insert(all.end(), args.begin(), args.end());
    return RunToolAt(TRACE_NET_BINARY, all);
  }
  // The first `frames` frames of the clip in decode order, `per_frame`
  // packets each (sizes 100, 101 ...), from seq `first_seq`.
  static std::vector<std::pair<uint64_t, Rtp>> Stream(int frames, int per_frame, uint16_t first_seq) {
    std::vector<int64_t> times = ClipTimes();
    std::vector<std::pair<uint64_t, Rtp>> packets;
    uint16_t seq = first_seq;
    for (int f = 0; f < frames; ++f)
      for (int k = 0; k < per_frame; ++k) {
        Rtp r{seq++, kBase + static_cast<uint32_t>(times[f])};
        r.payload = static_cast<uint32_t>(100 + k);
        packets.push_back({kStart + static_cast<uint64_t>(f) * 40000 + static_cast<uint64_t>(k) * 100, r});
      }
    return packets;
  }
};

// The same stream in every format and link type gives the same sender
// trace: each packet's capture time, extended sequence number, frame, size,
// place in its frame and its frame's packets.
TEST_F(PcapTest, EveryFormatAndLinkTypeGivesTheSameTrace) {
  auto stream = Stream(6, 2, 100);
  std::string expected;
  for (size_t i = 0; i < stream.size(); ++i) {
    char line[128];
    std::snprintf(line, sizeof line, "%llu.%06llu %zu %zu %u %zu 2\n",
                  static_cast<unsigned long long>(stream[i].first / 1000000),
                  static_cast<unsigned long long>(stream[i].first % 1000000), 100 + i, i / 2,
                  stream[i].second.payload, i % 2);
    expected += line;
  }
  for (Format format : {kPcapMicro, kPcapNano, kPcapng})
    for (Link link : {kEthernet, kSll, kSll2, kRaw, kNull, kLoop, kIpv4Link})
      for (bool v6 : {false, true}) {
        if (v6 && link == kIpv4Link) continue;
        Capture c(format, link);
        for (const auto& [time, rtp] : stream)
          c.Add(time, v6 ? Ipv6(Udp(RtpBytes(rtp), rtp.port)) : Ipv4(Udp(RtpBytes(rtp), rtp.port)));
        WriteFile("cap", c.bytes());
        RunResult r = Pcap({"--as", "sender", "cap", "sd"});
        std::string at = "format " + std::to_string(format) + " link " + std::to_string(link) + (v6 ? " IPv6" : "");
        ASSERT_EQ(0, r.status) << at << ": " << r.err;
        EXPECT_EQ(expected, ReadFile("sd")) << at;
      }
  // The video's frame table (trace_video send's frames.csv) in its place.
  RunResult r = RunToolAt(TRACE_NET_BINARY, {"pcap", "--video", TRACE_ALIGN_SOURCE_DIR "/examples/video/frames.csv",
                                             "--as", "sender", "cap", "sd"});
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_EQ(expected, ReadFile("sd"));
}

// The header's optional parts are no payload; sequence numbers and
// timestamps go on past their wraps; a compressed capture reads as any
// input.
TEST_F(PcapTest, HeaderPartsWrapsAndCompression) {
  struct Case {
    const char* name;
    int csrcs, extension_words, padding;
  } cases[] = {{"plain", 0, -1, 0}, {"CSRCs", 3, -1, 0}, {"extension", 0, 2, 0},
               {"padding", 0, -1, 4}, {"all three", 2, 1, 1}};
  for (const Case& c : cases) {
    Capture cap(kPcapMicro, kEthernet);
    auto stream = Stream(4, 3, 65533);  // seq wraps at the fourth packet
    for (auto& [time, rtp] : stream) {
      rtp.csrcs = c.csrcs, rtp.extension_words = c.extension_words, rtp.padding = c.padding;
      cap.AddRtp(time, rtp);
    }
    WriteFile("cap", cap.bytes());
    ASSERT_EQ(0, Pcap({"--as", "receiver", "--source", "2", "cap", "rd"}).status) << c.name;
    std::istringstream rd(ReadFile("rd"));
    std::string line;
    for (size_t i = 0; std::getline(rd, line); ++i) {
      char expected[96];
      std::snprintf(expected, sizeof expected, " 2 %zu %zu %zu", i / 3, 100 + i % 3, 65533 + i);
      EXPECT_NE(std::string::npos, line.find(expected)) << c.name << ": " << line;
    }
  }
  ASSERT_EQ(0, std::system("gzip -c cap > cap.gz"));
  ASSERT_EQ(0, Pcap({"--as", "receiver", "--source", "2", "cap.gz", "rd.gz.txt"}).status);
  EXPECT_EQ(ReadFile("rd"), ReadFile("rd.gz.txt"));
}

// A receiver's capture: the first packet lost, one reordered, one twice.
// Ids and frames are the sender's; lines are in capture order.
TEST_F(PcapTest, ReceiverKeepsCaptureOrderAndTheSendersIds) {
  auto stream = Stream(5, 2, 7);
  Capture sender(kPcapMicro, kEthernet), receiver(kPcapMicro, kEthernet);
  for (const auto& [time, rtp] : stream) sender.AddRtp(time, rtp);
  std::vector<size_t> order = {1, 3, 2, 4, 4, 5, 6, 7, 8, 9};  // 0 lost, 2 late, 4 twice
  for (size_t i : order) receiver.AddRtp(stream[i].first + 5000, stream[i].second);
  WriteFile("s.pcap", sender.bytes());
  WriteFile("r.pcap", receiver.bytes());
  ASSERT_EQ(0, Pcap({"--as", "sender", "s.pcap", "sd"}).status);
  RunResult r = Pcap({"--as", "receiver", "r.pcap", "rd"});
  ASSERT_EQ(0, r.status) << r.err;
  std::map<std::string, std::string> frame_of;  // id -> frame, from the sender
  std::istringstream sd(ReadFile("sd"));
  for (std::string t, id, frame, rest; sd >> t >> id >> frame && std::getline(sd, rest);) frame_of[id] = frame;
  std::istringstream rd(ReadFile("rd"));
  size_t n = 0;
  for (std::string t, src, frame, size, id; rd >> t >> src >> frame >> size >> id; ++n) {
    ASSERT_LT(n, order.size());
    EXPECT_EQ(std::to_string(7 + order[n]), id) << "line " << n;
    EXPECT_EQ(frame_of[id], frame) << "line " << n;
  }
  EXPECT_EQ(order.size(), n);
}

// A receiver's capture that missed the stream's first two frames, while
// the sequence numbers wrapped: read alone, its frames are found from the
// timestamps and can be shifted (a note says where it put the first
// packet); read with the sender's trace, every id and frame is the
// sender's, and a packet the sender never sent is counted.
TEST_F(PcapTest, ReceiverReadWithTheSendersTraceAgreesWithIt) {
  auto stream = Stream(12, 3, 65530);  // the first two frames are seq 65530 to 65535
  Capture sender(kPcapMicro, kEthernet), receiver(kPcapMicro, kEthernet);
  for (const auto& [time, rtp] : stream) sender.AddRtp(time, rtp);
  for (size_t i = 6; i < stream.size(); ++i)
    receiver.AddRtp(stream[i].first + 3000, stream[i].second);
  Rtp stray = stream.back().second;
  stray.seq = 500;  // never sent
  receiver.AddRtp(stream.back().first + 9000, stray);
  WriteFile("s.pcap", sender.bytes());
  WriteFile("r.pcap", receiver.bytes());
  ASSERT_EQ(0, Pcap({"--as", "sender", "s.pcap", "sd"}).status);
  std::map<std::string, std::string> frame_of;  // id -> frame, from the sender
  std::istringstream sd(ReadFile("sd"));
  for (std::string t, id, frame, rest; sd >> t >> id >> frame && std::getline(sd, rest);)
    frame_of[id] = frame;
  ASSERT_EQ(stream.size(), frame_of.size());

  RunResult alone = Pcap({"--as", "receiver", "r.pcap", "rd"});
  ASSERT_EQ(0, alone.status) << alone.err;
  EXPECT_NE(std::string::npos, alone.err.find("r.pcap: its first packet was put on frame 0 of "))
      << alone.err;
  EXPECT_NE(std::string::npos, alone.err.find("--sender SD")) << alone.err;

  RunResult paired = Pcap({"--as", "receiver", "--sender", "sd", "r.pcap", "rd"});
  ASSERT_EQ(0, paired.status) << paired.err;
  EXPECT_EQ(
      "trace_net: r.pcap: 1 packets of the stream are not in sd (never sent by its sender); left "
      "out\n",
      paired.err);
  std::istringstream rd(ReadFile("rd"));
  size_t n = 0;
  for (std::string t, src, frame, size, id; rd >> t >> src >> frame >> size >> id; ++n) {
    EXPECT_EQ(std::to_string(65536 + n), id) << "line " << n;
    EXPECT_EQ(frame_of[id], frame) << "line " << n;
    EXPECT_EQ(std::to_string(2 + n / 3), frame) << "line " << n;
  }
  EXPECT_EQ(stream.size() - 6, n);
  // --sender belongs to the receiver.
  RunResult r = Pcap({"--as", "sender", "--sender", "sd", "s.pcap", "sd2"});
  EXPECT_EQ(2, r.status);
  EXPECT_EQ(0u, r.err.find("trace_net: --sender goes with --as receiver\n")) << r.err;
}

// Everything but the stream is left out and counted; with several RTP
// streams the first is taken and named, --ssrc and --port pick another.
TEST_F(PcapTest, OtherTrafficIsLeftOutAndCounted) {
  Capture c(kPcapMicro, kEthernet);
  auto stream = Stream(3, 1, 1);
  auto other = Stream(3, 1, 500);
  Bytes arp = Bytes(12, '\x02') + "\x08\x06" + Bytes(28, '\0');
  c.Add(kStart - 10, Ipv4(Bytes(20, '\0'), 6));                        // TCP
  for (size_t i = 0; i < stream.size(); ++i) {
    c.AddRtp(stream[i].first, stream[i].second);
    other[i].second.ssrc = 0xABCDEF01;
    other[i].second.port = 6000;
    c.AddRtp(other[i].first + 1, other[i].second);
  }
  Bytes rtcp = "\x80\xC8" + Bytes(26, '\0');
  c.Add(kStart + 1, Ipv4(Udp(rtcp, 5005)));                             // RTCP
  c.Add(kStart + 2, Ipv4(Udp(Bytes(30, '\x01'), 53)));                  // not RTP
  c.Add(kStart + 3, Ipv4(Udp(Bytes(30, '\x80'), 5004), 17, 0x2000));   // a fragment
  WriteFile("cap", c.bytes());
  WriteFile("arp", arp);
  RunResult r = Pcap({"--as", "sender", "cap", "sd"});
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("2 RTP streams; took the first, SSRC 0x11223344 to port 5004")) << r.err;
  EXPECT_NE(std::string::npos,
            r.err.find("7 packets left out (1 not UDP, 1 fragments, 1 RTCP, 1 UDP but not RTP, 3 of other RTP streams)"))
      << r.err;
  std::string sd = ReadFile("sd");
  EXPECT_EQ(3, std::count(sd.begin(), sd.end(), '\n'));
  for (std::vector<std::string> pick : {std::vector<std::string>{"--ssrc", "0xabcdef01"},
                                        std::vector<std::string>{"--port", "6000"}}) {
    pick.insert(pick.end(), {"--as", "sender", "cap", "sd"});
    r = Pcap(pick);
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_EQ(std::string::npos, r.err.find("took the first")) << r.err;
    EXPECT_EQ(0u, ReadFile("sd").find(std::to_string(kStart / 1000000) + ".000001 500 0 100 0 1\n"));
  }
}

TEST_F(PcapTest, BadInputsAndUsage) {
  Capture good(kPcapMicro, kEthernet);
  for (const auto& [time, rtp] : Stream(4, 2, 1)) good.AddRtp(time, rtp);
  Capture none(kPcapMicro, kEthernet);
  none.Add(kStart, Ipv4(Udp(Bytes(30, '\x01'), 53)));
  Capture wrong_clock(kPcapMicro, kEthernet);
  for (auto [time, rtp] : Stream(8, 1, 1)) {
    rtp.timestamp = kBase + (rtp.timestamp - kBase) / 90 * 7;  // not at 90 kHz
    wrong_clock.AddRtp(time, rtp);
  }
  WriteFile("good", good.bytes());
  WriteFile("cut", good.bytes().substr(0, good.bytes().size() - 30));
  WriteFile("text", "0.1 0 0 100 0 1\n");
  WriteFile("none", none.bytes());
  WriteFile("clock", wrong_clock.bytes());
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* message;
  } cases[] = {
      {{"--as", "sender", "cut", "out"}, 1, "cut: cannot read the capture: truncated dump file"},
      {{"--as", "sender", "text", "out"}, 1, "text: not a packet capture ("},
      {{"--as", "sender", "none", "out"}, 1, "none: no RTP stream"},
      {{"--as", "sender", "--port", "6000", "good", "out"}, 1, "good: no RTP stream to port 6000"},
      {{"--as", "sender", "clock", "out"}, 1, "clock: the RTP timestamps match no frame of"},
      {{"--as", "sender", "missing", "out"}, 1, "can't open file missing"},
      {{"--as", "sender", "good", "good"}, 1, "is the output file"},
      {{"--as", "sender", "good"}, 2, "pcap takes CAPTURE OUT"},
      {{"good", "out"}, 2, "pcap needs --as sender or --as receiver"},
      {{"--as", "both", "good", "out"}, 2, "--as takes sender or receiver"},
      {{"--as", "sender", "--port", "70000", "good", "out"}, 2, "--port needs a port from 1 to 65535"},
      {{"--as", "sender", "--ssrc", "0xZZ", "good", "out"}, 2, "--ssrc needs an SSRC from 0 to 0xffffffff"},
      {{"--as", "sender", "--clock", "0", "good", "out"}, 2, "--clock needs a whole number of Hz"},
  };
  for (const Case& c : cases) {
    std::remove("out");
    RunResult r = Pcap(c.args);
    EXPECT_EQ(c.status, r.status) << c.message << ": " << r.err;
    EXPECT_NE(std::string::npos, r.err.find(c.message)) << r.err;
    if (c.args.back() == "out") {
      EXPECT_NE(0, access("out", F_OK)) << c.message;
    }
  }
  RunResult r = RunToolAt(TRACE_NET_BINARY, {"pcap", "--as", "sender", "good", "out"});
  EXPECT_EQ(2, r.status);
  EXPECT_NE(std::string::npos, r.err.find("pcap needs --video VIDEO")) << r.err;
}

}  // namespace
