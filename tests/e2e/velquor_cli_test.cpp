// The velquor binary on generated files: its exit codes, inspect, run, and
// whole merges whose output is checked packet by packet against the inputs.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <thread>

#include "cli_helpers.h"

namespace velquor::test {
namespace {

class VelquorCli : public CliTest {
 protected:
  /// `n` inputs in0.pcap.. of `perInput` packets each; the streams
  /// interleave, share some timestamps, and every payload is unique. Their
  /// packets in the one exact merge order (by time, equal times in input
  /// order); their names, each after a blank, in `names`.
  std::vector<Packet> WriteInputs(int n, int perInput, std::string& names) {
    std::vector<Packet> all;
    for (int i = 0; i < n; ++i) {
      std::vector<Packet> packets;
      for (int k = 0; k < perInput; ++k) {
        const std::int64_t us = 1700000000000000 + std::int64_t{k} * 1000 + (i % 3) * 250;
        std::string data = "input " + std::to_string(i) + " packet " + std::to_string(k) + " ";
        data.resize(60 + static_cast<std::size_t>((k * 37 + i) % 300),
                    static_cast<char>('a' + i % 26));
        packets.push_back(Packet{us, data});
      }
      const std::string name = "in" + std::to_string(i) + ".pcap";
      Write(name, Pcap(packets));
      names += " " + name;
      all.insert(all.end(), packets.begin(), packets.end());
    }
    std::stable_sort(all.begin(), all.end(),
                     [](const Packet& a, const Packet& b) { return a.us < b.us; });
    return all;
  }
};

TEST_F(VelquorCli, UsageErrorsExitWithTwo) {
  Write("a.pcap", Pcap({{1, std::string(60, 'x')}}));
  Write("b.csv", "timestamp_us,value\n1,2\n");
  for (const char* args :
       {"", "frobnicate", "merge a.pcap", "merge -w out.pcap",
        "merge -w out.pcap --buffer-count -1 a.pcap",
        "merge -w out.pcap --vector-max-latency 10 a.pcap",
        "merge -w out.pcap --no-such-option a.pcap", "run", "run a b", "merge -w '' a.pcap",
        "merge -w out.pcap --buffer-count 99999999999999999999 a.pcap",
        "merge -w out.pcap --flush-delay 86400000001 a.pcap",
        "merge -w out.pcap --vector-max-size 12abc a.pcap", "merge -w out.pcap a.pcap b.csv"}) {
    SCOPED_TRACE(args);
    const Result r = Velquor(args);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_FALSE(r.err.empty());
  }
  EXPECT_NE(Velquor("merge -w out.pcap a.pcap b.csv").err.find("different kinds"),
            std::string::npos);
  EXPECT_FALSE(Exists("out.pcap"));

  const Result version = Velquor("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("velquor 1.4.0", 0), 0u) << version.out;
  const Result help = Velquor("merge --help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--flush-delay"), std::string::npos);
  EXPECT_NE(help.out.find("--salvage-truncated"), std::string::npos);
}

// The largest value of every option the help advertises works: limits are
// held at their largest, not wrapped round (a latency near the end of time
// made every deadline lie in the past, and nothing was ever written).
TEST_F(VelquorCli, TheLargestAdvertisedOptionValuesMerge) {
  std::string names;
  const std::vector<Packet> expected = WriteInputs(3, 30, names);
  const std::string largest = std::to_string(std::numeric_limits<long>::max());
  const Result r =
      Velquor("merge --quiet -w out.pcap --buffer-count " + largest + " --vector-max-size " +
              largest + " --vector-max-latency " + largest + " --flush-delay 1000" + names);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Read("out.pcap") == Merged(expected));
}

// A package named by a file in the working folder is that file, as
// "./x.pck" is: a bare name must not send the loader to the system's
// library folders ("cannot open shared object file").
TEST_F(VelquorCli, APackageFileInTheWorkingFolderLoadsByItsName) {
  fs::copy_file(VELQUOR_SORTING_MULTIPLEXER_PCK, dir / "mymux.pck");
  const Result inspect = Velquor("inspect mymux.pck");
  EXPECT_EQ(inspect.status, 0) << inspect.err;
  EXPECT_NE(inspect.out.find("SortingMultiplexer 1.4.0 (package mymux)"), std::string::npos)
      << inspect.out;
  Write("load.vq", "load mymux.pck\n");
  const Result run = Velquor("run load.vq");
  EXPECT_EQ(run.status, 0) << run.err;
}

// Engine-function models are listed apart from component models, and a
// script loads one with its properties (a bad value names the line).
TEST_F(VelquorCli, InspectAndRunKnowEngineFunctions) {
  const std::string package = VELQUOR_SCRIPT_TEST_PCK;
  const Result listing = Velquor("inspect " + package);
  ASSERT_EQ(listing.status, 0) << listing.err;
  const std::size_t function =
      listing.out.find("ScriptTestCounter 1.0.0 (package script_test_pck, engine function)");
  ASSERT_NE(function, std::string::npos) << listing.out;
  EXPECT_LT(listing.out.find("ScriptSink 1.0.0 (package script_test_pck)"), function);
  EXPECT_NE(listing.out.find("start                    integer 0", function), std::string::npos)
      << listing.out;

  Write("function.vq", "load " + package + "\nfunction ScriptTestCounter c start=3\n");
  const Result run = Velquor("run function.vq");
  EXPECT_EQ(run.status, 0) << run.err;
  Write("bad.vq", "load " + package + "\nfunction ScriptTestCounter c start=three\n");
  const Result bad = Velquor("run bad.vq");
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("bad.vq:2: property 'c.start': expected an integer, got 'three'"),
            std::string::npos)
      << bad.err;
}

