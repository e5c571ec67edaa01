// Link types of captures through libpcap.
#include "link_types.h"

#include <pcap/pcap.h>

#include <algorithm>
#include <cstdio>
#include <memory>

#include "console.h"

namespace velquor::tool {

bool ReadLinkType(const std::string& path, LinkType& type, std::string& error,
                  const std::string& head) {
  char errors[PCAP_ERRBUF_SIZE] = {};
  // Only the file header (and, for pcapng, the blocks up to the first
  // interface description) is read: no packet.
  pcap_t* opened = nullptr;
  if (head.empty()) {
    opened = pcap_open_offline(path.c_str(), errors);
  } else if (std::FILE* bytes = fmemopen(const_cast<char*>(head.data()), head.size(), "rb")) {
    opened = pcap_fopen_offline(bytes, errors);  // takes the file when it succeeds
    if (opened == nullptr) std::fclose(bytes);
  }
  std::unique_ptr<pcap_t, void (*)(pcap_t*)> capture(opened, &pcap_close);
  if (!capture) {
    error = errors[0] != '\0' ? errors : "libpcap cannot open it";
    return false;
  }
  type.number = pcap_datalink(capture.get());
  const char* name = pcap_datalink_val_to_name(type.number);
  type.name = name != nullptr ? name : "unknown";
  return true;
}

std::vector<std::string> LinkTypeMismatch(const std::vector<std::string>& paths, std::string& error,
                                          const std::vector<std::string>& heads) {
  error.clear();
  std::vector<LinkType> types(paths.size());
  for (std::size_t i = 0; i < paths.size(); ++i) {
    std::string why;
    if (!ReadLinkType(paths[i], types[i], why, i < heads.size() ? heads[i] : std::string())) {
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

int CheckLinkTypes(const std::vector<std::string>& paths, Console& console,
                   const std::vector<std::string>& heads) {
  std::string error;
  const std::vector<std::string> lines = LinkTypeMismatch(paths, error, heads);
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
