// The velquor binary on inputs that can be read only once (a FIFO, a pipe as
// /dev/stdin or /dev/fd/N), and on inputs whose kind cannot be told.
#include <fcntl.h>
#include <sys/stat.h>

#include <iomanip>

#include "cli_helpers.h"

namespace velquor::test {
namespace {

using VelquorStreams = CliTest;

constexpr std::int64_t kStart = 1700000000000000;

/// Two inputs "a.EXT" and "b.EXT" of one kind whose records interleave;
/// a.EXT is larger than a pipe holds, so its relay waits for its player.
/// The text inputs start with a byte order mark and the CSV header is in
/// quotes and longer than the bytes that detection looks at.
std::string WriteInputs(const fs::path& dir, const std::string& kind) {
  const auto timeOf = [](int input, int k) { return kStart + k * 10 + input * 5; };
  const int counts[] = {3000, 20};
  if (kind == "pcap") {
    for (int input = 0; input < 2; ++input) {
      std::vector<Packet> packets;
      for (int k = 0; k < counts[input]; ++k) {
        packets.push_back({timeOf(input, k), std::string(90, static_cast<char>('a' + k % 26))});
      }
      WriteFile(dir / (input == 0 ? "a.pcap" : "b.pcap"), Pcap(packets));
    }
    return "pcap";
  }
  const bool csv = kind == "csv";
  const std::string header = "\"timestamp_us\",\"speed\",\"" + std::string(5000, 'n') + "\"\n";
  for (int input = 0; input < 2; ++input) {
    std::ofstream out(dir / ((input == 0 ? "a." : "b.") + kind), std::ios::binary);
    out << "\xEF\xBB\xBF" << (csv ? header : "");
    for (int k = 0; k < counts[input]; ++k) {
      const std::int64_t t = timeOf(input, k);
      if (csv) {
        out << t << ',' << k << ',' << input << '\n';
      } else {
        out << '(' << t / 1000000 << '.' << std::setw(6) << std::setfill('0') << t % 1000000
            << ") can" << input << ' ' << 100 + k % 600 << "#DEADBEEF\n";
      }
    }
  }
  return kind;
}

// A stream merges as its file does: detection's bytes reach the player, the
// link type and a CSV header are read from them, and the rest is relayed.
TEST_F(VelquorStreams, AStreamInputMergesAsItsFileDoes) {
  ASSERT_EQ(mkfifo((dir / "a.fifo").c_str(), 0600), 0);
  for (const std::string kind : {"pcap", "log", "csv"}) {
    const std::string ext = WriteInputs(dir, kind);
    const Result ref = Velquor("merge -q -w ref." + ext + " a." + ext + " b." + ext);
    ASSERT_EQ(ref.status, 0) << ref.err;
    const std::string expected = Read("ref." + ext);
    const std::string ways[] = {
        "cat a." + ext + " > a.fifo & velquor merge -q -w out." + ext + " a.fifo b." + ext,
        "cat a." + ext + " | velquor merge -q -w out." + ext + " /dev/stdin b." + ext,
        // What <(cat a.EXT) gives: a pipe as /dev/fd/N.
        "cat a." + ext + " | velquor merge -q -w out." + ext + " /dev/fd/3 b." + ext +
            " 3<&0 0</dev/null"};
    for (const std::string& way : ways) {
      SCOPED_TRACE(way);
      fs::remove(dir / ("out." + ext));
      const Result r = Shell(way);
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_TRUE(Read("out." + ext) == expected) << "not the merge of the files";
    }
  }
}

// Ctrl-C ends a merge whatever stream it waits on: one that has sent
// nothing (detection waits) or one that stalls after its header (a player
// waits): status 130, and neither the output nor its temporary file is
// left.
TEST_F(VelquorStreams, CtrlCEndsAMergeWaitingOnAStream) {
  for (const std::string& sent : {std::string(), Pcap({})}) {
    SCOPED_TRACE(sent.empty() ? "nothing sent" : "a header sent");
    const fs::path fifo = dir / "in.fifo";
    fs::remove(fifo);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    Spawned velquor(
        {VELQUOR_CLI, "merge", "--verbose", "-w", (dir / "out.pcap").string(), fifo.string()});
    ASSERT_TRUE(velquor.Started());
    // Opening the writing end waits for the merge to open the FIFO, which
    // it does once a signal no longer kills it.
    const int writer = open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    if (!sent.empty()) {
      ASSERT_EQ(write(writer, sent.data(), sent.size()), static_cast<ssize_t>(sent.size()));
      EXPECT_TRUE(velquor.ReadUntil("diagram started", 20)) << velquor.text;
      EXPECT_EQ(Temporaries(), 1) << "the merge has not begun";
    }
    const int status = velquor.Interrupt({SIGINT});
    close(writer);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << status << "\n" << velquor.text;
    EXPECT_NE(velquor.text.find("interrupted"), std::string::npos) << velquor.text;
    EXPECT_EQ(Temporaries(), 0);
    EXPECT_FALSE(Exists("out.pcap"));
  }
}

// Inputs whose kind cannot be told fail before anything is written, with a
// message that names the input and says what is wrong with it.
TEST_F(VelquorStreams, DetectionSaysWhatIsWrongWithAnInput) {
  fs::create_directories(dir / "folder");
  Write("long.txt", std::string(5000, 'x') + "\n1,2\n");
  Write("empty.pcap", "");
  Write("notes.txt", "nothing to merge here\n");
  Write("b.log", "(1700000000.000001) can0 123#00\n");
  struct Case {
    const char* line;
    const char* says;
  };
  const Case cases[] = {
      {"velquor merge -w out.log folder", "'folder': it is a directory"},
      {"velquor merge -w out.log long.txt", "'long.txt': its first line is longer than 4096 bytes"},
      {"velquor merge -w out.log empty.pcap", "'empty.pcap': it is empty"},
      {"velquor merge -w out.log notes.txt", "'notes.txt': unrecognised content"},
      {"velquor merge -w out.log missing.pcap", "'missing.pcap': cannot open it"},
      {"cat b.log | velquor merge -w out.log /dev/stdin /dev/fd/0",
       "'/dev/fd/0': it is the same stream as the input '/dev/stdin'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const Result r = Shell(c.line);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_FALSE(Exists("out.log"));
  }
}

}  // namespace
}  // namespace velquor::test
