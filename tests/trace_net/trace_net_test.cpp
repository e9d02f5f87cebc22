// trace_net sim: p2p held to the queueing model, the accounting of what
// arrived and what was dropped where, seeds, and the bad inputs.

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <sstream>

#include "test_support.h"

namespace {

class TraceNetTest : public ScratchTest {
 protected:
  static RunResult Net(const std::vector<std::string>& args) { return RunToolAt(TRACE_NET_BINARY, args); }
  // Sender lines "time id frame size k packets" into sd0, sd1, sd2.
  static void Senders(const std::string& sd0, const std::string& sd1 = "", const std::string& sd2 = "") {
    WriteFile("sd0", sd0);
    WriteFile("sd1", sd1);
    WriteFile("sd2", sd2);
  }
  static std::vector<std::vector<std::string>> Lines(const std::string& text, char by = ' ') {
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
      std::vector<std::string> cells;
      std::istringstream l(line);
      for (std::string cell; std::getline(l, cell, by);) cells.push_back(cell);
      rows.push_back(cells);
    }
    return rows;
  }
};

// With no loss and a deep queue, datagram i arrives at start_i + tx_i +
// delay: start_i = max(send_i, start_i-1 + tx_i-1) in send order, tx =
// (size + 8 UDP + 20 IPv4 + 2 PPP bytes) x 8 / rate.
TEST_F(TraceNetTest, PointToPointFollowsTheQueueingModel) {
  struct Case {
    const char* name;
    std::vector<std::pair<double, int>> sent;  // time, size; all from source 0
    double rate;
    const char* rate_text;
  } cases[] = {
      {"one packet", {{0, 1000}}, 10e6, "10Mbps"},
      {"back-to-back burst", {{0.5, 1472}, {0.5, 1472}, {0.5, 1472}, {0.5, 100}}, 10e6, "10Mbps"},
      {"idle gaps", {{0, 500}, {0.1, 500}, {0.2, 0}, {0.30001, 1200}}, 1e6, "1Mbps"},
      {"a queue that builds and drains", {{0, 1400}, {0.001, 1400}, {0.002, 1400}, {0.05, 64}}, 2e6, "2Mbps"},
  };
  for (const Case& c : cases) {
    std::string sd;
    for (size_t i = 0; i < c.sent.size(); ++i) {
      char line[96];
      std::snprintf(line, sizeof line, "%.6f %zu %zu %d 0 1\n", c.sent[i].first, i, i, c.sent[i].second);
      sd += line;
    }
    Senders(sd);
    RunResult r = Net({"sim", "--rate", c.rate_text, "--delay", "15ms", "--queue", "1000", "sd0", "sd1", "sd2", "rd"});
    ASSERT_EQ(0, r.status) << c.name << ": " << r.err;
    auto rd = Lines(ReadFile("rd"));
    ASSERT_EQ(c.sent.size(), rd.size()) << c.name;
    double free_at = 0;
    for (size_t i = 0; i < c.sent.size(); ++i) {
      double tx = (c.sent[i].second + 30) * 8 / c.rate;
      double start = std::max(c.sent[i].first, free_at);
      free_at = start + tx;
      EXPECT_NEAR(start + tx + 0.015, std::stod(rd[i][0]), 1.5e-6) << c.name << " #" << i;
      EXPECT_EQ("0", rd[i][1]);
      EXPECT_EQ(std::to_string(i), rd[i][2]);                                 // frame
      EXPECT_EQ(std::to_string(c.sent[i].second), rd[i][3]) << c.name;        // size
      EXPECT_EQ(std::to_string(i), rd[i][4]);                                 // the sender's col1
    }
  }
}