// An output that is one of the inputs (by name, through a link, or as the
// statistics file) is refused before anything is written: the input stays.
TEST_F(VelquorCli, AnOutputThatIsAnInputIsRefusedAndTheInputKept) {
  std::string names;
  WriteInputs(2, 10, names);
  const std::string before = Read("in1.pcap");
  fs::create_symlink("in1.pcap", dir / "alias.pcap");
  for (const char* args : {"merge -w in1.pcap", "merge -w alias.pcap", "merge -w ./in1.pcap",
                           "merge -w out.pcap --stats-json in1.pcap"}) {
    SCOPED_TRACE(args);
    const Result r = Velquor(std::string(args) + names);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("in1.pcap"), std::string::npos) << r.err;
    EXPECT_EQ(Read("in1.pcap"), before);
    EXPECT_FALSE(Exists("out.pcap"));
  }
}

// In a diagram, a recorder set to write a file that a player reads would
// truncate it: the recorder fails naming both, and the input is kept.
TEST_F(VelquorCli, ARecorderOntoAPlayersInputFailsAndTheInputIsKept) {
  std::string names;
  WriteInputs(1, 10, names);
  const std::string before = Read("in0.pcap");
  Write("same.vq",
        "load velquor_io\n"
        "component PcapFilePlayer p path=in0.pcap\n"
        "component PcapFileRecorder out path=./in0.pcap\n"
        "connect p.output out.input\n"
        "connect p.end_of_file out.end_of_file\n"
        "run 30\n");
  const Result r = Velquor("run same.vq");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("it is the input 'in0.pcap' of a player"), std::string::npos) << r.err;
  EXPECT_EQ(Read("in0.pcap"), before);
}

