#include "module_notices.h"

namespace velquor {

void ModuleNotices::Notify(const std::string& module, int state) {
  MutexLock lock(m_lock);
  m_states[module] = state;
  m_log.push_back(ModuleStateNotice{module, state});
}

int ModuleNotices::State(const std::string& module, bool* found) const {
  MutexLock lock(m_lock);
  auto it = m_states.find(module);
  if (found != nullptr) *found = it != m_states.end();
  return it == m_states.end() ? 0 : it->second;
}

std::vector<ModuleStateNotice> ModuleNotices::Log() const {
  MutexLock lock(m_lock);
  return m_log;
}

}  // namespace velquor
