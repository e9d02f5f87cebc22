// trace_video against what a hostile user gives it: outputs that name
// inputs or each other, FIFOs and pipes, streams joined, cut mid-GOP,
// intra-only, without decode times for their first packets, changing size
// or too small for SSIM, a video changed between the passes, a signal,
// sweeps whose notes must name their run. The streams are made here with
// ffmpeg, small.

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "test_support.h"
#include "trace_video/measure.h"
#include "trace_video/video_file.h"

namespace {

const std::string kExamples = TRACE_ALIGN_SOURCE_DIR "/examples/video/";

class HostileVideoTest : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    if (!HaveFfmpegTools()) GTEST_SKIP() << "ffmpeg tools missing";
  }
  static RunResult Video(const std::vector<std::string>& args) {
    return RunToolAt(TRACE_VIDEO_BINARY, args, {"TRACE_ALIGN_THREADS=1"});
  }
  // A clip of testsrc2 made by ffmpeg with these output options.
  static void Make(const std::string& path, const std::string& options,
                   const std::string& size = "160x90", double seconds = 2) {
    Shell("ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=" + size + ":rate=25 -t " +
          std::to_string(seconds) + " " + options + " '" + path + "'");
    ASSERT_TRUE(Exists(path)) << path;
  }
  // send's traces of video in dir, and a receiver trace of every packet.
  static void Traces(const std::string& video, const std::string& dir) {
    ASSERT_EQ(0, RunToolAt(TRACE_VIDEO_BINARY, {"send", video, dir}).status) << video;
    Shell("cd '" + dir +
          "' && awk '{ printf \"%.6f %s %d %d %d\\n\", $1 + 0.01, substr(FILENAME, 3), "
          "$3, $4, $2 }' sd0 sd1 sd2 | sort -n > rd");
  }
  static std::vector<std::string> TracesOf(const std::string& dir) {
    return {dir + "/sd0", dir + "/sd1", dir + "/sd2", dir + "/rd"};
  }
  static RunResult Receive(std::vector<std::string> options, const std::string& video,
                           const std::string& dir) {
    options.insert(options.begin(), "receive");
    options.push_back(video);
    for (const std::string& t : TracesOf(dir)) options.push_back(t);
    return Video(options);
  }
  // A summary figure of receive's text output.
  static std::string Figure(const std::string& summary, const std::string& name) {
    size_t at = summary.find(name + ":");
    if (at == std::string::npos) return "(none)";
    size_t value = summary.find_first_not_of(' ', at + name.size() + 1);
    return summary.substr(value, summary.find('\n', value) - value);
  }
};

// No output may be an input (VIDEO, --reference, a trace) or a link to
// one, nor another output; each is refused before anything is written.
TEST_F(HostileVideoTest, OutputsNeverOverwriteInputsOrEachOther) {
  Shell("cp '" + kExamples +
        "clip.mp4' v.mp4 && cp v.mp4 ref.mp4 && ln -s ref.mp4 link.mkv && "
        "mkdir od && ln -s ../v.mp4 od/sd1");
  std::string before = Shell("md5sum v.mp4 ref.mp4");
  std::vector<std::string> traces = {kExamples + "sd0", kExamples + "sd1", kExamples + "sd2",
                                     kExamples + "rd"};
  struct Case {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"--reference", "ref.mp4", "--out", "ref.mp4"},
       "input file ref.mp4 is the output file ref.mp4 of this run; refusing to overwrite it\n"},
      {{"--reference", "ref.mp4", "--yuv", "ref.mp4"},
       "input file ref.mp4 is the output file ref.mp4 of this run; refusing to overwrite it\n"},
      {{"--reference", "ref.mp4", "--frames", "ref.mp4"},
       "input file ref.mp4 is the output file ref.mp4 of this run; refusing to overwrite it\n"},
      {{"--reference", "ref.mp4", "--out", "link.mkv"},
       "input file ref.mp4 is the output file link.mkv of this run; refusing to overwrite it\n"},
      // Even with --no-decode, which reads no reference.
      {{"--no-decode", "--reference", "ref.mp4", "--frames", "link.mkv"},
       "input file ref.mp4 is the output file link.mkv of this run; refusing to overwrite it\n"},
      {{"--frames", "x.mkv", "--out", "x.mkv"},
       "output file x.mkv is named twice; each output needs a file of its own\n"},
      {{"--yuv", "x.y4m", "--frames", "./x.y4m"}, "./x.y4m and x.y4m are the same file\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"receive"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.push_back("v.mp4");
    args.insert(args.end(), traces.begin(), traces.end());
    RunResult r = Video(args);
    EXPECT_EQ(1, r.status) << c.message;
    EXPECT_EQ(c.message, r.err);
    EXPECT_FALSE(Exists("x.mkv") || Exists("x.y4m")) << c.message;
  }
  RunResult send = Video({"send", "v.mp4", "od"});
  EXPECT_EQ(1, send.status);
  EXPECT_EQ("input file v.mp4 is the output file od/sd1 of this run; refusing to overwrite it\n",
            send.err);
  EXPECT_FALSE(Exists("od/sd0"));
  EXPECT_EQ(before, Shell("md5sum v.mp4 ref.mp4"));

  // --out on a full disk says, as every output does, that the outputs
  // are incomplete.
  ASSERT_EQ(0, symlink("/dev/full", "full.mkv"));
  RunResult full = Video({"receive", "--no-decode", "--out", "full.mkv", "v.mp4", traces[0],
                          traces[1], traces[2], traces[3]});
  EXPECT_EQ(1, full.status);
  EXPECT_EQ("full.mkv: cannot write: No space left on device; the outputs of this run are "
            "incomplete\n",
            full.err);

  // A FIFO as --out is refused at once, as --frames and --yuv are.
  ASSERT_EQ(0, mkfifo("fifo.mkv", 0644));
  std::string out =
      Shell("timeout 60 '" + std::string(TRACE_VIDEO_BINARY) +
            "' receive --no-decode --out fifo.mkv v.mp4 " + traces[0] + " " + traces[1] + " " +
            traces[2] + " " + traces[3] + " 2>&1 >/dev/null; echo status=$?");
  EXPECT_EQ("fifo.mkv: cannot create: not a regular file\nstatus=1\n", out);
}