// Every way of stopping a merge short of SIGKILL (one signal, or a second
// Ctrl-C right after the first) leaves neither OUT nor the hidden temporary
// file next to it.
TEST_F(VelquorCli, SignalsDuringAMergeLeaveNoTemporaryFile) {
  // Inputs large enough that the merge is still running when signalled.
  std::vector<std::string> command = {VELQUOR_CLI, "merge", "--verbose", "-w",
                                      (dir / "out.pcap").string()};
  for (std::uint32_t i = 0; i < 4; ++i) {
    std::string bytes = Pcap({});
    for (std::uint32_t k = 0; k < 400000; ++k) {
      bytes += Words({1700000000u + k / 1000, (k % 1000) * 1000 + i, 60u, 60u}) +
               std::string(60, static_cast<char>('a' + i));
    }
    command.push_back((dir / ("big" + std::to_string(i) + ".pcap")).string());
    WriteFile(command.back(), bytes);
  }
  for (const std::vector<int>& signals :
       std::vector<std::vector<int>>{{SIGINT}, {SIGTERM}, {SIGHUP}, {SIGQUIT}, {SIGINT, SIGINT}}) {
    SCOPED_TRACE(strsignal(signals[0]) + std::string(signals.size() > 1 ? " twice" : ""));
    Spawned velquor(command);
    ASSERT_TRUE(velquor.Started());
    // The temporary file is there once the diagram has started.
    ASSERT_TRUE(velquor.ReadUntil("diagram started", 20)) << velquor.text;
    EXPECT_EQ(Temporaries(), 1) << "the merge has not begun";
    const int status = velquor.Interrupt(signals);
    EXPECT_TRUE((WIFEXITED(status) && WEXITSTATUS(status) == 130) ||
                (WIFSIGNALED(status) && WTERMSIG(status) == signals[0]))
        << "status " << status << "\n"
        << velquor.text;
    EXPECT_EQ(Temporaries(), 0);
    EXPECT_FALSE(Exists("out.pcap"));
  }
}

// inspect lists the models of a package or one model: its outputs and
// properties, and what each input accepts (made from properties or not).
TEST_F(VelquorCli, InspectDescribesModelsAndWhatEachInputAccepts) {
  for (const char* what : {"SortingMultiplexer", "velquor_sorting_multiplexer"}) {
    SCOPED_TRACE(what);
    const Result r = Velquor(std::string("inspect ") + what);
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* name :
         {"SortingMultiplexer 1.4.0", "end_of_file", "output", "nb_inputs", "buffer_packet_count",
          "vector_max_size", "vector_max_latency", "flush_delay"}) {
      EXPECT_NE(r.out.find(name), std::string::npos) << name << "\n" << r.out;
    }
  }
  const Result all = Velquor("inspect");
  EXPECT_EQ(all.status, 0) << all.err;
  EXPECT_NE(all.out.find("velquor_sorting_multiplexer"), std::string::npos);
  EXPECT_EQ(Velquor("inspect NoSuchModel").status, 1);

  struct Row {
    const char* model;
    const char* input;
    std::vector<const char*> shown;  // on the input's line
    bool fromProperties;
  };
  const Row rows[] = {
      {"SortingMultiplexer", "iEndOfFile_0", {"accepts Integer64"}, true},
      {"SortingMultiplexer", "input_0", {"accepts any type"}, true},
      {"CsvRecorder", "input", {"accepts Float64"}, false},
      {"CsvRecorder", "end_of_file", {"accepts Integer64"}, false},
      {"CanLogRecorder", "input", {"accepts CANUniFrame"}, false},
      {"PcapFileRecorder", "input", {"DynamicStructure", "\"DAXOpcap_data_t\""}, false},
      {"ByteStreamRecorder", "iStream8", {"accepts Stream8"}, false},
      {"LevelMeter", "sndInput", {"accepts Stream8, Float32, AudioSignal"}, false},
      {"SortedRecorder", "iEndOfFile_1", {"accepts Integer64"}, true},
  };
  std::map<std::string, Result> listings;  // by model
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.model) + "." + row.input);
    if (listings.count(row.model) == 0) {
      listings[row.model] = Velquor(std::string("inspect ") + row.model);
    }
    const Result& r = listings[row.model];
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "") << "instances built for the listing report nothing";
    std::istringstream lines(r.out);
    std::string found;
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind(std::string("    ") + row.input + " ", 0) == 0) found = line;
    }
    ASSERT_FALSE(found.empty()) << r.out;
    for (const char* text : row.shown) EXPECT_NE(found.find(text), std::string::npos) << found;
    EXPECT_EQ(found.find("[from properties]") != std::string::npos, row.fromProperties) << found;
    EXPECT_EQ(r.out.find("accepts nothing"), std::string::npos) << r.out;
  }
  // Which property makes the multiplexer's inputs, found by changing it.
  EXPECT_NE(listings["SortingMultiplexer"].out.find(
                "nb_inputs=2 (default 1) adds inputs iEndOfFile_1, input_1"),
            std::string::npos);
}

