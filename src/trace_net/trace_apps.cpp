// The trace applications.

#include "trace_net/trace_apps.h"

#include <ns3/inet-socket-address.h>
#include <ns3/log.h>
#include <ns3/packet.h>
#include <ns3/simulator.h>
#include <ns3/uinteger.h>
#include <ns3/udp-socket-factory.h>

namespace trace_net {

using namespace ns3;

TypeId TraceTag::GetTypeId() {
  static TypeId tid = TypeId("trace_net::TraceTag").SetParent<Tag>().AddConstructor<TraceTag>();
  return tid;
}
TypeId TraceTag::GetInstanceTypeId() const { return GetTypeId(); }
void TraceTag::Serialize(TagBuffer buffer) const {
  buffer.WriteU8(source);
  buffer.WriteU32(line);
}
void TraceTag::Deserialize(TagBuffer buffer) {
  source = buffer.ReadU8();
  line = buffer.ReadU32();
}
void TraceTag::Print(std::ostream& os) const { os << "source=" << int{source} << " line=" << line; }

TypeId TraceSender::GetTypeId() {
  static TypeId tid =
      TypeId("trace_net::TraceSender")
          .SetParent<Application>()
          .AddConstructor<TraceSender>()
          .AddAttribute("Remote", "The receiver's address.", Ipv4AddressValue(),
                        MakeIpv4AddressAccessor(&TraceSender::remote_), MakeIpv4AddressChecker())
          .AddAttribute("Port", "The UDP port datagrams go to.", UintegerValue(5000),
                        MakeUintegerAccessor(&TraceSender::port_), MakeUintegerChecker<uint16_t>())
          .AddAttribute("Source", "The trace's source number (0, 1, 2).", UintegerValue(0),
                        MakeUintegerAccessor(&TraceSender::source_), MakeUintegerChecker<uint8_t>())
          .AddAttribute("ClockStart", "Simulation time of the traces' time 0.", TimeValue(Seconds(0)),
                        MakeTimeAccessor(&TraceSender::clock_start_), MakeTimeChecker());
  return tid;
}

void TraceSender::StartApplication() {
  socket_ = Socket::CreateSocket(GetNode(), UdpSocketFactory::GetTypeId());
  socket_->Bind();
  socket_->Connect(InetSocketAddress(remote_, port_));
  at_ = 0;
  if (lines_ != nullptr && !lines_->empty())
    next_ = Simulator::Schedule(clock_start_ + Seconds((*lines_)[0].time) - Simulator::Now(),
                                &TraceSender::SendNext, this);
}

void TraceSender::StopApplication() {
  Simulator::Cancel(next_);
  if (socket_) socket_->Close();
}

void TraceSender::SendNext() {
  const SentLine& l = (*lines_)[at_];
  Ptr<Packet> packet = Create<Packet>(static_cast<uint32_t>(l.size));
  TraceTag tag;
  tag.source = source_;
  tag.line = static_cast<uint32_t>(at_);
  packet->AddPacketTag(tag);
  socket_->Send(packet);
  if (++at_ < lines_->size())
    next_ = Simulator::Schedule(clock_start_ + Seconds((*lines_)[at_].time) - Simulator::Now(),
                                &TraceSender::SendNext, this);
}

TypeId TraceSink::GetTypeId() {
  static TypeId tid =
      TypeId("trace_net::TraceSink")
          .SetParent<Application>()
          .AddConstructor<TraceSink>()
          .AddAttribute("BasePort", "Source s arrives on BasePort + s.", UintegerValue(5000),
                        MakeUintegerAccessor(&TraceSink::base_port_), MakeUintegerChecker<uint16_t>())
          .AddAttribute("ClockStart", "Simulation time of the traces' time 0.", TimeValue(Seconds(0)),
                        MakeTimeAccessor(&TraceSink::clock_start_), MakeTimeChecker());
  return tid;
}

void TraceSink::StartApplication() {
  for (uint16_t s = 0; s < 3; ++s) {
    Ptr<Socket> socket = Socket::CreateSocket(GetNode(), UdpSocketFactory::GetTypeId());
    socket->Bind(InetSocketAddress(Ipv4Address::GetAny(), static_cast<uint16_t>(base_port_ + s)));
    socket->SetRecvCallback(MakeCallback(&TraceSink::Receive, this));
    sockets_.push_back(socket);
  }
}

void TraceSink::StopApplication() {
  for (Ptr<Socket>& s : sockets_) s->Close();
  sockets_.clear();
}

void TraceSink::Receive(Ptr<Socket> socket) {
  while (Ptr<Packet> packet = socket->Recv()) {
    TraceTag tag;
    if (!packet->PeekPacketTag(tag) || !Received) continue;
    Received((Simulator::Now() - clock_start_).GetSeconds(), tag);
  }
}

}  // namespace trace_net
