// Generates a realistic, deterministic set of four traces for examples and
// benchmarks: three sources taking turns frame by frame (frame f comes from
// source f % 3), large frames of many packets every 12th frame and small
// ones in between, about 6 packets per frame on average, send times at a
// fixed frame rate, receive times with delay and jitter, 1% of packets and
// 0.2% of whole frames lost. The receiver trace is in frame order.
//
//   gen_traces PACKETS SEED DIR   writes DIR/sd0 DIR/sd1 DIR/sd2 DIR/rd

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct Rng {  // splitmix64: the same numbers on every machine
  uint64_t state;
  uint64_t next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint64_t below(uint64_t n) { return next() % n; }
  double unit() { return static_cast<double>(next() >> 11) / 9007199254740992.0; }
};

FILE* create(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) {
    std::perror(path.c_str());
    std::exit(2);
  }
  static char buffers[4][1 << 20];
  static int used = 0;
  std::setvbuf(f, buffers[used++ % 4], _IOFBF, sizeof buffers[0]);
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: gen_traces PACKETS SEED DIR\n");
    return 2;
  }
  long long packets = std::atoll(argv[1]);
  Rng rng{std::strtoull(argv[2], nullptr, 10)};
  std::string dir = argv[3];
  FILE* sd[3] = {create(dir + "/sd0"), create(dir + "/sd1"), create(dir + "/sd2")};
  FILE* rd = create(dir + "/rd");

  const double frame_interval = 1.0 / 30.0;
  long long written = 0;
  long long seq[3] = {0, 0, 0};
  for (int frame = 0; written < packets; ++frame) {
    int src = frame % 3;
    int count = frame % 12 == 0 ? 20 + static_cast<int>(rng.below(21))  // large frame
                                : 1 + static_cast<int>(rng.below(6));   // small frame
    if (count > packets - written) count = static_cast<int>(packets - written);
    int frame_bytes = count * 1000 - static_cast<int>(rng.below(900));
    bool frame_lost = rng.below(1000) < 2;
    double send = frame * frame_interval;
    for (int k = 0; k < count; ++k) {
      int size = k + 1 < count ? 1000 : frame_bytes - 1000 * (count - 1);
      send += 0.0001 + rng.unit() * 0.0002;
      std::fprintf(sd[src], "%.6f %d %d %d %d %lld\n", send, src, frame, size, k, seq[src]++);
      if (frame_lost || rng.below(100) == 0) continue;
      double receive = send + 0.05 + rng.unit() * 0.01;
      std::fprintf(rd, "%.6f %d %d %d %d\n", receive, src, frame, size, k);
    }
    written += count;
  }
  for (FILE* f : {sd[0], sd[1], sd[2], rd}) {
    if (std::fclose(f) != 0) {
      std::perror("gen_traces");
      return 2;
    }
  }
  return 0;
}