TEST_F(VelquorCli, CapturesOfDifferentLinkTypesAreRefusedBeforeTheMerge) {
  struct Capture {
    const char* file;
    std::uint32_t linkType;
    const char* shown;  // as the message must name it
  };
  struct Row {
    const char* what;
    std::vector<Capture> inputs;
  };
  const Row rows[] = {
      {"two pcap files",
       {{"a.pcap", 1, "a.pcap: EN10MB (1)"}, {"can.pcap", 113, "can.pcap: LINUX_SLL (113)"}}},
      {"a pcapng file's interface",
       {{"a.pcap", 1, "a.pcap: EN10MB (1)"},
        {"can.pcapng", 227, "can.pcapng: CAN_SOCKETCAN (227)"}}},
      {"only the last of three",
       {{"a.pcap", 1, "a.pcap: EN10MB (1)"},
        {"b.pcapng", 1, "b.pcapng: EN10MB (1)"},
        {"c.pcap", 113, "c.pcap: LINUX_SLL (113)"}}},
  };
  const std::vector<Packet> packets = {{1700000000000000, std::string(60, 'p')}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    std::string names;
    for (const Capture& c : row.inputs) {
      const bool ng = fs::path(c.file).extension() == ".pcapng";
      Write(c.file, ng ? PcapNgSection(false, c.linkType, packets) : Pcap(packets, c.linkType));
      names += std::string(" ") + c.file;
    }
    fs::remove(dir / "out.pcap");
    Result r = Velquor("merge -w out.pcap" + names);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("different link types"), std::string::npos) << r.err;
    for (const Capture& c : row.inputs) EXPECT_NE(r.err.find(c.shown), std::string::npos) << r.err;
    EXPECT_FALSE(Exists("out.pcap"));

    Write("out.pcap", "precious");
    r = Velquor("merge -w out.pcap" + names);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(Read("out.pcap"), "precious");
  }
  // pcapng and pcap of one link type still merge.
  const Packet second{1700000000000001, std::string(60, 'q')};
  Write("a.pcap", Pcap(packets, 113));
  Write("b.pcapng", PcapNgSection(false, 113, {second}));
  const Result r = Velquor("merge -q -w same.pcap a.pcap b.pcapng");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Read("same.pcap"), Merged({packets[0], second}, 113));
}

