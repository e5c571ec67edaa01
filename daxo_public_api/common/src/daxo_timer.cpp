// DAXOTimer on the system clock.
#include "daxo_timer.h"

#include "daxo_kernel.h"

void DAXOTimer::Start() {
  m_start = DAXO::GetSystemAccurateTiming();
  m_running = true;
}

void DAXOTimer::Stop() {
  if (!m_running) return;
  m_accumulated += DAXO::GetSystemAccurateTiming() - m_start;
  m_running = false;
}

void DAXOTimer::Reset() {
  m_accumulated = 0;
  m_running = false;
}

DAXODelay DAXOTimer::Time() const {
  if (!m_running) return m_accumulated;
  return m_accumulated + (DAXO::GetSystemAccurateTiming() - m_start);
}
