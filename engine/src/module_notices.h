// ModuleNotices: the last state word notified for each module, and the log
// of every notice in arrival order.
//
// Threading: any thread; one leaf lock.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "engine_mutex.h"
#include "velquor/engine.h"

namespace velquor {

class ModuleNotices {
 public:
  void Notify(const std::string& module, int state);
  /// The last state of `module`; 0 with `found` false when none was notified.
  int State(const std::string& module, bool* found) const;
  std::vector<ModuleStateNotice> Log() const;

 private:
  mutable Mutex m_lock;  // a leaf
  std::map<std::string, int> m_states DAXO_GUARDED_BY(m_lock);
  std::vector<ModuleStateNotice> m_log DAXO_GUARDED_BY(m_lock);
};

}  // namespace velquor