// Every datagram either arrives or has a drop row saying where; the same
// seed gives the same bytes, another seed other draws.
TEST_F(TraceNetTest, EveryDatagramArrivesOrIsDroppedSomewhere) {
  std::string sd[3];
  int sent = 0;
  for (int i = 0; i < 600; ++i, ++sent) {
    char line[96];
    std::snprintf(line, sizeof line, "%.6f %d %d %d 0 1\n", i * 0.002, i, i / 3, 1200);
    sd[i % 3] += line;
  }
  Senders(sd[0], sd[1], sd[2]);
  struct Case {
    std::vector<std::string> options;
    const char* where;  // the drops expected, besides none elsewhere
  } cases[] = {
      {{"--rate", "2Mbps", "--queue", "5"}, "queue"},
      {{"--loss", "0.1"}, "channel"},
      {{"--rate", "2Mbps", "--queue", "5", "--qdisc", "codel"}, "queue"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"sim", "--drops", "drops.csv"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    for (const char* f : {"sd0", "sd1", "sd2", "rd"}) args.push_back(f);
    RunResult r = Net(args);
    ASSERT_EQ(0, r.status) << c.where << ": " << r.err;
    auto rd = Lines(ReadFile("rd"));
    auto drops = Lines(ReadFile("drops.csv"), ',');
    ASSERT_FALSE(drops.empty());
    EXPECT_EQ("time_s,src,frame,size,where", ReadFile("drops.csv").substr(0, 27));
    EXPECT_EQ(static_cast<size_t>(sent), rd.size() + drops.size() - 1) << c.where;
    EXPECT_GT(drops.size(), 1u) << c.where;
    for (size_t i = 1; i < drops.size(); ++i) EXPECT_EQ(c.where, drops[i][4]) << c.where;
  }
  std::string first = (Net({"sim", "--loss", "0.1", "sd0", "sd1", "sd2", "rd"}), ReadFile("rd"));
  std::string again = (Net({"sim", "--loss", "0.1", "sd0", "sd1", "sd2", "rd"}), ReadFile("rd"));
  std::string other = (Net({"sim", "--loss", "0.1", "--seed", "2", "sd0", "sd1", "sd2", "rd"}), ReadFile("rd"));
  EXPECT_EQ(first, again);
  EXPECT_NE(first, other);
}

// Wi-Fi: close by, nothing is lost from time 0 (association and address
// resolution are done before the traces' clock starts); out of range,
// walking out of it, or behind a receiver that corrupts every frame,
// what is lost is the radio's loss, and a note says why.
TEST_F(TraceNetTest, WifiNearAndOutOfRange) {
  std::string sd[3];
  for (int i = 0; i < 150; ++i) {
    char line[96];
    std::snprintf(line, sizeof line, "%.6f %d %d %d 0 1\n", i * 0.004, i, i, 1000);
    sd[i % 3] += line;
  }
  Senders(sd[0], sd[1], sd[2]);
  struct Case {
    std::vector<std::string> options;
    size_t fewest, most;  // arrived
    size_t channel;       // at least these drops are the channel's, the others "other"
    const char* note;
  } cases[] = {
      {{"--distance", "2"}, 150, 150, 0, ""},
      {{"--distance", "30"}, 150, 150, 0, ""},
      {{"--distance", "200"},
       0,
       0,
       145,
       "the receiving station never associated with the access point"},
      {{"--distance", "30", "--speed", "50"},
       1,
       149,
       10,
       "the receiving station lost the access point at "},
      {{"--loss", "1"}, 0, 0, 145, "the receiving station lost the access point at "},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"sim", "--net", "wifi", "--drops", "drops.csv"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    for (const char* f : {"sd0", "sd1", "sd2", "rd"}) args.push_back(f);
    RunResult r = Net(args);
    std::string name = c.options[0] + " " + c.options[1];
    ASSERT_EQ(0, r.status) << r.err;
    auto rd = Lines(ReadFile("rd"));
    auto drops = Lines(ReadFile("drops.csv"), ',');
    EXPECT_GE(rd.size(), c.fewest) << name;
    EXPECT_LE(rd.size(), c.most) << name;
    EXPECT_EQ(150u, rd.size() + drops.size() - 1) << name;
    size_t channel = 0;
    for (size_t i = 1; i < drops.size(); ++i) {
      channel += drops[i][4] == "channel";
      EXPECT_NE("queue", drops[i][4]) << name << ": a lost station is no full queue";
    }
    EXPECT_GE(channel, c.channel) << name;
    EXPECT_NE(std::string::npos, r.err.find(c.note)) << name << ": " << r.err;
    if (c.most == 150) {
      EXPECT_EQ("", r.err) << name;
      EXPECT_EQ("0.00", rd[0][0].substr(0, 4)) << "the first datagram waits for nothing";
    }
  }
}

// Interrupted while ns-3 writes its pcap files, the run says its outputs
// are incomplete.
TEST_F(TraceNetTest, InterruptedRunWithPcapSaysItsOutputsAreIncomplete) {
  std::string sd;
  for (int i = 0; i < 200000; ++i)
    sd += std::to_string(i * 0.001) + " 0 " + std::to_string(i) + " 1000 0 1\n";
  Senders(sd);
  int out = -1, err = -1;
  pid_t pid = StartProgram(TRACE_NET_BINARY, {"sim", "--pcap", "cap", "sd0", "sd1", "sd2", "rd"},
                           {}, &out, &err);
  ASSERT_GT(pid, 0);
  // Until ns-3 has written some of the capture.
  for (int i = 0; i < 3000 && (!Exists("cap-1-0.pcap") || fs::file_size("cap-1-0.pcap") < 100000);
       ++i)
    usleep(10000);
  kill(pid, SIGINT);
  std::string text, errors;
  DrainBoth(out, err, &text, &errors);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status)) << errors;
  EXPECT_EQ("trace_net: interrupted by SIGINT; the outputs of this run are incomplete\n", errors);
}

