// LinePlayer: the base of the players of line-based text files (candump
// logs, CSV series), as IoRecorder is of the recorders. It owns properties
// 0 "path" and 1 "packets" and output 1 "end_of_file": it notes the file
// "path" names from the moment it is set (see InputPathNote), opens it at
// birth, hands out its lines with the blank ones skipped, counts what was
// played in "packets" and, at the end of the file, writes one end-of-file
// sample (value 1, the last item's time, or 0 when nothing was played) and
// ends the component. A subclass parses the lines in its Core and writes
// the samples on output 0. Faults raise a component error naming the file
// (and the line).
//
// Threading: threaded model. Dynamic runs on the engine's control thread
// while the component is not living; Birth, Core and Death on the
// component's thread, which alone touches the file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "daxo_component.h"
#include "io_common.h"

namespace velquor_io {

/// The property rows every line player starts with, in this order.
enum LinePlayerProperty { KyPlayerPath = 0, KyPlayerPackets };

class LinePlayer : public DAXOComponent {
 public:
  LinePlayer(const char* name, DAXOComponentDefinition& definition)
      : DAXOComponent(name, definition) {}

  /// NotePath, then the SDK's Dynamic.
  void Dynamic() override;
  /// Zeroes the count and opens the file; an empty "path" or a file that
  /// cannot be opened raises a component error.
  void Birth() override;
  void Death() override;

 protected:
  /// Notes the file "path" names as read by this player; returns the path.
  std::string NotePath();
  /// The next line for which `blank` is false, without its '\n'; false at
  /// the end of the file. A read error raises a component error.
  bool NextLine(std::string_view& line, bool (*blank)(std::string_view));
  /// Raises the component error FileFault(path, "line", N, detail) for the
  /// line last read.
  [[noreturn]] void LineFault(std::string_view detail);
  /// Counts `items` more played, the last of time `lastTime` (µs), and
  /// publishes the count in "packets".
  void Played(long items, std::int64_t lastTime);
  /// The end of the file: closes it, writes the end-of-file sample on
  /// output 1 and ends the component (threaded: throws DAXO::ModuleDied).
  /// Returns when the write failed; the caller's Core then returns at once.
  void EndOfFile();

  std::string m_path;
  LineReader m_reader;

 private:
  long m_played = 0;
  std::int64_t m_lastTime = 0;
  InputPathNote m_inputNote;  // the file this player is set to read
};

}  // namespace velquor_io
