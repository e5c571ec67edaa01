// candump log lines: parser and writer.
#include "can_log_format.h"

#include <cstdio>

namespace velquor_io {

namespace {

constexpr std::int64_t KyMaxSeconds = 9000000000000LL;  // keeps ts * 1e6 inside int64

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Faults whose text CanLogLineFault completes (the character and its
// column, the byte count).
constexpr char KyNotHex[] = "not a hex digit";
constexpr char KyNotFdLength[] = "not a CAN FD length (0 to 8, 12, 16, 20, 24, 32, 48 or 64 bytes)";

bool IsFdLength(std::size_t n) {
  return n <= 8 || n == 12 || n == 16 || n == 20 || n == 24 || n == 32 || n == 48 || n == 64;
}

/// Reads hex byte pairs (optionally separated by '.') from `text` at `pos`
/// up to `max` bytes; stops at the end or at a '_' (a raw DLC follows).
/// `bad`: where a character that is no hex digit stands.
const char* ParseBytes(std::string_view text, std::size_t& pos, std::size_t max, CanLogFrame& frame,
                       std::size_t& bad) {
  frame.length = 0;
  while (pos < text.size()) {
    if (text[pos] == '.') {
      if (frame.length == 0) return "'.' before the first data byte";
      ++pos;
      if (pos >= text.size() || HexValue(text[pos]) < 0) return "'.' not followed by a byte";
    }
    const int hi = HexValue(text[pos]);
    if (hi < 0 && text[pos] == '_') return nullptr;  // the data ends here
    if (hi < 0) {
      bad = pos;
      return KyNotHex;
    }
    if (pos + 1 < text.size() && HexValue(text[pos + 1]) < 0 && text[pos + 1] != '_' &&
        text[pos + 1] != '.') {
      bad = pos + 1;
      return KyNotHex;
    }
    if (pos + 1 >= text.size() || HexValue(text[pos + 1]) < 0) return "odd number of hex digits";
    if (frame.length >= max) return "too many data bytes";
    frame.data[frame.length++] = static_cast<std::uint8_t>(hi * 16 + HexValue(text[pos + 1]));
    pos += 2;
  }
  return nullptr;
}

const char* ParseTimestamp(std::string_view line, std::size_t& pos, std::int64_t& ts) {
  if (pos >= line.size() || line[pos] != '(') return "no '(' before the time";
  ++pos;
  std::int64_t seconds = 0;
  const std::size_t start = pos;
  while (pos < line.size() && IsDigit(line[pos])) {
    seconds = seconds * 10 + (line[pos] - '0');
    if (seconds > KyMaxSeconds) return "time out of range";
    ++pos;
  }
  if (pos == start) return "no digits in the time";
  std::int64_t micro = 0;
  if (pos < line.size() && line[pos] == '.') {
    ++pos;
    const std::size_t fraction = pos;
    std::int64_t scale = 100000;
    while (pos < line.size() && IsDigit(line[pos])) {
      micro += (line[pos] - '0') * scale;  // digits past the sixth add 0
      scale /= 10;
      ++pos;
    }
    if (pos == fraction) return "no digits after the decimal point";
  }
  if (pos >= line.size() || line[pos] != ')') return "no ')' after the time";
  ++pos;
  ts = seconds * 1000000 + micro;
  return nullptr;
}

const char* ParseId(std::string_view text, std::size_t& pos, std::uint32_t& id) {
  std::size_t digits = 0;
  std::uint32_t value = 0;
  while (pos + digits < text.size() && HexValue(text[pos + digits]) >= 0 && digits < 9) {
    value = value * 16 + static_cast<std::uint32_t>(HexValue(text[pos + digits]));
    ++digits;
  }
  if (pos + digits >= text.size() || text[pos + digits] != '#') return "bad CAN id";
  pos += digits + 1;
  if (digits == 3) {
    if (value > KyCanSffMask) return "standard CAN id above 7FF";
    id = value;
  } else if (digits == 8) {
    if ((value & (KyCanEffFlag | KyCanRtrFlag)) != 0) return "extended CAN id above 3FFFFFFF";
    // Eight digits name an extended frame unless the error flag is set.
    id = (value & KyCanErrFlag) != 0 ? value : (value | KyCanEffFlag);
  } else {
    return "a CAN id has 3 or 8 hex digits";
  }
  return nullptr;
}

// The raw DLC after "_" (pos is past the "_"): 9..F.
const char* ParseRawDlc(std::string_view text, std::size_t& pos, CanLogFrame& frame) {
  const int raw = pos < text.size() ? HexValue(text[pos]) : -1;
  if (raw < 9) return "raw DLC must be 9..F";
  frame.notation |= KyCanRawDlc;
  frame.dlc = static_cast<std::uint8_t>(raw);
  ++pos;
  return nullptr;
}

const char* ParseFrame(std::string_view text, CanLogFrame& frame, std::size_t& bad) {
  std::size_t pos = 0;
  if (const char* fault = ParseId(text, pos, frame.id)) return fault;
  if (pos < text.size() && text[pos] == '#') {
    // CAN FD: flags digit, then up to 64 bytes.
    ++pos;
    if (pos >= text.size() || HexValue(text[pos]) < 0) return "no flags digit after '##'";
    frame.notation |= KyCanFd;
    frame.fdFlags = static_cast<std::uint8_t>(HexValue(text[pos++]));
    if (const char* fault = ParseBytes(text, pos, 64, frame, bad)) return fault;
    if (!IsFdLength(frame.length)) return KyNotFdLength;
  } else if (pos < text.size() && text[pos] == 'R') {
    ++pos;
    frame.id |= KyCanRtrFlag;
    if (pos < text.size() && text[pos] >= '0' && text[pos] <= '8') {
      frame.notation |= KyCanRemoteDlc;
      frame.dlc = static_cast<std::uint8_t>(text[pos++] - '0');
      if (frame.dlc == 8 && pos < text.size() && text[pos] == '_') {
        ++pos;
        if (const char* fault = ParseRawDlc(text, pos, frame)) return fault;
      }
    }
  } else {
    if (const char* fault = ParseBytes(text, pos, 8, frame, bad)) return fault;
    if (pos < text.size() && text[pos] == '_') {
      if (frame.length != 8) return "raw DLC only after 8 data bytes";
      ++pos;
      if (const char* fault = ParseRawDlc(text, pos, frame)) return fault;
    }
  }
  if (pos != text.size()) return "unexpected text after the frame";
  return nullptr;
}

constexpr char KyHex[] = "0123456789ABCDEF";

/// ParseCanLogLine; `bad` is where the character of a KyNotHex fault stands
/// in `line`.
const char* ParseLine(std::string_view line, CanLogFrame& frame, std::size_t& bad) {
  frame = CanLogFrame{};
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  std::size_t pos = 0;
  if (const char* fault = ParseTimestamp(line, pos, frame.ts)) return fault;
  if (pos >= line.size() || line[pos] != ' ') return "no space after the time";
  ++pos;
  while (pos < line.size() && line[pos] == ' ') {
    if (++frame.padding > KyMaxInterfacePadding) return "too many spaces before the interface";
    ++pos;
  }
  const std::size_t nameStart = pos;
  while (pos < line.size() && line[pos] != ' ' && line[pos] != '\t') ++pos;
  if (pos == nameStart) return "no interface name";
  if (pos - nameStart > KyMaxInterfaceName) return "interface name too long";
  frame.interface = line.substr(nameStart, pos - nameStart);
  if (pos >= line.size() || line[pos] != ' ') return "no frame after the interface";
  ++pos;
  std::size_t end = line.find(' ', pos);
  if (end == std::string_view::npos) end = line.size();
  if (const char* fault = ParseFrame(line.substr(pos, end - pos), frame, bad)) {
    bad += pos;
    return fault;
  }
  if (end < line.size()) {
    const std::string_view direction = line.substr(end + 1);
    if (direction != "R" && direction != "T") return "unexpected text after the frame";
    frame.notation |= KyCanDirection | (direction == "T" ? KyCanDirectionTx : 0u);
  }
  return nullptr;
}

}  // namespace

const char* ParseCanLogLine(std::string_view line, CanLogFrame& frame) {
  std::size_t bad = 0;
  return ParseLine(line, frame, bad);
}

std::string CanLogLineFault(std::string_view line) {
  CanLogFrame frame;
  std::size_t bad = 0;
  const char* fault = ParseLine(line, frame, bad);
  if (fault == nullptr) return {};
  if (fault == KyNotFdLength) return std::to_string(frame.length) + " data bytes: " + fault;
  if (fault != KyNotHex || bad >= line.size()) return fault;
  const auto c = static_cast<unsigned char>(line[bad]);
  char shown[16];
  if (c >= 0x20 && c < 0x7F) {
    std::snprintf(shown, sizeof shown, "'%c'", c);
  } else {
    std::snprintf(shown, sizeof shown, "byte 0x%02X", c);
  }
  return std::string(shown) + " at column " + std::to_string(bad + 1) + " is " + fault;
}

void FormatCanLogLine(const CanLogFrame& frame, std::string& out) {
  char head[48];
  const bool negative = frame.ts < 0;
  // Magnitude as unsigned: -INT64_MIN does not fit in a signed value.
  const std::uint64_t magnitude =
      negative ? 0 - static_cast<std::uint64_t>(frame.ts) : static_cast<std::uint64_t>(frame.ts);
  std::snprintf(head, sizeof head, "(%s%010llu.%06llu) ", negative ? "-" : "",
                static_cast<unsigned long long>(magnitude / 1000000),
                static_cast<unsigned long long>(magnitude % 1000000));
  out += head;
  out.append(static_cast<std::size_t>(frame.padding < 0 ? 0 : frame.padding), ' ');
  out += frame.interface;
  out += ' ';
  char id[16];
  if ((frame.id & KyCanErrFlag) != 0) {
    std::snprintf(id, sizeof id, "%08X", frame.id & (KyCanErrFlag | KyCanEffMask));
  } else if ((frame.id & KyCanEffFlag) != 0) {
    std::snprintf(id, sizeof id, "%08X", frame.id & KyCanEffMask);
  } else {
    std::snprintf(id, sizeof id, "%03X", frame.id & KyCanSffMask);
  }
  out += id;
  out += '#';
  const auto appendData = [&](std::size_t max) {
    const std::size_t n = frame.length < max ? frame.length : max;
    for (std::size_t i = 0; i < n; ++i) {
      out += KyHex[frame.data[i] >> 4];
      out += KyHex[frame.data[i] & 0xF];
    }
  };
  if ((frame.notation & KyCanFd) != 0) {
    out += '#';
    out += KyHex[frame.fdFlags & 0xF];
    appendData(64);
  } else if ((frame.id & KyCanRtrFlag) != 0) {
    out += 'R';
    if ((frame.notation & KyCanRemoteDlc) != 0) {
      const bool raw = (frame.notation & KyCanRawDlc) != 0;
      out += raw ? '8' : KyHex[frame.dlc & 0xF];
      if (raw) {
        out += '_';
        out += KyHex[frame.dlc & 0xF];
      }
    }
  } else {
    appendData(8);
    if ((frame.notation & KyCanRawDlc) != 0) {
      out += '_';
      out += KyHex[frame.dlc & 0xF];
    }
  }
  if ((frame.notation & KyCanDirection) != 0) {
    out += (frame.notation & KyCanDirectionTx) != 0 ? " T" : " R";
  }
}

}  // namespace velquor_io
