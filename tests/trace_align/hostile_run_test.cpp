// Runs as a hostile user makes them: concurrent and interrupted runs,
// links planted in a race, devices and FIFOs where files belong, stray
// byte-order marks and carriage returns, frame numbers beyond memory, and
// a reader that closes standard output. None may hang, pass silently or
// overwrite what it should not.

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <chrono>
#include <set>
#include <thread>

#include "compress_support.h"
#include "trace_align_support.h"
#include "trace_align/run_control.h"
#include "trace_io/memory.h"

namespace {

const char* const kIncomplete = "; the outputs of this run are incomplete";

class HostileRunTest : public ScratchTest {
 protected:
  // Two sender traces of one packet each, and the receiver trace rd.
  static void Inputs(const std::string& rd) {
    WriteInputs("0.1 0 0 100 0 0\n", "0.2 1 1 100 0 0\n", "", rd);
  }
  static pid_t Start(int* out) { return StartTool({"sd0", "sd1", "sd2", "rd"}, {}, out); }
};

TEST_F(HostileRunTest, SecondRunInTheSameDirectoryIsRefused) {
  Inputs("0.5 0 0 100 0\n");
  int lock = open(run_lock_path().c_str(), O_RDONLY | O_CREAT, 0644);
  ASSERT_EQ(0, flock(lock, LOCK_EX | LOCK_NB));  // a run that is writing here
  EXPECT_EQ("another trace_align run is writing in this directory\n", Run().out);
  ExpectNoOutputs();
  close(lock);
  EXPECT_EQ("", Run().out);
}

// `flock . trace_align ...`: the user's own lock on the directory is no
// other run.
TEST_F(HostileRunTest, UsersLockOnTheDirectoryLetsTheRunGoOn) {
  Inputs("0.5 0 0 100 0\n");
  int dir = open(".", O_RDONLY | O_DIRECTORY);
  ASSERT_EQ(0, flock(dir, LOCK_EX | LOCK_NB));
  EXPECT_EQ("", Run().out);
  EXPECT_EQ("0                0 100\n", ReadOutput(kRdFrameDat));
  close(dir);
}

TEST_F(HostileRunTest, InterruptedRunSaysSoAndEndsByTheSignal) {
  // Rows without a source fill standard output, which nobody reads: the
  // run blocks after its outputs exist, until it is interrupted.
  Inputs("0.5 0 200000 100 0\n");
  int out;
  pid_t pid = Start(&out);
  int queued = 0;
  while (queued < 60000 && ioctl(out, FIONREAD, &queued) == 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  kill(pid, SIGINT);
  std::string text = Drain(out);
  int status;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(SIGINT, WTERMSIG(status));
  std::string last = text.substr(text.rfind('\n', text.size() - 2) + 1);
  EXPECT_EQ(std::string("interrupted by SIGINT") + kIncomplete + "\n", last);
}

TEST_F(HostileRunTest, ClosedStandardOutputIsAFailedWriteNotASignal) {
  Inputs("0.5 0 200000 100 0\n");
  int out;
  pid_t pid = Start(&out);
  close(out);
  int status;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(1, WEXITSTATUS(status));
}

TEST_F(HostileRunTest, ByteOrderMarkIsSkippedAndAStrayCarriageReturnRefused) {
  Inputs(
      "\xEF\xBB\xBF"
      "1.5 0 0 100 0\n");
  EXPECT_EQ("", Run().out);
  EXPECT_EQ("1.500000         id 0  udp 100\n", ReadFile("rd_trace"));
  for (const char* name : kOutputNames) fs::remove(name);
  Inputs("1.5 0 0 100 0\r\n2.5 0 0 100 0\r2.6 0 0 100 0\r");  // an old Mac file after a line
  EXPECT_EQ("rd:2: carriage return inside a line\n", Run().out);
  ExpectNoOutputs();
}

TEST_F(HostileRunTest, EndlessDevicesEndTheRunAtOnce) {
  Inputs("");
  EXPECT_EQ("/dev/zero:1: line longer than 998 characters\n",
            Run({"sd0", "/dev/zero", "sd2", "rd"}).out);
  std::string random = Run({"sd0", "sd1", "sd2", "/dev/urandom"}).out;
  EXPECT_EQ(0u, random.rfind("/dev/urandom:", 0)) << random;
  ExpectNoOutputs();
  EXPECT_EQ("Error...no src found\n",
            Run({"sd0", "sd1", "sd2", "/dev/null"}).out);  // an empty trace
}

TEST_F(HostileRunTest, FifoOrSocketAtAnOutputNameIsRefused) {
  Inputs("0.5 0 0 100 0\n");
  ASSERT_EQ(0, mkfifo("sd_trace", 0600));
  EXPECT_EQ("sd_trace: cannot create: not a regular file\n", Run().out);
  fs::remove("sd_trace");
  fs::create_symlink("/dev/zero", "rd_frame_dat");  // could not be read back
  EXPECT_EQ("rd_frame_dat: cannot create: not a regular file\n", Run().out);
  fs::remove("rd_frame_dat");
  ExpectNoOutputs();
}

// Run in-process, so that a link can be planted between the start-up
// check and the opening of the outputs, deterministically.
std::string RunPlanting(const std::function<void()>& plant) {
  char a[] = "trace_align", b[] = "sd0", c[] = "sd1", d[] = "sd2", e[] = "rd";
  char* argv[] = {a, b, c, d, e, nullptr};
  RunState state("trace_align", one_thread_asked());
  return run(5, argv, state, plant);
}

TEST_F(HostileRunTest, LinkPlantedAfterTheChecksIsRefusedWhenOpened) {
  Inputs("0.5 0 0 100 0\n");
  std::string sd0 = ReadFile("sd0");
  EXPECT_EQ(
      std::string(
          "input file sd0 is the output file rd_trace of this run; refusing to overwrite it") +
          kIncomplete,
      RunPlanting([] { fs::create_symlink("sd0", "rd_trace"); }));
  EXPECT_EQ(sd0, ReadFile("sd0"));
  fs::remove("rd_trace");
  EXPECT_EQ(std::string("rd_trace and sd_trace are the same file") + kIncomplete, RunPlanting([] {
              WriteFile("rd_trace", "");
              fs::create_hard_link("rd_trace", "sd_trace");
            }));
}

// Truncated by another process between the start-up checks and the
// reading: the file is refused as changed, plain or compressed, whether it
// was cut at a line's end or in a line, and nothing is created.
TEST_F(HostileRunTest, InputThatShrinksWhileReadIsRefused) {
  std::string lines;
  for (int i = 0; i < 2000; ++i) lines += "0.5 0 " + std::to_string(i) + " 100 0\n";
  for (bool compressed : {false, true}) {
    for (size_t cut : {lines.size() / 2 - lines.size() / 2 % 17, lines.size() / 2 + 3}) {
      Inputs(compressed ? Compress(Format::kGzip, lines) : lines);
      size_t keep = compressed ? ReadFile("rd").size() / 2 : cut;
      std::string message = RunPlanting([keep] { fs::resize_file("rd", keep); });
      EXPECT_EQ("rd: the file changed while it was being read", message)
          << compressed << " " << cut;
      ExpectNoOutputs();
    }
  }
}

TEST_F(HostileRunTest, FrameNumbersBeyondMemoryEndTheRunBeforeAnyOutput) {
  // 2,000,000,000 rows: 56 GB of table and index, more than a test machine
  // has. On one that has it, the run would write 44 GB: skip.
  if (available_memory() / 28 > 2000000001u) GTEST_SKIP() << "this machine has 56 GB to spare";
  Inputs("0.5 0 2000000000 100 0\n");
  RunResult r = RunTool({"sd0", "sd1", "sd2", "rd"});
  EXPECT_EQ(0u,
            r.out.rfind(
                "rd_frame_dat: the receiver trace's frame numbers need 2000000001 table rows (", 0))
      << r.out;
  EXPECT_NE(std::string::npos, r.out.find(" MiB of memory this process can get\n")) << r.out;
  ExpectNoOutputs();
}

}  // namespace

namespace {

// Under a memory limit (here RLIMIT_AS), record arrays that would grow
// past it end the run with a message naming the file and the sizes, and
// the outcome is the same on one thread and on two.
TEST_F(HostileRunTest, RecordsBeyondAMemoryLimitEndTheRunTheSameOnAnyThreads) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers need more address space than any limit leaves";
#endif
  if (std::string(TRACE_ALIGN_BINARY).find("-emulated") != std::string::npos)
    GTEST_SKIP() << "an emulator needs more address space than the limit leaves";
  std::string lines;
  for (int i = 0; i < 6000000; ++i) lines += "1 1 1 1 1\n";
  Inputs(Compress(Format::kGzip, lines));  // 60 MB of text: 120 MB of records
  lines.clear();
  std::string messages[2];
  for (int threads = 1; threads <= 2; ++threads) {
    std::string command = "ulimit -v 150000; TRACE_ALIGN_THREADS=" + std::to_string(threads) +
                          " exec '" TRACE_ALIGN_BINARY "' sd0 sd1 sd2 rd";
    RunResult r = RunToolAt("/bin/sh", {"-c", command});
    EXPECT_EQ(1, r.status);
    messages[threads - 1] = r.out;
    ExpectNoOutputs();
  }
  EXPECT_NE(std::string::npos, messages[0].find(" MiB of memory this process can get\n"))
      << messages[0];
  EXPECT_EQ(0u, messages[0].rfind("rd: ", 0)) << messages[0];
  EXPECT_EQ(messages[0], messages[1]);
}

}  // namespace

namespace {

// One packet of frame 100,000 asks for a 2 MB rd_frame_dat: on a 1 MB file
// system the run is refused before it creates anything, instead of filling
// the disk. Needs root to mount the small file system.
TEST_F(HostileRunTest, FrameTableLargerThanTheFreeDiskIsRefusedBeforeAnyOutput) {
  fs::create_directory("small");
  if (geteuid() != 0 || std::system("mount -t tmpfs -o size=1m tmpfs small 2>/dev/null") != 0)
    GTEST_SKIP() << "cannot mount a small file system here";
  fs::current_path("small");
  Inputs("0.5 0 100000 100 0\n");
  RunResult r = Run();
  fs::current_path("..");
  std::set<std::string> listing;
  for (const auto& e : fs::directory_iterator("small"))
    listing.insert(e.path().filename().string());
  std::system("umount small");
  EXPECT_EQ(0u, r.out.rfind("rd_frame_dat: the receiver trace's frame numbers need 100001 table "
                            "rows, at least 2 MiB of rd_frame_dat, more than the ",
                            0))
      << r.out;
  EXPECT_EQ((std::set<std::string>{"rd", "sd0", "sd1", "sd2"}), listing);  // the inputs alone
}

}  // namespace
