// ns-3 applications that replay sender traces as UDP datagrams and log
// what arrives as a receiver trace, usable from any ns-3 program: each
// with ns-3 attributes, installed by TraceAppHelper.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include <ns3/application.h>
#include <ns3/event-id.h>
#include <ns3/ipv4-address.h>
#include <ns3/node-container.h>
#include <ns3/socket.h>
#include <ns3/tag.h>

#include "trace_net/trace_apps_lines.h"

namespace trace_net {

// What identifies a datagram: its source and its line. Carried in a
// packet tag, never in the payload, so sizes on the wire stay exact.
class TraceTag : public ns3::Tag {
 public:
  static ns3::TypeId GetTypeId();
  ns3::TypeId GetInstanceTypeId() const override;
  uint32_t GetSerializedSize() const override { return 5; }
  void Serialize(ns3::TagBuffer buffer) const override;
  void Deserialize(ns3::TagBuffer buffer) override;
  void Print(std::ostream& os) const override;
  uint8_t source = 0;
  uint32_t line = 0;
};

// Sends the lines of one sender trace: line i as a datagram of exactly
// its size at Start + its time, from this node to Remote:Port. One event
// is pending at a time: each datagram schedules the next.
class TraceSender : public ns3::Application {
 public:
  static ns3::TypeId GetTypeId();
  void SetLines(const std::vector<SentLine>* lines) { lines_ = lines; }

 private:
  void StartApplication() override;
  void StopApplication() override;
  void SendNext();
  const std::vector<SentLine>* lines_ = nullptr;
  ns3::Ipv4Address remote_;
  uint16_t port_ = 5000;
  uint8_t source_ = 0;
  ns3::Time clock_start_;
  ns3::Ptr<ns3::Socket> socket_;
  ns3::EventId next_;
  size_t at_ = 0;
};

// Receives on the ports of the three sources; hands each datagram's tag,
// with its arrival time on the traces' clock, to Received.
class TraceSink : public ns3::Application {
 public:
  static ns3::TypeId GetTypeId();
  std::function<void(double time, const TraceTag& tag)> Received;

 private:
  void StartApplication() override;
  void StopApplication() override;
  void Receive(ns3::Ptr<ns3::Socket> socket);
  uint16_t base_port_ = 5000;
  ns3::Time clock_start_;
  std::vector<ns3::Ptr<ns3::Socket>> sockets_;
};

}  // namespace trace_net
