#include "diagram_lock.h"

namespace velquor {

DiagramLock::DiagramLock(Warn warn, std::chrono::milliseconds slow)
    : m_warn(std::move(warn)), m_slow(slow) {}

bool DiagramLock::TakeIfAvailable(const std::string& reason) {
  const auto self = std::this_thread::get_id();
  if (m_depth > 0 && m_owner != self) return false;
  if (m_depth++ == 0) {
    m_owner = self;
    m_reason = reason;
    m_since = std::chrono::steady_clock::now();
  }
  return true;
}

void DiagramLock::Lock(const std::string& reason) {
  std::string blockedBy;
  {
    MutexLock lock(m_mutex);
    if (!TakeIfAvailable(reason)) {
      // One bounded wait first, to diagnose a holder that keeps the lock
      // too long; then wait for good.
      auto isFree = [&]() DAXO_REQUIRES(m_mutex) { return m_depth == 0; };
      if (!m_released.wait_for(lock.Native(), m_slow, isFree)) blockedBy = m_reason;
      m_released.wait(lock.Native(), isFree);
      TakeIfAvailable(reason);
    }
  }
  if (!blockedBy.empty() && m_warn) {
    m_warn("Diagram lock: \"" + reason + "\" waited long for the holder \"" + blockedBy + "\"");
  }
}

bool DiagramLock::TryLock(const std::string& reason) {
  MutexLock lock(m_mutex);
  return TakeIfAvailable(reason);
}

void DiagramLock::Unlock() {
  std::string heldLong;
  {
    MutexLock lock(m_mutex);
    if (m_depth == 0 || m_owner != std::this_thread::get_id()) return;
    if (--m_depth > 0) return;
    if (std::chrono::steady_clock::now() - m_since > m_slow) heldLong = m_reason;
    m_reason.clear();
    m_owner = std::thread::id();
  }
  m_released.notify_all();
  if (!heldLong.empty() && m_warn) m_warn("Diagram lock: \"" + heldLong + "\" held it long");
}

std::string DiagramLock::Holder() const {
  MutexLock lock(m_mutex);
  return m_depth > 0 ? m_reason : std::string();
}

std::string DescribeException(std::exception_ptr error) {
  try {
    std::rethrow_exception(std::move(error));
  } catch (int code) {
    return "error code " + std::to_string(code);
  } catch (const char* text) {
    return text != nullptr ? text : "unknown error";
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "unknown error";
  }
}

}  // namespace velquor
