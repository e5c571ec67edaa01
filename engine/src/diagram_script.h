// Diagram scripts, internals: the word reader for one script line and the
// name rules shared by the parser and the executor (velquor/script.h).
//
// Threading: plain values and pure functions; no shared state.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velquor::script_detail {

/// Reads one line word by word. A word is a run of non-blank characters in
/// which double-quoted parts may hold blanks ("\"" and "\\" escape inside
/// quotes). A '#' that starts a word starts a comment: it ends the line.
class LineReader {
 public:
  explicit LineReader(std::string_view line) : m_line(line) {}

  /// True when nothing but blanks and a comment is left.
  bool AtEnd();
  /// The next word without its quotes. False at the end of the line, or with
  /// `error` set when a quote is not closed. `equals` receives the offset in
  /// `word` of the first '=' outside quotes (npos: none); `quoted` whether
  /// the word began with a quote.
  bool Word(std::string& word, std::string& error, std::size_t* equals = nullptr,
            bool* quoted = nullptr);
  /// The raw rest of the line, comment and outer blanks removed.
  std::string_view Rest();
  /// Whether the next word starts with a quote (blanks skipped).
  bool NextIsQuoted();

 private:
  void SkipBlanks();

  std::string_view m_line;
  std::size_t m_pos = 0;
};

/// A component or element short name: a letter, then letters, digits or '_'.
bool IsName(std::string_view text);
/// "NAME.element": `component` is NAME (a name), `element` the rest, made of
/// names joined by '.' (special properties such as "output.fifosize").
bool SplitFullName(std::string_view full, std::string_view& component, std::string_view& element);

}  // namespace velquor::script_detail