TEST_F(VelquorCli, RunExecutesAScriptAndReportsFailuresByLine) {
  const struct {
    const char* name;
    std::string text;
    int status;
    std::vector<const char*> said;
  } rows[] = {
      // upstream dies at birth (no inputs): an error report; mux waits on
      // it until the limit.
      {"live.vq",
       "load velquor_sorting_multiplexer\n"
       "component SortingMultiplexer upstream\n"
       "component SortingMultiplexer mux vector_max_size=4\n"
       "connect upstream.output mux.input_0\n"
       "connect upstream.end_of_file mux.iEndOfFile_0\n"
       "run 0.2\n",
       1,
       {"upstream"}},
      {"bad.vq",
       "# comment\nload velquor_sorting_multiplexer\nset mux.nb_inputs 2\n",
       1,
       {"bad.vq:3: unknown component 'mux'"}},
      // A count past the limit is refused at once, not declared for minutes.
      {"huge.vq",
       "load velquor_sorting_multiplexer\n"
       "component SortingMultiplexer mux nb_inputs=100000000\n",
       1,
       {"Number of inputs has to be <= 10000"}},
      {"syntax.vq", "load\nconnect a\n", 1, {"syntax.vq:1:", "syntax.vq:2:"}},
      {"quiet.vq",
       "load velquor_sorting_multiplexer\n"
       "component SortingMultiplexer mux nb_inputs=2 autoStart=false\n"
       "run 0\n",
       0,
       {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Write(row.name, row.text);
    const Result r = Velquor(std::string("run ") + row.name);
    EXPECT_EQ(r.status, row.status) << r.err;
    for (const char* text : row.said) EXPECT_NE(r.err.find(text), std::string::npos) << r.err;
  }
  EXPECT_EQ(Velquor("run missing.vq").status, 1);
}

TEST_F(VelquorCli, CtrlCEndsARunningDiagramCleanly) {
  // mux waits for ever on upstream, which died at birth: only Ctrl-C ends it.
  Write("forever.vq",
        "load velquor_sorting_multiplexer\n"
        "component SortingMultiplexer upstream\n"
        "component SortingMultiplexer mux\n"
        "connect upstream.output mux.input_0\n"
        "connect upstream.end_of_file mux.iEndOfFile_0\n"
        "run\n");
  Spawned velquor({VELQUOR_CLI, "run", "--verbose", (dir / "forever.vq").string()});
  ASSERT_TRUE(velquor.Started());
  EXPECT_TRUE(velquor.ReadUntil("diagram started", 10)) << velquor.text;
  const int status = velquor.Interrupt({SIGINT});
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << status << "\n" << velquor.text;
  EXPECT_NE(velquor.text.find("interrupted"), std::string::npos) << velquor.text;
}

// The inputs share many times: the merge is the one exact order (by time,
// equal times in input order, each input's own order kept), the same bytes
// on every run.
TEST_F(VelquorCli, MergedOutputIsOrderedAndHoldsEveryInputPacket) {
  for (int n : {1, 2, 4, 16}) {
    SCOPED_TRACE("inputs: " + std::to_string(n));
    std::string names;
    for (const auto& entry : fs::directory_iterator(dir)) fs::remove(entry.path());
    const std::vector<Packet> expected = WriteInputs(n, n == 16 ? 100 : 400, names);
    const Result r = Velquor("merge -q --stats-json stats.json -w out.pcap" + names);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Read("out.pcap") == Merged(expected)) << "not the one exact order";
    ASSERT_EQ(Velquor("merge -q -w again.pcap" + names).status, 0);
    EXPECT_EQ(Read("again.pcap"), Read("out.pcap")) << "another run, other bytes";

    const auto stats = nlohmann::json::parse(Read("stats.json"));
    EXPECT_EQ(stats["written"], expected.size());
    EXPECT_EQ(stats["inputs"].size(), static_cast<std::size_t>(n));
    EXPECT_EQ(stats["out_of_order"], 0);
    EXPECT_EQ(stats["status"], "ok");
  }
}

// A thousand inputs: the merge ends (it used to wait for ever once all its
// threads had ended), keeps exact order, and gives mergecap's bytes. The
// soft open-file limit is raised when the inputs need it; a hard limit too
// low, or more inputs than the multiplexer takes, stop it before any work.
TEST_F(VelquorCli, AThousandInputsMergeExactlyAndLimitsAreSaidUpFront) {
  constexpr int kInputs = 1000;
  constexpr int kPerInput = 8;
  // Distinct times spread over every input, so that the one right order is
  // also mergecap's.
  std::vector<Packet> all;
  std::string names;
  for (int i = 0; i < kInputs; ++i) {
    std::vector<Packet> packets;
    for (int k = 0; k < kPerInput; ++k) {
      const std::int64_t slot = std::int64_t{k} * kInputs + (i * 7919) % kInputs;
      packets.push_back(Packet{1700000000000000 + slot * 3,
                               "input " + std::to_string(i) + " packet " + std::to_string(k)});
    }
    const std::string name = "in" + std::to_string(i) + ".pcap";
    Write(name, Pcap(packets));
    names += " " + name;
    all.insert(all.end(), packets.begin(), packets.end());
  }
  std::sort(all.begin(), all.end());
  const Result r = Velquor("merge -q -w out.pcap" + names);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Read("out.pcap") == Merged(all));
  if (std::system("command -v mergecap > /dev/null") == 0) {
    ASSERT_EQ(Shell("mergecap -F pcap -w ref.pcap" + names).status, 0);
    EXPECT_EQ(Read("out.pcap"), Read("ref.pcap"));
  }

  // 300 inputs under a soft limit of 128: raised to the hard one.
  std::string some;
  for (int i = 0; i < 300; ++i) some += " in" + std::to_string(i) + ".pcap";
  const Result soft = Shell("ulimit -Sn 128 && velquor merge -q -w soft.pcap" + some);
  EXPECT_EQ(soft.status, 0) << soft.err;
  const Result hard = Shell("ulimit -n 128 && velquor merge -q -w hard.pcap" + some);
  EXPECT_EQ(hard.status, 1);
  EXPECT_NE(hard.err.find("300 inputs need up to"), std::string::npos) << hard.err;
  EXPECT_NE(hard.err.find("the limit is 128"), std::string::npos) << hard.err;
  EXPECT_FALSE(Exists("hard.pcap"));

  std::string tooMany;
  for (int i = 0; i <= 10000; ++i) tooMany += " x" + std::to_string(i);
  const Result refused = Velquor("merge -q -w many.pcap" + tooMany);
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.err.find("at most 10000"), std::string::npos) << refused.err;
}