// VIDEO through a pipe: read once by send and by receive --no-decode;
// refused at once, with the reason, where it would be read again.
TEST_F(HostileVideoTest, PipedVideoIsReadOnceOrRefused) {
  std::string tool = TRACE_VIDEO_BINARY;
  std::string traces =
      kExamples + "sd0 " + kExamples + "sd1 " + kExamples + "sd2 " + kExamples + "rd";
  std::string piped = "<(cat '" + kExamples + "clip.mp4')";
  EXPECT_EQ("status=0\n",
            Shell("bash -c \"'" + tool + "' send " + piped + " out\"; echo status=$?"));
  EXPECT_EQ(ReadFile(kExamples + "frames.csv"), ReadFile("out/frames.csv"));
  std::string decoded =
      Shell("bash -c \"'" + tool + "' receive " + piped + " " + traces + "\" 2>&1; echo status=$?");
  EXPECT_NE(std::string::npos,
            decoded.find(": not a file but a pipe, FIFO or device, which can be read "
                         "only once; receive reads the video once to judge its "
                         "frames and again to decode them: give a file, or "
                         "--no-decode\nstatus=1\n"))
      << decoded;
  std::string judged = Shell("bash -c \"'" + tool + "' receive --no-decode " + piped + " " +
                             traces + "\" 2>&1; echo status=$?");
  EXPECT_NE(std::string::npos, judged.find("frames_received:       244\n")) << judged;
}

// Streams whose timestamps restart or start mid-GOP: the slots are what the
// undamaged stream shows, every frame received shows.
TEST_F(HostileVideoTest, JoinedAndCutStreamsShowWhatArrived) {
  Make("a.ts", "-c:v libx264 -bf 0 -g 25 -pix_fmt yuv420p", "160x90", 1);
  Shell("cat a.ts a.ts > joined.ts");
  Traces("joined.ts", "j");
  RunResult joined = Receive({}, "joined.ts", "j");
  ASSERT_EQ(0, joined.status) << joined.err;
  EXPECT_EQ("50", Figure(joined.out, "video_frames"));
  EXPECT_EQ("0", Figure(joined.out, "frames_frozen"));
  EXPECT_EQ("100", Figure(joined.out, "psnr_y_min_db"));
  // --out cannot hold timestamps going back: the input's fault is said.
  RunResult out = Receive({"--out", "joined.mkv"}, "joined.ts", "j");
  EXPECT_EQ(1, out.status);
  EXPECT_EQ(
      "joined.ts: frame 25: its decode time 1.4 s is not after the one of the frame before it "
      "in joined.mkv (2.36 s), as in streams joined end to end; joined.mkv's container "
      "cannot hold that; the outputs of this run are incomplete\n",
      out.err);

  // A TS cut mid-GOP: the frames before its first key frame show in no slot.
  Make("g.ts", "-c:v libx264 -bf 2 -g 25 -pix_fmt yuv420p");
  Shell("dd if=g.ts of=cut.ts bs=188 skip=40 2>/dev/null");
  Traces("cut.ts", "c");
  RunResult cut = Receive({"--frames", "cut.csv"}, "cut.ts", "c");
  ASSERT_EQ(0, cut.status) << cut.err;
  int shown =
      std::stoi(Shell("ffmpeg -nostdin -v error -threads 1 -i cut.ts -f framemd5 - 2>/dev/null "
                      "| grep -vc '#'"));
  int frames = std::stoi(Figure(cut.out, "video_frames"));
  EXPECT_GT(frames, shown);
  EXPECT_EQ(std::to_string(frames - shown), Figure(cut.out, "frames_without_slot"));
  EXPECT_EQ("0", Figure(cut.out, "frames_frozen"));
}

