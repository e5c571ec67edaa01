// velquor merge: one player per input, a sorting multiplexer, one recorder.
//
//   player_<i>.output      -> mux.input_<i>
//   player_<i>.end_of_file -> mux.iEndOfFile_<i>
//   mux.output             -> recorder.input
//   mux.end_of_file        -> recorder.end_of_file
//
// The diagram ends by itself once every player has reached its end, the
// multiplexer has flushed and the recorder has written the last sample.
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>

#include "commands.h"
#include "console.h"
#include "daxo_component.h"
#include "daxo_property.h"
#include "input_kind.h"
#include "link_types.h"
#include "output_file.h"
#include "package_search.h"
#include "stop_requests.h"
#include "stream_inputs.h"
#include "velquor/engine.h"

namespace velquor::tool {

namespace {

constexpr const char kMuxPackage[] = "velquor_sorting_multiplexer.pck";
constexpr const char kIoPackage[] = "velquor_io.pck";
constexpr const char kMux[] = "mux";
constexpr const char kRecorder[] = "recorder";
// The multiplexer's largest nb_inputs.
constexpr std::size_t kMaxInputs = 10000;
// Descriptors the process holds besides one per input: standard streams,
// the output and its folder, the statistics file, the engine's and the
// stop watcher's pipes, libraries, with room to spare.
constexpr rlim_t kOtherFiles = 64;
// Samples in each stream's FIFO: a file is read far faster than the
// multiplexer needs its next sample, and every slot holds a packet buffer.
constexpr long kFifoSlots = 4;
// Packets in one stream sample (a 16-bit count).
constexpr long kMaxPacketsPerSample = 65535;
// Bytes of the capture players' sample buffers, all slots of all players
// together. Each sample handed over costs a wake-up and a thread switch, so
// a sample is as large as this allows, within the bounds below.
constexpr long kPlayerBufferBudget = 16L << 20;
constexpr long kMinSampleBytes = 128L << 10;
constexpr long kMaxSampleBytes = 1L << 20;
// How often the progress line is redrawn.
constexpr DAXODelay kProgressPeriod = 200000;

struct Models {
  const char* player;
  const char* recorder;
  const char* unit;  // what one record is called in the summary
  bool batched;      // the player has "batch_size" (records per sample)
};

Models ModelsFor(InputKind kind) {
  switch (kind) {
    case InputKind::CanLog:
      return {"CanLogPlayer", "CanLogRecorder", "frames", false};
    case InputKind::Csv:
      return {"CsvPlayer", "CsvRecorder", "rows", false};
    default:
      return {"PcapFilePlayer", "PcapFileRecorder", "packets", true};
  }
}

constexpr const char kPlayer[] = "player_";

std::string PlayerName(std::size_t i) {
  return kPlayer + std::to_string(i);
}

struct Input {
  std::string path;
  InputKind kind = InputKind::Unknown;
  long records = -1;  // counted for the progress bar; -1 unknown
  long read = 0;
};

struct Outcome {
  long written = 0;
  long outOfOrder = 0;
  long maxBackwardsUs = 0;
  double elapsed = 0;
  bool started = false;      // the diagram was built and started
  bool interrupted = false;  // a signal stopped it
  int failures = 0;          // error reports, a failed build, failed streams
};

/// Writes a property of a component through the component's own code.
class PropertyWriter {
 public:
  PropertyWriter(Engine& engine, Console& console) : m_engine(engine), m_console(console) {}

  template <class T>
  bool Set(const std::string& component, const std::string& shortName, const T& value) {
    const std::string fullName = component + "." + shortName;
    DAXOComponent* owner = m_engine.Component(component);
    DAXOProperty* property = Find(fullName);
    if (owner == nullptr || property == nullptr) {
      m_console.Message("velquor merge: the diagram has no property " + fullName);
      return false;
    }
    try {
      owner->Set(*property, value);
    } catch (...) {
      // The component reported why.
      m_console.Message("velquor merge: cannot set " + fullName);
      return false;
    }
    return true;
  }

