// The simulation: two nodes joined by a point-to-point link, the sending
// side's queue a traffic-control queue disc (the device queue at one
// packet, as ns-3's own AQM examples set it), a packet error rate on the
// receiving device. Built as C++17 (network.h).

#include "trace_net/network.h"

#include <ns3/applications-module.h>
#include <ns3/core-module.h>
#include <ns3/internet-module.h>
#include <ns3/mobility-module.h>
#include <ns3/network-module.h>
#include <ns3/point-to-point-module.h>
#include <ns3/traffic-control-module.h>
#include <ns3/wifi-module.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <list>
#include <memory>

#include "trace_net/trace_apps.h"

namespace {

using namespace ns3;
using trace_net::SentLine;
using trace_net::TraceTag;

// The traces' time 0 in simulation time: routing is computed and the link
// idle by then.
const Time kClockStart = Seconds(1);
// Wi-Fi needs its association and address resolution done first.
const Time kWifiClockStart = Seconds(3);

std::string queue_disc_type(const std::string& name) {
  if (name == "fifo") return "ns3::FifoQueueDisc";
  if (name == "red") return "ns3::RedQueueDisc";
  if (name == "codel") return "ns3::CoDelQueueDisc";
  if (name == "fq_codel") return "ns3::FqCoDelQueueDisc";
  if (name == "pie") return "ns3::PieQueueDisc";
  return "";
}

// Reads text as ns-3 reads a time, a number and its unit (without one,
// ns-3 takes seconds, which "--delay 20" never means), into seconds;
// false when it is not one or is past what the clock holds.
bool read_time(const std::string& text, double* seconds) {
  size_t digits = 0, at = 0;
  while (at < text.size() && (std::isdigit(static_cast<unsigned char>(text[at])) || text[at] == '.'))
    digits += std::isdigit(static_cast<unsigned char>(text[at++])) ? 1 : 0;
  if (digits == 0 || std::count(text.begin(), text.begin() + at, '.') > 1) return false;
  static const std::pair<const char*, double> kUnits[] = {
      {"s", 1},      {"ms", 1e-3}, {"us", 1e-6}, {"ns", 1e-9}, {"ps", 1e-12},
      {"fs", 1e-15}, {"min", 60},  {"h", 3600},  {"d", 86400}, {"y", 365 * 86400.0}};
  std::string unit = text.substr(at);
  for (const auto& [name, scale] : kUnits)
    if (unit == name) {
      *seconds = std::strtod(text.substr(0, at).c_str(), nullptr) * scale;
      return *seconds <= kLatestTime;
    }
  return false;
}

// The rate managers that drive HT, VHT and HE rates; ns-3 aborts on the
// others under 802.11n, ac and ax (ConstantRate's legacy default mode
// included, under 802.11n).
const char* const kHtManagers[] = {"ns3::MinstrelHtWifiManager", "ns3::IdealWifiManager",
                                   "ns3::ThompsonSamplingWifiManager"};

std::string manager_of(const NetworkSettings& o) {
  return o.rate_control.empty() ? "ns3::MinstrelHtWifiManager" : o.rate_control;
}

WifiStandard standard_of(const std::string& name) {
  return name == "n"    ? WIFI_STANDARD_80211n
         : name == "ax" ? WIFI_STANDARD_80211ax
                        : WIFI_STANDARD_80211ac;
}

// A number as a person writes it, for messages.
std::string text_of(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

// The receiver's and the stations' addresses come from one /24.
constexpr uint32_t kMaxStations = 250;
// Each cross flow is an application of its own; more would only exhaust
// memory.
constexpr uint32_t kMaxCross = 1000;
// The cross flows' segments fill an Ethernet-size MTU: 1500 - 20 (IPv4)
// - 20 (TCP) - 12 (the timestamp option ns-3 sends).
constexpr uint32_t kCrossSegment = 1448;

// The datagrams of the three traces replayed between two nodes, each
// one's fate kept: the first drop a trace reports, or its delivery.
class Replay {
 public:
  Replay(const std::vector<SentLine> (&lines)[3], NetworkResult& result)
      : lines_(lines), result_(result) {
    for (int s = 0; s < 3; ++s) {
      result.fates[s].assign(lines[s].size(), Fate::kOther);
      marked_[s].assign(lines[s].size(), false);
    }
  }
  void Mark(Ptr<const Packet> packet, Fate fate) {
    TraceTag tag;
    if (!packet->PeekPacketTag(tag) || tag.source >= 3 || tag.line >= marked_[tag.source].size() ||
        marked_[tag.source][tag.line])
      return;
    marked_[tag.source][tag.line] = true;
    result_.fates[tag.source][tag.line] = fate;
  }
  Callback<void, Ptr<const Packet>> DropCallback(Fate fate) {
    drops_.push_back([this, fate](Ptr<const Packet> p) { Mark(p, fate); });
    return Callback<void, Ptr<const Packet>>(drops_.back());
  }
  void MarkQueueDisc(Ptr<QueueDisc> disc,
                     std::function<void(Ptr<const QueueDiscItem>)> drop = nullptr) {
    if (!drop)
      drop = [this](Ptr<const QueueDiscItem> item) { Mark(item->GetPacket(), Fate::kQueue); };
    disc_drops_.push_back(std::move(drop));
    disc->TraceConnectWithoutContext("Drop",
                                     Callback<void, Ptr<const QueueDiscItem>>(disc_drops_.back()));
  }
  // Installs the senders on `from`, the sink on `to` (at `address`), and
  // runs until the last send time plus drain.
  void Run(Ptr<Node> from, Ptr<Node> to, Ipv4Address address, Time clock_start, double drain) {
    Ptr<trace_net::TraceSink> sink = CreateObject<trace_net::TraceSink>();
    sink->SetAttribute("ClockStart", TimeValue(clock_start));
    sink->Received = [this](double time, const TraceTag& tag) {
      if (tag.source >= 3 || tag.line >= marked_[tag.source].size()) return;
      result_.fates[tag.source][tag.line] = Fate::kDelivered;
      marked_[tag.source][tag.line] = true;
      result_.arrivals.push_back({time, tag.source, tag.line});
    };
    to->AddApplication(sink);
    sink->SetStartTime(Seconds(0));
    double last = 0;
    for (int s = 0; s < 3; ++s) {
      if (!lines_[s].empty()) last = std::max(last, lines_[s].back().time);
      Ptr<trace_net::TraceSender> sender = CreateObject<trace_net::TraceSender>();
      sender->SetAttribute("Remote", Ipv4AddressValue(address));
      sender->SetAttribute("Port", UintegerValue(5000 + s));
      sender->SetAttribute("Source", UintegerValue(s));
      sender->SetAttribute("ClockStart", TimeValue(clock_start));
      sender->SetLines(&lines_[s]);
      from->AddApplication(sender);
      sender->SetStartTime(Seconds(0));
    }
    Simulator::Stop(clock_start + Seconds(last + drain));
    Simulator::Run();
    Simulator::Destroy();
  }

 private:
  const std::vector<SentLine> (&lines_)[3];
  NetworkResult& result_;
  std::vector<bool> marked_[3];
  // Alive as long as the callbacks made of them.
  std::list<std::function<void(Ptr<const Packet>)>> drops_;
  std::list<std::function<void(Ptr<const QueueDiscItem>)>> disc_drops_;
};

}  // namespace

std::string check_network(const std::string& net, const NetworkSettings& o, double last_send) {
  if (o.drain > kLatestTime || last_send + o.drain > kLatestTime)
    return "--drain " + text_of(o.drain) +
           " ends the run past the simulator's clock (the last send time plus --drain at most "
           "9.2e9 s)";
  if (net == "p2p") {
    if (queue_disc_type(o.qdisc).empty())
      return "--qdisc takes fifo, red, codel, fq_codel or pie, not " + o.qdisc;
    // Read as the attributes read them, so that a bad value is a message,
    // not ns-3's abort; a huge number would overflow its 64 bits.
    DataRateValue rate;
    double number = std::strtod(o.rate.c_str(), nullptr);
    if (!(number <= 1e9) || !rate.DeserializeFromString(o.rate, MakeDataRateChecker()))
      return "--rate needs a rate as ns-3 reads it (10Mbps, 1Gbps ...), not " + o.rate;
    if (rate.Get().GetBitRate() == 0) return "--rate must be above 0bps";
    double delay = 0;
    TimeValue parsed;
    if (!read_time(o.delay, &delay) || !parsed.DeserializeFromString(o.delay, MakeTimeChecker()))
      return "--delay needs a time with its unit (20ms, 1s ...), not " + o.delay;
    // An arrival is scheduled at its send time plus the delay.
    if (last_send + o.drain + delay > kLatestTime)
      return "--delay " + o.delay +
             " puts arrivals past the simulator's clock (the last send time plus --drain and "
             "--delay at most 9.2e9 s)";
    if (o.cross > kMaxCross)
      return "--cross takes 0 to " + std::to_string(kMaxCross) + " flows, not " +
             std::to_string(o.cross);
    if (o.tcp != "newreno" && o.tcp != "cubic") return "--tcp takes newreno or cubic, not " + o.tcp;
    return "";
  }
  if (o.standard != "n" && o.standard != "ac" && o.standard != "ax")
    return "--standard takes n, ac or ax, not " + o.standard;
  std::string managers;
  bool known = false;
  for (const char* m : kHtManagers) {
    managers += std::string(managers.empty() ? "" : ", ") + m;
    known = known || manager_of(o) == m;
  }
  if (!known)
    return "--rate-control needs a rate manager that drives 802.11" + o.standard + " (" + managers +
           "), not " + manager_of(o);
  if (o.stations > kMaxStations)
    return "--stations takes 0 to " + std::to_string(kMaxStations) +
           " (one /24 of addresses), not " + std::to_string(o.stations);
  // Positions stay finite however long the walk.
  if (o.distance > 1e9 || o.speed > 1e6)
    return "--distance (at most 1e9 m) or --speed (at most 1e6 m/s) too large";
  return "";
}

std::string simulate_p2p(const NetworkSettings& o, const std::vector<SentLine> (&lines)[3],
                         NetworkResult& result) {
  std::string problem = check_network("p2p", o, 0);
  if (!problem.empty()) return problem;
  DataRateValue rate;
  rate.DeserializeFromString(o.rate, MakeDataRateChecker());
  TimeValue delay;
  delay.DeserializeFromString(o.delay, MakeTimeChecker());
  Config::SetDefault(
      "ns3::TcpL4Protocol::SocketType",
      TypeIdValue(o.tcp == "cubic" ? TcpCubic::GetTypeId() : TcpNewReno::GetTypeId()));
  Config::SetDefault("ns3::TcpSocket::SegmentSize", UintegerValue(kCrossSegment));
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
  tc.SetRootQueueDisc(queue_disc_type(o.qdisc), "MaxSize",
                      QueueSizeValue(QueueSize(std::to_string(o.queue) + "p")));
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
  result.mtu = devices.Get(1)->GetMtu();

  Replay replay(lines, result);
  replay.MarkQueueDisc(discs.Get(0));
  DynamicCast<PointToPointNetDevice>(devices.Get(0))
      ->GetQueue()
      ->TraceConnectWithoutContext("Drop", replay.DropCallback(Fate::kQueue));
  devices.Get(1)->TraceConnectWithoutContext("PhyRxDrop", replay.DropCallback(Fate::kChannel));
  if (!o.pcap.empty()) link.EnablePcapAll(o.pcap, false);
  // Cross traffic: TCP bulk flows from the sending node over the same link,
  // from before the traces' time 0 to the end, so the video meets a queue
  // already in its steady state.
  if (o.cross > 0) {
    PacketSinkHelper sink("ns3::TcpSocketFactory", InetSocketAddress(Ipv4Address::GetAny(), 6000));
    sink.Install(nodes.Get(1)).Start(Seconds(0));
    for (uint32_t i = 0; i < o.cross; ++i) {
      BulkSendHelper bulk("ns3::TcpSocketFactory", InetSocketAddress(interfaces.GetAddress(1), 6000));
      bulk.SetAttribute("MaxBytes", UintegerValue(0));
      bulk.Install(nodes.Get(0)).Start(Seconds(0.1));
    }
  }
  replay.Run(nodes.Get(0), nodes.Get(1), interfaces.GetAddress(1), kClockStart, o.drain);
  return "";
}

std::string simulate_wifi(const NetworkSettings& o, const std::vector<SentLine> (&lines)[3],
                          NetworkResult& result) {
  std::string problem = check_network("wifi", o, 0);
  if (!problem.empty()) return problem;
  RngSeedManager::SetSeed(1);
  RngSeedManager::SetRun(o.seed);
  // Node 0 the access point (the sender), 1 the receiving station, then the
  // stations that contend.
  NodeContainer nodes;
  nodes.Create(2 + o.stations);
  NodeContainer stations;
  for (uint32_t i = 1; i < nodes.GetN(); ++i) stations.Add(nodes.Get(i));
  YansWifiChannelHelper channel = YansWifiChannelHelper::Default();  // log-distance
  YansWifiPhyHelper phy;
  phy.SetChannel(channel.Create());
  WifiHelper wifi;
  wifi.SetStandard(standard_of(o.standard));
  wifi.SetRemoteStationManager(manager_of(o));
  WifiMacHelper mac;
  Ssid ssid("trace_net");
  mac.SetType("ns3::StaWifiMac", "Ssid", SsidValue(ssid));
  NetDeviceContainer station_devices = wifi.Install(phy, mac, stations);
  mac.SetType("ns3::ApWifiMac", "Ssid", SsidValue(ssid));
  NetDeviceContainer ap_device = wifi.Install(phy, mac, nodes.Get(0));
  wifi.AssignStreams(NetDeviceContainer(ap_device, station_devices), 0);

  MobilityHelper fixed;
  Ptr<ListPositionAllocator> where = CreateObject<ListPositionAllocator>();
  where->Add(Vector(0, 0, 0));
  for (uint32_t i = 0; i < o.stations; ++i) where->Add(Vector(0, 5 + i, 0));
  fixed.SetPositionAllocator(where);
  fixed.SetMobilityModel("ns3::ConstantPositionMobilityModel");
  fixed.Install(nodes.Get(0));
  for (uint32_t i = 2; i < nodes.GetN(); ++i) fixed.Install(nodes.Get(i));
  MobilityHelper walking;
  walking.SetMobilityModel("ns3::ConstantVelocityMobilityModel");
  walking.Install(nodes.Get(1));
  Ptr<ConstantVelocityMobilityModel> receiver = nodes.Get(1)->GetObject<ConstantVelocityMobilityModel>();
  receiver->SetPosition(Vector(o.distance, 0, 0));
  // Walking starts with the traces' clock.
  if (o.speed > 0)
    Simulator::Schedule(kWifiClockStart, &ConstantVelocityMobilityModel::SetVelocity, receiver,
                        Vector(o.speed, 0, 0));

  InternetStackHelper stack;
  stack.Install(nodes);
  Ipv4AddressHelper addresses;
  addresses.SetBase("10.1.1.0", "255.255.255.0");
  Ipv4InterfaceContainer ap_address = addresses.Assign(ap_device);
  Ipv4InterfaceContainer station_addresses = addresses.Assign(station_devices);
  Ptr<WifiNetDevice> station = DynamicCast<WifiNetDevice>(station_devices.Get(0));
  result.mtu = station->GetMtu();
  // The packet error rate of the station's receiver, from the traces'
  // time 0, so that association and the warm-up are those of a clean
  // channel; the MAC retries a frame it corrupts, as it does any failed
  // reception.
  if (o.loss > 0) {
    Ptr<RateErrorModel> errors = CreateObject<RateErrorModel>();
    errors->SetAttribute("ErrorRate", DoubleValue(o.loss));
    errors->SetAttribute("ErrorUnit", StringValue("ERROR_UNIT_PACKET"));
    errors->AssignStreams(0);
    Simulator::Schedule(kWifiClockStart, &WifiPhy::SetPostReceptionErrorModel, station->GetPhy(),
                        Ptr<ErrorModel>(errors));
  }

  // The warm-up: association, then one datagram each way so that address
  // resolution is done before the traces' time 0.
  for (Ipv4Address to : {station_addresses.GetAddress(0), ap_address.GetAddress(0)}) {
    Ptr<Node> from = to == station_addresses.GetAddress(0) ? nodes.Get(0) : nodes.Get(1);
    UdpClientHelper warm(to, 9);
    warm.SetAttribute("MaxPackets", UintegerValue(1));
    ApplicationContainer app = warm.Install(from);
    app.Start(kWifiClockStart - Seconds(1));
  }
  // Contention: each further station sends saturating UDP to the AP.
  for (uint32_t i = 0; i < o.stations; ++i) {
    UdpClientHelper load(ap_address.GetAddress(0), 9);
    // ns-3.37 reads 0 as no packet at all, not as no limit.
    load.SetAttribute("MaxPackets", UintegerValue(UINT32_MAX));
    load.SetAttribute("Interval", TimeValue(MicroSeconds(100)));
    load.SetAttribute("PacketSize", UintegerValue(1400));
    ApplicationContainer app = load.Install(nodes.Get(2 + i));
    app.Start(kWifiClockStart - Seconds(0.5));
  }

  Replay replay(lines, result);
  Ptr<WifiNetDevice> ap = DynamicCast<WifiNetDevice>(ap_device.Get(0));
  // The station no longer answers once the AP's last kUnanswered frames
  // to it went unacknowledged (as many as the retries of one frame), until
  // one is acknowledged again: whatever the AP drops for it then (given up,
  // expired in its queue under block acknowledgement, refused by a full
  // queue) is the channel's loss, not the queue's.
  constexpr int kUnanswered = 7;
  Mac48Address receiver_mac = station->GetMac()->GetAddress();
  auto unanswered = std::make_shared<int>(0);
  auto unreachable = [unanswered] { return *unanswered >= kUnanswered; };
  std::function<void(WifiMacDropReason, Ptr<const WifiMpdu>)> mac_drop =
      [&replay, unreachable, receiver_mac](WifiMacDropReason reason, Ptr<const WifiMpdu> mpdu) {
        bool channel = reason == WIFI_MAC_DROP_REACHED_RETRY_LIMIT ||
                       (mpdu->GetHeader().GetAddr1() == receiver_mac && unreachable());
        replay.Mark(mpdu->GetPacket(), channel ? Fate::kChannel : Fate::kQueue);
      };
  std::function<void(Ptr<const WifiMpdu>)> acked = [unanswered,
                                                    receiver_mac](Ptr<const WifiMpdu> mpdu) {
    if (mpdu->GetHeader().GetAddr1() == receiver_mac) *unanswered = 0;
  };
  std::function<void(uint8_t, Ptr<const WifiMpdu>, const WifiTxVector&)> mpdu_timeout =
      [unanswered, receiver_mac](uint8_t, Ptr<const WifiMpdu> mpdu, const WifiTxVector&) {
        if (mpdu->GetHeader().GetAddr1() == receiver_mac) ++*unanswered;
      };
  std::function<void(uint8_t, Ptr<const WifiPsdu>, const WifiTxVector&)> psdu_timeout =
      [unanswered, receiver_mac](uint8_t, Ptr<const WifiPsdu> psdu, const WifiTxVector&) {
        if (psdu->GetAddr1() == receiver_mac) ++*unanswered;
      };
  ap->GetMac()->TraceConnectWithoutContext(
      "MpduResponseTimeout",
      Callback<void, uint8_t, Ptr<const WifiMpdu>, const WifiTxVector&>(mpdu_timeout));
  ap->GetMac()->TraceConnectWithoutContext(
      "PsduResponseTimeout",
      Callback<void, uint8_t, Ptr<const WifiPsdu>, const WifiTxVector&>(psdu_timeout));
  ap->GetMac()->TraceConnectWithoutContext(
      "DroppedMpdu", Callback<void, WifiMacDropReason, Ptr<const WifiMpdu>>(mac_drop));
  ap->GetMac()->TraceConnectWithoutContext("AckedMpdu", Callback<void, Ptr<const WifiMpdu>>(acked));
  Ptr<TrafficControlLayer> tc = nodes.Get(0)->GetObject<TrafficControlLayer>();
  if (Ptr<QueueDisc> root = tc->GetRootQueueDiscOnDevice(ap)) {
    // Only the video goes through the AP's queue discs.
    std::function<void(Ptr<const QueueDiscItem>)> disc_drop =
        [&replay, unreachable](Ptr<const QueueDiscItem> item) {
          replay.Mark(item->GetPacket(), unreachable() ? Fate::kChannel : Fate::kQueue);
        };
    replay.MarkQueueDisc(root, disc_drop);
    for (size_t i = 0; i < root->GetNQueueDiscClasses(); ++i)
      replay.MarkQueueDisc(root->GetQueueDiscClass(i)->GetQueueDisc(), disc_drop);
  }
  // Out of range the station never associates, nor answers address
  // resolution: the datagrams waiting for it are the radio's loss.
  nodes.Get(0)->GetObject<ArpL3Protocol>()->TraceConnectWithoutContext(
      "Drop", replay.DropCallback(Fate::kChannel));
  // When the station was with the access point, for the note on a receiver
  // out of range.
  auto associated = std::make_shared<bool>(false);
  auto lost_at = std::make_shared<double>(-1);
  std::function<void(Mac48Address)> assoc = [associated, lost_at](Mac48Address) {
    *associated = true;
    *lost_at = -1;
  };
  std::function<void(Mac48Address)> deassoc = [lost_at](Mac48Address) {
    *lost_at = (Simulator::Now() - kWifiClockStart).GetSeconds();
  };
  station->GetMac()->TraceConnectWithoutContext("Assoc", Callback<void, Mac48Address>(assoc));
  station->GetMac()->TraceConnectWithoutContext("DeAssoc", Callback<void, Mac48Address>(deassoc));
  if (!o.pcap.empty()) phy.EnablePcap(o.pcap, NetDeviceContainer(ap_device, station_devices.Get(0)));
  replay.Run(nodes.Get(0), nodes.Get(1), station_addresses.GetAddress(0), kWifiClockStart, o.drain);
  if (!*associated)
    result.notes.push_back(
        "the receiving station never associated with the access point (out of range at " +
        text_of(o.distance) + " m?): nothing reached it");
  else if (*lost_at >= 0)
    result.notes.push_back("the receiving station lost the access point at " + text_of(*lost_at) +
                           " s of the traces' clock and did not find it again");
  return "";
}
