// Taking captured frames apart down to RTP.

#include "trace_net/rtp_packets.h"

#include <pcap/dlt.h>

namespace trace_net {

namespace {

uint16_t be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
uint32_t be32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | p[3];
}

// LINKTYPE_IPV4 and LINKTYPE_IPV6, which not every libpcap names.
constexpr int kIpv4 = 228, kIpv6 = 229, kLinuxSll2 = 276;
constexpr uint16_t kEtherIpv4 = 0x0800, kEtherIpv6 = 0x86DD;

// The frame's bytes from one layer on: what was captured of them, and how
// many there were on the wire.
struct Bytes {
  const uint8_t* p;
  size_t captured, length;
  bool take(size_t n) {
    if (n > length) return false;
    p += n;
    captured = captured > n ? captured - n : 0;
    length -= n;
    return true;
  }
};

Parsed rtp(Bytes b, uint16_t port, RtpPacket& out) {
  // The fixed header, its CSRC list and the extension's header must be
  // there to be read.
  if (b.length < 12) return Parsed::kNotRtp;
  if (b.captured < 12) return Parsed::kCut;
  const uint8_t* h = b.p;
  if ((h[0] >> 6) != 2) return Parsed::kNotRtp;
  uint8_t type = h[1] & 0x7F;
  // RTCP's packet types 192 to 223 (RFC 5761: not RTP payload types).
  if (type >= 64 && type <= 95) return Parsed::kRtcp;
  size_t header = 12 + 4 * static_cast<size_t>(h[0] & 0x0F);
  if (h[0] & 0x10) {
    if (b.length < header + 4) return Parsed::kNotRtp;
    if (b.captured < header + 4) return Parsed::kCut;
    header += 4 + 4 * static_cast<size_t>(be16(h + header + 2));
  }
  if (b.length < header) return Parsed::kNotRtp;
  size_t padding = 0;
  if (h[0] & 0x20) {
    if (b.captured < b.length) return Parsed::kCut;  // its count is the last byte
    padding = h[b.length - 1];
    if (padding == 0 || padding > b.length - header) return Parsed::kNotRtp;
  }
  out.port = port;
  out.payload_type = type;
  out.seq = be16(h + 2);
  out.timestamp = be32(h + 4);
  out.ssrc = be32(h + 8);
  out.payload_size = static_cast<uint32_t>(b.length - header - padding);
  return Parsed::kRtp;
}

Parsed udp(Bytes b, RtpPacket& out) {
  if (b.captured < 8) return b.length < 8 ? Parsed::kNotUdp : Parsed::kCut;
  size_t length = be16(b.p + 4);
  uint16_t port = be16(b.p + 2);
  if (length < 8 || length > b.length) return Parsed::kNotUdp;
  b.length = length;
  b.take(8);
  if (b.captured > b.length) b.captured = b.length;
  return rtp(b, port, out);
}

Parsed ipv4(Bytes b, RtpPacket& out) {
  if (b.captured < 20) return b.length < 20 ? Parsed::kNotUdp : Parsed::kCut;
  const uint8_t* h = b.p;
  size_t header = 4 * static_cast<size_t>(h[0] & 0x0F), total = be16(h + 2);
  if ((h[0] >> 4) != 4 || header < 20 || total < header || total > b.length) return Parsed::kNotUdp;
  if (h[9] != 17) return Parsed::kNotUdp;
  if ((be16(h + 6) & 0x3FFF) != 0) return Parsed::kFragment;  // more fragments, or an offset
  // Ethernet pads short frames: the datagram ends where IPv4 says.
  b.length = total;
  if (b.captured > total) b.captured = total;
  if (!b.take(header)) return Parsed::kNotUdp;
  return udp(b, out);
}

Parsed ipv6(Bytes b, RtpPacket& out) {
  if (b.captured < 40) return b.length < 40 ? Parsed::kNotUdp : Parsed::kCut;
  if ((b.p[0] >> 4) != 6) return Parsed::kNotUdp;
  size_t payload = be16(b.p + 4);
  uint8_t next = b.p[6];
  if (40 + payload > b.length) return Parsed::kNotUdp;
  b.length = 40 + payload;
  if (b.captured > b.length) b.captured = b.length;
  b.take(40);
  // Hop-by-hop, routing and destination options, and AH, before UDP.
  for (int headers = 0; next != 17; ++headers) {
    if (next == 44) return Parsed::kFragment;
    if ((next != 0 && next != 43 && next != 60 && next != 51) || headers == 8) return Parsed::kNotUdp;
    if (b.captured < 2) return b.length < 2 ? Parsed::kNotUdp : Parsed::kCut;
    size_t size = next == 51 ? (static_cast<size_t>(b.p[1]) + 2) * 4 : (static_cast<size_t>(b.p[1]) + 1) * 8;
    next = b.p[0];
    if (!b.take(size)) return Parsed::kNotUdp;
  }
  return udp(b, out);
}

Parsed by_version(Bytes b, RtpPacket& out) {
  if (b.captured < 1) return b.length < 1 ? Parsed::kNotUdp : Parsed::kCut;
  switch (b.p[0] >> 4) {
    case 4: return ipv4(b, out);
    case 6: return ipv6(b, out);
    default: return Parsed::kNotUdp;
  }
}

Parsed by_ethertype(Bytes b, uint16_t type, RtpPacket& out) {
  if (type == kEtherIpv4) return ipv4(b, out);
  if (type == kEtherIpv6) return ipv6(b, out);
  return Parsed::kNotUdp;
}

// BSD's address families as loopback captures write them: AF_INET is 2
// everywhere, AF_INET6 is 10 (Linux), 24, 28 or 30 (the BSDs, macOS).
Parsed by_family(Bytes b, uint32_t family, RtpPacket& out) {
  if (family == 2) return ipv4(b, out);
  if (family == 10 || family == 24 || family == 28 || family == 30) return ipv6(b, out);
  return Parsed::kNotUdp;
}

}  // namespace

