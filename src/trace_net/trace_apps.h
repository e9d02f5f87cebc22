// ns-3 applications that replay sender traces as UDP datagrams and log
// what arrives as a receiver trace, usable from any ns-3 program: each
// with ns-3 attributes, installed by TraceSenderHelper and TraceSinkHelper.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <ns3/application-container.h>
#include <ns3/application.h>
#include <ns3/event-id.h>
#include <ns3/ipv4-address.h>
#include <ns3/node-container.h>
#include <ns3/object-factory.h>
#include <ns3/socket.h>
#include <ns3/tag.h>

#include "trace_net/trace_apps_lines.h"

namespace trace_net {

// What identifies a datagram: its source and its line, with the line's
// frame and first column for the receiver's trace. Carried in a packet
// tag, never in the payload, so sizes on the wire stay exact.
class TraceTag : public ns3::Tag {
 public:
  static ns3::TypeId GetTypeId();
  ns3::TypeId GetInstanceTypeId() const override;
  uint32_t GetSerializedSize() const override { return 13; }
  void Serialize(ns3::TagBuffer buffer) const override;
  void Deserialize(ns3::TagBuffer buffer) override;
  void Print(std::ostream& os) const override;
  uint8_t source = 0;
  uint32_t line = 0;
  int32_t frame = 0, col1 = 0;
};

// Sends the lines of one sender trace (the Trace attribute, a file as
// trace_net reads it): line i as a datagram of exactly its size at
// ClockStart + its time, from this node to Remote:Port. One event is
// pending at a time: each datagram schedules the next.
class TraceSender : public ns3::Application {
 public:
  static ns3::TypeId GetTypeId();
  // Loads the trace at path; throws std::runtime_error when it cannot be
  // read or sent.
  void SetTrace(std::string path);
  // Lines already loaded, kept by the caller for the run.
  void SetLines(const std::vector<SentLine>* lines) { lines_ = lines; }

 private:
  void StartApplication() override;
  void StopApplication() override;
  void SendNext();
  std::vector<SentLine> own_lines_;
  const std::vector<SentLine>* lines_ = nullptr;
  ns3::Ipv4Address remote_;
  uint16_t port_ = 5000;
  uint8_t source_ = 0;
  ns3::Time clock_start_;
  ns3::Ptr<ns3::Socket> socket_;
  ns3::EventId next_;
  size_t at_ = 0;
};

// Receives on the ports of the three sources (BasePort + s). Writes each
// datagram, in arrival order, as a receiver-trace line to the file named
// by Output (none when empty), and hands its tag, with its arrival time
// on the traces' clock, to Received.
class TraceSink : public ns3::Application {
 public:
  static ns3::TypeId GetTypeId();
  std::function<void(double time, const TraceTag& tag)> Received;

 protected:
  void DoDispose() override;

 private:
  void StartApplication() override;
  void StopApplication() override;
  void Receive(ns3::Ptr<ns3::Socket> socket);
  void CloseOutput();
  uint16_t base_port_ = 5000;
  ns3::Time clock_start_;
  std::string output_;
  std::FILE* out_ = nullptr;
  std::vector<ns3::Ptr<ns3::Socket>> sockets_;
};

// Installs the senders of the three traces of a video (source s to
// remote, port base + s), in ns-3's helper style.
class TraceSenderHelper {
 public:
  explicit TraceSenderHelper(ns3::Ipv4Address remote, uint16_t base_port = 5000);
  // Any TraceSender attribute for the senders installed after.
  void SetAttribute(const std::string& name, const ns3::AttributeValue& value);
  // One sender on node per trace; trace s is source s. Fills the
  // neighbour (ARP and NDP) caches of every node of the simulation, so
  // that no datagram waits for address resolution: install after the
  // addresses are assigned. Throws std::runtime_error when a trace cannot
  // be read or sent.
  ns3::ApplicationContainer Install(ns3::Ptr<ns3::Node> node,
                                    const std::vector<std::string>& traces) const;

 private:
  ns3::ObjectFactory factory_;
  uint16_t base_port_;
};

// Installs a sink that writes the receiver trace `output`.
class TraceSinkHelper {
 public:
  explicit TraceSinkHelper(const std::string& output, uint16_t base_port = 5000);
  void SetAttribute(const std::string& name, const ns3::AttributeValue& value);
  ns3::ApplicationContainer Install(ns3::Ptr<ns3::Node> node) const;

 private:
  ns3::ObjectFactory factory_;
};

}  // namespace trace_net
