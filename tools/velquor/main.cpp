// velquor: the command-line tool.
//
//   velquor merge -w OUT [options] IN...   merge inputs by timestamp into OUT ("-" = stdout)
//   velquor run DIAGRAM                     run a diagram script
//   velquor inspect [PACKAGE|MODEL]         list packages, models, inputs, outputs, properties
//   velquor --version | --help
//
// Exit status: 0 success, 1 bad input or component error, 2 usage error,
// 130 interrupted.
#include <CLI/CLI.hpp>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <limits>
#include <string>

#include "commands.h"
#include "console.h"
#include "output_file.h"
#include "velquor/engine.h"

namespace {

// The longest wait after the inputs have ended: a day, in microseconds.
constexpr long kMaxFlushDelay = 86400L * 1000000L;

// A decimal integer that fits a long: the conversion alone would hold a
// larger one at the limit instead of refusing it.
CLI::Validator WholeNumber() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        long value = 0;
        const char* end = text.data() + text.size();
        const auto [at, error] = std::from_chars(text.data(), end, value);
        if (error == std::errc::result_out_of_range) return "'" + text + "' is too large";
        if (error != std::errc() || at != end) return "'" + text + "' is not a whole number";
        return {};
      },
      "");
}

CLI::Validator NonEmpty() {
  return CLI::Validator(
      [](std::string& text) -> std::string { return text.empty() ? "must not be empty" : ""; }, "");
}

}  // namespace

int main(int argc, char** argv) {
  using namespace velquor::tool;
  // A reader of standard output that goes away turns into a write error
  // (the merge then cleans up) instead of killing the process.
  std::signal(SIGPIPE, SIG_IGN);
  // A signal that ends the tool removes the temporary output first.
  InstallFatalSignalCleanup();

  CLI::App app{"velquor: merge captures and logs by timestamp, run and inspect diagrams"};
  app.set_version_flag("--version", std::string("velquor ") + VELQUOR_TOOL_VERSION + " (engine " +
                                        velquor::EngineVersion() + ")");
  app.require_subcommand(1);
  bool verbose = false;

  MergeOptions merge;
  CLI::App* mergeCommand = app.add_subcommand("merge", "merge inputs by timestamp into OUT");
  mergeCommand->footer(
      "Inputs: pcap (either byte order, microsecond or nanosecond times), pcapng, candump logs\n"
      "(\"(1436509052.249713) can0 123#DEADBEEF\"), or CSV series whose first column is\n"
      "\"timestamp_us\"; all inputs of one kind, captures of one link type. Captures are\n"
      "written as pcap with microsecond times: nanosecond times are converted to\n"
      "microseconds (the stream format holds microseconds). Packets with equal times come\n"
      "out in input order (the input named first first), each input's own order kept.\n"
      "Exit status: 0 success, 1 bad input or a component error, 2 usage error.");
  mergeCommand->add_option("-w,--write", merge.output, "output file (\"-\": standard output)")
      ->required()
      ->check(NonEmpty());
  mergeCommand->add_option("inputs", merge.inputs, "input files (all of one kind)")->required();
  mergeCommand->add_option("--buffer-count", merge.bufferCount, "entries held back for reordering")
      ->check(WholeNumber() & CLI::Range(0L, std::numeric_limits<long>::max()))
      ->capture_default_str();
  mergeCommand->add_option("--vector-max-size", merge.vectorMaxSize, "entries per output sample")
      ->check(WholeNumber() & CLI::Range(1L, std::numeric_limits<long>::max()))
      ->capture_default_str();
  mergeCommand
      ->add_option("--vector-max-latency", merge.vectorMaxLatency,
                   "time span of one output sample (us, at least 1000)")
      ->check(WholeNumber() & CLI::Range(1000L, std::numeric_limits<long>::max()))
      ->capture_default_str();
  mergeCommand
      ->add_option("--flush-delay", merge.flushDelay,
                   "wait after every input has ended before the last write (us, at most a day)")
      ->check(WholeNumber() & CLI::Range(0L, kMaxFlushDelay))
      ->capture_default_str();
  mergeCommand->add_flag("-q,--quiet", merge.quiet, "no progress bar and no summary");
  mergeCommand->add_flag("--strict", merge.strict, "fail when the output is out of order");
  mergeCommand->add_flag("--salvage-truncated", merge.salvageTruncated,
                         "a capture cut short in its last packet: merge the whole packets before "
                         "the cut and report the loss, instead of failing");
  mergeCommand->add_option("--stats-json", merge.statsJson, "write the summary as JSON");
  mergeCommand->add_flag("-v,--verbose", verbose, "also show information reports");

  std::string script;
  CLI::App* runCommand = app.add_subcommand("run", "run a diagram script");
  runCommand->add_option("DIAGRAM", script, "the script")->required();
  runCommand->add_flag("-v,--verbose", verbose, "also show information reports");

  std::string what;
  CLI::App* inspectCommand =
      app.add_subcommand("inspect", "list packages, models, inputs, outputs, properties");
  inspectCommand->add_option("PACKAGE|MODEL", what, "a package (file or name) or a model");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return kUsage;
  }

  if (mergeCommand->parsed()) {
    merge.verbose = verbose;
    return Merge(merge);
  }
  if (runCommand->parsed()) return RunScript(script, verbose);
  if (inspectCommand->parsed()) return Inspect(what);
  return kUsage;
}
