// A dumbbell: one video server and a bulk TCP sender on the left, two
// video receivers and the TCP receiver on the right, a bottleneck link
// between two routers. The server streams the same video (three sender
// traces) to both receivers; each receiver's sink writes its own receiver
// trace, ready for trace_align, trace_report and trace_video receive.
//
//   dumbbell [--rate=5Mbps] [--delay=10ms] [--queue=50] [--tcp=1] [--lan=0] [--stop=15s]
//            --sd0=SD0 --sd1=SD1 --sd2=SD2 --out=PREFIX
//
// --lan=1 puts the right router and the three receivers on one Ethernet
// (CSMA) segment instead of point-to-point links.
//
// writes PREFIX-a.rd and PREFIX-b.rd.

#include <iostream>
#include <stdexcept>
#include <string>

#include <ns3/applications-module.h>
#include <ns3/core-module.h>
#include <ns3/csma-module.h>
#include <ns3/internet-module.h>
#include <ns3/network-module.h>
#include <ns3/point-to-point-module.h>
#include <ns3/traffic-control-module.h>

#include "trace_net/trace_apps.h"

using namespace ns3;

int main(int argc, char** argv) {
  std::string rate = "5Mbps", delay = "10ms", out = "dumbbell";
  Time stop = Seconds(15);
  std::string sd[3];
  uint32_t queue = 50, tcp = 1;
  bool lan = false;
  CommandLine cmd(__FILE__);
  cmd.AddValue("rate", "The bottleneck's rate", rate);
  cmd.AddValue("delay", "The bottleneck's one-way delay", delay);
  cmd.AddValue("queue", "The bottleneck's queue, in packets", queue);
  cmd.AddValue("tcp", "Bulk TCP flows across the bottleneck", tcp);
  cmd.AddValue("lan", "The receivers on one Ethernet segment", lan);
  cmd.AddValue("stop", "When the simulation ends (the traces' time 0 is at 1 s)", stop);
  cmd.AddValue("sd0", "Sender trace of source 0", sd[0]);
  cmd.AddValue("sd1", "Sender trace of source 1", sd[1]);
  cmd.AddValue("sd2", "Sender trace of source 2", sd[2]);
  cmd.AddValue("out", "Prefix of the receiver traces", out);
  cmd.Parse(argc, argv);

  // 0 the server, 1 the TCP sender, 2 and 3 the routers, 4 and 5 the
  // video receivers, 6 the TCP receiver.
  NodeContainer nodes;
  nodes.Create(7);
  PointToPointHelper access;
  access.SetDeviceAttribute("DataRate", StringValue("100Mbps"));
  access.SetChannelAttribute("Delay", StringValue("1ms"));
  PointToPointHelper bottleneck;
  bottleneck.SetDeviceAttribute("DataRate", StringValue(rate));
  bottleneck.SetChannelAttribute("Delay", StringValue(delay));
  bottleneck.SetQueue("ns3::DropTailQueue", "MaxSize", StringValue("1p"));

  InternetStackHelper stack;
  stack.Install(nodes);
  NetDeviceContainer links[6] = {access.Install(nodes.Get(0), nodes.Get(2)),
                                 access.Install(nodes.Get(1), nodes.Get(2)),
                                 bottleneck.Install(nodes.Get(2), nodes.Get(3))};
  if (lan) {
    // One segment: the router's device and each receiver's, addressed
    // together below.
    CsmaHelper ethernet;
    ethernet.SetChannelAttribute("DataRate", StringValue("100Mbps"));
    ethernet.SetChannelAttribute("Delay", StringValue("1ms"));
    links[3] =
        ethernet.Install(NodeContainer(nodes.Get(3), nodes.Get(4), nodes.Get(5), nodes.Get(6)));
  } else {
    for (int i = 0; i < 3; ++i) links[3 + i] = access.Install(nodes.Get(3), nodes.Get(4 + i));
  }
  // The bottleneck's queue: a FIFO queue disc on the left router,
  // installed before the addresses would install ns-3's default one.
  TrafficControlHelper tc;
  tc.SetRootQueueDisc("ns3::FifoQueueDisc", "MaxSize", StringValue(std::to_string(queue) + "p"));
  tc.Install(links[2].Get(0));
  Ipv4AddressHelper addresses("10.0.0.0", "255.255.255.0");
  Ipv4InterfaceContainer interfaces[6];
  for (int i = 0; i < (lan ? 4 : 6); ++i) {
    interfaces[i] = addresses.Assign(links[i]);
    addresses.NewNetwork();
  }
  // Each receiver's address: the second of its link's, or its place on
  // the segment.
  Ipv4Address receivers[2], tcp_receiver;
  for (int r = 0; r < 2; ++r)
    receivers[r] = lan ? interfaces[3].GetAddress(1 + r) : interfaces[3 + r].GetAddress(1);
  tcp_receiver = lan ? interfaces[3].GetAddress(3) : interfaces[5].GetAddress(1);
  Ipv4GlobalRoutingHelper::PopulateRoutingTables();

  // The traces' time 0 is 1 s in: routes are in place by then.
  Time clock_start = Seconds(1);
  try {
    const char* names[2] = {"-a.rd", "-b.rd"};
    for (int r = 0; r < 2; ++r) {
      // Each receiver its own ports, so that one server can feed both.
      uint16_t base_port = static_cast<uint16_t>(5000 + 10 * r);
      trace_net::TraceSenderHelper senders(receivers[r], base_port);
      senders.SetAttribute("ClockStart", TimeValue(clock_start));
      senders.Install(nodes.Get(0), {sd[0], sd[1], sd[2]});
      trace_net::TraceSinkHelper sink(out + names[r], base_port);
      sink.SetAttribute("ClockStart", TimeValue(clock_start));
      sink.Install(nodes.Get(4 + r));
    }
  } catch (const std::runtime_error& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
  for (uint32_t i = 0; i < tcp; ++i) {
    BulkSendHelper bulk("ns3::TcpSocketFactory", InetSocketAddress(tcp_receiver, 6000));
    bulk.Install(nodes.Get(1)).Start(Seconds(0.5));
  }
  PacketSinkHelper tcp_sink("ns3::TcpSocketFactory", InetSocketAddress(Ipv4Address::GetAny(), 6000));
  tcp_sink.Install(nodes.Get(6));

  Simulator::Stop(stop);
  Simulator::Run();
  Simulator::Destroy();
  return 0;
}