bool known_link_type(int t) {
  return t == DLT_EN10MB || t == DLT_LINUX_SLL || t == kLinuxSll2 || t == DLT_RAW || t == kIpv4 ||
         t == kIpv6 || t == DLT_NULL || t == DLT_LOOP;
}

Parsed parse_rtp_packet(int link_type, const uint8_t* data, size_t captured, size_t length,
                        RtpPacket& out) {
  Bytes b{data, captured < length ? captured : length, length};
  switch (link_type) {
    case DLT_EN10MB: {
      if (b.captured < 14) return b.length < 14 ? Parsed::kNotUdp : Parsed::kCut;
      uint16_t type = be16(b.p + 12);
      b.take(14);
      // 802.1Q and 802.1ad tags, stacked at most twice.
      for (int tags = 0; (type == 0x8100 || type == 0x88A8) && tags < 2; ++tags) {
        if (b.captured < 4) return b.length < 4 ? Parsed::kNotUdp : Parsed::kCut;
        type = be16(b.p + 2);
        b.take(4);
      }
      return by_ethertype(b, type, out);
    }
    case DLT_LINUX_SLL: {
      if (b.captured < 16) return b.length < 16 ? Parsed::kNotUdp : Parsed::kCut;
      uint16_t type = be16(b.p + 14);
      b.take(16);
      return by_ethertype(b, type, out);
    }
    case kLinuxSll2: {
      if (b.captured < 20) return b.length < 20 ? Parsed::kNotUdp : Parsed::kCut;
      uint16_t type = be16(b.p);
      b.take(20);
      return by_ethertype(b, type, out);
    }
    case DLT_RAW:
      return by_version(b, out);
    case kIpv4:
      return ipv4(b, out);
    case kIpv6:
      return ipv6(b, out);
    case DLT_NULL:
    case DLT_LOOP: {
      if (b.captured < 4) return b.length < 4 ? Parsed::kNotUdp : Parsed::kCut;
      // DLT_LOOP's family is in network order; DLT_NULL's in the capturing
      // machine's, which may not be ours.
      uint32_t big = be32(b.p);
      uint32_t little = static_cast<uint32_t>(b.p[3]) << 24 | static_cast<uint32_t>(b.p[2]) << 16 |
                        static_cast<uint32_t>(b.p[1]) << 8 | b.p[0];
      uint32_t family = link_type == DLT_LOOP ? big : (big < 256 ? big : little);
      b.take(4);
      return by_family(b, family, out);
    }
    default:
      return Parsed::kNotUdp;
  }
}

}  // namespace trace_net