// A run cut short by --drain says how many datagrams it left in flight.
TEST_F(TraceNetTest, DatagramsInFlightAtTheEndAreNoted) {
  Senders("0 0 0 1000 0 1\n0.001 1 1 1000 0 1\n");
  RunResult r = Net(
      {"sim", "--delay", "2s", "--drain", "1", "--drops", "drops.csv", "sd0", "sd1", "sd2", "rd"});
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_EQ("", ReadFile("rd"));
  EXPECT_EQ(
      "trace_net: 2 datagrams were neither delivered nor dropped when the run ended, 1 s after the "
      "last "
      "send (--drain sets how long it goes on)\n",
      r.err);
  // Larger than the link's MTU: fragmented, and said so.
  Senders("0 0 0 1473 0 1\n0.1 1 1 1472 0 1\n");
  r = Net({"sim", "sd0", "sd1", "sd2", "rd"});
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_EQ(2u, Lines(ReadFile("rd")).size());
  EXPECT_EQ(
      0u,
      r.err.find("trace_net: 1 datagrams are larger than the receiver's link's MTU of 1500 bytes"))
      << r.err;
}

// Stations that contend for the medium delay the video's datagrams.
TEST_F(TraceNetTest, WifiContentionRaisesTheDelay) {
  std::string sd;
  for (int i = 0; i < 50; ++i) {
    char line[96];
    std::snprintf(line, sizeof line, "%.6f %d %d %d 0 1\n", i * 0.02, i, i, 1200);
    sd += line;
  }
  Senders(sd);
  double mean[2] = {0, 0};
  for (int contended = 0; contended < 2; ++contended) {
    RunResult r = Net({"sim", "--net", "wifi", "--stations", contended ? "3" : "0", "--drain", "0.5", "sd0",
                       "sd1", "sd2", "rd"});
    ASSERT_EQ(0, r.status) << r.err;
    auto rd = Lines(ReadFile("rd"));
    ASSERT_FALSE(rd.empty());
    for (const auto& l : rd) mean[contended] += (std::stod(l[0]) - std::stoi(l[2]) * 0.02) / static_cast<double>(rd.size());
  }
  EXPECT_GT(mean[1], mean[0] + 0.002) << mean[0] << " " << mean[1];
}

