// Input kind detection and record counting.
#include "input_kind.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "can_log_format.h"
#include "csv_format.h"

namespace velquor::tool {

namespace {

// Text without the UTF-8 byte order mark that may start it.
std::string_view WithoutBom(std::string_view text) {
  constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
  return text.substr(0, kUtf8Bom.size()) == kUtf8Bom ? text.substr(kUtf8Bom.size()) : text;
}

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

File Open(const std::string& path) {
  return File(std::fopen(path.c_str(), "rb"), &std::fclose);
}

std::uint32_t Read32(const unsigned char* p, bool bigEndian) {
  if (bigEndian) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           p[3];
  }
  return (std::uint32_t{p[3]} << 24) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) |
         p[0];
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
    text.remove_prefix(1);
  }
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  return text;
}

bool IsDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (std::isdigit(static_cast<unsigned char>(c)) == 0) return false;
  }
  return true;
}

// "(1700000000.123456) can0 123#DEADBEEF" (also remote frames "123#R" and
// CAN FD "123##1...").
bool IsCandumpLine(std::string_view line) {
  if (line.size() < 2 || line[0] != '(') return false;
  const std::size_t close = line.find(')');
  if (close == std::string_view::npos) return false;
  const std::string_view stamp = line.substr(1, close - 1);
  const std::size_t dot = stamp.find('.');
  if (dot == std::string_view::npos || !IsDigits(stamp.substr(0, dot)) ||
      !IsDigits(stamp.substr(dot + 1))) {
    return false;
  }
  std::string_view rest = line.substr(close + 1);
  if (rest.empty() || (rest[0] != ' ' && rest[0] != '\t')) return false;
  rest = Trim(rest);
  const std::size_t blank = rest.find_first_of(" \t");
  if (blank == 0 || blank == std::string_view::npos) return false;
  const std::string_view frame = Trim(rest.substr(blank));
  const std::size_t hash = frame.find('#');
  if (hash == 0 || hash == std::string_view::npos) return false;
  for (char c : frame.substr(0, hash)) {
    if (std::isxdigit(static_cast<unsigned char>(c)) == 0) return false;
  }
  return true;
}

// The player's own reading of a header's first column.
bool IsCsvHeader(std::string_view line) {
  std::size_t pos = 0;
  return velquor_io::NextCsvHeaderName(line, pos) == velquor_io::KyCsvTimestampColumn;
}

std::uint32_t Magic(std::string_view head) {
  return head.size() >= 4 ? Read32(reinterpret_cast<const unsigned char*>(head.data()), true) : 0;
}

bool IsPcapMagic(std::uint32_t magic) {
  return magic == 0xA1B2C3D4 || magic == 0xD4C3B2A1 || magic == 0xA1B23C4D || magic == 0x4D3CB2A1;
}

constexpr std::uint32_t kPcapNgMagic = 0x0A0D0D0A;

// Whether `head` holds a pcapng file's blocks up to its first interface
// description (or up to a block that makes the file bad, which libpcap
// then names).
bool HoldsFirstInterface(std::string_view head) {
  const auto* b = reinterpret_cast<const unsigned char*>(head.data());
  bool bigEndian = false;
  std::size_t at = 0;
  while (head.size() - at >= 12) {
    if (Read32(b + at, false) == kPcapNgMagic) bigEndian = Read32(b + at + 8, true) == 0x1A2B3C4D;
    const std::uint32_t type = Read32(b + at, bigEndian);
    const std::uint32_t length = Read32(b + at + 4, bigEndian);
    if (length < 12 || length % 4 != 0 || type == 6 || type == 3 || type == 2) return true;
    if (type == 1) return head.size() - at >= length;
    if (head.size() - at < length) return false;
    at += length;
  }
  return false;
}

long CountPcap(std::FILE* file) {
  unsigned char header[24];
  if (std::fread(header, 1, sizeof header, file) != sizeof header) return 0;
  const bool bigEndian = header[0] == 0xA1;
  long count = 0;
  unsigned char record[16];
  while (std::fread(record, 1, sizeof record, file) == sizeof record) {
    ++count;
    if (std::fseek(file, static_cast<long>(Read32(record + 8, bigEndian)), SEEK_CUR) != 0) break;
  }
  return count;
}

long CountPcapNg(std::FILE* file) {
  long count = 0;
  bool bigEndian = false;
  unsigned char block[12];
  for (;;) {
    if (std::fread(block, 1, sizeof block, file) != sizeof block) break;
    if (Read32(block, false) == 0x0A0D0D0A) bigEndian = Read32(block + 8, true) == 0x1A2B3C4D;
    const std::uint32_t type = Read32(block, bigEndian);
    const std::uint32_t length = Read32(block + 4, bigEndian);
    if (length < sizeof block || length % 4 != 0) break;
    if (type == 6 || type == 3 || type == 2) ++count;
    if (std::fseek(file, static_cast<long>(length - sizeof block), SEEK_CUR) != 0) break;
  }
  return count;
}

