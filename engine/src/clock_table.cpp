#include "clock_table.h"

#include <utility>

namespace velquor {

ClockTable::ClockTable(ReportFn report) : m_report(std::move(report)) {}

unsigned char ClockTable::Register(const void* clock, const std::string& name) {
  {
    MutexLock lock(m_lock);
    int free = 0;
    for (int id = 1; id < kSize; ++id) {
      Slot& slot = m_slots[id];
      if (slot.clock == clock) {
        slot.name = name;
        return static_cast<unsigned char>(id);
      }
      if (free == 0 && slot.clock == nullptr) free = id;
    }
    if (free != 0) {
      m_slots[free] = Slot{clock, name};
      return static_cast<unsigned char>(free);
    }
  }
  m_report("Engine: the clock table is full (" + std::to_string(kSize - 1) + " clocks); clock '" +
               name + "' gets identifier 0, the engine clock's.",
           1);
  return kEngineClock;
}

void ClockTable::Unregister(const void* clock) {
  if (clock == nullptr) return;
  MutexLock lock(m_lock);
  for (int id = 1; id < kSize; ++id) {
    if (m_slots[id].clock == clock) {
      m_slots[id] = Slot{};
      return;
    }
  }
}

int ClockTable::Find(const std::string& name) const {
  if (name == kEngineClockName) return kEngineClock;
  MutexLock lock(m_lock);
  for (int id = 1; id < kSize; ++id) {
    if (m_slots[id].clock != nullptr && m_slots[id].name == name) return id;
  }
  return -1;
}

std::vector<ClockInfo> ClockTable::Clocks() const {
  std::vector<ClockInfo> clocks{ClockInfo{kEngineClock, kEngineClockName}};
  MutexLock lock(m_lock);
  for (int id = 1; id < kSize; ++id) {
    if (m_slots[id].clock != nullptr) clocks.push_back(ClockInfo{id, m_slots[id].name});
  }
  return clocks;
}

}  // namespace velquor
