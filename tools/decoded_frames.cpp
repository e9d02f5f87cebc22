// decoded_frames [--full-decode] VIDEO SD0 SD1 SD2 RD: how many of VIDEO's
// frames trace_video receive decodes of each stream for these traces, and
// of how many ("DECODED FRAMES"), for the benchmark's table.

#include <cstdio>
#include <cstring>

#include "trace_io/failure.h"
#include "trace_video/receive.h"

int main(int argc, char** argv) {
  ReceiveOptions options;
  int first = 1;
  if (argc > 1 && std::strcmp(argv[1], "--full-decode") == 0) {
    options.full_decode = true;
    first = 2;
  }
  if (argc - first != 5) {
    std::fprintf(stderr, "usage: decoded_frames [--full-decode] VIDEO SD0 SD1 SD2 RD\n");
    return 2;
  }
  RunState run("decoded_frames", true);
  std::string traces[4] = {argv[first + 1], argv[first + 2], argv[first + 3], argv[first + 4]};
  ReceiveResult result;
  std::optional<RunFailure> failure =
      failure_of([&] { result = run_receive(run, options, argv[first], traces); });
  if (failure) {
    std::fprintf(stderr, "%s\n", failure->text("decoded_frames").c_str());
    return 1;
  }
  std::printf("%lld %lld\n", static_cast<long long>(result.decoded),
              static_cast<long long>(result.frames));
  return 0;
}
