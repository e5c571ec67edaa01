// The velquor_io package in whole runs of the real engine: players feeding
// recorders directly and through the SortingMultiplexer package, on files
// written here in every variant the players accept; bad inputs and
// unwritable outputs end in a component error that names the file.
#include <pcap/pcap.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "daxo_component.h"
#include "daxo_property.h"
#include "stream_diagram_support.h"

namespace velquor::test {
namespace {

struct Packet {
  std::int64_t time = 0;  // µs (the nanosecond files add 789 ns, cut on reading)
  std::uint32_t len = 0;
  std::vector<std::uint8_t> bytes;
  bool operator==(const Packet& o) const {
    return time == o.time && len == o.len && bytes == o.bytes;
  }
  bool operator<(const Packet& o) const { return time != o.time ? time < o.time : bytes < o.bytes; }
};

std::vector<Packet> MakePackets(int stream, int count, std::int64_t start, std::int64_t step) {
  std::vector<Packet> packets(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    Packet& p = packets[static_cast<size_t>(i)];
    p.time = start + step * i;
    p.bytes.resize(static_cast<size_t>(14 + (i * 37 + stream * 11) % 300));
    for (size_t b = 0; b < p.bytes.size(); ++b) {
      p.bytes[b] = static_cast<std::uint8_t>(stream * 31 + i * 7 + static_cast<int>(b));
    }
    p.len = static_cast<std::uint32_t>(p.bytes.size() + (i % 3));
  }
  return packets;
}

enum class Layout { Micro, MicroSwapped, Nano, NanoSwapped, PcapNg };

/// Writes a capture by hand, in the byte order and time unit asked.
void WriteCapture(const std::string& path, const std::vector<Packet>& packets, Layout layout,
                  std::uint32_t linkType = 1) {
  const bool swap = layout == Layout::MicroSwapped || layout == Layout::NanoSwapped;
  const bool nano = layout == Layout::Nano || layout == Layout::NanoSwapped;
  std::string out;
  const auto put = [&](std::initializer_list<std::uint32_t> words) {
    for (std::uint32_t v : words) {
      if (swap) v = __builtin_bswap32(v);
      out.append(reinterpret_cast<const char*>(&v), 4);
    }
  };
  // Two 16-bit fields in one word, `a` first in the file.
  const auto halves = [&](std::uint32_t a, std::uint32_t b) {
    return swap ? (a << 16) | b : (b << 16) | a;
  };
  const auto bytes = [&](const Packet& p) {
    out.append(reinterpret_cast<const char*>(p.bytes.data()), p.bytes.size());
  };
  const auto caplen = [](const Packet& p) { return static_cast<std::uint32_t>(p.bytes.size()); };
  if (layout == Layout::PcapNg) {
    // A section header, then an interface (default µs resolution).
    put({0x0A0D0D0A, 28, 0x1A2B3C4D, halves(1, 0), ~0u, ~0u, 28});
    put({1, 20, halves(linkType, 0), 262144, 20});
    for (const Packet& p : packets) {
      const std::uint32_t padded = (caplen(p) + 3) / 4 * 4;
      const auto t = static_cast<std::uint64_t>(p.time);
      put({6, 32 + padded, 0, static_cast<std::uint32_t>(t >> 32), static_cast<std::uint32_t>(t),
           caplen(p), p.len});
      bytes(p);
      out.append(padded - caplen(p), '\0');
      put({32 + padded});
    }
  } else {
    put({nano ? 0xA1B23C4D : 0xA1B2C3D4, halves(2, 4), 0, 0, 65535, linkType});
    for (const Packet& p : packets) {
      const auto fraction = static_cast<std::uint32_t>(p.time % 1000000);
      put({static_cast<std::uint32_t>(p.time / 1000000), nano ? fraction * 1000 + 789 : fraction,
           caplen(p), p.len});
      bytes(p);
    }
  }
  std::ofstream(path, std::ios::binary) << out;
}

struct Capture {
  bool ok = false;
  std::uint32_t magic = 0;
  int linkType = 0;
  std::vector<Packet> packets;
};

Capture ReadCapture(const std::string& path) {
  Capture c;
  std::ifstream file(path, std::ios::binary);
  file.read(reinterpret_cast<char*>(&c.magic), 4);
  char errors[PCAP_ERRBUF_SIZE];
  pcap_t* p = pcap_open_offline(path.c_str(), errors);
  if (p == nullptr) return c;
  c.linkType = pcap_datalink(p);
  pcap_pkthdr* h = nullptr;
  const u_char* data = nullptr;
  while (pcap_next_ex(p, &h, &data) == 1) {
    c.packets.push_back({static_cast<std::int64_t>(h->ts.tv_sec) * 1000000 + h->ts.tv_usec, h->len,
                         std::vector<std::uint8_t>(data, data + h->caplen)});
  }
  pcap_close(p);
  c.ok = true;
  return c;
}

class IoPackage : public StreamDiagram {
 protected:
  void SetUp() override {
    StreamDiagram::SetUp();
    ASSERT_TRUE(engine.LoadPackage(VELQUOR_SORTING_MULTIPLEXER_PCK));
  }

