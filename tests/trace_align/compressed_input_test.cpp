// Compressed and piped inputs, end to end: the same outputs and messages as
// the plain text, line numbers included, and bad streams refused before any
// output exists.

#include <fcntl.h>
#include <sys/stat.h>

#include <thread>

#include "compress_support.h"
#include "trace_align_support.h"

namespace {

const std::string kExamples = TRACE_ALIGN_SOURCE_DIR "/examples/";

struct FormatCase {
  Format format;
  const char* name;
  const char* suffix;
  size_t magic;  // length of the magic number
};
const FormatCase kFormats[] = {{Format::kGzip, "gzip", ".gz", 2},
                               {Format::kZstd, "zstd", ".zst", 4},
                               {Format::kXz, "xz", ".xz", 6}};

class CompressedInputTest : public ScratchTest, public ::testing::WithParamInterface<FormatCase> {
 protected:
  // Writes text compressed as the file name + suffix; returns its path.
  std::string Compressed(const std::string& name, const std::string& text) {
    std::string path = name + GetParam().suffix;
    WriteFile(path, Compress(GetParam().format, text));
    return path;
  }
  RunResult RunOn(const std::string& rd) {
    return RunTool({Compressed("sd0", ReadFile(kExamples + "sd0.txt")), kExamples + "sd1.txt",
                    Compressed("sd2", ReadFile(kExamples + "sd2.txt")), rd});
  }
};

TEST_P(CompressedInputTest, ExampleGivesTheSameOutputs) {
  RunResult r = RunOn(Compressed("rd", ReadFile(kExamples + "rd.txt")));
  EXPECT_EQ(1, r.status);
  EXPECT_EQ("", r.out);
  for (const char* name : kOutputNames)
    EXPECT_EQ(ReadFile(kExamples + "expected/" + name), ReadFile(name)) << name;
}

TEST_P(CompressedInputTest, ConcatenatedStreamsReadAsOne) {
  std::string rd = ReadFile(kExamples + "rd.txt");
  size_t half = rd.find('\n', rd.size() / 2) + 1;
  WriteFile(std::string("rd") + GetParam().suffix,
            Compress(GetParam().format, rd.substr(0, half)) +
                Compress(GetParam().format, rd.substr(half)));
  RunOn(std::string("rd") + GetParam().suffix);
  EXPECT_EQ(ReadFile(kExamples + "expected/rd_trace"), ReadFile("rd_trace"));
}

TEST_P(CompressedInputTest, BadStreamsEndTheRunBeforeAnyOutput) {
  std::string good = Compress(GetParam().format, ReadFile(kExamples + "rd.txt"));
  // The header right after the magic number, which every format checks
  // before it decodes anything.
  std::string corrupt = good;
  for (size_t i = GetParam().magic; i < GetParam().magic + 2; ++i)
    corrupt[i] = static_cast<char>(corrupt[i] ^ 0xff);
  std::string prefix =
      std::string("rd") + GetParam().suffix + ": cannot decompress (" + GetParam().name + "): ";
  WriteFile(std::string("rd") + GetParam().suffix, good.substr(0, good.size() / 2));
  EXPECT_EQ(prefix + "unexpected end of file\n", RunOn(std::string("rd") + GetParam().suffix).out);
  ExpectNoOutputs();
  WriteFile(std::string("rd") + GetParam().suffix, corrupt);
  std::string out = RunOn(std::string("rd") + GetParam().suffix).out;
  EXPECT_EQ(prefix, out.substr(0, prefix.size())) << out;
  EXPECT_EQ(1, std::count(out.begin(), out.end(), '\n')) << out;
  ExpectNoOutputs();
}

TEST_P(CompressedInputTest, DecompressedLinesFollowTheTextRules) {
  std::string rd = Compressed("rd", "1 0 0 10 0\n2 0 0 10 0\n3 0\n");
  EXPECT_EQ(rd + ":3: expected 5 columns, found 2\n",
            RunTool({kExamples + "sd0.txt", kExamples + "sd1.txt", kExamples + "sd2.txt", rd}).out);
  std::string sd0 = Compressed("sd0", "1 0 0 1 1 1\n" + std::string(2000, '7') + "\n");
  EXPECT_EQ(sd0 + ":2: line longer than 998 characters\n",
            RunTool({sd0, kExamples + "sd1.txt", kExamples + "sd2.txt", kExamples + "rd.txt"}).out);
  ExpectNoOutputs();
}

// What the reference tools read: a gzip member padded with zero bytes, a
// zstd file that starts with a skippable frame (as pzstd writes it).
TEST(CompressedFormatsTest, ReadAsTheReferenceToolsReadThem) {
  std::string text = ReadFile(kExamples + "rd.txt");
  std::string skippable = std::string("\x50\x2A\x4D\x18\x04\0\0\0", 8) + "pzst";
  std::string padded = Compress(Format::kGzip, text) + std::string(1000, '\0');
  std::string skipping = skippable + Compress(Format::kZstd, text);
  for (const std::string& data : {padded, skipping}) {
    WriteFile("/tmp/trace_align_formats_test", data);
    RunState state;
    InputFile in;
    ASSERT_TRUE(in.open("/tmp/trace_align_formats_test"));
    std::string got;
    std::string message = failure_message_of("test", [&] {
      char buf[4096];
      for (size_t n; (n = in.read(buf, sizeof buf)) > 0;) got.append(buf, n);
    });
    EXPECT_EQ("", message);
    EXPECT_EQ(text, got);
  }
  std::remove("/tmp/trace_align_formats_test");
}

INSTANTIATE_TEST_SUITE_P(Formats, CompressedInputTest, ::testing::ValuesIn(kFormats),
                         [](const auto& info) { return std::string(info.param.name); });

class StreamInputTest : public ScratchTest {};

// A FIFO written by another process: read once, the same outputs.
TEST_F(StreamInputTest, FifoWrittenByAnotherProcess) {
  ASSERT_EQ(0, mkfifo("rd.fifo", 0600));
  std::thread writer([] {
    int fd = open("rd.fifo", O_WRONLY);
    std::string text = ReadFile(kExamples + "rd.txt");
    for (size_t at = 0; at < text.size(); at += 100)  // in small pieces
      if (write(fd, text.data() + at, std::min<size_t>(100, text.size() - at)) < 0) break;
    close(fd);
  });
  RunResult r =
      RunTool({kExamples + "sd0.txt", kExamples + "sd1.txt", kExamples + "sd2.txt", "rd.fifo"});
  writer.join();
  EXPECT_EQ("", r.out);
  for (const char* name : kOutputNames)
    EXPECT_EQ(ReadFile(kExamples + "expected/" + name), ReadFile(name)) << name;
}

TEST_F(StreamInputTest, HelpAndVersionAreTheOnlyArgument) {
  RunResult version = RunTool({"--version"});
  EXPECT_EQ(0, version.status);
  EXPECT_EQ(std::string("trace_align ") + TRACE_ALIGN_VERSION + "\n", version.out);
  RunResult help = RunTool({"--help"});
  EXPECT_EQ(0, help.status);
  EXPECT_NE(std::string::npos, help.out.find("usage: trace_align SD0 SD1 SD2 RD\n"));
  EXPECT_NE(std::string::npos, help.out.find("man trace_align"));
  EXPECT_EQ("check input files and try again\n", RunTool({"--help", "--version"}).out);
  EXPECT_EQ("can't open file --version\n", RunTool({"--version", "a", "b", "c"}).out);
}

}  // namespace