  /// The integer value of a property; `fallback` when it does not exist.
  long Integer(const std::string& fullName, long fallback) {
    DAXOProperty* property = Find(fullName);
    return property != nullptr ? static_cast<long>(property->IntegerValue()) : fallback;
  }

 private:
  DAXOProperty* Find(const std::string& fullName) {
    return static_cast<DAXOProperty*>(m_engine.FindSymbol(fullName, DAXOSymbolKind::Property));
  }

  Engine& m_engine;
  Console& m_console;
};

std::string FormatCount(long n) {
  char text[32];
  if (n >= 10000000) {
    std::snprintf(text, sizeof text, "%.1fM", static_cast<double>(n) / 1e6);
  } else if (n >= 10000) {
    std::snprintf(text, sizeof text, "%.1fk", static_cast<double>(n) / 1e3);
  } else {
    std::snprintf(text, sizeof text, "%ld", n);
  }
  return text;
}

std::string ProgressLine(long read, long total, long written, double seconds, const char* unit) {
  std::string line;
  if (total > 0) {
    const double fraction = std::min(1.0, static_cast<double>(read) / static_cast<double>(total));
    constexpr int kWidth = 30;
    const int filled = static_cast<int>(fraction * kWidth);
    line = "[" + std::string(static_cast<std::size_t>(filled), '#') +
           std::string(static_cast<std::size_t>(kWidth - filled), '-') + "] ";
    char percent[16];
    std::snprintf(percent, sizeof percent, "%3d%% ", static_cast<int>(fraction * 100));
    line += percent;
  }
  line += FormatCount(read) + " " + unit + " read, " + FormatCount(written) + " written";
  char rest[48];
  std::snprintf(rest, sizeof rest, ", %.1f s", seconds);
  return line + rest;
}

// An output (the merge, the statistics) that is one of the inputs, or the
// other output, would destroy what is being read: refused before any work.
// Files are compared by device and inode, so links and other spellings of
// a path are caught too; an output that does not exist yet is no input.
int CheckOutputsAreNotInputs(const MergeOptions& options, Console& console) {
  const auto same = [](const std::string& a, const std::string& b) {
    struct stat x {};
    struct stat y {};
    return stat(a.c_str(), &x) == 0 && stat(b.c_str(), &y) == 0 && x.st_dev == y.st_dev &&
           x.st_ino == y.st_ino && S_ISREG(x.st_mode);
  };
  std::vector<std::pair<const char*, std::string>> outputs;
  if (options.output != "-") outputs.emplace_back("output", options.output);
  if (!options.statsJson.empty()) outputs.emplace_back("statistics file", options.statsJson);
  for (const auto& [what, path] : outputs) {
    for (const std::string& input : options.inputs) {
      if (!same(path, input)) continue;
      console.Message(std::string("velquor merge: the ") + what + " '" + path + "' is the input '" +
                      input + "': it would be overwritten");
      return kUsage;
    }
  }
  if (outputs.size() == 2 && same(outputs[0].second, outputs[1].second)) {
    console.Message("velquor merge: the output and the statistics file are the same file '" +
                    options.output + "'");
    return kUsage;
  }
  return kSuccess;
}

// Every player holds its input open for the whole merge. A soft limit that
// is too low is raised as far as the hard one allows; when even that is too
// low nothing is started (a player that cannot open its file would fail
// the merge half-way through).
int CheckOpenFileLimit(const std::vector<std::string>& paths, Console& console) {
  // A file is one descriptor (its player's); a stream up to four (the
  // stream, the relay's pipe, the player's end of it, the detection's).
  rlim_t needed = kOtherFiles;
  for (const std::string& path : paths) {
    struct stat status {};
    needed += stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) ? 1 : 4;
  }
  const std::size_t inputs = paths.size();
  struct rlimit limit {};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
      limit.rlim_cur >= needed) {
    return kSuccess;
  }
  if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < needed) {
    console.Message("velquor merge: " + std::to_string(inputs) + " inputs need up to " +
                    std::to_string(needed) + " open files, but the limit is " +
                    std::to_string(limit.rlim_max) +
                    " (ulimit -Hn); raise it or merge the inputs in groups");
    return kFailure;
  }
  const rlim_t soft = limit.rlim_cur;
  limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? needed : limit.rlim_max;
  if (setrlimit(RLIMIT_NOFILE, &limit) != 0) {
    console.Message("velquor merge: " + std::to_string(inputs) + " inputs need up to " +
                    std::to_string(needed) + " open files, but the limit is " +
                    std::to_string(soft) + " and cannot be raised: " + std::strerror(errno));
    return kFailure;
  }
  return kSuccess;
}