long CountLines(std::FILE* file) {
  long count = 0;
  char buffer[1 << 16];
  char last = '\n';
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    for (const char* p = buffer;
         (p = static_cast<const char*>(std::memchr(p, '\n', buffer + n - p))); ++p) {
      ++count;
    }
    last = buffer[n - 1];
  }
  return last == '\n' ? count : count + 1;
}

}  // namespace

InputKind DetectInputKindFromBytes(std::string_view head, std::string* problem) {
  std::string ignored;
  std::string& why = problem != nullptr ? *problem : ignored;
  why.clear();
  if (head.empty()) {
    why = "it is empty";
    return InputKind::Unknown;
  }
  const std::uint32_t magic = Magic(head);
  if (IsPcapMagic(magic)) return InputKind::Pcap;
  if (magic == kPcapNgMagic) return InputKind::PcapNg;
  // The first non-blank line decides a text kind; one that runs past the
  // bytes looked at is judged by its start (a CSV header's first column, a
  // candump line up to its frame).
  const bool cut = head.size() >= kKindHeadSize;
  std::string_view text = WithoutBom(head.substr(0, kKindHeadSize));
  int number = 0;
  while (!text.empty()) {
    const std::size_t newline = text.find('\n');
    const std::string_view line = Trim(text.substr(0, newline));
    text = newline == std::string_view::npos ? std::string_view() : text.substr(newline + 1);
    ++number;
    if (line.empty()) continue;
    if (IsCandumpLine(line)) return InputKind::CanLog;
    if (IsCsvHeader(line)) return InputKind::Csv;
    if (newline == std::string_view::npos && cut) {
      why = "its first line is longer than " + std::to_string(kKindHeadSize) +
            " bytes and does not start like a candump line or a CSV header (timestamp_us first)";
      return InputKind::Unknown;
    }
    // "(" begins a candump line and nothing else looked for: a log whose
    // first line is malformed hears what is wrong with it.
    if (const std::string fault = line.front() == '(' ? velquor_io::CanLogLineFault(line) : "";
        !fault.empty()) {
      why = "line " + std::to_string(number) + ": " + fault + " (a candump log line was expected)";
      return InputKind::Unknown;
    }
    break;
  }
  why =
      "unrecognised content (expected pcap, pcapng, a candump log, or CSV with a timestamp_us "
      "column first)";
  return InputKind::Unknown;
}

std::string_view FirstTextLine(std::string_view text) {
  std::string_view line = WithoutBom(text);
  line = line.substr(0, line.find('\n'));
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

bool HeadIsComplete(std::string_view head) {
  const std::uint32_t magic = Magic(head);
  if (IsPcapMagic(magic)) return head.size() >= 24;
  if (magic == kPcapNgMagic) return HoldsFirstInterface(head);
  const std::string_view text = WithoutBom(head);
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t newline = text.find('\n', at);
    if (newline == std::string_view::npos) return false;
    if (!Trim(text.substr(at, newline - at)).empty()) return true;
    at = newline + 1;
  }
  return false;
}

InputKind DetectInputKind(const std::string& path, std::string& problem) {
  problem.clear();
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    problem = std::string("cannot open it: ") + std::strerror(errno);
    return InputKind::Unknown;
  }
  struct stat status {};
  if (fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
    close(fd);
    problem = "it is a directory, not a capture or a log";
    return InputKind::Unknown;
  }
  std::string head(kKindHeadSize, '\0');
  std::size_t size = 0;
  while (size < head.size()) {
    const ssize_t n = read(fd, head.data() + size, head.size() - size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      problem = std::string("read error: ") + std::strerror(errno);
      close(fd);
      return InputKind::Unknown;
    }
    if (n == 0) break;
    size += static_cast<std::size_t>(n);
  }
  close(fd);
  head.resize(size);
  return DetectInputKindFromBytes(head, &problem);
}

const char* InputKindName(InputKind kind) {
  switch (kind) {
    case InputKind::Pcap:
      return "pcap";
    case InputKind::PcapNg:
      return "pcapng";
    case InputKind::CanLog:
      return "candump log";
    case InputKind::Csv:
      return "CSV";
    case InputKind::Unknown:
      break;
  }
  return "unknown";
}

bool SameFamily(InputKind a, InputKind b) {
  auto family = [](InputKind k) { return k == InputKind::PcapNg ? InputKind::Pcap : k; };
  return family(a) == family(b);
}

long CountRecords(const std::string& path, InputKind kind) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return -1;
  File file = Open(path);
  if (!file) return -1;
  switch (kind) {
    case InputKind::Pcap:
      return CountPcap(file.get());
    case InputKind::PcapNg:
      return CountPcapNg(file.get());
    case InputKind::CanLog:
      return CountLines(file.get());
    case InputKind::Csv: {
      const long lines = CountLines(file.get());
      return lines > 0 ? lines - 1 : 0;
    }
    case InputKind::Unknown:
      break;
  }
  return -1;
}

}  // namespace velquor::tool
