// SymbolRegistry: every element's full name, registered once, with its kind
// and object; removal notices for names that were unregistered.
//
// Threading: every method from any thread. One leaf lock guards the table
// and the notice log; removal listeners are called after it is released, on
// the unregistering thread, so a listener may call back into the registry.
#pragma once

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
  std::vector<std::string> RemovalNotices() const;
  /// Renames `oldPrefix` and every name that starts with `oldPrefix` + "."
  /// to `newPrefix` + the rest. False, nothing changed, when a new name is
  /// taken already.
  bool RenamePrefix(const std::string& oldPrefix, const std::string& newPrefix);
  void AddRemovalListener(RemovalListener listener);

 private:
  struct Entry {
    DAXOSymbolKind kind;
    void* object;
  };

  mutable Mutex m_lock;  // a leaf
  std::unordered_map<std::string, Entry> m_symbols DAXO_GUARDED_BY(m_lock);
  std::vector<std::string> m_removals DAXO_GUARDED_BY(m_lock);
  std::vector<RemovalListener> m_listeners DAXO_GUARDED_BY(m_lock);
};

}  // namespace velquor
