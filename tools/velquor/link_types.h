// Link types of capture inputs (pcap, pcapng), read with libpcap the way the
// capture player reads them. The multiplexer refuses streams of different
// link types, but only once the diagram runs and without naming a file; the
// merge checks them first so that nothing is written and the message names
// every input.
//
// Threading: plain functions over files.
#pragma once

#include <string>
#include <vector>

namespace velquor::tool {

class Console;

struct LinkType {
  int number = -1;   // DLT_ value, as pcap_datalink reports it
  std::string name;  // pcap_datalink_val_to_name ("EN10MB"), "unknown" when libpcap has none
};

/// The link type of the capture at `path` (of a pcapng file, its first
/// interface's), or, when `head` is not empty, of the capture that starts
/// with these bytes (a stream, which cannot be opened a second time). False
/// with `error` set (libpcap's text) when libpcap cannot open it.
bool ReadLinkType(const std::string& path, LinkType& type, std::string& error,
                  const std::string& head = {});

/// Reads the link type of every capture. Empty when they all agree;
/// otherwise the lines of the message that names each input with its link
/// type. `error` is set instead when a capture cannot be opened. `heads`
/// (empty, or one per path) gives the first bytes of streams, as
/// ReadLinkType's `head`.
std::vector<std::string> LinkTypeMismatch(const std::vector<std::string>& paths, std::string& error,
                                          const std::vector<std::string>& heads = {});

/// LinkTypeMismatch for `velquor merge`: kSuccess, or kFailure once the
/// message ("velquor merge: ...") is on the console.
int CheckLinkTypes(const std::vector<std::string>& paths, Console& console,
                   const std::vector<std::string>& heads = {});

}  // namespace velquor::tool