// TCP bulk flows over the link: the video meets a standing queue, its
// delay grows by much, with either TCP.
TEST_F(TraceNetTest, CrossTrafficRaisesTheDelay) {
  std::string sd;
  for (int i = 0; i < 100; ++i) {
    char line[96];
    std::snprintf(line, sizeof line, "%.6f %d %d %d 0 1\n", 0.5 + i * 0.01, i, i, 500);
    sd += line;
  }
  Senders(sd);
  auto mean_delay = [](const std::vector<std::vector<std::string>>& rd) {
    double sum = 0;
    for (const auto& l : rd) sum += std::stod(l[0]) - (0.5 + std::stoi(l[2]) * 0.01);
    return rd.empty() ? 0 : sum / static_cast<double>(rd.size());
  };
  ASSERT_EQ(0, Net({"sim", "--rate", "2Mbps", "sd0", "sd1", "sd2", "rd"}).status);
  double alone = mean_delay(Lines(ReadFile("rd")));
  EXPECT_LT(alone, 0.03);
  for (const char* tcp : {"newreno", "cubic"}) {
    RunResult r = Net({"sim", "--rate", "2Mbps", "--cross", "2", "--tcp", tcp, "sd0", "sd1", "sd2", "rd"});
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_GT(mean_delay(Lines(ReadFile("rd"))), alone + 0.05) << tcp;
  }
  // The cross flows fill the link's MTU: the largest frame the sending
  // device put out is 1500 bytes of IP and 2 of PPP (the capture's
  // records: a 24-byte file header, then a 16-byte header each, its
  // original length at offset 12, little-endian as ns-3 writes it here).
  ASSERT_EQ(0, Net({"sim", "--rate", "2Mbps", "--cross", "1", "--pcap", "cap", "sd0", "sd1", "sd2", "rd"}).status);
  std::string cap = ReadFile("cap-0-0.pcap");
  uint32_t largest = 0;
  for (size_t at = 24; at + 16 <= cap.size();) {
    auto u32 = [&](size_t i) {
      return static_cast<uint32_t>(static_cast<uint8_t>(cap[i])) |
             static_cast<uint32_t>(static_cast<uint8_t>(cap[i + 1])) << 8 |
             static_cast<uint32_t>(static_cast<uint8_t>(cap[i + 2])) << 16 |
             static_cast<uint32_t>(static_cast<uint8_t>(cap[i + 3])) << 24;
    };
    largest = std::max(largest, u32(at + 12));
    at += 16 + u32(at + 8);
  }
  EXPECT_EQ(1502u, largest);
}