// MJPEG: no parser types its frames, each is a key frame and decodable.
// Matroska with B-frames: no decode time on the first packets; the send
// times are those of the same stream in MP4. Raw Annex B: no timestamps
// at all; what the viewer saw is what the same stream in MP4 shows.
TEST_F(HostileVideoTest, StreamsWithoutTypesOrTimes) {
  Make("m.mkv", "-c:v mjpeg -q:v 5");
  Traces("m.mkv", "m");
  RunResult mjpeg = Receive({"--no-decode"}, "m.mkv", "m");
  ASSERT_EQ(0, mjpeg.status) << mjpeg.err;
  EXPECT_EQ("50", Figure(mjpeg.out, "decodable_frames"));
  EXPECT_EQ("50", Figure(mjpeg.out, "i_frames"));

  Make("b.mp4", "-c:v libx264 -bf 2 -g 12 -pix_fmt yuv420p", "160x90", 1.2);
  Shell("ffmpeg -nostdin -v error -i b.mp4 -c copy b.mkv");
  ASSERT_EQ(0, Video({"send", "b.mp4", "bmp4"}).status);
  ASSERT_EQ(0, Video({"send", "b.mkv", "bmkv"}).status);
  for (const char* s : {"sd0", "sd1", "sd2"})
    EXPECT_EQ(ReadFile(std::string("bmp4/") + s), ReadFile(std::string("bmkv/") + s)) << s;

  Shell("ffmpeg -nostdin -v error -i '" + kExamples +
        "clip.mp4' -c copy -bsf:v h264_mp4toannexb clip.264");
  std::vector<std::string> traces = {kExamples + "sd0", kExamples + "sd1", kExamples + "sd2",
                                     kExamples + "rd"};
  RunResult mp4 = Video({"receive", "--frames", "mp4.csv", kExamples + "clip.mp4", traces[0],
                         traces[1], traces[2], traces[3]});
  RunResult raw = Video({"receive", "--fps", "25", "--frames", "raw.csv", "clip.264", traces[0],
                         traces[1], traces[2], traces[3]});
  ASSERT_EQ(0, raw.status) << raw.err;
  std::string summary = mp4.out.substr(mp4.out.find("frames_frozen"));
  EXPECT_EQ(summary, raw.out.substr(raw.out.find("frames_frozen")));
}

// A picture size that changes is refused with what changed; a picture too
// small for an SSIM window has no SSIM, and the note says so.
TEST_F(HostileVideoTest, PictureSizesThatCannotBeMeasured) {
  Make("a.ts", "-c:v libx264 -bf 0 -g 10 -pix_fmt yuv420p", "160x90", 1);
  Make("b.ts", "-c:v libx264 -bf 0 -g 10 -pix_fmt yuv420p", "96x64", 1);
  Shell("cat a.ts b.ts > sizes.ts");
  Traces("sizes.ts", "s");
  RunResult sizes = Receive({"--yuv", "s.y4m"}, "sizes.ts", "s");
  EXPECT_EQ(1, sizes.status);
  EXPECT_EQ(
      "sizes.ts: the picture size changes within the stream (160x90 yuv420p, then 96x64 "
      "yuv420p): the quality figures take one size throughout; give --no-decode; the "
      "outputs of this run are incomplete\n",
      sizes.err);
  EXPECT_EQ(0, Receive({"--no-decode"}, "sizes.ts", "s").status);

  Make("tiny.nut", "-c:v rawvideo -pix_fmt yuv420p", "16x4", 1);
  Traces("tiny.nut", "t");
  RunResult tiny = Receive({"--frames", "t.csv"}, "tiny.nut", "t");
  ASSERT_EQ(0, tiny.status) << tiny.err;
  EXPECT_EQ("n/a", Figure(tiny.out, "ssim_y_mean"));
  EXPECT_EQ(
      "trace_video: note: slots whose pictures are under 8x8 samples, with no SSIM window: 25; "
      "their ssim_y is empty and ssim_y_mean leaves them out\n",
      tiny.err);
  std::istringstream rows(ReadFile("t.csv"));
  std::string header, row;
  std::getline(rows, header);
  std::getline(rows, row);
  EXPECT_EQ(",5", row.substr(row.size() - 2));  // ssim_y empty, then mos
}

