// Measurements for scripts/bench.
//
//   bench_tool time CMD [ARGS...]          runs CMD; prints wall, user and
//                                          system seconds and peak resident
//                                          memory in KiB
//   bench_tool floor COPY_DIR FILE... -- OUTPUT...
//                                          the I/O floor of a run: reads every
//                                          FILE, then writes a copy of every
//                                          OUTPUT into COPY_DIR; prints seconds
//   bench_tool rtp-capture FRAMES_CSV N OUT
//                                          a pcap of N RTP packets (Ethernet,
//                                          IPv4, UDP) carrying the frames of a
//                                          trace_video send frame table in
//                                          turn, 1,000-byte payloads

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

int run_timed(char** argv) {
  double t0 = now();
  pid_t pid = fork();
  if (pid == 0) {
    execvp(argv[0], argv);
    _exit(127);
  }
  int status = 0;
  struct rusage usage;
  wait4(pid, &status, 0, &usage);
  double wall = now() - t0;
  auto seconds = [](const timeval& tv) {
    return static_cast<double>(tv.tv_sec) + tv.tv_usec / 1e6;
  };
  std::printf("%.4f %.4f %.4f %ld\n", wall, seconds(usage.ru_utime), seconds(usage.ru_stime),
              usage.ru_maxrss);
  return 0;
}

std::vector<char> buffer(1 << 20);

// Reads a whole file; writes it to `copy` unless that is empty.
bool pass(const std::string& path, const std::string& copy) {
  int in = open(path.c_str(), O_RDONLY);
  if (in < 0) return false;
  int out = copy.empty() ? -1 : open(copy.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ssize_t n;
  while ((n = read(in, buffer.data(), buffer.size())) > 0)
    if (out >= 0 && write(out, buffer.data(), size_t(n)) != n) return false;
  close(in);
  return out < 0 || close(out) == 0;
}

}  // namespace

// Little-endian fields of the pcap file, big-endian ones of the packet.
void le32(std::string& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b += static_cast<char>(v >> (8 * i));
}
void be16(std::string& b, uint32_t v) { b += static_cast<char>(v >> 8), b += static_cast<char>(v); }
void be32(std::string& b, uint32_t v) { be16(b, v >> 16), be16(b, v & 0xFFFF); }

int rtp_capture(const char* frames_csv, long n, const char* out) {
  std::FILE* in = std::fopen(frames_csv, "r");
  std::FILE* f = std::fopen(out, "wb");
  if (in == nullptr || f == nullptr) return 1;
  std::vector<uint32_t> times;
  char line[512];
  std::fgets(line, sizeof line, in);
  while (std::fgets(line, sizeof line, in)) {
    // frame,type,key,size,pts_s,...
    const char* p = line;
    for (int comma = 0; comma < 4 && p != nullptr; ++comma) p = std::strchr(p, ',') + 1;
    times.push_back(static_cast<uint32_t>(std::strtod(p, nullptr) * 90000 + 0.5));
  }
  std::fclose(in);
  if (times.empty()) return 1;
  std::string b;
  le32(b, 0xA1B2C3D4);
  b += std::string("\x02\x00\x04\x00", 4);
  le32(b, 0), le32(b, 0), le32(b, 262144), le32(b, 1);
  long per_frame = (n + static_cast<long>(times.size()) - 1) / static_cast<long>(times.size());
  const uint32_t payload = 1000, ip_length = 20 + 8 + 12 + payload;
  uint64_t micros = 1765000000ull * 1000000;
  for (long i = 0; i < n; ++i) {
    size_t frame = static_cast<size_t>(i / per_frame);
    micros += 40000 / static_cast<uint64_t>(per_frame);
    le32(b, static_cast<uint32_t>(micros / 1000000)), le32(b, static_cast<uint32_t>(micros % 1000000));
    le32(b, 14 + ip_length), le32(b, 14 + ip_length);
    b += std::string(12, '\x02');
    be16(b, 0x0800);
    be32(b, 0x45000000 | ip_length), be32(b, 0), be32(b, 0x40110000), be32(b, 0x0A000001), be32(b, 0x0A000002);
    be16(b, 40000), be16(b, 5004), be16(b, 8 + 12 + payload), be16(b, 0);
    be16(b, 0x8060), be16(b, static_cast<uint32_t>(i & 0xFFFF)), be32(b, 12345 + times[frame]), be32(b, 0x11223344);
    b.append(payload, '\x5A');
    if (b.size() > (1 << 20)) {
      std::fwrite(b.data(), 1, b.size(), f);
      b.clear();
    }
  }
  std::fwrite(b.data(), 1, b.size(), f);
  return std::fclose(f) == 0 ? 0 : 1;
}

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "rtp-capture") == 0) return rtp_capture(argv[2], std::atol(argv[3]), argv[4]);
  if (argc >= 3 && std::strcmp(argv[1], "time") == 0) return run_timed(argv + 2);
  if (argc >= 3 && std::strcmp(argv[1], "floor") == 0) {
    std::string dir = argv[2];
    double t0 = now();
    bool outputs = false;
    for (int i = 3; i < argc; ++i) {
      if (std::strcmp(argv[i], "--") == 0) {
        outputs = true;
        continue;
      }
      std::string name = argv[i];
      std::string copy = outputs ? dir + "/" + name.substr(name.rfind('/') + 1) : "";
      if (!pass(name, copy)) {
        std::perror(argv[i]);
        return 2;
      }
    }
    std::printf("%.3f\n", now() - t0);
    return 0;
  }
  std::fprintf(stderr,
               "usage: bench_tool time CMD... | bench_tool floor DIR FILE... -- OUTPUT...\n");
  return 2;
}
