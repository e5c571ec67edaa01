// Buffered file streams: DAXOFileReader, DAXOFileWriter and
// DAXOFileWriterAndReader over the common DAXOFileIO base (virtual base, so
// the reader-and-writer has one stream).
//
// Lifecycle: Open (returns success), any number of reads, writes and
// positioning calls, Close (or destruction, which closes). Opening an object
// that is already open closes the previous file first.
//
// Failures: operations return false (or -1) and never throw. A failing
// operation also raises the object's error flag and calls ShowError(), which
// hands a message to the process-wide error display function.
//
// Threading: a file object is used by one thread at a time. The error
// display function is process-wide: replace it only while no file operation
// runs (e.g. at start-up or in tests). Reads and writes block on the disk.
#pragma once

#include <cstdio>

#include "daxo_string.h"

class DAXOFileIO {
 public:
  /// Open flags (combine with |). Asynchronous is accepted for compatibility
  /// and behaves as a synchronous stream on this platform.
  static constexpr int Asynchronous = 1;
  static constexpr int NoBuffering = 2;
  static constexpr int Append = 4;
  static constexpr int RandomAccess = 8;
  static constexpr int SequentialAccess = 16;
  static constexpr int EnableRead = 32;
  /// The line end written by WriteText.
  static constexpr const char* Endl = "\n";

  /// Called by a writer with the `arg` of each Write once the write is over.
  using CompletionCallback = void (*)(void* arg);
  /// Shows an error message; the text is UTF-8, or null for "no error".
  using ErrorDisplay = void (*)(const char* text);

  DAXOFileIO(const DAXOFileIO&) = delete;
  DAXOFileIO& operator=(const DAXOFileIO&) = delete;
  virtual ~DAXOFileIO();

  bool IsOpen() const { return m_file != nullptr; }
  /// Closes the stream; true when it was open and closed without error.
  bool Close();

  /// Moves to byte `pos` from the start, by `delta` from the current
  /// position, to the start or to the end. Return success.
  bool SetPos(long pos);
  bool MovePos(int delta);
  bool Rewind();
  bool Go2End();
  /// Current byte position, -1 when not open.
  long GetPos();
  /// Size of the file in bytes including data still buffered for writing;
  /// the position is kept. -1 when not open.
  long FileSize();

  /// The error flag: raised by any failed operation, lowered by ClearError()
  /// and by a successful Open.
  bool GetError() const { return m_error; }
  void ClearError();
  /// errno of the last failure (0 when the failure had none).
  int GetErrorNumber() const { return m_errno; }

  /// Sets the callback that a writer calls after each Write with a non-null
  /// argument; null removes it.
  void SetCompletionCallback(CompletionCallback callback) { m_callback = callback; }

  /// Builds this class's error message and hands it to the display function.
  virtual void ShowError();

  /// Replaces the process-wide display function; null restores the default,
  /// which writes the text and a line feed (or "No error\n" for null) on the
  /// standard error stream.
  static void SetErrorDisplay(ErrorDisplay display);
  /// Calls the current display function.
  static void DisplayError(const char* text);

  /// The underlying C stream (null when closed); for code that must hand it
  /// to a C library. Do not close it.
  FILE* GetStream() const { return m_file; }

 protected:
  DAXOFileIO() = default;

  /// Opens `path` (with the locale retry) in the C mode `mode` and applies
  /// the buffering and access hints of `flags`. `appendUpdate` is the "r+b"
  /// append variant: a missing file is created and the stream starts at its
  /// end. Raises the error on failure.
  bool OpenStream(const char* path, const char* mode, int flags, bool appendUpdate = false);
  /// Adopts an already open stream.
  void Adopt(FILE* file, int flags);
  /// Records a failure: error flag, errno, ShowError().
  void Fail(int errorNumber);
  /// fseek with error handling.
  bool Seek(long offset, int whence);
  /// Repositions in place when the transfer direction changes (1 read,
  /// 2 write), as update streams require.
  void PrepareTransfer(int op);
  /// The message "<prefix><errno> (<system text>)".
  DAXOString ErrnoMessage(const char* prefix) const;