int CheckInputs(std::vector<Input>& inputs, StreamInputs& streams, Console& console) {
  // A stream's first bytes may never come: a signal ends the wait.
  StopRequests stop([&streams] { streams.Stop(); });
  for (Input& input : inputs) {
    std::string problem;
    input.kind = streams.Add(input.path, problem);
    if (stop.Interrupted()) {
      console.Message("velquor merge: interrupted; nothing written");
      return kInterrupted;
    }
    if (input.kind == InputKind::Unknown) {
      console.Message("velquor merge: '" + input.path + "': " + problem);
      return kFailure;
    }
  }
  for (const Input& input : inputs) {
    if (!SameFamily(input.kind, inputs[0].kind)) {
      console.Message("velquor merge: inputs of different kinds cannot be merged: '" +
                      inputs[0].path + "' is " + InputKindName(inputs[0].kind) + ", '" +
                      input.path + "' is " + InputKindName(input.kind));
      return kUsage;
    }
  }
  return kSuccess;
}

// A CSV player's samples are typed by its header line: inputs whose
// headers differ cannot meet in one output. Said here, naming the files,
// rather than by the multiplexer, which knows only that types differ.
int CheckCsvHeaders(const std::vector<Input>& inputs, const StreamInputs& streams,
                    Console& console) {
  if (inputs[0].kind != InputKind::Csv) return kSuccess;
  const auto header = [&](std::size_t i) {
    if (streams.IsStream(i)) return streams.FirstLine(i);
    std::ifstream file(inputs[i].path, std::ios::binary);
    std::string line;
    std::getline(file, line);
    return std::string(FirstTextLine(line));
  };
  const auto shown = [](const std::string& line) {
    constexpr std::size_t kShown = 60;
    return line.size() <= kShown ? "\"" + line + "\""
                                 : "\"" + line.substr(0, kShown) + "...\" (" +
                                       std::to_string(line.size()) + " bytes)";
  };
  const std::string first = header(0);
  for (std::size_t i = 1; i < inputs.size(); ++i) {
    const std::string other = header(i);
    if (other == first) continue;
    console.Message("velquor merge: CSV inputs need the same columns: '" + inputs[0].path +
                    "' has " + shown(first) + ", '" + inputs[i].path + "' has " + shown(other));
    return kFailure;
  }
  return kSuccess;
}

void WriteSummary(Console& console, const std::vector<Input>& inputs, const Outcome& outcome,
                  const Models& models) {
  for (const Input& input : inputs) {
    console.Message("  " + input.path + ": " + std::to_string(input.read) + " " + models.unit +
                    " read");
  }
  console.Message("  written: " + std::to_string(outcome.written) + " " + models.unit);
  console.Message("  out of order: " + std::to_string(outcome.outOfOrder) +
                  " (largest backwards step " + std::to_string(outcome.maxBackwardsUs) + " us)");
  char line[96];
  const double rate =
      outcome.elapsed > 0 ? static_cast<double>(outcome.written) / outcome.elapsed : 0.0;
  std::snprintf(line, sizeof line, "  elapsed: %.3f s, %.0f %s/s", outcome.elapsed, rate,
                models.unit);
  console.Message(line);
}

