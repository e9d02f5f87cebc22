// Measurements for scripts/bench.
//
//   bench_tool time CMD [ARGS...]          runs CMD; prints wall, user and
//                                          system seconds and peak resident
//                                          memory in KiB
//   bench_tool floor COPY_DIR FILE... -- OUTPUT...
//                                          the I/O floor of a run: reads every
//                                          FILE, then writes a copy of every
//                                          OUTPUT into COPY_DIR; prints seconds

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
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

int main(int argc, char** argv) {
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
