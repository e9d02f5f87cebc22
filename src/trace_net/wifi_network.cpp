// The simulation through Wi-Fi: the access point sends, the receiving
// station at a distance (walking, or not), further stations contending.
// Built as C++17 (network.h).

#include "trace_net/network.h"

#include <ns3/applications-module.h>
#include <ns3/mobility-module.h>
#include <ns3/wifi-module.h>

#include <functional>
#include <memory>

#include "trace_net/replay.h"

namespace {

using namespace ns3;

WifiStandard standard_of(const std::string& name) {
  return name == "n"    ? WIFI_STANDARD_80211n
         : name == "ax" ? WIFI_STANDARD_80211ax
                        : WIFI_STANDARD_80211ac;
}

}  // namespace

using namespace trace_net::replay;
using trace_net::SentLine;

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
