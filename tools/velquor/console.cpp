// Standard error of the tool and its report sink.
#include "console.h"

#include <unistd.h>

#include <cstdio>

namespace velquor::tool {

bool Console::IsTerminal() {
  return isatty(STDERR_FILENO) != 0;
}

void Console::Message(const std::string& line) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_progressShown) std::fputs("\r\033[K", stderr);
  std::fputs(line.c_str(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
  // The progress line comes back at its next update.
  m_progressShown = false;
}

void Console::Progress(const std::string& line) {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::fprintf(stderr, "\r\033[K%s", line.c_str());
  std::fflush(stderr);
  m_progressShown = true;
}

void Console::EndProgress() {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_progressShown) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  m_progressShown = false;
}

namespace {
// Error-level reports about a declaration that the framework goes on with
// (the allocation is made as asked): a note for package authors (shown
// with --verbose), not a failed run.
bool IsDeclarationNotice(const std::string& text) {
  static const std::string kVectorFlag = " is a vector but its vector flag is not set.";
  return text.size() >= kVectorFlag.size() &&
         text.compare(text.size() - kVectorFlag.size(), kVectorFlag.size(), kVectorFlag) == 0;
}
}  // namespace

void ToolReportSink::Deliver(const ReportRecord& report) {
  const std::string text = m_rewrite ? m_rewrite(report.text) : report.text;
  if (report.level == Error && IsDeclarationNotice(report.text)) {
    if (m_verbose) m_console.Message("note: " + text);
    return;
  }
  if (report.level == Error) {
    if (m_tally && m_tally(report.text)) {
      const long n = ++m_tallied;
      if (n <= kTallyShown) m_console.Message("warning: " + text);
      if (n == kTallyShown)
        m_console.Message("warning: (further reports of this kind are counted)");
      return;
    }
    ++m_failures;
    m_console.Message("error: " + text);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_onFailure) m_onFailure();
    return;
  }
  if (report.level == Warning || m_verbose) {
    m_console.Message(ReportLevelName(report.level) + ": " + text);
  }
}

void ToolReportSink::SetOnFailure(std::function<void()> onFailure) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_onFailure = std::move(onFailure);
}

}  // namespace velquor::tool