  FILE* m_file = nullptr;
  bool m_error = false;
  int m_errno = 0;
  CompletionCallback m_callback = nullptr;
  int m_lastOp = 0;  // direction of the last transfer, 0 after positioning
};

class DAXOFileReader : public virtual DAXOFileIO {
 public:
  DAXOFileReader() = default;
  ~DAXOFileReader() override;

  /// Opens an existing file for reading ("rb"). Returns success.
  bool Open(const char* path, int flags = 0);

  /// Reads up to `n` bytes into `buffer`; `*got` (when given) receives the
  /// count read, which is below `n` only at the end of the file or on an
  /// error. Returns false only on a stream error (or when not open).
  bool Read(void* buffer, int n, int* got = nullptr);

  /// Reads the line from the current position to the next line feed (which is
  /// consumed; a carriage return before it is dropped). A last line without a
  /// line feed is returned too. False (and `line` empty) at the end of the
  /// file or on an error.
  bool NextLine(DAXOString& line);
  /// Reads the line that ends just before the current position and moves the
  /// position to its start, so that NextLine reads it again. False (and
  /// `line` empty) at the start of the file or on an error.
  bool PreviousLine(DAXOString& line);
  /// Reads lines from the current position until one contains `text`; true
  /// with that line in `line` and the position after it, false (position at
  /// the end) when no further line contains it.
  bool FindString(const char* text, DAXOString& line);

  /// "File read error".
  void ShowError() override;
};

class DAXOFileWriter : public virtual DAXOFileIO {
 public:
  DAXOFileWriter() = default;
  ~DAXOFileWriter() override;

  /// Opens for writing, the C mode chosen from the flags:
  ///   no Append:                  "w+b" with EnableRead, else "wb" (truncates);
  ///   Append + EnableRead:        "r+b" with RandomAccess, else "a+b";
  ///   Append alone:               "ab".
  /// Append modes keep a file's content and create a missing one. In the
  /// "r+b" variant writes go where the position is (so they may overwrite
  /// after SetPos), and it starts at the end of the file so that writing
  /// right after Open appends; in the others every write goes to the end.
  bool Open(const char* path, int flags = 0);

  /// Writes `n` bytes. A short write raises the error, calls ShowError() and
  /// returns false. Then, when a completion callback is set and `arg` is not
  /// null, calls it with `arg`, whatever the outcome.
  bool Write(const void* data, int n, void* arg = nullptr);
  /// Writes the text (up to its length), followed by Endl when `endLine`.
  bool WriteText(const DAXOString& text, bool endLine = false);
  /// Flushes the stream and waits until the system has the data on disk.
  bool FlushToDisk();
  /// Cuts the file at the current position.
  bool Truncate();

  /// "File write error: <errno> (<system text>)".
  void ShowError() override;
};

class DAXOFileWriterAndReader : public DAXOFileWriter, public DAXOFileReader {
 public:
  DAXOFileWriterAndReader() = default;
  ~DAXOFileWriterAndReader() override;

  /// Opens for reading and writing (EnableRead is implied): with Append,
  /// "r+b" when RandomAccess is set, else "a+b" (as for DAXOFileWriter:
  /// content kept, missing file created, "r+b" starts at the end); without
  /// Append, "w+b".
  bool Open(const char* path, int flags = 0);
  /// Creates a new file with a unique name from "vlqXXXXXX" in the working
  /// directory, opened for reading and writing; `name` receives its UTF-8
  /// name. On failure nothing is left open or created, and false is
  /// returned.
  bool OpenTempFile(DAXOString& name);

  /// "File read/write error: <errno> (<system text>)".
  void ShowError() override;
};
