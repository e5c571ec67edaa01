// What an input file holds, told from its content (never its name): pcap
// (either byte order, micro- or nanosecond stamps), pcapng, candump log text
// ("(seconds.fraction) iface id#data" lines) or CSV whose header names a
// "timestamp_us" column.
//
// Threading: plain functions over files.
#pragma once

#include <string>

namespace velquor::tool {

enum class InputKind { Unknown, Pcap, PcapNg, CanLog, Csv };

/// The kind of the file at `path`; Unknown with `error` set when it cannot
/// be read, Unknown with `error` empty when the content is not recognised.
InputKind DetectInputKind(const std::string& path, std::string& error);
/// Decides from the first bytes of a file (at most a few kilobytes suffice).
InputKind DetectInputKindFromBytes(const std::string& head);
/// "pcap", "pcapng", "candump log", "CSV".
const char* InputKindName(InputKind kind);
/// Kinds that the same player and recorder handle (pcap and pcapng).
bool SameFamily(InputKind a, InputKind b);
/// Packets, frames or rows in the file, for the progress bar only: a quick
/// walk over record headers or lines; -1 when the file cannot be read.
long CountRecords(const std::string& path, InputKind kind);

}  // namespace velquor::tool
