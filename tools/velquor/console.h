// The tool's standard error: messages, the progress line, and the report sink
// that turns engine reports into messages and tells the command about errors.
//
// Threading: reports arrive on any engine thread while the main thread draws
// the progress line; both go through Console, whose mutex keeps each line
// whole and clears the progress line before a message. ToolReportSink's
// callbacks run on the reporting thread and must not call into the engine
// (the engine may deliver reports while holding its own locks).
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>

#include "velquor/reports.h"

namespace velquor::tool {

/// Exit codes of every command.
enum ExitCode : int { kSuccess = 0, kFailure = 1, kUsage = 2, kInterrupted = 130 };

class Console {
 public:
  /// Writes one line ("velquor: " is not added) on standard error.
  void Message(const std::string& line);
  /// Replaces the progress line (no newline: show it on a terminal only).
  void Progress(const std::string& line);
  /// Ends the progress line, if one is shown.
  void EndProgress();
  static bool IsTerminal();

 private:
  std::mutex m_mutex;  // guards m_progressShown and the writes
  bool m_progressShown = false;
};

class ToolReportSink : public ReportSink {
 public:
  /// Classifies an error report: true for one the command tallies itself
  /// (printed only the first few times) rather than a failure.
  using Tally = std::function<bool(const std::string& text)>;
  /// Rewrites a report's text for the user (e.g. a component name into the
  /// file it reads).
  using Rewrite = std::function<std::string(const std::string& text)>;

  ToolReportSink(Console& console, bool verbose) : m_console(console), m_verbose(verbose) {}
  void SetTally(Tally tally) { m_tally = std::move(tally); }
  void SetRewrite(Rewrite rewrite) { m_rewrite = std::move(rewrite); }
  /// Called (on the reporting thread) after each failure report.
  void SetOnFailure(std::function<void()> onFailure);

  void Deliver(const ReportRecord& report) override;

  /// Error reports not tallied so far.
  int Failures() const { return m_failures; }
  /// Tallied error reports so far.
  long Tallied() const { return m_tallied; }

 private:
  static constexpr long kTallyShown = 5;

  Console& m_console;
  const bool m_verbose;
  Tally m_tally;
  Rewrite m_rewrite;
  std::atomic<int> m_failures{0};
  std::atomic<long> m_tallied{0};
  std::mutex m_mutex;  // guards m_onFailure; a leaf (the callback never blocks)
  std::function<void()> m_onFailure;
};

}  // namespace velquor::tool
