// The settings checked, and the point-to-point simulation: two nodes
// joined by a link, the sending side's queue a traffic-control queue disc
// (the device queue at one packet, as ns-3's own AQM examples set it), a
// packet error rate on the receiving device. Built as C++17 (network.h);
// Wi-Fi in wifi_network.cpp.

#include "trace_net/network.h"

#include <ns3/applications-module.h>
#include <ns3/point-to-point-module.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "trace_net/replay.h"

namespace {

using namespace ns3;
using namespace trace_net::replay;
using trace_net::SentLine;

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

// The receiver's and the stations' addresses come from one /24.
constexpr uint32_t kMaxStations = 250;
// Each cross flow is an application of its own; more would only exhaust
// memory.
constexpr uint32_t kMaxCross = 1000;
// The cross flows' segments fill an Ethernet-size MTU: 1500 - 20 (IPv4)
// - 20 (TCP) - 12 (the timestamp option ns-3 sends).
constexpr uint32_t kCrossSegment = 1448;

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
