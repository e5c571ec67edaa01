// DAXOCANUniFrame <-> candump frame, and the interface name registry.
#include "can_frame_codec.h"

#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace velquor_io {

namespace {

struct InterfaceRegistry {
  std::mutex mutex;
  std::unordered_map<std::string, std::uint32_t> numbers;  // guarded by mutex
  std::vector<std::string> names;                          // guarded by mutex
};

InterfaceRegistry& Registry() {
  // Destroyed when the package is unloaded, after the engine has destroyed
  // every component that could use it.
  static InterfaceRegistry registry;
  return registry;
}

}  // namespace

std::uint32_t CanInterfaceNumber(std::string_view name) {
  InterfaceRegistry& r = Registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  const auto [it, added] =
      r.numbers.try_emplace(std::string(name), static_cast<std::uint32_t>(r.names.size()));
  if (added) r.names.emplace_back(name);
  return it->second;
}

bool CanInterfaceName(std::uint32_t number, std::string& name) {
  InterfaceRegistry& r = Registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  if (number >= r.names.size()) return false;
  name = r.names[number];
  return true;
}

DAXOCANUniFrame ToUniFrame(const CanLogFrame& frame) {
  DAXOCANUniFrame record{};
  record.misc = CanInterfaceNumber(frame.interface);
  record.id = frame.id;
  record.ts = frame.ts;
  std::memcpy(record.data, frame.data, sizeof record.data);
  record.flags = frame.fdFlags;
  record.hasFlags = frame.notation;
  record.crc = 0;
  record.reserved = static_cast<std::uint32_t>(frame.length) |
                    (static_cast<std::uint32_t>(frame.dlc) << 8) |
                    (static_cast<std::uint32_t>(frame.padding & 0xFF) << 16);
  return record;
}

bool FromUniFrame(const DAXOCANUniFrame& record, std::string& interfaceName, CanLogFrame& frame) {
  if (!CanInterfaceName(record.misc, interfaceName)) return false;
  frame = CanLogFrame{};
  frame.interface = interfaceName;
  frame.id = record.id;
  frame.ts = record.ts;
  std::memcpy(frame.data, record.data, sizeof frame.data);
  frame.fdFlags = static_cast<std::uint8_t>(record.flags & 0xF);
  frame.notation = record.hasFlags;
  const std::uint32_t length = record.reserved & 0xFF;
  frame.length = static_cast<std::uint8_t>(length > 64 ? 64 : length);
  frame.dlc = static_cast<std::uint8_t>((record.reserved >> 8) & 0xFF);
  frame.padding = static_cast<int>((record.reserved >> 16) & 0xFF);
  return true;
}

}  // namespace velquor_io
