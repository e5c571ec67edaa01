// Link types of captures through libpcap.
#include "link_types.h"

#include <pcap/pcap.h>

#include <algorithm>
#include <memory>

#include "console.h"

namespace velquor::tool {

bool ReadLinkType(const std::string& path, LinkType& type, std::string& error) {
  char errors[PCAP_ERRBUF_SIZE] = {};
  // Only the file header (and, for pcapng, the blocks up to the first
  // interface description) is read: no packet.
  std::unique_ptr<pcap_t, void (*)(pcap_t*)> capture(pcap_open_offline(path.c_str(), errors),
                                                     &pcap_close);
  if (!capture) {
    error = errors[0] != '\0' ? errors : "libpcap cannot open it";
    return false;
  }
  type.number = pcap_datalink(capture.get());
  const char* name = pcap_datalink_val_to_name(type.number);
  type.name = name != nullptr ? name : "unknown";
  return true;
}

std::vector<std::string> LinkTypeMismatch(const std::vector<std::string>& paths,
                                          std::string& error) {
  error.clear();
  std::vector<LinkType> types(paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i) {
    std::string why;
    if (!ReadLinkType(paths[i], types[i], why)) {
      error = "cannot read '" + paths[i] + "': " + why;
      return {};
    }
  }
  const bool agree = std::all_of(types.begin(), types.end(), [&](const LinkType& t) {
    return t.number == types.front().number;
  });
  if (agree) return {};
  std::vector<std::string> lines{"inputs of different link types cannot be merged:"};
  for (std::size_t i = 0; i < paths.size(); ++i) {
    lines.push_back("  " + paths[i] + ": " + types[i].name + " (" +
                    std::to_string(types[i].number) + ")");
  }
  return lines;
}

int CheckLinkTypes(const std::vector<std::string>& paths, Console& console) {
  std::string error;
  const std::vector<std::string> lines = LinkTypeMismatch(paths, error);
  if (!error.empty()) {
    console.Message("velquor merge: " + error);
    return kFailure;
  }
  if (lines.empty()) return kSuccess;
  console.Message("velquor merge: " + lines.front());
  for (std::size_t i = 1; i < lines.size(); ++i) console.Message(lines[i]);
  return kFailure;
}

}  // namespace velquor::tool