bool WriteStatsJson(const std::string& path, const MergeOptions& options,
                    const std::vector<Input>& inputs, const Outcome& outcome, const Models& models,
                    const char* status, int exitCode) {
  nlohmann::json json;
  json["inputs"] = nlohmann::json::array();
  long read = 0;
  for (const Input& input : inputs) {
    json["inputs"].push_back(
        {{"path", input.path}, {"kind", InputKindName(input.kind)}, {"read", input.read}});
    read += input.read;
  }
  json["output"] = options.output;
  json["unit"] = models.unit;
  json["read"] = read;
  json["written"] = outcome.written;
  json["out_of_order"] = outcome.outOfOrder;
  json["max_backwards_us"] = outcome.maxBackwardsUs;
  json["elapsed_s"] = outcome.elapsed;
  json["rate_per_s"] =
      outcome.elapsed > 0 ? static_cast<double>(outcome.written) / outcome.elapsed : 0.0;
  json["status"] = status;
  json["exit_code"] = exitCode;
  std::ofstream file(path, std::ios::trunc);
  file << json.dump(2) << '\n';
  file.close();
  return !file.fail();
}

// One merge, in the steps it takes: Inspect the inputs (nothing is
// written when they cannot be merged), Prepare the output and the reports,
// Build the diagram and Run it with progress, Conclude (the status, the
// statistics, the output put in place, the summary).
class MergeSession {
 public:
  explicit MergeSession(const MergeOptions& options) : m_options(options) {
    for (const std::string& path : options.inputs) m_inputs.push_back(Input{path});
  }

  int Inspect() {
    if (m_inputs.empty()) {
      m_console.Message("velquor merge: no input");
      return kUsage;
    }
    if (m_inputs.size() > kMaxInputs) {
      m_console.Message("velquor merge: " + std::to_string(m_inputs.size()) + " inputs; at most " +
                        std::to_string(kMaxInputs) +
                        " can be merged at once (merge them in groups)");
      return kUsage;
    }
    for (const auto check :
         {&MergeSession::CheckLimits, &MergeSession::CheckContents, &MergeSession::FindPackages}) {
      if (const int status = (this->*check)(); status != kSuccess) return status;
    }
    m_models = ModelsFor(m_inputs[0].kind);
    return kSuccess;
  }

  int Prepare() {
    if (!m_options.quiet && Console::IsTerminal()) {
      m_showProgress = true;
      for (Input& input : m_inputs) input.records = CountRecords(input.path, input.kind);
    }
    std::string error;
    if (!m_output.Create(m_options.output, error)) {
      m_console.Message("velquor merge: " + error);
      return kFailure;
    }
    m_sink = std::make_shared<ToolReportSink>(m_console, m_options.verbose);
    m_sink->SetRewrite([this](const std::string& text) { return NameFiles(text); });
    // The multiplexer reports every sample that leaves out of order as an
    // error; the merge counts them (the recorder's tally) and fails only
    // with --strict.
    m_sink->SetTally([](const std::string& text) {
      const std::string mux = std::string("component ") + kMux + ": ";
      return text.rfind(mux, 0) == 0 && (text.find("has wrong order!") != std::string::npos ||
                                         text.find("Wrong order count:") != std::string::npos);
    });
    return kSuccess;
  }

  /// Builds the diagram in a fresh engine and runs it to its end.
  void BuildAndRun() {
    Engine engine(EngineOptions{false, false});
    engine.AddReportSink(m_sink);
    KernelBinding binding(engine);
    // The relays close their pipes on a stop: a player waiting on a stream
    // that sends nothing reads an end of file instead of holding the run.
    StopRequests stop([&engine, this] {
      m_streams.Stop();
      engine.RequestShutdown();
    });
    // A failing component stops the run: its neighbours would otherwise wait
    // for it for ever.
    m_sink->SetOnFailure([&stop] { stop.Request(); });
    PropertyWriter writer(engine, m_console);
    const bool built = Build(engine, writer, stop);
    Run(engine, writer, built && m_sink->Failures() == 0);
    m_outcome.interrupted = stop.Interrupted();
    // Nothing runs any more; the stop requests go before the engine.
    m_sink->SetOnFailure(nullptr);
    m_outcome.failures = m_sink->Failures() + (built ? 0 : 1);
  }