TEST_F(VelquorCli, AScriptRunsADiagramAcrossBothPackages) {
  std::string names;
  std::vector<Packet> expected = WriteInputs(2, 300, names);
  Write("merge.vq",
        "# two captures through the multiplexer into a third\n"
        "load velquor_sorting_multiplexer\n"
        "load velquor_io\n"
        "component PcapFilePlayer a path=in0.pcap\n"
        "component PcapFilePlayer b path=in1.pcap batch_size=16\n"
        "component SortingMultiplexer mux nb_inputs=2\n"
        "set mux.buffer_packet_count 1000\n"
        "set mux.vector_max_size 64\n"
        "set mux.flush_delay 1000\n"
        "component PcapFileRecorder rec path=out.pcap\n"
        "connect a.output mux.input_0\n"
        "connect a.end_of_file mux.iEndOfFile_0\n"
        "connect b.output mux.input_1\n"
        "connect b.end_of_file mux.iEndOfFile_1\n"
        "connect mux.output rec.input\n"
        "connect mux.end_of_file rec.end_of_file\n"
        "run 60\n");
  const Result r = Velquor("run merge.vq");
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<Packet> written = ReadPcap(dir / "out.pcap");
  std::sort(written.begin(), written.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_TRUE(written == expected)
      << written.size() << " written, " << expected.size() << " expected";
}

TEST_F(VelquorCli, TextLogsMergeIntoTheirOwnKind) {
  Write("a.log", "(1700000000.000100) can0 123#DEADBEEF\n(1700000000.000300) can0 124#01\n");
  Write("b.log", "(1700000000.000200) can1 1A3#AA\n");
  Result r = Velquor("merge -q -w out.log a.log b.log");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Read("out.log"),
            "(1700000000.000100) can0 123#DEADBEEF\n"
            "(1700000000.000200) can1 1A3#AA\n"
            "(1700000000.000300) can0 124#01\n");

  Write("a.csv", "timestamp_us,speed\n100,1\n300,3\n");
  Write("b.csv", "timestamp_us,speed\n200,2\n");
  r = Velquor("merge -q -w out.csv a.csv b.csv");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string csv = Read("out.csv");
  EXPECT_EQ(csv.substr(0, csv.find_last_not_of('\n') + 1),
            "timestamp_us,speed\n100,1\n200,2\n300,3");

  // Other columns: refused before the merge, naming both files.
  Write("c.csv", "timestamp_us,rpm\n150,9\n");
  r = Velquor("merge -q -w other.csv a.csv c.csv");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("'a.csv' has \"timestamp_us,speed\", 'c.csv' has \"timestamp_us,rpm\""),
            std::string::npos)
      << r.err;
  EXPECT_FALSE(Exists("other.csv"));
}

TEST_F(VelquorCli, StandardOutputIsAReadableCapture) {
  if (std::system("command -v tcpdump > /dev/null 2>&1") != 0) GTEST_SKIP() << "no tcpdump";
  std::string names;
  const std::vector<Packet> expected = WriteInputs(3, 200, names);
  // tcpdump reads the capture from the pipe and writes it back out whole.
  // Nothing is spooled on the way: there is no $TMPDIR to spool to.
  tmpdir = dir / "none";
  const Result r = Shell("velquor merge -q -w -" + names + " | tcpdump -r - -w copy.pcap");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(ReadPcap(dir / "copy.pcap") == expected);
  // A regular file as standard output (the fixture's stdout.txt) gets the
  // merge once it is whole, spooled in $TMPDIR, which is left clean.
  tmpdir.clear();
  const Result toFile = Velquor("merge -q -w -" + names);
  ASSERT_EQ(toFile.status, 0) << toFile.err;
  EXPECT_TRUE(toFile.out == Merged(expected));
  for (const auto& entry : fs::directory_iterator(dir)) {
    EXPECT_EQ(entry.path().filename().string().find("velquor-merge-"), std::string::npos)
        << "temporary file left: " << entry.path();
  }
}