// The video read again by the decoding pass is not the one judged: found,
// never read past what was judged.
TEST_F(HostileVideoTest, VideoChangedBetweenPassesIsFound) {
  Make("short.mp4", "-c:v libx264 -bf 2 -g 10 -pix_fmt yuv420p", "160x90", 1);
  Make("long.mp4", "-c:v libx264 -bf 2 -g 10 -pix_fmt yuv420p", "160x90", 2);
  std::vector<Judged> judged;
  {
    VideoReader reader("short.mp4", std::nullopt);
    FrameVerdict received;
    received.status = ReceiveStatus::kReceived;
    for (VideoFrame f; reader.next(f);) judged.push_back({f, received, nullptr});
  }
  ASSERT_EQ(25u, judged.size());
  RunState run("trace_video", true);
  for (bool full : {false, true}) {
    ReceiveOptions options;
    options.full_decode = full;
    std::vector<SlotResult> slots(judged.size());
    EXPECT_EQ("long.mp4: the file changed while it was being read",
              failure_message_of(run.program, [&] {
                measure(run, options, "long.mp4", judged, true, slots);
              })) << full;
  }

  // Replaced (renamed over) or rewritten in place after it was stamped.
  for (const char* how : {"cp long.mp4 next.mp4 && mv next.mp4 v.mp4", "cat long.mp4 > v.mp4"}) {
    Shell("cp short.mp4 v.mp4");
    RunState state("trace_video", true);
    VideoInput input(state, "v.mp4", true);
    input.check();
    Shell(how);
    EXPECT_EQ("v.mp4: the file changed while it was being read",
              failure_message_of(state.program, [&] { input.check(); }))
        << how;
  }
}

// SIGTERM while outputs are open: said, with the outputs incomplete, and
// the process ends by the signal. The reference is a FIFO no one writes,
// so the run waits there with --frames created.
TEST_F(HostileVideoTest, InterruptedRunSaysSo) {
  ASSERT_EQ(0, mkfifo("ref.fifo", 0644));
  int out, err;
  pid_t pid = StartProgram(
      TRACE_VIDEO_BINARY,
      {"receive", "--frames", "f.csv", "--reference", "ref.fifo", kExamples + "clip.mp4",
       kExamples + "sd0", kExamples + "sd1", kExamples + "sd2", kExamples + "rd"},
      {}, &out, &err);
  ASSERT_GT(pid, 0);
  for (int i = 0; i < 600 && !Exists("f.csv"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  kill(pid, SIGTERM);
  RunResult r;
  DrainBoth(out, err, &r.out, &r.err);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(SIGTERM, WTERMSIG(status));
  EXPECT_EQ("trace_video: interrupted by SIGTERM; the outputs of this run are incomplete\n", r.err);
}

// In a sweep, a run's notes name the run: the list and its line.
TEST_F(HostileVideoTest, SweepNotesNameTheirRun) {
  WriteFile("rd", ReadFile(kExamples + "rd") + "9.000000 0 999 100 9999\n");
  std::string traces = kExamples + "sd0," + kExamples + "sd1," + kExamples + "sd2,";
  WriteFile("list.csv", "plain," + traces + kExamples + "rd\nextra," + traces + "rd\n");
  RunResult r =
      Video({"receive", "--runs", "list.csv", "--no-decode", "-j", "1", kExamples + "clip.mp4"});
  ASSERT_EQ(0, r.status) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("trace_video: list.csv:2: note: the traces name 1 frames "
                                          "the video does not have (999)\n"))
      << r.err;
  EXPECT_EQ(std::string::npos, r.err.find("list.csv:1:")) << r.err;
}

}  // namespace
