// candump log lines: parsing one line into a frame record and writing a
// record back as the same text. Pure functions with no engine, no I/O and
// no global state, so that a fuzzer can drive them alone.
//
// A line is "(SECONDS.FRACTION) IFACE FRAME[ DIR]":
//   FRAME  123#DEADBEEF      classic frame, 3 hex digits: standard id
//          12345678#11.22    8 hex digits: extended id, or an error frame
//                            when the id carries the error flag 0x20000000
//          123#R, 123#R5     remote frame, with or without its DLC digit
//          123#1122334455667788_C   8 data bytes with a raw DLC 9..F
//          123##1AABB        CAN FD: one hex digit of FD flags, then 0..8, 12, 16,
//                            20, 24, 32, 48 or 64 bytes
//   DIR    "R" or "T" (received / sent), written by some loggers
// Spaces between the time and the interface (loggers pad interface names to a
// common width) are kept as a count so that the line is written back as read.
// Data bytes may be separated by '.', which is not kept; hex digits are
// written in upper case, as candump writes them.
//
// Threading: pure functions; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velquor_io {

// Flags carried in CanLogFrame::id, as in Linux's can_id.
constexpr std::uint32_t KyCanEffFlag = 0x80000000u;
constexpr std::uint32_t KyCanRtrFlag = 0x40000000u;
constexpr std::uint32_t KyCanErrFlag = 0x20000000u;
constexpr std::uint32_t KyCanSffMask = 0x000007FFu;
constexpr std::uint32_t KyCanEffMask = 0x1FFFFFFFu;

/// Notation details of a line (CanLogFrame::notation bits).
enum CanLogNotation : std::uint32_t {
  KyCanFd = 0x1,           // "##": CAN FD frame
  KyCanRemoteDlc = 0x2,    // "R<digit>": the remote frame's DLC was written
  KyCanRawDlc = 0x4,       // "_X": a raw DLC above 8 follows the data
  KyCanDirection = 0x8,    // a direction field follows the frame
  KyCanDirectionTx = 0x10  // ... and it is "T" (else "R")
};

/// Largest interface name accepted (bytes).
constexpr std::size_t KyMaxInterfaceName = 64;
/// Largest number of padding spaces kept in front of an interface name.
constexpr int KyMaxInterfacePadding = 255;

struct CanLogFrame {
  std::int64_t ts = 0;         // microseconds (fraction digits past 6 are cut)
  std::string_view interface;  // a view into the parsed line
  int padding = 0;             // extra spaces in front of the interface
  std::uint32_t id = 0;        // identifier with the flags above
  std::uint8_t data[64] = {};  // payload (none for remote frames)
  std::uint8_t length = 0;     // payload bytes
  std::uint8_t dlc = 0;        // remote frames: their DLC; KyCanRawDlc: the raw DLC
  std::uint8_t fdFlags = 0;    // CAN FD: the flags digit
  std::uint32_t notation = 0;  // CanLogNotation bits
};

/// Parses `line` (without its end of line; a trailing '\r' is ignored).
/// Returns null on success, else a short static description of the fault;
/// `frame` is then unspecified. `frame.interface` points into `line`.
const char* ParseCanLogLine(std::string_view line, CanLogFrame& frame);

/// The fault of a line ParseCanLogLine refuses, in full: which character
/// is not a hex digit and its column from 1, or how many bytes a CAN FD
/// frame has. Empty for a line that parses.
std::string CanLogLineFault(std::string_view line);

/// Appends the line of `frame` to `out`, without an end of line: seconds
/// with at least 10 digits, six decimals, the padding and the interface,
/// the frame in candump's notation, the direction when there was one.
void FormatCanLogLine(const CanLogFrame& frame, std::string& out);

}  // namespace velquor_io
