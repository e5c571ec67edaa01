// What an input holds, told from its content (never its name): pcap
// (either byte order, micro- or nanosecond stamps), pcapng, candump log text
// ("(seconds.fraction) iface id#data" lines) or CSV whose header's first
// column is "timestamp_us" (quoted or not). A UTF-8 byte order mark in front
// of a text is skipped, as the players skip it.
//
// Threading: plain functions over files and bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velquor::tool {

enum class InputKind { Unknown, Pcap, PcapNg, CanLog, Csv };

/// The first bytes that decide a kind; a first line longer than this is
/// judged by its start.
constexpr std::size_t kKindHeadSize = 4096;

/// The kind of the file at `path`. Unknown with `problem` set otherwise:
/// what is wrong, worded to follow "'PATH': " (it cannot be opened or read,
/// it is a directory or empty, its content is not recognised, its first
/// line is too long to tell).
InputKind DetectInputKind(const std::string& path, std::string& problem);
/// The same from the first bytes of an input (those past kKindHeadSize are
/// not looked at); `problem`, when given, as above.
InputKind DetectInputKindFromBytes(std::string_view head, std::string* problem = nullptr);
/// Whether the first bytes of a stream are enough to go on with: they decide
/// its kind and hold what is read before the players start (a pcap header,
/// a pcapng file's blocks up to its first interface, a text's first
/// non-blank line). False while more bytes are needed.
bool HeadIsComplete(std::string_view head);
/// The first line of a text as its player reads it: without a byte order
/// mark in front, a '\r' at its end, or the '\n' and what follows.
std::string_view FirstTextLine(std::string_view text);
/// "pcap", "pcapng", "candump log", "CSV".
const char* InputKindName(InputKind kind);
/// Kinds that the same player and recorder handle (pcap and pcapng).
bool SameFamily(InputKind a, InputKind b);
/// Packets, frames or rows in the file, for the progress bar only: a quick
/// walk over record headers or lines; -1 when the file cannot be read, or
/// is no regular file (a stream is read once, by its player).
long CountRecords(const std::string& path, InputKind kind);

}  // namespace velquor::tool
