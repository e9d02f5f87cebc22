// What both simulated networks share (network.cpp, wifi_network.cpp):
// the traces' clock in simulation time, the rate manager asked for, and
// Replay, which runs the traces between two nodes and keeps each
// datagram's fate. Includes ns-3: C++17, as network.h says.
#pragma once

#include <ns3/core-module.h>
#include <ns3/internet-module.h>
#include <ns3/network-module.h>
#include <ns3/traffic-control-module.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <list>
#include <string>
#include <vector>

#include "trace_net/network.h"
#include "trace_net/trace_apps.h"

namespace trace_net::replay {

using namespace ns3;

// The traces' time 0 in simulation time: routing is computed and the link
// idle by then.
inline const Time kClockStart = Seconds(1);
// Wi-Fi needs its association and address resolution done first.
inline const Time kWifiClockStart = Seconds(3);

inline std::string manager_of(const NetworkSettings& o) {
  return o.rate_control.empty() ? "ns3::MinstrelHtWifiManager" : o.rate_control;
}

// A number as a person writes it, for messages.
inline std::string text_of(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

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

}  // namespace trace_net::replay
