// ModuleNotices: the last state word notified for each module, and the log
// of every notice in arrival order.
//
// Threading: any thread; one leaf lock.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "velquor/engine.h"

namespace velquor {

class ModuleNotices {
 public:
  void Notify(const std::string& module, int state);
  /// The last state of `module`; 0 with `found` false when none was notified.
  int State(const std::string& module, bool* found) const;
  std::vector<ModuleStateNotice> Log() const;

 private:
  mutable std::mutex m_lock;  // guards both members
  std::map<std::string, int> m_states;
  std::vector<ModuleStateNotice> m_log;
};

}  // namespace velquor