  int Conclude() {
    // The engine is gone: every component has closed its file.
    for (const std::string& failure : m_streams.Finish()) {
      m_console.Message("velquor merge: " + failure);
      ++m_outcome.failures;
    }
    long read = 0;
    for (const Input& input : m_inputs) read += input.read;
    const long outOfOrder = std::max(m_outcome.outOfOrder, m_sink->Tallied() > 0 ? 1L : 0L);
    int status = kSuccess;
    const char* statusText = "ok";
    // What a failed merge left: nothing, or, written as it went (a pipe, a
    // device), what came before the failure.
    const std::string outputName =
        m_options.output == "-" ? std::string("standard output") : "'" + m_options.output + "'";
    const std::string notWritten = m_output.Direct()
                                       ? "what was written to " + outputName + " before it stays"
                                       : outputName + " not written";
    const auto fail = [&](int code, const char* text, const std::string& why) {
      m_console.Message("velquor merge: " + why + "; " + notWritten);
      status = code;
      statusText = text;
    };
    if (m_outcome.interrupted) {
      fail(kInterrupted, "interrupted", "interrupted");
    } else if (m_outcome.failures > 0) {
      fail(kFailure, "failed", "failed");
    } else if (read != m_outcome.written) {
      fail(kFailure, "failed",
           std::to_string(read) + " " + m_models.unit + " read but " +
               std::to_string(m_outcome.written) + " written");
    } else if (m_options.strict && outOfOrder > 0) {
      fail(kFailure, "out of order", "output out of order (--strict)");
    }

    // Statistics first: a merge whose statistics cannot be written fails
    // before its output replaces anything.
    auto writeStats = [&] {
      return !m_outcome.started || m_options.statsJson.empty() ||
             WriteStatsJson(m_options.statsJson, m_options, m_inputs, m_outcome, m_models,
                            statusText, status);
    };
    if (!writeStats()) {
      m_console.Message("velquor merge: cannot write statistics to '" + m_options.statsJson + "'");
      if (status == kSuccess) status = kFailure;
    }
    std::string error;
    if (status == kSuccess && !m_output.Commit(error)) {
      m_console.Message("velquor merge: " + error);
      status = kFailure;
      statusText = "failed";
      writeStats();
    }
    m_output.Discard();

    if (m_outcome.started && !m_options.quiet) {
      if (status == kSuccess) {
        m_console.Message("velquor merge: " + std::to_string(m_inputs.size()) + " " +
                          InputKindName(m_inputs[0].kind) + " input(s) into " + outputName);
      }
      WriteSummary(m_console, m_inputs, m_outcome, m_models);
      if (outOfOrder > 0 && !m_options.strict) {
        m_console.Message(
            "warning: the output is not in time order; a larger --buffer-count may help");
      }
    }
    return status;
  }

 private:
  int CheckLimits() {
    if (const int status = CheckOpenFileLimit(m_options.inputs, m_console); status != kSuccess) {
      return status;
    }
    return CheckOutputsAreNotInputs(m_options, m_console);
  }

  int CheckContents() {
    if (const int status = CheckInputs(m_inputs, m_streams, m_console); status != kSuccess) {
      return status;
    }
    if (const int status = CheckCsvHeaders(m_inputs, m_streams, m_console); status != kSuccess) {
      return status;
    }
    if (!SameFamily(m_inputs[0].kind, InputKind::Pcap)) return kSuccess;
    return CheckLinkTypes(m_options.inputs, m_console, m_streams.Heads());
  }

