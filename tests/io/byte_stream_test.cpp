// ByteStreamPlayer -> ByteStreamRecorder in the real engine: the bytes come
// back identical whatever the chunking, every byte is stamped on the
// player's rate from its start, and bad settings or files end in an error
// that names the file or the setting.
#include <sstream>

#include "stream_diagram_support.h"

namespace velquor::test {
namespace {

struct Trip {
  const char* name;
  std::size_t size;
  long chunk;
  long rate;  // divides 1e6: the per-byte step is exact
};

void PrintTo(const Trip& trip, std::ostream* os) {
  *os << trip.name;
}

using ByteStream = StreamDiagram;

class ByteStreamRoundTrip : public StreamDiagram, public ::testing::WithParamInterface<Trip> {};

TEST_P(ByteStreamRoundTrip, BytesComeBackIdenticalAndStampedOnTheRate) {
  const Trip& trip = GetParam();
  const std::string in = Bytes(trip.size);
  WriteFile(File("in.bin"), in);
  Player("play", File("in.bin"), trip.rate, trip.chunk);
  Create("ByteStreamRecorder", "rec");
  Set("rec", "path", File("out.bin"));
  Set("rec", "timestamps_path", File("out.ts"));
  Connect("play.output", "rec.iStream8");
  Connect("play.end_of_file", "rec.end_of_file");
  const DAXOTimestamp before = StartClock();
  Run();
  EXPECT_EQ(Errors(), "");
  EXPECT_TRUE(ReadFile(File("out.bin")) == in) << "the bytes differ";
  EXPECT_EQ(Integer("play", "bytes"), static_cast<long>(trip.size));
  EXPECT_EQ(Integer("rec", "bytes"), static_cast<long>(trip.size));

  // One line per sample: offsets follow on, each run is a whole chunk but
  // the last, and byte k of the file is stamped start + k * step.
  std::istringstream lines(ReadFile(File("out.ts")));
  std::string header;
  std::getline(lines, header);
  EXPECT_EQ(header, "# offset count first_us last_us");
  const long step = 1000000 / trip.rate;
  long expected = 0;
  DAXOTimestamp start = -1;
  for (long offset, count, first, last; lines >> offset >> count >> first >> last;) {
    if (start < 0) start = first;
    SCOPED_TRACE(offset);
    EXPECT_EQ(offset, expected);
    EXPECT_EQ(count, std::min<long>(trip.chunk, static_cast<long>(trip.size) - offset));
    EXPECT_EQ(first, start + offset * step);
    EXPECT_EQ(last, first + (count - 1) * step);
    expected += count;
  }
  EXPECT_EQ(expected, static_cast<long>(trip.size));
  if (trip.size > 0) {
    EXPECT_GE(start, before);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Chunkings, ByteStreamRoundTrip,
    ::testing::Values(Trip{"ChunkDoesNotDivideTheFile", 3000, 64, 100000},
                      Trip{"OneByteSamples", 300, 1, 50000},
                      // The recorder's FIFO holds 1000 bytes by default.
                      Trip{"SamplesLargerThanTheRecorderFifo", 4000, 1500, 200000},
                      Trip{"ChunkLargerThanTheFile", 100, 4096, 1000000},
                      Trip{"EmptyFile", 0, 64, 100000}),
    [](const ::testing::TestParamInfo<Trip>& info) { return std::string(info.param.name); });

TEST_F(ByteStream, BadSettingsAndFilesEndInAnErrorNamingThem) {
  WriteFile(File("in.bin"), Bytes(100));
  struct Case {
    const char* what;
    std::string input;  // empty: no player
    long chunk;
    long rate;
    std::string output;    // empty: no recorder
    std::string expected;  // in an error report
  };
  const Case cases[] = {
      {"missing input", File("missing.bin"), 8, 1000000, "", "velquor_io: " + File("missing.bin")},
      {"chunk 0", File("in.bin"), 0, 1000000, "", "chunk_size must be between 1 and"},
      {"rate 0", File("in.bin"), 8, 0, "", "byte_rate must be between 1 and"},
      {"no folder", "", 8, 1000000, File("no/such/out.bin"),
       "velquor_io: " + File("no/such/out.bin") + ": "},
      {"full device", File("in.bin"), 8, 1000000, "/dev/full",
       "velquor_io: /dev/full: write error"},
      {"overwrites the input", File("in.bin"), 8, 1000000, File("in.bin"),
       "velquor_io: " + File("in.bin") + ": it is the input"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    reports->Clear();
    if (!c.input.empty()) Player("play", c.input, c.rate, c.chunk);
    if (!c.output.empty()) {
      Create("ByteStreamRecorder", "rec");
      Set("rec", "path", c.output);
    }
    if (!c.input.empty() && !c.output.empty()) {
      Connect("play.output", "rec.iStream8");
      Connect("play.end_of_file", "rec.end_of_file");
    }
    ASSERT_TRUE(engine.StartDiagram());
    ASSERT_EQ(engine.RunDiagram(kGenerous), RunEnd::AllDead);
    EXPECT_NE(Errors().find(c.expected), std::string::npos) << Errors();
    for (const std::string& name : engine.Components()) ASSERT_TRUE(engine.DestroyComponent(name));
  }
  EXPECT_EQ(ReadFile(File("in.bin")), Bytes(100)) << "the refused recorder left the input alone";
}

}  // namespace
}  // namespace velquor::test
