// A captured frame taken apart down to its RTP packet: the link layers a
// Linux capture holds (Ethernet with VLAN tags, Linux cooked v1 and v2,
// raw IP, loopback), IPv4 or IPv6, UDP, then RTP (RFC 3550) with its CSRC
// list, header extension and padding taken off. Everything else is named,
// so that what was left out can be counted.
#pragma once

#include <cstddef>
#include <cstdint>

namespace trace_net {

struct RtpPacket {
  uint16_t port = 0;  // the UDP destination port
  uint32_t ssrc = 0;
  uint16_t seq = 0;
  uint32_t timestamp = 0;
  uint8_t payload_type = 0;
  uint32_t payload_size = 0;  // bytes after the header, without padding
};

enum class Parsed {
  kRtp,
  kNotUdp,    // ARP, TCP, ICMP, another link protocol ...
  kFragment,  // a piece of a fragmented datagram
  kRtcp,
  kNotRtp,    // UDP, but no RTP header fits it
  kCut,       // shorter than its headers say (a snapshot length too short)
};

// True for the link types parse_rtp_packet reads (pcap's DLT_ values).
bool known_link_type(int link_type);

// Takes apart one captured frame of `captured` bytes; `length` is the
// frame's length on the wire (more when the capture kept only a snapshot).
Parsed parse_rtp_packet(int link_type, const uint8_t* data, size_t captured, size_t length,
                        RtpPacket& out);

}  // namespace trace_net