  int FindPackages() {
    const std::vector<std::string> folders = PackageFolders();
    m_muxPackage = FindPackage(kMuxPackage, folders);
    m_ioPackage = FindPackage(kIoPackage, folders);
    for (const auto& [file, found] :
         {std::pair{kMuxPackage, m_muxPackage}, {kIoPackage, m_ioPackage}}) {
      if (found.empty()) {
        m_console.Message(std::string("velquor merge: cannot find package ") + file +
                          " (searched " + JoinFolders(folders) +
                          "; VELQUOR_PACKAGE_PATH adds folders)");
        return kFailure;
      }
    }
    return kSuccess;
  }

  /// Reports name components; the user knows the files.
  std::string NameFiles(const std::string& text) const {
    // "component player_<i>: ": read <i> rather than try every input, a
    // cost per report that grew with the inputs.
    const std::string player = std::string("component ") + kPlayer;
    if (text.rfind(player, 0) == 0) {
      std::size_t end = player.size();
      std::size_t i = 0;
      while (end < text.size() && end < player.size() + 9 && text[end] >= '0' && text[end] <= '9')
        i = i * 10 + static_cast<std::size_t>(text[end++] - '0');
      if (end > player.size() && text.compare(end, 2, ": ") == 0 && i < m_inputs.size() &&
          text.compare(player.size(), end - player.size(), std::to_string(i)) == 0) {
        return "'" + m_inputs[i].path + "': " + m_streams.Rename(i, text.substr(end + 2));
      }
    }
    const std::string recorder = std::string("component ") + kRecorder + ": ";
    if (text.rfind(recorder, 0) == 0) {
      return "output '" + m_options.output + "': " + text.substr(recorder.size());
    }
    return text;
  }

  /// Loads the packages, creates and connects the players, the multiplexer
  /// and the recorder. False (reported) when any step fails or a stop came.
  bool Build(Engine& engine, PropertyWriter& writer, const StopRequests& stop) {
    if (!engine.LoadPackage(m_muxPackage) || !engine.LoadPackage(m_ioPackage)) return false;
    const auto offered = engine.Models();
    for (const char* model : {m_models.player, m_models.recorder, "SortingMultiplexer"}) {
      if (std::none_of(offered.begin(), offered.end(),
                       [&](const ModelInfo& m) { return m.name == model; })) {
        m_console.Message(std::string("velquor merge: no loaded package offers model ") + model);
        return false;
      }
    }
    // The multiplexer reads one sample and writes at most one per step:
    // input samples no larger than its output samples keep its queue at the
    // kept-back count instead of growing with the input.
    const long playerBatch = std::min(m_options.vectorMaxSize, kMaxPacketsPerSample);
    const bool batched = m_models.batched;
    const long sampleBytes =
        std::clamp(kPlayerBufferBudget / (static_cast<long>(m_inputs.size()) * kFifoSlots),
                   kMinSampleBytes, kMaxSampleBytes);
    for (std::size_t i = 0; i < m_inputs.size(); ++i) {
      const std::string name = PlayerName(i);
      const bool csvStream = m_inputs[i].kind == InputKind::Csv && m_streams.IsStream(i);
      if (stop.Interrupted() || !engine.CreateComponent(m_models.player, name) ||
          (csvStream && !writer.Set(name, "header", DAXOString(m_streams.FirstLine(i).c_str()))) ||
          !writer.Set(name, "path", DAXOString(m_streams.PlayerPath(i).c_str())) ||
          (batched && !writer.Set(name, "batch_size", playerBatch)) ||
          (batched && !writer.Set(name, "salvage_truncated", m_options.salvageTruncated)) ||
          (batched && !writer.Set(name, "sample_bytes", sampleBytes)) ||
          !writer.Set(name, "output.fifosize", kFifoSlots)) {
        return false;
      }
    }
    const bool made = engine.CreateComponent("SortingMultiplexer", kMux) &&
                      writer.Set(kMux, "nb_inputs", static_cast<long>(m_inputs.size())) &&
                      writer.Set(kMux, "buffer_packet_count", m_options.bufferCount) &&
                      writer.Set(kMux, "vector_max_size", m_options.vectorMaxSize) &&
                      writer.Set(kMux, "vector_max_latency", m_options.vectorMaxLatency) &&
                      writer.Set(kMux, "flush_delay", m_options.flushDelay) &&
                      // Never runs ahead of a lagging input: the same bytes on every run.
                      writer.Set(kMux, "exact_order", true) &&
                      writer.Set(kMux, "output.fifosize", kFifoSlots) &&
                      engine.CreateComponent(m_models.recorder, kRecorder) &&
                      writer.Set(kRecorder, "path", DAXOString(m_output.TemporaryPath().c_str()));
    if (!made || stop.Interrupted()) return false;
    // One call for all the players' links: the multiplexer re-declares its
    // inputs once rather than after each of them.
    std::vector<std::pair<std::string, std::string>> links;
    for (std::size_t i = 0; i < m_inputs.size(); ++i) {
      const std::string index = std::to_string(i);
      links.emplace_back(PlayerName(i) + ".output", std::string(kMux) + ".input_" + index);
      links.emplace_back(PlayerName(i) + ".end_of_file",
                         std::string(kMux) + ".iEndOfFile_" + index);
    }
    const std::string mux(kMux);
    const std::string recorder(kRecorder);
    return engine.ConnectAll(links) && engine.Connect(mux + ".output", recorder + ".input") &&
           engine.Connect(mux + ".end_of_file", recorder + ".end_of_file");
  }