// The trace applications in a program of one's own (examples/ns3): with a
// deep queue both receivers of the dumbbell get every datagram of the
// example traces, as they were sent (source, frame, size, first column),
// no earlier than the path's delay; with TCP across the bottleneck what
// arrives is still as sent, later; a trace that cannot be read is one
// message and status 1.
TEST_F(TraceNetTest, OwnScenarioWritesAReceiverTraceForEachReceiver) {
  const std::string ex = TRACE_ALIGN_SOURCE_DIR "/examples/";
  std::string traces[3] = {ReadFile(ex + "sd0.txt"), ReadFile(ex + "sd1.txt"), ReadFile(ex + "sd2.txt")};
  Senders(traces[0], traces[1], traces[2]);
  std::multiset<std::string> sent;  // "src frame size col1"
  std::map<std::string, double> first_sent;
  for (int s = 0; s < 3; ++s)
    for (const auto& l : Lines(traces[s])) {
      std::string key = std::to_string(s) + " " + l[2] + " " + l[3] + " " + l[1];
      sent.insert(key);
      if (!first_sent.count(key)) first_sent[key] = std::stod(l[0]);
    }
  double mean[2] = {0, 0};
  for (int tcp = 0; tcp < 2; ++tcp) {
    RunResult r = RunToolAt(DUMBBELL_BINARY, {"--sd0=sd0", "--sd1=sd1", "--sd2=sd2", "--out=got",
                                              "--tcp=" + std::to_string(tcp), "--stop=4s",
                                              tcp ? "--queue=50" : "--queue=1000"});
    ASSERT_EQ(0, r.status) << r.err;
    for (const char* name : {"got-a.rd", "got-b.rd"}) {
      std::multiset<std::string> got;
      double sum = 0;
      auto rd = Lines(ReadFile(name));
      for (const auto& l : rd) {
        ASSERT_EQ(5u, l.size()) << name;
        std::string key = l[1] + " " + l[2] + " " + l[3] + " " + l[4];
        got.insert(key);
        // Three links of at least 1 ms and the bottleneck's 10 ms.
        EXPECT_GE(std::stod(l[0]) - first_sent[key], 0.012) << name << ": " << key;
        sum += std::stod(l[0]) - first_sent[key];
      }
      if (tcp == 0)
        EXPECT_EQ(sent, got) << name;
      else
        EXPECT_TRUE(std::includes(sent.begin(), sent.end(), got.begin(), got.end())) << name;
      mean[tcp] += sum / static_cast<double>(rd.size()) / 2;
    }
  }
  EXPECT_GT(mean[1], mean[0] + 0.005);
  // A first frame of ten packets sent at once to receivers on an Ethernet
  // segment: none waits for address resolution, which would keep three
  // and drop the rest.
  std::string burst;
  for (int k = 0; k < 10; ++k)
    burst += "0 " + std::to_string(k) + " 0 1000 " + std::to_string(k) + " 10\n";
  Senders(burst);
  for (const char* lan : {"--lan=0", "--lan=1"}) {
    RunResult run = RunToolAt(DUMBBELL_BINARY, {"--sd0=sd0", "--sd1=sd1", "--sd2=sd2", "--out=got",
                                                "--tcp=0", lan, "--stop=2s"});
    ASSERT_EQ(0, run.status) << run.err;
    EXPECT_EQ(10u, Lines(ReadFile("got-a.rd")).size()) << lan;
    EXPECT_EQ(10u, Lines(ReadFile("got-b.rd")).size()) << lan;
  }
  RunResult r = RunToolAt(DUMBBELL_BINARY, {"--sd0=missing", "--sd1=sd1", "--sd2=sd2", "--out=got"});
  EXPECT_EQ(1, r.status);
  EXPECT_NE(std::string::npos, r.err.find("missing")) << r.err;
}

