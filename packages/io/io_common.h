// What the players and recorders of this package share: the error texts
// that name the file (and the packet or line), reading a string property,
// the end-of-file sample, a line reader for text files, and the recorder
// base class with its two-input loop and its order statistics.
//
// Threading: everything here runs on the component's own thread (Birth,
// Core, Death), except the property reads made by other threads through the
// engine, which the module's locks serialise with DirectSet.
//
// A reading or writing call of the SDK that answers null has failed (and
// ended the life: the SDK reports it and runs the death once Core returns)
// or, for a read, had its input detached; either way Core returns at once
// and never calls again in the same Core.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "daxo_component.h"
#include "daxo_io.h"

namespace velquor_io {

/// The stdio buffer of capture files read and written through libpcap.
constexpr std::size_t KyFileBufferSize = 256 * 1024;

/// Engine time of item `k` (a byte, a sound frame) of a live stream that
/// started at `start` and plays `rate` items a second: start + k * 1e6 /
/// rate rounded down, computed from k each time so that no rounding error
/// adds up, and split so that no product leaves 64 bits.
constexpr DAXOTimestamp PacedTime(DAXOTimestamp start, std::int64_t k, std::int64_t rate) {
  return start + (k / rate) * 1000000 + (k % rate) * 1000000 / rate;
}

/// "velquor_io: PATH: DETAIL", the text of every file fault.
std::string FileFault(const std::string& path, std::string_view detail);
/// "velquor_io: PATH: WHAT N: DETAIL" (WHAT: "packet" or "line").
std::string FileFault(const std::string& path, const char* what, long number,
                      std::string_view detail);

/// The text of string property `index` of `component`.
std::string StringProperty(DAXOComponent& component, int index);

/// Writes one end-of-file sample (value 1, `timestamp`) on `output`. False
/// when the write failed: the SDK reported it and ends the component's life
/// once its Core returns, which the caller then does at once.
[[nodiscard]] bool WriteEndOfFile(DAXOComponent& component, DAXOOutput& output,
                                  DAXOTimestamp timestamp);

/// A timestamp a sample may carry: the engine stamps a sample of time 0 with
/// its own clock, so a real time 0 goes out as 1 µs.
inline DAXOTimestamp SampleTimestamp(std::int64_t t) {
  return t == 0 ? 1 : t;
}

/// Reads a text file line by line (no length limit; NUL bytes are kept; a
/// UTF-8 byte order mark in front of the first line is skipped).
class LineReader {
 public:
  LineReader() = default;
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  /// Opens `path` for reading; false (errno set) when it cannot be opened.
  bool Open(const std::string& path);
  void Close();
  /// The next line without its '\n'; false at the end of the file or on a
  /// read error (Failed() tells which).
  bool Next(std::string_view& line);
  bool Failed() const;
  /// Number of the line last returned (1 for the first).
  long LineNumber() const { return m_lineNumber; }

 private:
  std::FILE* m_file = nullptr;
  char* m_buffer = nullptr;
  std::size_t m_capacity = 0;
  long m_lineNumber = 0;
};

/// Writes a text file; every failure is answered with false and errno.
class TextFileWriter {
 public:
  TextFileWriter() = default;
  ~TextFileWriter() { Close(); }
  TextFileWriter(const TextFileWriter&) = delete;
  TextFileWriter& operator=(const TextFileWriter&) = delete;

  /// Creates (truncates) `path`.
  bool Open(const std::string& path);
  bool Write(std::string_view text);
  /// Flushes and closes; false when a write, the flush or the close failed.
  bool Finish();
  /// Closes without checking (abnormal end). Safe when closed.
  void Close();

 private:
  std::FILE* m_file = nullptr;
};

/// The file a player of this package is set to read, known from the moment
/// its "path" is set until the player is destroyed: a recorder refuses to
/// create one of them, which would truncate what is being read. A player
/// holds one and calls Note from its Dynamic (run at every property change).
/// Thread-safe (one process-wide list under its own mutex).
class InputPathNote {
 public:
  InputPathNote() = default;
  ~InputPathNote();
  InputPathNote(const InputPathNote&) = delete;
  InputPathNote& operator=(const InputPathNote&) = delete;
  void Note(const std::string& path);

  /// The noted input that is the same file as `path` (device and inode),
  /// or an empty string.
  static std::string InputAt(const std::string& path);
};

/// Property rows every recorder has, in this order.
enum RecorderProperty {
  KyRecorderPath = 0,
  KyRecorderCount,
  KyRecorderOutOfOrder,
  KyRecorderMaxBackwards
};
/// The recorders' property table (terminated by a zero row).
extern DAXOPropertyDefinition KyRecorderProperties[];
/// The input table of a recorder of `Filter` samples: "input", then
/// "end_of_file" (terminated by a zero row). Both never-skipping: a
/// recorder that falls behind holds its writer back rather than lose data.
template <const DAXOTypeFilterBase* Filter>
inline DAXOInputDefinition KyRecorderInputs[] = {
    // name, reserved, type filter, reader type, subsampling
    {"input", 0, Filter, DAXO::NeverSkippingReader, 1},
    {"end_of_file", 0, &DAXO::FilterInteger64, DAXO::NeverSkippingReader, 1},
    {},
};

/// A recorder: data input 0 ("input") and end-of-file input 1
/// ("end_of_file"), both never-skipping. Birth opens the output file; Core
/// writes each data sample; once the end of file came and the data input is
/// drained, the file is finished (flushed and closed) and the component ends
/// itself. Death closes whatever is still open (a shutdown before the end).
/// Every fault raises a component error naming the file.
class IoRecorder : public DAXOComponent {
 public:
  IoRecorder(const char* name, DAXOComponentDefinition& definition)
      : DAXOComponent(name, definition) {}

  void Birth() override;
  void Core() override;
  void Death() override;

 protected:
  /// Opens m_path; raises Fail on failure.
  virtual void Open() = 0;
  /// Writes one sample; calls Observe for each item (packet, frame, row).
  virtual void Write(DAXOIOElt& element) = 0;
  /// The normal end: flush and close; raises Fail on failure.
  virtual void Finish() = 0;
  /// Releases the file without reporting (abnormal end). Safe when closed.
  virtual void Close() = 0;

  /// Counts one written item of time `t` (µs) and its order.
  void Observe(std::int64_t t);
  /// Items written so far.
  long Count() const { return m_count; }
  /// Raises the component error FileFault(m_path, detail).
  [[noreturn]] void Fail(std::string_view detail);
  /// For a recorder that creates its file only with the first sample:
  /// checks now that m_path can be created, so that a bad path fails at
  /// start. Not a pipe or a device, whose reader's stream opening and
  /// closing it would end. Raises Fail.
  void CheckCreatable();

  std::string m_path;

 private:
  void PublishCounts();

  bool m_endOfFile = false;
  bool m_any = false;
  std::int64_t m_last = 0;
  long m_count = 0;
  long m_outOfOrder = 0;
  long m_maxBackwards = 0;
};

/// A recorder that writes a text file: opening, finishing and closing it.
class TextRecorder : public IoRecorder {
 public:
  TextRecorder(const char* name, DAXOComponentDefinition& definition)
      : IoRecorder(name, definition) {}

 protected:
  void Open() override;
  void Finish() override;
  void Close() override { m_file.Close(); }

  TextFileWriter m_file;
};

}  // namespace velquor_io
