// channel SEED LOSS_PCT BURST DELAY JITTER SD0 SD1 SD2: the receiver trace of
// a seeded channel model, on standard output, for examples and tests.
//
// Each sent packet is lost by a two-state (Gilbert-Elliott) model: in the
// bad state every packet is lost, bursts last BURST packets on average, and
// LOSS_PCT percent of the packets are lost in the long run. A packet that
// gets through arrives DELAY seconds after it was sent plus a jitter drawn
// evenly from [0, JITTER). The receiver logs "time src frame size id" in
// arrival order, id being the packet's col1, as a receiver would.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

struct Arrival {
  double time;
  int src;
  long frame, size, id;
};

// Evenly in [0, 1) from 53 random bits: the same numbers on every machine.
double uniform(std::mt19937_64& rng) { return static_cast<double>(rng() >> 11) * 0x1p-53; }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 9) {
    std::fprintf(stderr, "usage: channel SEED LOSS_PCT BURST DELAY JITTER SD0 SD1 SD2 > RD\n");
    return 2;
  }
  std::mt19937_64 rng(std::strtoull(argv[1], nullptr, 10));
  double loss = std::atof(argv[2]) / 100, burst = std::atof(argv[3]);
  double delay = std::atof(argv[4]), jitter = std::atof(argv[5]);
  double leave_bad = burst > 1 ? 1 / burst : 1;
  double enter_bad = loss < 1 ? loss * leave_bad / (1 - loss) : 1;
  std::vector<Arrival> sent;
  for (int src = 0; src < 3; ++src) {
    std::FILE* in = std::fopen(argv[6 + src], "r");
    if (in == nullptr) {
      std::perror(argv[6 + src]);
      return 1;
    }
    double time;
    long id, frame, size, k, n;
    while (std::fscanf(in, "%lf %ld %ld %ld %ld %ld", &time, &id, &frame, &size, &k, &n) == 6)
      sent.push_back({time, src, frame, size, id});
    std::fclose(in);
  }
  // The channel sees the packets in the order they are sent.
  std::stable_sort(sent.begin(), sent.end(),
                   [](const Arrival& a, const Arrival& b) { return a.time < b.time; });
  std::vector<Arrival> arrived;
  bool bad = false;
  for (Arrival a : sent) {
    bad = bad ? uniform(rng) >= leave_bad : uniform(rng) < enter_bad;
    double late = delay + jitter * uniform(rng);
    if (bad) continue;
    a.time += late;
    arrived.push_back(a);
  }
  std::stable_sort(arrived.begin(), arrived.end(),
                   [](const Arrival& a, const Arrival& b) { return a.time < b.time; });
  for (const Arrival& a : arrived)
    std::printf("%.6f %d %ld %ld %ld\n", a.time, a.src, a.frame, a.size, a.id);
  return std::fflush(stdout) == 0 ? 0 : 1;
}
