// Report sinks: where the engine delivers every report (text, level, code,
// engine flag). Several sinks may be attached to one engine; each receives
// every report.
//
// ReportSink          the interface an embedder implements
// StderrReportSink    one line per report on standard error, level as a word,
//                     coloured only when standard error is a terminal
// MemoryReportSink    keeps every report in memory (tests): copy them out or
//                     wait for one that matches a predicate
// JsonLinesReportSink appends one JSON object per report to a file
//
// Threading: the engine calls Deliver from any thread, concurrently, and
// never while holding an engine lock; every sink here serialises itself with
// its own mutex (a leaf lock: Deliver calls nothing that could report). Those
// are plain std::mutex, not annotated for the thread-safety analysis: a
// public header keeps to the standard library, and each is taken and
// released within one function of report_sinks.cpp.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "velquor/api.h"

namespace velquor {

/// Report levels as the SDK passes them.
enum ReportLevel : int { Info = 0, Warning = 1, Error = 2, Echo = 3 };

/// One delivered report.
struct ReportRecord {
  std::string text;
  int level = 0;
  int code = 0;
  bool engineFlag = false;
};

/// The word shown for a level: "info", "warning", "error", "echo"
/// ("level N" for any other value).
VELQUOR_API std::string ReportLevelName(int level);

class VELQUOR_API ReportSink {
 public:
  virtual ~ReportSink();
  /// Receives one report. Must not throw (the engine drops what escapes) and
  /// must not report back into the engine.
  virtual void Deliver(const ReportRecord& report) = 0;
};

class VELQUOR_API StderrReportSink : public ReportSink {
 public:
  /// `colour`: -1 decides from isatty(stderr), 0 never, 1 always.
  explicit StderrReportSink(int colour = -1);
  void Deliver(const ReportRecord& report) override;

 private:
  std::mutex m_mutex;  // keeps the lines of concurrent reports whole
  bool m_colour;
};

class VELQUOR_API MemoryReportSink : public ReportSink {
 public:
  using Predicate = std::function<bool(const ReportRecord&)>;

  void Deliver(const ReportRecord& report) override;
  /// A copy of every report received so far, in arrival order.
  std::vector<ReportRecord> Reports() const;
  /// Forgets every report received so far.
  void Clear();
  /// Whether a report received so far matches.
  bool Contains(const Predicate& match) const;
  /// Blocks until a report that matches has been received (also one received
  /// before the call) or `timeout` has passed. Returns whether one matched.
  bool WaitFor(const Predicate& match, std::chrono::milliseconds timeout);

 private:
  mutable std::mutex m_mutex;  // guards m_reports
  std::condition_variable m_arrived;
  std::vector<ReportRecord> m_reports;
};

class VELQUOR_API JsonLinesReportSink : public ReportSink {
 public:
  /// Opens (appends to) `path`. IsOpen() tells whether that worked; a sink
  /// that could not open its file drops its reports.
  explicit JsonLinesReportSink(const std::string& path);
  ~JsonLinesReportSink() override;
  JsonLinesReportSink(const JsonLinesReportSink&) = delete;
  JsonLinesReportSink& operator=(const JsonLinesReportSink&) = delete;

  bool IsOpen() const;
  /// Writes {"text":..,"level":..,"levelName":..,"code":..,"engine":..} and a
  /// newline, flushed at once so that a reader sees whole lines.
  void Deliver(const ReportRecord& report) override;

 private:
  std::mutex m_mutex;  // guards m_file
  std::FILE* m_file;
};

}  // namespace velquor