  /// A player of `model` named `name` reading `path`.
  void Player(const std::string& model, const std::string& name, const std::string& path) {
    ASSERT_TRUE(engine.CreateComponent(model, name));
    Set(name, "path", path);
  }
  /// A recorder of `model` named "rec" writing `path`, fed by `source`.
  void Recorder(const std::string& model, const std::string& path, const std::string& source) {
    ASSERT_TRUE(engine.CreateComponent(model, "rec"));
    Set("rec", "path", path);
    ASSERT_TRUE(engine.Connect(source + ".output", "rec.input"));
    ASSERT_TRUE(engine.Connect(source + ".end_of_file", "rec.end_of_file"));
  }
  /// `players` -> SortingMultiplexer "mux" (holding everything back until
  /// the end, so that the order never depends on scheduling).
  void Multiplexer(const std::vector<std::string>& players) {
    ASSERT_TRUE(engine.CreateComponent("SortingMultiplexer", "mux"));
    Set("mux", "nb_inputs", static_cast<long>(players.size()));
    Set("mux", "buffer_packet_count", 1000000L);
    Set("mux", "vector_max_size", 1024L);
    Set("mux", "flush_delay", 1000L);
    for (size_t i = 0; i < players.size(); ++i) {
      ASSERT_TRUE(engine.Connect(players[i] + ".output", "mux.input_" + std::to_string(i)));
      ASSERT_TRUE(
          engine.Connect(players[i] + ".end_of_file", "mux.iEndOfFile_" + std::to_string(i)));
    }
  }

