#include "symbol_registry.h"

namespace velquor {

bool SymbolRegistry::Register(const std::string& fullName, DAXOSymbolKind kind, void* object) {
  if (fullName.empty()) return false;
  MutexLock lock(m_lock);
  return m_symbols.emplace(fullName, Entry{kind, object}).second;
}

void SymbolRegistry::Unregister(const std::string& fullName) {
  std::vector<RemovalListener> listeners;
  {
    MutexLock lock(m_lock);
    m_symbols.erase(fullName);
    m_removals.push_back(fullName);
    listeners = m_listeners;
  }
  for (const auto& listener : listeners) listener(fullName);
}

void* SymbolRegistry::Find(const std::string& fullName, DAXOSymbolKind kind) const {
  MutexLock lock(m_lock);
  auto it = m_symbols.find(fullName);
  if (it == m_symbols.end() || it->second.kind != kind) return nullptr;
  return it->second.object;
}

bool SymbolRegistry::Contains(const std::string& fullName) const {
  MutexLock lock(m_lock);
  return m_symbols.count(fullName) != 0;
}

std::vector<std::string> SymbolRegistry::RemovalNotices() const {
  MutexLock lock(m_lock);
  return m_removals;
}

void SymbolRegistry::OutputCreated(const std::string& fullName) {
  MutexLock lock(m_lock);
  m_outputs.push_back(fullName);
}

std::vector<std::string> SymbolRegistry::OutputNotices() const {
  MutexLock lock(m_lock);
  return m_outputs;
}

void SymbolRegistry::AddRemovalListener(RemovalListener listener) {
  if (!listener) return;
  MutexLock lock(m_lock);
  m_listeners.push_back(std::move(listener));
}

bool SymbolRegistry::RenamePrefix(const std::string& oldPrefix, const std::string& newPrefix) {
  MutexLock lock(m_lock);
  std::vector<std::pair<std::string, std::string>> moves;
  for (const auto& [name, entry] : m_symbols) {
    if (name == oldPrefix ||
        (name.size() > oldPrefix.size() && name.compare(0, oldPrefix.size(), oldPrefix) == 0 &&
         name[oldPrefix.size()] == '.')) {
      moves.emplace_back(name, newPrefix + name.substr(oldPrefix.size()));
    }
  }
  for (const auto& [from, to] : moves) {
    if (m_symbols.count(to) != 0) return false;
  }
  for (const auto& [from, to] : moves) {
    auto node = m_symbols.extract(from);
    node.key() = to;
    m_symbols.insert(std::move(node));
  }
  return true;
}

void* SymbolRegistry::FindPinned(const std::string& fullName, DAXOSymbolKind kind,
                                 void* (*ownerOf)(void*), void** owner) {
  *owner = nullptr;
  MutexLock lock(m_lock);
  auto it = m_symbols.find(fullName);
  if (it == m_symbols.end() || it->second.kind != kind) return nullptr;
  void* const found = ownerOf(it->second.object);
  if (found == nullptr) return nullptr;
  Pins& pins = m_pins[found];
  if (pins.retired) return nullptr;
  ++pins.count;
  *owner = found;
  return it->second.object;
}

void SymbolRegistry::Unpin(void* owner) {
  MutexLock lock(m_lock);
  auto it = m_pins.find(owner);
  if (it == m_pins.end() || it->second.count == 0) return;
  if (--it->second.count == 0) m_unpinned.notify_all();
}

void SymbolRegistry::Retire(void* owner) {
  MutexLock lock(m_lock);
  Pins& pins = m_pins[owner];
  pins.retired = true;
  m_unpinned.wait(lock.Native(), [&]() DAXO_REQUIRES(m_lock) { return pins.count == 0; });
}

void SymbolRegistry::Forget(void* owner) {
  MutexLock lock(m_lock);
  auto it = m_pins.find(owner);
  if (it != m_pins.end() && it->second.count == 0) m_pins.erase(it);
}

}  // namespace velquor
