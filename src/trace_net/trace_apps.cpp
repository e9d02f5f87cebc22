// The trace applications.

#include "trace_net/trace_apps.h"

#include <ns3/fatal-error.h>
#include <ns3/inet-socket-address.h>
#include <ns3/log.h>
#include <ns3/neighbor-cache-helper.h>
#include <ns3/packet.h>
#include <ns3/simulator.h>
#include <ns3/string.h>
#include <ns3/udp-socket-factory.h>
#include <ns3/uinteger.h>

#include <cerrno>
#include <cstring>

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
  buffer.WriteU32(static_cast<uint32_t>(frame));
  buffer.WriteU32(static_cast<uint32_t>(col1));
}
void TraceTag::Deserialize(TagBuffer buffer) {
  source = buffer.ReadU8();
  line = buffer.ReadU32();
  frame = static_cast<int32_t>(buffer.ReadU32());
  col1 = static_cast<int32_t>(buffer.ReadU32());
}
void TraceTag::Print(std::ostream& os) const {
  os << "source=" << int{source} << " line=" << line << " frame=" << frame;
}

TypeId TraceSender::GetTypeId() {
  static TypeId tid =
      TypeId("trace_net::TraceSender")
          .SetParent<Application>()
          .AddConstructor<TraceSender>()
          .AddAttribute("Trace", "The sender trace to replay (a file as trace_net reads it).",
                        StringValue(""), MakeStringAccessor(&TraceSender::SetTrace), MakeStringChecker())
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

void TraceSender::SetTrace(std::string path) {
  own_lines_ = path.empty() ? std::vector<SentLine>() : load_sender_lines(path);
  lines_ = &own_lines_;
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
  tag.frame = l.frame;
  tag.col1 = l.col1;
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
          .AddAttribute("Output", "The receiver trace to write; none when empty.", StringValue(""),
                        MakeStringAccessor(&TraceSink::output_), MakeStringChecker())
          .AddAttribute("ClockStart", "Simulation time of the traces' time 0.", TimeValue(Seconds(0)),
                        MakeTimeAccessor(&TraceSink::clock_start_), MakeTimeChecker());
  return tid;
}

void TraceSink::StartApplication() {
  if (!output_.empty() && out_ == nullptr) {
    out_ = std::fopen(output_.c_str(), "w");
    if (out_ == nullptr) NS_FATAL_ERROR("trace_net: cannot create " << output_ << ": " << std::strerror(errno));
  }
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
  CloseOutput();
}

void TraceSink::DoDispose() {
  CloseOutput();
  Application::DoDispose();
}

// A trace cut short must not pass for a whole one.
void TraceSink::CloseOutput() {
  if (out_ == nullptr) return;
  bool failed = std::ferror(out_) != 0;
  failed = std::fclose(out_) != 0 || failed;
  out_ = nullptr;
  if (failed) NS_FATAL_ERROR("trace_net: cannot write " << output_ << ": " << std::strerror(errno));
}

void TraceSink::Receive(Ptr<Socket> socket) {
  while (Ptr<Packet> packet = socket->Recv()) {
    TraceTag tag;
    if (!packet->PeekPacketTag(tag)) continue;
    double time = (Simulator::Now() - clock_start_).GetSeconds();
    if (out_ != nullptr) {
      char line[kMaxReceiverLine];
      SentLine sent{0, tag.col1, tag.frame, static_cast<int32_t>(packet->GetSize())};
      char* end = put_receiver_line(line, time, tag.source, sent);
      std::fwrite(line, 1, static_cast<size_t>(end - line), out_);
    }
    if (Received) Received(time, tag);
  }
}

TraceSenderHelper::TraceSenderHelper(Ipv4Address remote, uint16_t base_port) : base_port_(base_port) {
  factory_.SetTypeId(TraceSender::GetTypeId());
  factory_.Set("Remote", Ipv4AddressValue(remote));
}

void TraceSenderHelper::SetAttribute(const std::string& name, const AttributeValue& value) {
  factory_.Set(name, value);
}

ApplicationContainer TraceSenderHelper::Install(Ptr<Node> node, const std::vector<std::string>& traces) const {
  // Address resolution would hold all but three datagrams of a frame sent
  // at once and drop the rest: every node's neighbours are known from the
  // start instead.
  NeighborCacheHelper().PopulateNeighborCache();
  ApplicationContainer apps;
  for (size_t s = 0; s < traces.size(); ++s) {
    Ptr<TraceSender> sender = factory_.Create<TraceSender>();
    sender->SetAttribute("Source", UintegerValue(s));
    sender->SetAttribute("Port", UintegerValue(base_port_ + s));
    sender->SetTrace(traces[s]);
    node->AddApplication(sender);
    apps.Add(sender);
  }
  return apps;
}

TraceSinkHelper::TraceSinkHelper(const std::string& output, uint16_t base_port) {
  factory_.SetTypeId(TraceSink::GetTypeId());
  factory_.Set("Output", StringValue(output));
  factory_.Set("BasePort", UintegerValue(base_port));
}

void TraceSinkHelper::SetAttribute(const std::string& name, const AttributeValue& value) {
  factory_.Set(name, value);
}

ApplicationContainer TraceSinkHelper::Install(Ptr<Node> node) const {
  Ptr<TraceSink> sink = factory_.Create<TraceSink>();
  node->AddApplication(sink);
  return ApplicationContainer(sink);
}

}  // namespace trace_net
