// SymbolRegistry: every element's full name, registered once, with its kind
// and object; removal notices for names that were unregistered; pins that
// keep a module alive while a thread reads one of its elements found here.
//
// Pins. Looking an element up and then using it are two steps: the element
// (or its module) could be destroyed between them. FindPinned finds the
// element and pins its owner in one step under the registry's lock; the
// owner's destruction retires it first (Retire), which waits until no pin
// is left and refuses new ones. The pinned reader then takes the owner's
// own locks (after the registry's lock is released: element creation
// registers names under the module lock, so the module lock is above this
// leaf and may not be taken under it) and checks that the element is still
// the owner's before reading it.
//
// Threading: every method from any thread. One leaf lock guards the table,
// the notice log and the pins; removal listeners are called after it is
// released, on the unregistering thread, so a listener may call back into
// the registry. FindPinned calls `ownerOf` under the lock: it must only read
// a field. Retire blocks until the pins on its owner are gone: the retiring
// thread must not hold a lock a pinned reader takes (the owner's module and
// property locks).
#pragma once

#include <condition_variable>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "daxo_kernel.h"
#include "engine_mutex.h"

namespace velquor {

class SymbolRegistry {
 public:
  using RemovalListener = std::function<void(const std::string&)>;

  /// False when the name is taken (whatever its kind) or empty.
  bool Register(const std::string& fullName, DAXOSymbolKind kind, void* object);
  /// Removes the name (if present) and records a removal notice either way:
  /// the notice tells that the element is gone, which holds in both cases.
  void Unregister(const std::string& fullName);
  /// The object under that name when it was registered with that kind.
  void* Find(const std::string& fullName, DAXOSymbolKind kind) const;
  /// Whether the name is registered, whatever its kind.
  bool Contains(const std::string& fullName) const;
  std::vector<std::string> RemovalNotices() const;
  /// Records that output `fullName` was created (its notice).
  void OutputCreated(const std::string& fullName);
  std::vector<std::string> OutputNotices() const;
  /// Renames `oldPrefix` and every name that starts with `oldPrefix` + "."
  /// to `newPrefix` + the rest. False, nothing changed, when a new name is
  /// taken already.
  bool RenamePrefix(const std::string& oldPrefix, const std::string& newPrefix);
  void AddRemovalListener(RemovalListener listener);

  /// The object under that name when it was registered with that kind, with
  /// `*owner` := ownerOf(object) pinned; null (and no pin) when there is no
  /// such object or its owner is retired. Unpin each non-null owner.
  void* FindPinned(const std::string& fullName, DAXOSymbolKind kind, void* (*ownerOf)(void*),
                   void** owner);
  void Unpin(void* owner);
  /// Waits until `owner` has no pin, then refuses new pins on it until
  /// Forget(owner). Retiring twice is retiring once.
  void Retire(void* owner);
  /// Drops what the registry knows of `owner` (after its elements left the
  /// registry; its address may then be reused by a new object).
  void Forget(void* owner);

 private:
  struct Entry {
    DAXOSymbolKind kind;
    void* object;
  };
  struct Pins {
    int count = 0;
    bool retired = false;
  };

  mutable Mutex m_lock;  // a leaf
  std::condition_variable m_unpinned;
  std::unordered_map<std::string, Entry> m_symbols DAXO_GUARDED_BY(m_lock);
  std::unordered_map<void*, Pins> m_pins DAXO_GUARDED_BY(m_lock);
  std::vector<std::string> m_removals DAXO_GUARDED_BY(m_lock);
  std::vector<std::string> m_outputs DAXO_GUARDED_BY(m_lock);  // creation notices
  std::vector<RemovalListener> m_listeners DAXO_GUARDED_BY(m_lock);
};

}  // namespace velquor
