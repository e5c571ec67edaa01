// ReportHub: fans every report out to the attached sinks.
//
// Threading: Report and AddSink from any thread. The sink list is copied
// under the hub's lock and the sinks are called without it, so a slow sink
// never blocks AddSink and a sink may be attached while reports flow. A sink
// that throws is skipped for that report (a report must never fail its
// caller).
#pragma once

#include <memory>
#include <vector>

#include "engine_mutex.h"
#include "velquor/reports.h"

namespace velquor {

class ReportHub {
 public:
  void AddSink(std::shared_ptr<ReportSink> sink);
  void Report(const ReportRecord& report);

 private:
  Mutex m_lock;  // a leaf: the sinks are called without it
  std::vector<std::shared_ptr<ReportSink>> m_sinks DAXO_GUARDED_BY(m_lock);
};

}  // namespace velquor
