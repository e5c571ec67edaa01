// The engine's diagram lock for one scope of the micro-kernel's own code:
// re-declaring elements and removing them change what the diagram holds,
// and must not meet a connection or a start made by another thread.
//
// Lock order: the diagram lock comes first, before a component's lifecycle
// lock, connection mutexes and module locks (daxo_lock_order.h). Without an engine (a unit
// test without a kernel) there is no diagram and nothing is locked.
//
// Threading: the scope's own thread; the engine's lock is recursive for it.
#pragma once

#include "daxo_kernel.h"

namespace DAXOPrivate {

class DiagramLockScope {
 public:
  explicit DiagramLockScope(const char* reason) {
    if (kernel != nullptr) kernel->LockDiagram(reason);
  }
  ~DiagramLockScope() {
    if (kernel != nullptr) kernel->UnlockDiagram();
  }
  DiagramLockScope(const DiagramLockScope&) = delete;
  DiagramLockScope& operator=(const DiagramLockScope&) = delete;
};

}  // namespace DAXOPrivate
