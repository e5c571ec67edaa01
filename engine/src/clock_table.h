// ClockTable: the clocks known to the engine (DAXOBaseClock, include/
// daxo_services.h) and their one-byte identifiers. Identifier 0 is the
// engine clock itself ("Engine"); a registered clock gets the lowest free
// identifier of 1..255, free again once it unregisters. With all 255 taken a
// registration is answered 0 (the engine clock's identifier, which every
// clock query then treats as the engine clock) and reported as a warning;
// such a clock is not in the table and its unregistration does nothing.
//
// The table keeps the name a clock has when it registers: a clock renames
// itself by unregistering and registering again (DAXOBaseClock::RenameClock),
// so the name kept is always the clock's current one, and no lookup ever
// reads a package's object.
//
// Threading: every method from any thread. One leaf lock (daxo_lock_order.h,
// level 14); reports are made after it is released.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "engine_mutex.h"
#include "velquor/engine.h"

namespace velquor {

class ClockTable {
 public:
  using ReportFn = std::function<void(const std::string& text, int level)>;
  static constexpr int kEngineClock = 0;
  static constexpr int kSize = 256;  // identifiers 0..255
  static constexpr const char* kEngineClockName = "Engine";

  explicit ClockTable(ReportFn report);

  /// Enters `clock` under `name`; its identifier (see the banner for 0).
  /// A clock already in the table keeps its identifier and takes the name.
  unsigned char Register(const void* clock, const std::string& name);
  /// Frees the clock's identifier; unknown clocks are ignored.
  void Unregister(const void* clock);
  /// The lowest identifier of a clock named `name` (the engine clock's
  /// included), or -1.
  int Find(const std::string& name) const;
  /// The engine clock, then the registered clocks, by identifier.
  std::vector<ClockInfo> Clocks() const;

 private:
  struct Slot {
    const void* clock = nullptr;  // null: free
    std::string name;
  };
  ReportFn m_report;
  mutable Mutex m_lock;                                     // a leaf
  std::array<Slot, kSize> m_slots DAXO_GUARDED_BY(m_lock);  // [0] unused: the engine clock
};

}  // namespace velquor
