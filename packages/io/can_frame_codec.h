// How a candump log frame travels in a DAXOCANUniFrame record, and the
// process-wide registry of interface names that makes the name survive the
// trip from a CanLogPlayer to a CanLogRecorder of the same package.
//
// Field use in DAXOCANUniFrame:
//   misc      the interface name's number in the registry below
//   id        CAN id with Linux's flags: 0x80000000 extended, 0x40000000
//             remote, 0x20000000 error frame
//   ts        time in microseconds since the epoch
//   data      payload bytes (64 at most; none for remote frames)
//   flags     CAN FD: the flags digit written after "##" (0 otherwise)
//   hasFlags  notation bits (CanLogNotation: FD frame, remote DLC written,
//             raw DLC suffix, direction field and its value)
//   crc       0
//   reserved  bits 0-7 payload length in bytes, bits 8-15 the DLC (remote
//             frames, raw DLC), bits 16-23 the spaces padding the interface
//
// Threading: the registry is guarded by one leaf mutex; every function may
// be called from any thread. Numbers are never reused while the process
// lives, so a number read from a frame stays valid.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "can_log_format.h"
#include "daxo_io_elt.h"

namespace velquor_io {

/// The number of interface `name` (registered on first use).
std::uint32_t CanInterfaceNumber(std::string_view name);
/// The name registered under `number`; false when there is none.
bool CanInterfaceName(std::uint32_t number, std::string& name);

/// The record of `frame`, its interface registered.
DAXOCANUniFrame ToUniFrame(const CanLogFrame& frame);
/// The log frame of `record`; its interface view points into `interfaceName`,
/// which must outlive it. False when the interface number is unknown (a
/// record made by another producer).
bool FromUniFrame(const DAXOCANUniFrame& record, std::string& interfaceName, CanLogFrame& frame);

}  // namespace velquor_io
