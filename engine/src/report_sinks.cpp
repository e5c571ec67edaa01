// The report sinks of include/velquor/reports.h.
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "velquor/reports.h"

namespace velquor {

std::string ReportLevelName(int level) {
  switch (level) {
    case Info:
      return "info";
    case Warning:
      return "warning";
    case Error:
      return "error";
    case Echo:
      return "echo";
    default:
      return "level " + std::to_string(level);
  }
}

ReportSink::~ReportSink() = default;

// --- stderr --------------------------------------------------------------------

StderrReportSink::StderrReportSink(int colour)
    : m_colour(colour < 0 ? isatty(STDERR_FILENO) != 0 : colour != 0) {}

void StderrReportSink::Deliver(const ReportRecord& report) {
  const char* start = "";
  const char* end = "";
  if (m_colour) {
    end = "\033[0m";
    switch (report.level) {
      case Warning:
        start = "\033[33m";
        break;
      case Error:
        start = "\033[31m";
        break;
      case Echo:
        start = "\033[2m";
        break;
      default:
        end = "";
        break;
    }
  }
  const std::string word = ReportLevelName(report.level);
  std::lock_guard<std::mutex> lock(m_mutex);
  std::fprintf(stderr, "%s%s%s: %s", start, word.c_str(), end, report.text.c_str());
  if (report.code != 0) std::fprintf(stderr, " (code %d)", report.code);
  std::fputc('\n', stderr);
}

// --- memory --------------------------------------------------------------------

void MemoryReportSink::Deliver(const ReportRecord& report) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_reports.push_back(report);
  }
  m_arrived.notify_all();
}

std::vector<ReportRecord> MemoryReportSink::Reports() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_reports;
}

void MemoryReportSink::Clear() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_reports.clear();
}

bool MemoryReportSink::Contains(const Predicate& match) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  for (const auto& report : m_reports) {
    if (match(report)) return true;
  }
  return false;
}

bool MemoryReportSink::WaitFor(const Predicate& match, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(m_mutex);
  std::size_t checked = 0;  // reports before this index did not match
  return m_arrived.wait_for(lock, timeout, [&] {
    for (; checked < m_reports.size(); ++checked) {
      if (match(m_reports[checked])) return true;
    }
    return false;
  });
}

// --- JSON lines ----------------------------------------------------------------

JsonLinesReportSink::JsonLinesReportSink(const std::string& path)
    : m_file(std::fopen(path.c_str(), "a")) {}

JsonLinesReportSink::~JsonLinesReportSink() {
  if (m_file != nullptr) std::fclose(m_file);
}

bool JsonLinesReportSink::IsOpen() const {
  return m_file != nullptr;
}

void JsonLinesReportSink::Deliver(const ReportRecord& report) {
  const nlohmann::json line = {{"text", report.text},
                               {"level", report.level},
                               {"levelName", ReportLevelName(report.level)},
                               {"code", report.code},
                               {"engine", report.engineFlag}};
  // Invalid UTF-8 in a text is replaced rather than thrown on.
  const std::string text = line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_file == nullptr) return;
  std::fputs(text.c_str(), m_file);
  std::fputc('\n', m_file);
  std::fflush(m_file);
}

}  // namespace velquor