  /// Runs the diagram (when `start`) to its end with the progress line, and
  /// reads the counts into the outcome either way.
  void Run(Engine& engine, PropertyWriter& writer, bool start) {
    const auto begin = std::chrono::steady_clock::now();
    auto seconds = [&begin] {
      return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    };
    long total = 0;
    for (const Input& input : m_inputs)
      total = input.records < 0 || total < 0 ? -1 : total + input.records;
    auto readSoFar = [&] {
      long read = 0;
      for (std::size_t i = 0; i < m_inputs.size(); ++i) {
        m_inputs[i].read = writer.Integer(PlayerName(i) + ".packets", 0);
        read += m_inputs[i].read;
      }
      return read;
    };
    const std::string recorder(kRecorder);
    if (start) {
      m_outcome.started = true;
      if (engine.StartDiagram()) {
        for (;;) {
          const RunEnd end = engine.RunDiagram(m_showProgress ? kProgressPeriod : -1);
          if (end != RunEnd::TimeLimit) break;
          const long read = readSoFar();
          m_console.Progress(ProgressLine(read, total, writer.Integer(recorder + ".packets", 0),
                                          seconds(), m_models.unit));
        }
      }
      engine.ShutdownDiagram();
      m_console.EndProgress();
    }
    m_outcome.elapsed = seconds();
    readSoFar();
    m_outcome.written = writer.Integer(recorder + ".packets", 0);
    m_outcome.outOfOrder = writer.Integer(recorder + ".out_of_order", 0);
    m_outcome.maxBackwardsUs = writer.Integer(recorder + ".max_backwards_us", 0);
  }

  const MergeOptions& m_options;
  Console m_console;
  std::vector<Input> m_inputs;
  // Outlives the engine: its players read the streams' pipes.
  StreamInputs m_streams;
  Models m_models{};
  std::string m_muxPackage;
  std::string m_ioPackage;
  bool m_showProgress = false;
  OutputFile m_output;
  std::shared_ptr<ToolReportSink> m_sink;
  Outcome m_outcome;
};

}  // namespace

int Merge(const MergeOptions& options) {
  MergeSession merge(options);
  for (const auto step : {&MergeSession::Inspect, &MergeSession::Prepare}) {
    if (const int status = (merge.*step)(); status != kSuccess) return status;
  }
  merge.BuildAndRun();
  return merge.Conclude();
}

}  // namespace velquor::tool