TEST_F(TraceNetTest, BadInputsAndUsage) {
  struct Case {
    std::string sd0;
    std::vector<std::string> options;
    int status;
    std::string message;
  } cases[] = {
      {"-1.0 0 0 100 0 1\n", {}, 1, "sd0:1: a send time must be a finite number of at least 0\n"},
      {"0.1 0 0 100 0 1\nnan 1 1 100 0 1\n",
       {},
       1,
       "sd0:2: a send time must be a finite number of at least 0\n"},
      {"0.1 0 0 65508 0 1\n", {}, 1, "sd0:1: a datagram's size is 0 to 65507 bytes, not 65508\n"},
      {"0.2 0 0 100 0 1\n0.1 1 1 100 0 1\n", {}, 1, "sd0:2: send times must not decrease\n"},
      {"0.1 0 0 100 0 1\n",
       {"--qdisc", "sfq"},
       2,
       "trace_net: --qdisc takes fifo, red, codel, fq_codel or pie, not sfq\n"},
      {"0.1 0 0 100 0 1\n",
       {"--rate", "fast"},
       2,
       "trace_net: --rate needs a rate as ns-3 reads it (10Mbps, 1Gbps ...), not fast\n"},
      {"0.1 0 0 100 0 1\n",
       {"--delay", "soon"},
       2,
       "trace_net: --delay needs a time with its unit (20ms, 1s ...), not soon\n"},
      // A number without a unit is no time: ns-3 would read seconds.
      {"0.1 0 0 100 0 1\n",
       {"--delay", "20"},
       2,
       "trace_net: --delay needs a time with its unit (20ms, 1s ...), not 20\n"},
      {"0.1 0 0 100 0 1\n",
       {"--delay", "1e20s"},
       2,
       "trace_net: --delay needs a time with its unit"},
      {"0.1 0 0 100 0 1\n", {"--rate", "0bps"}, 2, "trace_net: --rate must be above 0bps\n"},
      {"0.1 0 0 100 0 1\n",
       {"--rate", "1e30bps"},
       2,
       "trace_net: --rate needs a rate as ns-3 reads it"},
      {"0.1 0 0 100 0 1\n", {"--loss", "1%"}, 2, "trace_net: --loss needs a number from 0 to 1\n"},
      {"0.1 0 0 100 0 1\n",
       {"--queue", "0"},
       2,
       "trace_net: --queue needs a number of at least 1\n"},
      {"0.1 0 0 100 0 1\n",
       {"--queue", "1.5"},
       2,
       "trace_net: --queue needs a whole number of at least 1\n"},
      {"0.1 0 0 100 0 1\n",
       {"--drops", "a", "--drops", "b"},
       2,
       "trace_net: --drops given twice\n"},
      // The simulator's clock: 64 bits of nanoseconds.
      {"1e10 0 0 100 0 1\n",
       {},
       1,
       "sd0:1: a send time must be at most 9e9 s, the end of the simulator's clock, not 1e+10\n"},
      {"0.1 0 0 100 0 1\n",
       {"--drain", "1e50"},
       2,
       "trace_net: --drain 1e+50 ends the run past the simulator's clock"},
      {"8e9 0 0 100 0 1\n",
       {"--drain", "1.5e9"},
       2,
       "trace_net: --drain 1.5e+09 ends the run past the simulator's clock"},
      // Each option belongs to its network.
      {"0.1 0 0 100 0 1\n",
       {"--net", "wifi", "--delay", "5ms"},
       2,
       "trace_net: --delay is not a setting of --net wifi\n"},
      {"0.1 0 0 100 0 1\n",
       {"--net", "wifi", "--tcp", "bogus"},
       2,
       "trace_net: --tcp is not a setting of --net wifi\n"},
      {"0.1 0 0 100 0 1\n",
       {"--rate", "1Mbps", "--net", "wifi"},
       2,
       "trace_net: --rate is not a setting of --net wifi\n"},
      {"0.1 0 0 100 0 1\n",
       {"--distance", "30"},
       2,
       "trace_net: --distance is not a setting of --net p2p\n"},
      {"0.1 0 0 100 0 1\n",
       {"--speed", "1", "--net", "p2p"},
       2,
       "trace_net: --speed is not a setting of --net p2p\n"},
      // Managers that cannot drive HT rates make ns-3 abort.
      {"0.1 0 0 100 0 1\n",
       {"--net", "wifi", "--rate-control", "ns3::AarfWifiManager"},
       2,
       "trace_net: --rate-control needs a rate manager that drives 802.11ac "
       "(ns3::MinstrelHtWifiManager"},
      {"0.1 0 0 100 0 1\n",
       {"--net", "wifi", "--stations", "251"},
       2,
       "trace_net: --stations takes 0 to 250"},
      {"0.1 0 0 100 0 1\n",
       {"--net", "wifi", "--standard", "n", "--rate-control", "ns3::ConstantRateWifiManager"},
       2,
       "trace_net: --rate-control needs a rate manager that drives 802.11n"},
      {"0.1 0 0 100 0 1\n",
       {"--cross", "1001"},
       2,
       "trace_net: --cross takes 0 to 1000 flows, not 1001\n"},
      {"9e9 0 0 100 0 1\n",
       {"--delay", "10y", "--drain", "0"},
       2,
       "trace_net: --delay 10y puts arrivals past the simulator's clock"},
      // Outputs that cannot be written end the run before the simulation.
      {"0.1 0 0 100 0 1\n",
       {"--pcap", "missing/cap"},
       1,
       "missing/cap-0-0.pcap: cannot create: No such file or directory\n"},
      {"0.1 0 0 100 0 1\n",
       {"--drops", "missing/drops.csv"},
       1,
       "missing/drops.csv: cannot create: No such file or directory\n"},
      {"0.1 0 0 100 0 1\n", {"--loss", "2"}, 2, "trace_net: --loss needs a number from 0 to 1\n"},
      {"0.1 0 0 100 0 1\n",
       {"--tcp", "vegas"},
       2,
       "trace_net: --tcp takes newreno or cubic, not vegas\n"},
      {"0.1 0 0 100 0 1\n", {"--net", "lte"}, 2, "trace_net: --net takes p2p or wifi\n"},
      {"0.1 0 0 100 0 1\n",
       {"--net", "wifi", "--standard", "g"},
       2,
       "trace_net: --standard takes n, ac or ax, not g\n"},
      {"0.1 0 0 100 0 1\n",
       {"--net", "wifi", "--rate-control", "ns3::Nothing"},
       2,
       "trace_net: --rate-control needs a rate manager that drives 802.11ac"},
  };
  for (const Case& c : cases) {
    Senders(c.sd0);
    std::vector<std::string> args = {"sim"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    for (const char* f : {"sd0", "sd1", "sd2", "out_rd"}) args.push_back(f);
    RunResult r = Net(args);
    EXPECT_EQ(c.status, r.status) << c.message;
    EXPECT_EQ(c.message, r.err.substr(0, c.message.size())) << r.err;
    EXPECT_FALSE(Exists("out_rd")) << c.message;
    // Every usage error printed is one the manual page names.
    std::string printed = r.err.substr(0, r.err.find('\n'));
    if (c.status == 2) {
      EXPECT_TRUE(DocumentedIn(TRACE_ALIGN_SOURCE_DIR "/man/trace_net.1",
                               printed.substr(printed.find(": ") + 2)))
          << printed;
    }
  }
  Senders("0.1 0 0 100 0 1\n");
  RunResult r = Net({"sim", "sd0", "sd1", "sd2", "sd1"});
  EXPECT_EQ(1, r.status);
  EXPECT_EQ("input file sd1 is the output file sd1 of this run; refusing to overwrite it\n", r.err);
  // The pcap files are outputs too: an input of their name is kept.
  WriteFile("cap-1-0.pcap", "0.1 0 0 100 0 1\n");
  r = Net({"sim", "--pcap", "cap", "sd0", "cap-1-0.pcap", "sd2", "out_rd"});
  EXPECT_EQ(1, r.status);
  EXPECT_EQ(
      "input file cap-1-0.pcap is the output file cap-1-0.pcap of this run; refusing to overwrite "
      "it\n",
      r.err);
  EXPECT_EQ("0.1 0 0 100 0 1\n", ReadFile("cap-1-0.pcap"));
  EXPECT_FALSE(Exists("cap-0-0.pcap"));
  // --help after the subcommand is that subcommand's usage.
  r = Net({"sim", "--help"});
  EXPECT_EQ(0, r.status);
  EXPECT_NE(std::string::npos, r.out.find("--net wifi:\n  --distance M")) << r.out;
  EXPECT_EQ(std::string::npos, r.out.find("--clock HZ  ")) << r.out;
}

}  // namespace