  /// Merges the text files `inputs` (played by `player`) through the
  /// multiplexer into "out" (written by `recorder`); returns what it wrote.
  std::string MergeTexts(const std::string& player, const std::string& recorder,
                         const std::vector<std::string>& inputs) {
    std::vector<std::string> players;
    for (const std::string& input : inputs) {
      players.push_back("play" + std::to_string(players.size()));
      Player(player, players.back(), File(input));
    }
    Multiplexer(players);
    Recorder(recorder, File("out"), "mux");
    Run();
    EXPECT_EQ(Errors(), "");
    return ReadFile(File("out"));
  }
  /// Plays `in` (written as `layout`) straight into a PcapFileRecorder with
  /// "batch_size" `batch`; returns what it wrote.
  Capture PlayAndRecord(const std::vector<Packet>& in, Layout layout, long batch,
                        std::uint32_t linkType = 1) {
    WriteCapture(File("in"), in, layout, linkType);
    Player("PcapFilePlayer", "play", File("in"));
    Set("play", "batch_size", batch);
    Recorder("PcapFileRecorder", File("out.pcap"), "play");
    Run();
    EXPECT_EQ(Errors(), "");
    return ReadCapture(File("out.pcap"));
  }
};

// --- PCAP ---------------------------------------------------------------------------

class PcapRoundTrip : public IoPackage, public ::testing::WithParamInterface<Layout> {};

TEST_P(PcapRoundTrip, EveryPacketComesBackInAMicrosecondPcapWithItsLinkType) {
  std::vector<Packet> in = MakePackets(0, 300, 1700000000000000, 1500);
  std::swap(in[100], in[101]);  // one step of 1500 µs backwards
  const Capture out = PlayAndRecord(in, GetParam(), 7, 105);
  ASSERT_TRUE(out.ok);
  EXPECT_EQ(out.magic, 0xA1B2C3D4u) << "native byte order, microseconds";
  EXPECT_EQ(out.linkType, 105);
  EXPECT_TRUE(out.packets == in);
  EXPECT_EQ(Integer("play", "packets"), 300);
  EXPECT_EQ(Integer("rec", "packets"), 300);
  EXPECT_EQ(Integer("rec", "out_of_order"), 1);
  EXPECT_EQ(Integer("rec", "max_backwards_us"), 1500);
}

INSTANTIATE_TEST_SUITE_P(AllLayouts, PcapRoundTrip,
                         ::testing::Values(Layout::Micro, Layout::MicroSwapped, Layout::Nano,
                                           Layout::NanoSwapped, Layout::PcapNg));

TEST_F(IoPackage, APacketThatDoesNotFitItsSampleStartsTheNextOne) {
  // About 320 KB of packets and no packet limit: samples end when their
  // 128 KiB buffer is full, and the packet read but left out opens the next.
  const std::vector<Packet> in = MakePackets(0, 2000, 1700000000000000, 10);
  const Capture out = PlayAndRecord(in, Layout::Micro, 65535);
  ASSERT_TRUE(out.ok);
  EXPECT_TRUE(out.packets == in);
  EXPECT_EQ(Integer("play", "packets"), 2000);
}

TEST_F(IoPackage, CaptureSamplesStayWithinSampleBytes) {
  // Two players of the same file, each sample cut by "sample_bytes" alone;
  // a SortedRecorder writes one line per sample it is handed. Every packet
  // is stamped 0: the recorder drops samples stamped ahead of engine time,
  // and the players run far ahead of it.
  const std::vector<Packet> in = MakePackets(0, 2000, 0, 0);
  WriteCapture(File("in"), in, Layout::Micro);
  std::size_t total = 0;
  std::size_t largest = 0;
  for (const Packet& p : in) {
    const std::size_t record = 24 + p.bytes.size();  // the stream's packet header, the bytes
    total += record;
    largest = std::max(largest, record);
  }
  const long caps[] = {4096, 16384};
  ASSERT_TRUE(engine.CreateComponent("SortedRecorder", "rec"));
  Set("rec", "nb_inputs", 2L);
  Set("rec", "path", File("samples.txt"));
  for (int i = 0; i < 2; ++i) {
    const std::string name = "play" + std::to_string(i);
    Player("PcapFilePlayer", name, File("in"));
    Set(name, "batch_size", 65535L);
    Set(name, "sample_bytes", caps[i]);
    ASSERT_TRUE(engine.Connect(name + ".output", "rec.input_" + std::to_string(i)));
    ASSERT_TRUE(engine.Connect(name + ".end_of_file", "rec.iEndOfFile_" + std::to_string(i)));
  }
  Run();
  EXPECT_EQ(Errors(), "");
  std::size_t samples[2] = {0, 0};
  std::istringstream lines(ReadFile(File("samples.txt")));
  for (std::string line; std::getline(lines, line);) {
    long time = 0;
    int input = -1;
    if (line.empty() || line[0] == '#') continue;
    std::istringstream(line) >> time >> input;
    if (input == 0 || input == 1) ++samples[input];
  }
  for (int i = 0; i < 2; ++i) {
    const auto cap = static_cast<std::size_t>(caps[i]);
    SCOPED_TRACE(cap);
    // Never more than the cap, and each sample but the last filled to
    // within one packet of it.
    EXPECT_GE(samples[i], (total + cap - 1) / cap);
    EXPECT_LE(samples[i], total / (cap - largest) + 1);
  }

  // Outside 1 KiB .. 64 MiB the player refuses to start.
  reports->Clear();
  Player("PcapFilePlayer", "tiny", File("in"));
  Set("tiny", "sample_bytes", 1023L);
  ASSERT_TRUE(engine.StartComponent("tiny"));
  ASSERT_EQ(engine.RunDiagram(kGenerous), RunEnd::AllDead);
  EXPECT_TRUE(ReportHas("velquor_io: sample_bytes must be between 1024 and 67108864", DAXO::Error))
      << Errors();
}

TEST_F(IoPackage, AnEmptyCaptureGivesAnEmptyCapture) {
  const Capture out = PlayAndRecord({}, Layout::Micro, 7);
  EXPECT_TRUE(out.ok);
  EXPECT_TRUE(out.packets.empty());
}

// --- candump logs ----------------------------------------------------------------------

const char kCanLog[] =
    "(1436509052.249713) can0 123#DEADBEEF\n"
    "(1436509052.249800) vcan1 1FFFFFFF#0011223344556677\n"
    "(1436509052.250001) can0 456##1AABBCCDDEEFF001122334455\n"
    "(1436509052.250002) can0 12345678##4\n"
    "(1436509052.250003) can0 123#R\n"
    "(1436509052.250004) vcan1 7FF#R5\n"
    "(1436509052.250005) can0 20000080#0000000000000000\n"
    "(1436509052.250004) can0 001#\n"
    "(1436509052.250100) vcan1 0AB#0102030405060708_C\n";

TEST_F(IoPackage, ACandumpLogComesBackByteForByte) {
  WriteFile(File("in.log"), kCanLog);
  Player("CanLogPlayer", "play", File("in.log"));
  Recorder("CanLogRecorder", File("out.log"), "play");
  Run();
  EXPECT_EQ(Errors(), "");
  EXPECT_EQ(ReadFile(File("out.log")), kCanLog);
  EXPECT_EQ(Integer("play", "packets"), 9);
  EXPECT_EQ(Integer("rec", "packets"), 9);
  EXPECT_EQ(Integer("rec", "out_of_order"), 1);
  EXPECT_EQ(Integer("rec", "max_backwards_us"), 1);
}

TEST_F(IoPackage, CandumpLogsMergeInTimeOrderAcrossSamples) {
  // 600 frames per log: each log spans three output samples of a player.
  std::string a, b;
  std::vector<std::pair<std::int64_t, std::string>> expected;
  char line[96];
  for (int i = 0; i < 600; ++i) {
    const std::int64_t ta = 1436509052000000 + 10 * i;
    const std::int64_t tb = ta + 5;
    std::snprintf(line, sizeof line, "(%lld.%06lld) can0 %03X#%02X\n",
                  static_cast<long long>(ta / 1000000), static_cast<long long>(ta % 1000000),
                  i % 0x800, i % 256);
    a += line;
    expected.emplace_back(ta, line);
    std::snprintf(line, sizeof line, "(%lld.%06lld) can1 %08X##1%02X\n",
                  static_cast<long long>(tb / 1000000), static_cast<long long>(tb % 1000000),
                  0x10000 + i, i % 256);
    b += line;
    expected.emplace_back(tb, line);
  }
  WriteFile(File("a.log"), a);
  WriteFile(File("b.log"), b);
  std::sort(expected.begin(), expected.end());
  std::string merged;
  for (const auto& e : expected) merged += e.second;
  EXPECT_EQ(MergeTexts("CanLogPlayer", "CanLogRecorder", {"a.log", "b.log"}), merged);
  EXPECT_EQ(Integer("rec", "packets"), 1200);
}

// --- CSV ---------------------------------------------------------------------------------

TEST_F(IoPackage, ACsvSeriesComesBackWithItsHeaderAndExactValues) {
  WriteFile(File("in.csv"),
            "timestamp_us,speed,temp\n"
            "1700000000000000,0.1,-40\n"
            "\n"
            "1700000000100000,1e-300,3.25\r\n"
            "1700000000050000,123456789.125,-0\n");
  Player("CsvPlayer", "play", File("in.csv"));
  Recorder("CsvRecorder", File("out.csv"), "play");
  Run();
  EXPECT_EQ(Errors(), "");
  EXPECT_EQ(ReadFile(File("out.csv")),
            "timestamp_us,speed,temp\n"
            "1700000000000000,0.10000000000000001,-40\n"
            "1700000000100000,1e-300,3.25\n"
            "1700000000050000,123456789.125,-0\n");
  EXPECT_EQ(Integer("play", "packets"), 3);
  EXPECT_EQ(Integer("rec", "out_of_order"), 1);
  EXPECT_EQ(Integer("rec", "max_backwards_us"), 50000);
}

TEST_F(IoPackage, CsvSeriesMergeInTimeOrder) {
  const std::string header = "timestamp_us,a,b";
  std::string x = header + "\n", y = header + "\n";
  std::vector<std::string> rows;
  for (int i = 0; i < 200; ++i) {
    const std::string rx = std::to_string(1000 + 10 * i) + "," + std::to_string(i) + ",1";
    const std::string ry = std::to_string(1003 + 10 * i) + "," + std::to_string(i) + ",2";
    x += rx + "\n";
    y += ry + "\n";
    rows.push_back(rx);
    rows.push_back(ry);
  }
  WriteFile(File("x.csv"), x);
  WriteFile(File("y.csv"), y);
  std::string merged = header + "\n";
  for (const std::string& r : rows) merged += r + "\n";
  EXPECT_EQ(MergeTexts("CsvPlayer", "CsvRecorder", {"x.csv", "y.csv"}), merged);
}

// --- faults ------------------------------------------------------------------------------

TEST_F(IoPackage, BadInputsStopThePlayerWithTheFileAndWhereNamed) {
  const std::vector<Packet> good = MakePackets(0, 3, 1700000000000000, 10);
  WriteCapture(File("good.pcap"), good, Layout::Micro);
  const std::string bytes = ReadFile(File("good.pcap"));
  WriteFile(File("magic.pcap"), "this is not a capture file at all, only text\n");
  WriteFile(File("header.pcap"), bytes.substr(0, 10));
  WriteFile(File("packet.pcap"), bytes.substr(0, bytes.size() - 5));  // in packet 3
  std::vector<Packet> huge = good;
  huge[1].bytes.assign(300000, 0xAB);
  huge[1].len = 300000;
  WriteCapture(File("huge.pcap"), huge, Layout::Micro);
  WriteFile(File("bad.log"), "(1.000000) can0 123#00\n(1.000001) can0 123#0\n");
  WriteFile(File("bad.csv"), "timestamp_us,a\n5,1\n6,x\n");
  WriteFile(File("zero.csv"), "timestamp_us,a\n5,1\n7,2\n0,3\n");
  WriteFile(File("header.csv"), "time,a\n5,1\n");
  struct Case {
    const char* model;
    const char* file;
    const char* where;
  };
  const Case cases[] = {{"PcapFilePlayer", "magic.pcap", ""},
                        {"PcapFilePlayer", "header.pcap", ""},
                        {"PcapFilePlayer", "packet.pcap", "packet 3: "},
                        {"PcapFilePlayer", "huge.pcap", "packet 2: "},
                        {"PcapFilePlayer", "missing.pcap", ""},
                        {"CanLogPlayer", "bad.log", "line 2: "},
                        {"CsvPlayer", "bad.csv", "line 3: "},
                        {"CsvPlayer", "zero.csv", "line 4: "},
                        {"CsvPlayer", "header.csv", "line 1: "},
                        {"CanLogPlayer", "missing.log", ""}};
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    reports->Clear();
    const std::string name = "play" + std::to_string(n++);
    Player(c.model, name, File(c.file));
    ASSERT_TRUE(engine.StartComponent(name));
    ASSERT_EQ(engine.RunDiagram(kGenerous), RunEnd::AllDead);
    EXPECT_TRUE(ReportHas("velquor_io: " + File(c.file) + ": " + c.where, DAXO::Error)) << Errors();
  }
}

TEST_F(IoPackage, UnwritableOutputsStopTheRecorderWithTheFileNamed) {
  WriteCapture(File("in.pcap"), MakePackets(0, 50, 1700000000000000, 10), Layout::Micro);
  WriteFile(File("in.log"), kCanLog);
  WriteFile(File("in.csv"), "timestamp_us,a\n5,1\n");
  struct Case {
    const char* player;
    const char* recorder;
    const char* input;
    std::string output;
  };
  const Case cases[] = {
      {"PcapFilePlayer", "PcapFileRecorder", "in.pcap", "/dev/full"},
      {"CanLogPlayer", "CanLogRecorder", "in.log", "/dev/full"},
      {"CsvPlayer", "CsvRecorder", "in.csv", "/dev/full"},
      {"CsvPlayer", "CsvRecorder", "in.csv", File("no/such/folder/out.csv")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.recorder + std::string(" ") + c.output);
    reports->Clear();
    Player(c.player, "play", File(c.input));
    Recorder(c.recorder, c.output, "play");
    Run();
    EXPECT_TRUE(ReportHas("velquor_io: " + c.output + ": ", DAXO::Error)) << Errors();
    ASSERT_TRUE(engine.DestroyComponent("rec"));
    ASSERT_TRUE(engine.DestroyComponent("play"));
  }
}

}  // namespace
}  // namespace velquor::test