// -w onto what is already there: a link is written through (the file it
// names gets the merge, the link stays), a pipe or a device is written
// directly and never replaced, and a full device's error is reported.
TEST_F(VelquorCli, OutputLinksPipesAndDevicesAreWrittenThroughNotReplaced) {
  std::string names;
  const std::string merged = Merged(WriteInputs(2, 40, names));

  Write("old.pcap", "an older capture");
  fs::create_directories(dir / "sub");
  const std::pair<const char*, const char*> links[] = {{"link.pcap", "old.pcap"},
                                                       {"dangling.pcap", "sub/new.pcap"}};
  for (const auto& [link, target] : links) {
    SCOPED_TRACE(link);
    fs::create_symlink(target, dir / link);
    const Result r = Velquor(std::string("merge --quiet -w ") + link + names);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::is_symlink(dir / link));
    EXPECT_EQ(Read(target), merged);
  }

  ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
  std::string piped;
  std::thread reader([&] {
    const int fd = open((dir / "pipe").c_str(), O_RDONLY);
    char buffer[4096];
    for (ssize_t n; fd >= 0 && (n = read(fd, buffer, sizeof buffer)) > 0;) piped.append(buffer, n);
    if (fd >= 0) close(fd);
  });
  const Result toPipe = Velquor("merge --quiet -w pipe" + names);
  reader.join();
  EXPECT_EQ(toPipe.status, 0) << toPipe.err;
  EXPECT_EQ(piped, merged) << "one stream, from the first byte to the last";
  EXPECT_TRUE(fs::is_fifo(dir / "pipe"));

  // The test's own device nodes (null and full), never the system's.
  if (mknod((dir / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0 ||
      mknod((dir / "full").c_str(), S_IFCHR | 0666, makedev(1, 7)) != 0) {
    GTEST_SKIP() << "device nodes need root";
  }
  const Result toNull = Velquor("merge --quiet -w null" + names);
  EXPECT_EQ(toNull.status, 0) << toNull.err;
  const Result toFull = Velquor("merge --quiet -w full" + names);
  EXPECT_EQ(toFull.status, 1);
  EXPECT_NE(toFull.err.find("No space left on device"), std::string::npos) << toFull.err;
  for (const char* device : {"null", "full"}) {
    EXPECT_TRUE(fs::is_character_file(dir / device)) << device << " was replaced";
  }
}

TEST_F(VelquorCli, DisorderIsReportedAndStrictMakesItFail) {
  // One input whose own packets go backwards across several samples (more
  // packets than one sample holds): no reordering window can help when
  // nothing is held back.
  std::vector<Packet> packets;
  for (int k = 0; k < 5000; ++k) {
    packets.push_back(
        Packet{1700000000000000 + std::int64_t{(k * 7919) % 5000} * 1000, std::string(60, 'd')});
  }
  Write("disordered.pcap", Pcap(packets));
  Write("kept.pcap", "precious");

  Result r = Velquor("merge -q --strict --buffer-count 0 -w kept.pcap disordered.pcap");
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(Read("kept.pcap"), "precious");

  r = Velquor("merge -q --buffer-count 0 --stats-json stats.json -w out.pcap disordered.pcap");
  EXPECT_EQ(r.status, 0) << r.err;
  const auto stats = nlohmann::json::parse(Read("stats.json"));
  EXPECT_GT(stats["out_of_order"].get<long>(), 0);
  EXPECT_GT(stats["max_backwards_us"].get<long>(), 0);
  EXPECT_EQ(stats["written"], packets.size());
}

}  // namespace
}  // namespace velquor::test
