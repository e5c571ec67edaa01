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
#include <sstream>
#include <string>
#include <vector>

#include "daxo_component.h"
#include "daxo_property.h"
#include "engine_test_support.h"

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

std::uint32_t Swap(std::uint32_t v) {
  return __builtin_bswap32(v);
}

/// Writes a capture by hand, in the byte order and time unit asked.
void WriteCapture(const std::string& path, const std::vector<Packet>& packets, Layout layout,
                  std::uint32_t linkType = 1) {
  std::string out;
  auto put32 = [&](std::uint32_t v, bool swap) {
    if (swap) v = Swap(v);
    out.append(reinterpret_cast<const char*>(&v), 4);
  };
  auto put16 = [&](std::uint16_t v, bool swap) {
    if (swap) v = static_cast<std::uint16_t>((v >> 8) | (v << 8));
    out.append(reinterpret_cast<const char*>(&v), 2);
  };
  if (layout == Layout::PcapNg) {
    put32(0x0A0D0D0A, false);  // section header
    put32(28, false);
    put32(0x1A2B3C4D, false);
    put16(1, false);
    put16(0, false);
    put32(0xFFFFFFFF, false);
    put32(0xFFFFFFFF, false);
    put32(28, false);
    put32(1, false);  // interface description, default µs resolution
    put32(20, false);
    put16(static_cast<std::uint16_t>(linkType), false);
    put16(0, false);
    put32(262144, false);
    put32(20, false);
    for (const Packet& p : packets) {
      const auto padded = static_cast<std::uint32_t>((p.bytes.size() + 3) / 4 * 4);
      const std::uint32_t total = 32 + padded;
      const auto t = static_cast<std::uint64_t>(p.time);
      put32(6, false);  // enhanced packet
      put32(total, false);
      put32(0, false);
      put32(static_cast<std::uint32_t>(t >> 32), false);
      put32(static_cast<std::uint32_t>(t), false);
      put32(static_cast<std::uint32_t>(p.bytes.size()), false);
      put32(p.len, false);
      out.append(reinterpret_cast<const char*>(p.bytes.data()), p.bytes.size());
      out.append(padded - p.bytes.size(), '\0');
      put32(total, false);
    }
  } else {
    const bool swap = layout == Layout::MicroSwapped || layout == Layout::NanoSwapped;
    const bool nano = layout == Layout::Nano || layout == Layout::NanoSwapped;
    put32(nano ? 0xA1B23C4D : 0xA1B2C3D4, swap);
    put16(2, swap);
    put16(4, swap);
    put32(0, swap);
    put32(0, swap);
    put32(65535, swap);
    put32(linkType, swap);
    for (const Packet& p : packets) {
      put32(static_cast<std::uint32_t>(p.time / 1000000), swap);
      const auto fraction = static_cast<std::uint32_t>(p.time % 1000000);
      put32(nano ? fraction * 1000 + 789 : fraction, swap);
      put32(static_cast<std::uint32_t>(p.bytes.size()), swap);
      put32(p.len, swap);
      out.append(reinterpret_cast<const char*>(p.bytes.data()), p.bytes.size());
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

std::string ReadText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

class IoPackage : public EngineTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(engine.LoadPackage(VELQUOR_IO_PCK));
    ASSERT_TRUE(engine.LoadPackage(VELQUOR_SORTING_MULTIPLEXER_PCK));
    char pattern[] = "/tmp/velquor_io_testXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
  }
  void TearDown() override {
    engine.ShutdownDiagram();
    std::filesystem::remove_all(dir);
  }

  std::string File(const std::string& name) const { return dir + "/" + name; }

  DAXOProperty* Property(const std::string& component, const std::string& name) {
    return static_cast<DAXOProperty*>(
        engine.FindSymbol(component + "." + name, DAXOSymbolKind::Property));
  }
  void Set(const std::string& component, const std::string& name, const std::string& value) {
    DAXOProperty* p = Property(component, name);
    ASSERT_NE(p, nullptr) << component << "." << name;
    p->Set(value.c_str());
  }
  void Set(const std::string& component, const std::string& name, long value) {
    DAXOProperty* p = Property(component, name);
    ASSERT_NE(p, nullptr) << component << "." << name;
    p->Set(static_cast<DAXOInt64>(value));
  }
  long Integer(const std::string& component, const std::string& name) {
    DAXOProperty* p = Property(component, name);
    return p != nullptr ? p->IntegerValue() : -1;
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

  void Run() {
    ASSERT_TRUE(engine.StartDiagram());
    ASSERT_EQ(engine.RunDiagram(60 * kSecond), RunEnd::AllDead);
  }

  bool ErrorNamed(const std::vector<std::string>& parts) {
    return reports->Contains([&](const ReportRecord& r) {
      if (r.level != DAXO::Error) return false;
      return std::all_of(parts.begin(), parts.end(),
                         [&](const std::string& s) { return r.text.find(s) != std::string::npos; });
    });
  }
  std::string Errors() {
    std::string all;
    for (const ReportRecord& r : reports->Reports()) {
      if (r.level == DAXO::Error) all += r.text + "\n";
    }
    return all;
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

  std::string dir;
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

TEST_F(IoPackage, PcapStreamsMergeInTimeOrderWithExactlyTheirPackets) {
  std::vector<Packet> all;
  std::vector<std::string> players;
  for (int i = 0; i < 3; ++i) {
    const std::vector<Packet> in = MakePackets(i, 400 + 50 * i, 1700000000000000 + 7 * i, 20);
    all.insert(all.end(), in.begin(), in.end());
    WriteCapture(File("in" + std::to_string(i)), in, i == 1 ? Layout::PcapNg : Layout::Micro);
    players.push_back("play" + std::to_string(i));
    Player("PcapFilePlayer", players.back(), File("in" + std::to_string(i)));
    Set(players.back(), "batch_size", 33L);
  }
  Multiplexer(players);
  Recorder("PcapFileRecorder", File("out.pcap"), "mux");
  Run();
  EXPECT_EQ(Errors(), "");

  const Capture out = ReadCapture(File("out.pcap"));
  ASSERT_TRUE(out.ok);
  ASSERT_EQ(out.packets.size(), all.size());
  for (size_t i = 1; i < out.packets.size(); ++i) {
    ASSERT_LE(out.packets[i - 1].time, out.packets[i].time) << "at packet " << i;
  }
  std::vector<Packet> sorted = out.packets;
  std::sort(sorted.begin(), sorted.end());
  std::sort(all.begin(), all.end());
  EXPECT_TRUE(sorted == all);
  EXPECT_EQ(Integer("rec", "out_of_order"), 0);
  EXPECT_EQ(Integer("rec", "packets"), static_cast<long>(all.size()));
}

TEST_F(IoPackage, AnEmptyCaptureGivesAnEmptyCapture) {
  WriteCapture(File("in.pcap"), {}, Layout::Micro);
  Player("PcapFilePlayer", "play", File("in.pcap"));
  Recorder("PcapFileRecorder", File("out.pcap"), "play");
  Run();
  EXPECT_EQ(Errors(), "");
  const Capture out = ReadCapture(File("out.pcap"));
  EXPECT_TRUE(out.ok);
  EXPECT_TRUE(out.packets.empty());
}

TEST_F(IoPackage, BadCapturesStopThePlayerWithTheFileAndPacketNamed) {
  const std::vector<Packet> good = MakePackets(0, 3, 1700000000000000, 10);
  WriteCapture(File("good.pcap"), good, Layout::Micro);
  const std::string bytes = ReadText(File("good.pcap"));
  WriteText(File("magic.pcap"), "this is not a capture file at all, only text\n");
  WriteText(File("header.pcap"), bytes.substr(0, 10));
  WriteText(File("packet.pcap"), bytes.substr(0, bytes.size() - 5));  // in packet 3
  std::vector<Packet> huge = good;
  huge[1].bytes.assign(300000, 0xAB);
  huge[1].len = 300000;
  WriteCapture(File("huge.pcap"), huge, Layout::Micro);

  struct Case {
    const char* file;
    const char* packet;
  };
  const Case cases[] = {{"magic.pcap", nullptr},
                        {"header.pcap", nullptr},
                        {"packet.pcap", "packet 3: "},
                        {"huge.pcap", "packet 2: "},
                        {"missing.pcap", nullptr}};
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    reports->Clear();
    const std::string name = "play" + std::to_string(n++);
    Player("PcapFilePlayer", name, File(c.file));
    ASSERT_TRUE(engine.StartComponent(name));
    ASSERT_EQ(engine.RunDiagram(kGenerous), RunEnd::AllDead);
    std::vector<std::string> parts = {"velquor_io: " + File(c.file) + ": "};
    if (c.packet != nullptr) parts.emplace_back(c.packet);
    EXPECT_TRUE(ErrorNamed(parts)) << Errors();
  }
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
  WriteText(File("in.log"), kCanLog);
  Player("CanLogPlayer", "play", File("in.log"));
  Recorder("CanLogRecorder", File("out.log"), "play");
  Run();
  EXPECT_EQ(Errors(), "");
  EXPECT_EQ(ReadText(File("out.log")), kCanLog);
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
  WriteText(File("a.log"), a);
  WriteText(File("b.log"), b);
  Player("CanLogPlayer", "pa", File("a.log"));
  Player("CanLogPlayer", "pb", File("b.log"));
  Multiplexer({"pa", "pb"});
  Recorder("CanLogRecorder", File("out.log"), "mux");
  Run();
  EXPECT_EQ(Errors(), "");
  std::sort(expected.begin(), expected.end());
  std::string merged;
  for (const auto& e : expected) merged += e.second;
  EXPECT_EQ(ReadText(File("out.log")), merged);
  EXPECT_EQ(Integer("rec", "packets"), 1200);
}

// --- CSV ---------------------------------------------------------------------------------

TEST_F(IoPackage, ACsvSeriesComesBackWithItsHeaderAndExactValues) {
  WriteText(File("in.csv"),
            "timestamp_us,speed,temp\n"
            "1700000000000000,0.1,-40\n"
            "\n"
            "1700000000100000,1e-300,3.25\r\n"
            "1700000000050000,123456789.125,-0\n");
  Player("CsvPlayer", "play", File("in.csv"));
  Recorder("CsvRecorder", File("out.csv"), "play");
  Run();
  EXPECT_EQ(Errors(), "");
  EXPECT_EQ(ReadText(File("out.csv")),
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
  WriteText(File("x.csv"), x);
  WriteText(File("y.csv"), y);
  Player("CsvPlayer", "px", File("x.csv"));
  Player("CsvPlayer", "py", File("y.csv"));
  Multiplexer({"px", "py"});
  Recorder("CsvRecorder", File("out.csv"), "mux");
  Run();
  EXPECT_EQ(Errors(), "");
  std::string merged = header + "\n";
  for (const std::string& r : rows) merged += r + "\n";
  EXPECT_EQ(ReadText(File("out.csv")), merged);
}

// --- faults ------------------------------------------------------------------------------

TEST_F(IoPackage, MalformedTextLinesStopThePlayerWithTheFileAndLineNamed) {
  WriteText(File("bad.log"), "(1.000000) can0 123#00\n(1.000001) can0 123#0\n");
  WriteText(File("bad.csv"), "timestamp_us,a\n5,1\n6,x\n");
  WriteText(File("zero.csv"), "timestamp_us,a\n5,1\n7,2\n0,3\n");
  WriteText(File("header.csv"), "time,a\n5,1\n");
  struct Case {
    const char* model;
    const char* file;
    const char* line;
  };
  const Case cases[] = {{"CanLogPlayer", "bad.log", "line 2: "},
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
    EXPECT_TRUE(ErrorNamed({"velquor_io: " + File(c.file) + ": " + c.line})) << Errors();
  }
}

TEST_F(IoPackage, UnwritableOutputsStopTheRecorderWithTheFileNamed) {
  WriteCapture(File("in.pcap"), MakePackets(0, 50, 1700000000000000, 10), Layout::Micro);
  WriteText(File("in.log"), kCanLog);
  WriteText(File("in.csv"), "timestamp_us,a\n5,1\n");
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
    EXPECT_TRUE(ErrorNamed({"velquor_io: " + c.output + ": "})) << Errors();
    ASSERT_TRUE(engine.DestroyComponent("rec"));
    ASSERT_TRUE(engine.DestroyComponent("play"));
  }
}

}  // namespace
}  // namespace velquor::test
