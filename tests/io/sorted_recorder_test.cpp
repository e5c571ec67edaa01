// Live ByteStreamPlayers at different rates and chunk sizes -> SortedRecorder
// in the real engine: every byte of every stream is recorded in its stream's
// order, the lines follow timestamp order except those flagged unsorted,
// the totals match the flags, and the recorder ends by itself once every
// connected stream has ended (an unconnected one counts as ended), never
// before its last sample, even when its end of file carries the same time.
// Whether a sample comes late depends on scheduling: only consistency is
// asserted.
#include <algorithm>
#include <sstream>
#include <vector>

#include "stream_diagram_support.h"

namespace velquor::test {
namespace {

struct Line {
  long timestamp = 0;
  int input = 0;
  std::string flags;
  std::string kind;
  std::string values;
};

std::vector<Line> ParseLines(const std::string& text) {
  std::vector<Line> lines;
  std::istringstream in(text);
  for (std::string row; std::getline(in, row);) {
    if (row.empty() || row[0] == '#') continue;
    std::istringstream fields(row);
    Line line;
    fields >> line.timestamp >> line.input >> line.flags >> line.kind;
    std::getline(fields >> std::ws, line.values);
    lines.push_back(line);
  }
  return lines;
}

using SortedRecorder = StreamDiagram;

std::string FromHex(const std::string& hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  return bytes;
}

TEST_F(SortedRecorder, KeepsEveryByteAndFlagsWhatIsOutOfOrder) {
  struct Stream {
    std::size_t size;
    long rate;
    long chunk;
  };
  // 50 to 80 ms each; at most 12 samples of a stream fall within the
  // latency, fewer than a player's FIFO holds.
  const Stream streams[] = {{3000, 40000, 400}, {2000, 25000, 250}, {1000, 20000, 37}};
  constexpr int kStreams = 3;
  constexpr int kInputs = kStreams + 1;  // the last stream is left unconnected
  Create("SortedRecorder", "rec");
  Set("rec", "path", File("sorted.txt"));
  Set("rec", "nb_inputs", static_cast<long>(kInputs));
  Set("rec", "max_latency", 20000L);
  for (int i = 0; i < kStreams; ++i) {
    const std::string name = "play" + std::to_string(i);
    const std::string path = File(name + ".bin");
    WriteFile(path, Bytes(streams[i].size, i));
    Player(name, path, streams[i].rate, streams[i].chunk);
    Connect(name + ".output", "rec.input_" + std::to_string(i));
    Connect(name + ".end_of_file", "rec.iEndOfFile_" + std::to_string(i));
  }
  Run();
  EXPECT_EQ(Errors(), "");

  const std::vector<Line> lines = ParseLines(ReadFile(File("sorted.txt")));
  std::string bytes[kStreams];
  int ends[kStreams] = {};
  long late = 0;
  long unsorted = 0;
  long latest = 0;
  for (const Line& line : lines) {
    SCOPED_TRACE(std::to_string(line.timestamp) + " " + std::to_string(line.input));
    const bool isUnsorted = line.flags.find('U') != std::string::npos;
    EXPECT_EQ(isUnsorted, line.timestamp < latest) << "flagged unsorted iff behind a line before";
    latest = std::max(latest, line.timestamp);
    unsorted += isUnsorted;
    late += line.flags.find('L') != std::string::npos;
    ASSERT_TRUE((line.input >= 0 && line.input < kStreams) ||
                (line.input >= kInputs && line.input < kInputs + kStreams));
    if (line.input < kStreams) {
      EXPECT_EQ(line.kind, "stream8");
      bytes[line.input] += FromHex(line.values);
    } else {
      EXPECT_EQ(line.kind + " " + line.values, "int64 1");
      ++ends[line.input - kInputs];
    }
  }
  for (int i = 0; i < kStreams; ++i) {
    SCOPED_TRACE(i);
    EXPECT_TRUE(bytes[i] == Bytes(streams[i].size, i)) << "bytes lost, added or reordered";
    EXPECT_EQ(ends[i], 1);
  }
  EXPECT_EQ(Integer("rec", "samples"), static_cast<long>(lines.size()));
  EXPECT_EQ(Integer("rec", "late"), late);
  EXPECT_EQ(Integer("rec", "unsorted"), unsorted);
  EXPECT_TRUE(ReportHas(std::to_string(lines.size()) + " samples recorded in", DAXO::Info));
}

TEST_F(SortedRecorder, KeepsTheLastSampleOfAStreamWhoseEndCarriesItsTime) {
  // A CSV player stamps its end of file with its last row's time: the two
  // may leave the queue in either order, and the last row must be written.
  WriteFile(File("in.csv"), "timestamp_us,a,b\n5,0.5,-1e-300\n6,42,3\n");
  Create("CsvPlayer", "csv");
  Set("csv", "path", File("in.csv"));
  Create("SortedRecorder", "rec");
  Set("rec", "path", File("sorted.txt"));
  Set("rec", "nb_inputs", 1L);
  Connect("csv.output", "rec.input_0");
  Connect("csv.end_of_file", "rec.iEndOfFile_0");
  Run();
  EXPECT_EQ(Errors(), "");
  std::string data;
  std::string ends;
  for (const Line& line : ParseLines(ReadFile(File("sorted.txt")))) {
    const std::string text = std::to_string(line.timestamp) + " " + line.kind + " " + line.values;
    (line.input == 0 ? data : ends) += text + "\n";
  }
  EXPECT_EQ(data, "5 float64 0.5 -1e-300\n6 float64 42 3\n");
  EXPECT_EQ(ends, "6 int64 1\n");
}

}  // namespace
}  // namespace velquor::test
