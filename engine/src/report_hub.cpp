#include "report_hub.h"

namespace velquor {

void ReportHub::AddSink(std::shared_ptr<ReportSink> sink) {
  if (!sink) return;
  MutexLock lock(m_lock);
  m_sinks.push_back(std::move(sink));
}

void ReportHub::Report(const ReportRecord& report) {
  std::vector<std::shared_ptr<ReportSink>> sinks;
  {
    MutexLock lock(m_lock);
    sinks = m_sinks;
  }
  for (const auto& sink : sinks) {
    try {
      sink->Deliver(report);
    } catch (...) {
      // A failing sink loses this report; the others still get it.
    }
  }
}

}  // namespace velquor
