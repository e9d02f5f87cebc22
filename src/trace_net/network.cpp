// The simulation: two nodes joined by a point-to-point link, the sending
// side's queue a traffic-control queue disc (the device queue at one
// packet, as ns-3's own AQM examples set it), a packet error rate on the
// receiving device. Built as C++17 (network.h).

#include "trace_net/network.h"

#include <ns3/core-module.h>
#include <ns3/internet-module.h>
#include <ns3/network-module.h>
#include <ns3/point-to-point-module.h>
#include <ns3/traffic-control-module.h>

#include <algorithm>
#include <cctype>
#include <functional>

#include "trace_net/trace_apps.h"

namespace {

using namespace ns3;
using trace_net::SentLine;
using trace_net::TraceTag;

// The traces' time 0 in simulation time: routing is computed and the link
// idle by then.
const Time kClockStart = Seconds(1);

std::string queue_disc_type(const std::string& name) {
  if (name == "fifo") return "ns3::FifoQueueDisc";
  if (name == "red") return "ns3::RedQueueDisc";
  if (name == "codel") return "ns3::CoDelQueueDisc";
  if (name == "fq_codel") return "ns3::FqCoDelQueueDisc";
  if (name == "pie") return "ns3::PieQueueDisc";
  return "";
}

// True when ns-3 reads text as a time: a number and a unit (ns-3 aborts
// on anything else).
bool is_time(const std::string& text) {
  size_t digits = 0, at = 0;
  while (at < text.size() && (std::isdigit(static_cast<unsigned char>(text[at])) || text[at] == '.'))
    digits += std::isdigit(static_cast<unsigned char>(text[at++])) ? 1 : 0;
  if (digits == 0 || std::count(text.begin(), text.begin() + at, '.') > 1) return false;
  std::string unit = text.substr(at);
  for (const char* u : {"", "s", "ms", "us", "ns", "ps", "fs", "min", "h", "d", "y"})
    if (unit == u) return true;
  return false;
}

}  // namespace

std::string simulate_p2p(const NetworkSettings& o, const std::vector<SentLine> (&lines)[3],
                         NetworkResult& result) {
  std::string disc = queue_disc_type(o.qdisc);
  if (disc.empty()) return "--qdisc takes fifo, red, codel, fq_codel or pie, not " + o.qdisc;
  // Read as the attributes read them, so that a bad value is a message,
  // not ns-3's abort.
  DataRateValue rate;
  if (!rate.DeserializeFromString(o.rate, MakeDataRateChecker()))
    return "--rate needs a rate as ns-3 reads it (10Mbps, 1Gbps ...), not " + o.rate;
  TimeValue delay;
  if (!is_time(o.delay) || !delay.DeserializeFromString(o.delay, MakeTimeChecker()))
    return "--delay needs a time as ns-3 reads it (20ms, 1s ...), not " + o.delay;
  RngSeedManager::SetSeed(1);
  RngSeedManager::SetRun(o.seed);
  NodeContainer nodes;
  nodes.Create(2);
  PointToPointHelper link;
  link.SetDeviceAttribute("DataRate", rate);
  link.SetChannelAttribute("Delay", delay);
  link.SetQueue("ns3::DropTailQueue", "MaxSize", StringValue("1p"));
  NetDeviceContainer devices = link.Install(nodes);
  InternetStackHelper stack;
  stack.Install(nodes);
  TrafficControlHelper tc;
  tc.SetRootQueueDisc(disc, "MaxSize", QueueSizeValue(QueueSize(std::to_string(o.queue) + "p")));
  QueueDiscContainer discs = tc.Install(devices.Get(0));
  Ipv4AddressHelper addresses;
  addresses.SetBase("10.1.1.0", "255.255.255.0");
  Ipv4InterfaceContainer interfaces = addresses.Assign(devices);
  if (o.loss > 0) {
    Ptr<RateErrorModel> errors = CreateObject<RateErrorModel>();
    errors->SetAttribute("ErrorRate", DoubleValue(o.loss));
    errors->SetAttribute("ErrorUnit", StringValue("ERROR_UNIT_PACKET"));
    errors->AssignStreams(0);
    devices.Get(1)->SetAttribute("ReceiveErrorModel", PointerValue(errors));
  }

  std::vector<Fate>* fates = result.fates;
  for (int s = 0; s < 3; ++s) fates[s].assign(lines[s].size(), Fate::kOther);
  // The first thing that happened to a datagram is its fate.
  std::vector<bool> marked[3];
  for (int s = 0; s < 3; ++s) marked[s].assign(lines[s].size(), false);
  auto mark = [fates, &marked](Ptr<const Packet> packet, Fate fate) {
    TraceTag tag;
    if (!packet->PeekPacketTag(tag) || tag.source >= 3 || tag.line >= fates[tag.source].size() ||
        marked[tag.source][tag.line])
      return;
    marked[tag.source][tag.line] = true;
    fates[tag.source][tag.line] = fate;
  };
  std::function<void(Ptr<const QueueDiscItem>)> disc_drop = [&](Ptr<const QueueDiscItem> item) {
    mark(item->GetPacket(), Fate::kQueue);
  };
  std::function<void(Ptr<const Packet>)> queue_drop = [&](Ptr<const Packet> p) { mark(p, Fate::kQueue); };
  std::function<void(Ptr<const Packet>)> channel_drop = [&](Ptr<const Packet> p) {
    mark(p, Fate::kChannel);
  };
  discs.Get(0)->TraceConnectWithoutContext("Drop", Callback<void, Ptr<const QueueDiscItem>>(disc_drop));
  DynamicCast<PointToPointNetDevice>(devices.Get(0))
      ->GetQueue()
      ->TraceConnectWithoutContext("Drop", Callback<void, Ptr<const Packet>>(queue_drop));
  devices.Get(1)->TraceConnectWithoutContext("PhyRxDrop", Callback<void, Ptr<const Packet>>(channel_drop));

  Ptr<trace_net::TraceSink> sink = CreateObject<trace_net::TraceSink>();
  sink->SetAttribute("ClockStart", TimeValue(kClockStart));
  sink->Received = [&](double time, const TraceTag& tag) {
    if (tag.source >= 3 || tag.line >= fates[tag.source].size()) return;
    fates[tag.source][tag.line] = Fate::kDelivered;
    marked[tag.source][tag.line] = true;
    result.arrivals.push_back({time, tag.source, tag.line});
  };
  nodes.Get(1)->AddApplication(sink);
  sink->SetStartTime(Seconds(0));
  double last = 0;
  for (int s = 0; s < 3; ++s) {
    if (!lines[s].empty()) last = std::max(last, lines[s].back().time);
    Ptr<trace_net::TraceSender> sender = CreateObject<trace_net::TraceSender>();
    sender->SetAttribute("Remote", Ipv4AddressValue(interfaces.GetAddress(1)));
    sender->SetAttribute("Port", UintegerValue(5000 + s));
    sender->SetAttribute("Source", UintegerValue(s));
    sender->SetAttribute("ClockStart", TimeValue(kClockStart));
    sender->SetLines(&lines[s]);
    nodes.Get(0)->AddApplication(sender);
    sender->SetStartTime(Seconds(0));
  }
  if (!o.pcap.empty()) link.EnablePcapAll(o.pcap, false);
  Simulator::Stop(kClockStart + Seconds(last + o.drain));
  Simulator::Run();
  Simulator::Destroy();
  return "";
}
