// Buffered file streams over C streams.
//
// Every stream is opened close-on-exec ("e" mode flag, O_CLOEXEC) so that
// child processes never inherit the engine's open files.
//
// An update stream must be repositioned between a write and a following read
// (and back); the classes do that themselves (m_lastOp) so that callers may
// mix Read and Write freely.
#include "daxo_file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "daxo_iconv.h"
#include "daxo_system.h"

namespace {

void DefaultErrorDisplay(const char* text) {
  if (text == nullptr) {
    fputs("No error\n", stderr);
    return;
  }
  // Written as narrow text in the locale's character set: a wide-oriented
  // write would switch stderr to wide orientation for good, after which every
  // narrow write to it (reports, MsgBox) would silently fail.
  char* local = DAXOIconv::UTF8ToLocale(text);
  fputs(local != nullptr ? local : text, stderr);
  fputc('\n', stderr);
  DAXOIconv::releaseLocale(local);
}

std::atomic<DAXOFileIO::ErrorDisplay> g_errorDisplay{&DefaultErrorDisplay};

// The direction of the last transfer on a stream.
enum : int { kNoOp = 0, kReadOp = 1, kWriteOp = 2 };

}  // namespace

// ---------------------------------------------------------------- DAXOFileIO

DAXOFileIO::~DAXOFileIO() {
  // Derived destructors have closed with their own error message; this only
  // catches a stream left open by a class that did not.
  if (m_file != nullptr) fclose(m_file);
}

void DAXOFileIO::SetErrorDisplay(ErrorDisplay display) {
  g_errorDisplay.store(display != nullptr ? display : &DefaultErrorDisplay);
}

void DAXOFileIO::DisplayError(const char* text) {
  g_errorDisplay.load()(text);
}

void DAXOFileIO::ShowError() {
  DisplayError(ErrnoMessage("File error: "));
}

DAXOString DAXOFileIO::ErrnoMessage(const char* prefix) const {
  char systemText[256];
  const char* description = strerror_r(m_errno, systemText, sizeof systemText);
  char text[512];
  snprintf(text, sizeof text, "%s%d (%s)", prefix, m_errno, description);
  return DAXOString(text);
}

void DAXOFileIO::ClearError() {
  m_error = false;
  m_errno = 0;
  if (m_file != nullptr) clearerr(m_file);
}

void DAXOFileIO::Fail(int errorNumber) {
  m_error = true;
  m_errno = errorNumber;
  ShowError();
}

bool DAXOFileIO::OpenStream(const char* path, const char* mode, int flags, bool appendUpdate) {
  Close();
  m_error = false;
  m_errno = 0;
  if (path == nullptr) {
    Fail(EINVAL);
    return false;
  }
  FILE* file = nullptr;
  if (appendUpdate) {
    // "r+b" alone would refuse a missing file; appending must create it.
    const int fd = DAXOPrivate::RetryWithLocalePath(
        path, [](const char* p) { return ::open(p, O_RDWR | O_CREAT | O_CLOEXEC, 0666); });
    if (fd >= 0) {
      file = fdopen(fd, mode);
      if (file == nullptr) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
      }
    }
  } else {
    char cmode[8];
    snprintf(cmode, sizeof cmode, "%se", mode);
    file = DAXOPrivate::RetryWithLocalePath(
        path, [&cmode](const char* p) { return fopen(p, cmode); },
        [](FILE* f) { return f == nullptr; });
  }
  if (file == nullptr) {
    Fail(errno);
    return false;
  }
  Adopt(file, flags);
  // Appending right after Open must not overwrite the start of the file.
  if (appendUpdate && fseek(m_file, 0, SEEK_END) != 0) {
    const int saved = errno;
    fclose(m_file);
    m_file = nullptr;
    Fail(saved);
    return false;
  }
  return true;
}

void DAXOFileIO::Adopt(FILE* file, int flags) {
  m_file = file;
  m_lastOp = kNoOp;
  if (flags & NoBuffering) setvbuf(m_file, nullptr, _IONBF, 0);
  // Access hints only; a refusal changes nothing for correctness.
  if (flags & SequentialAccess) posix_fadvise(fileno(m_file), 0, 0, POSIX_FADV_SEQUENTIAL);
  if (flags & RandomAccess) posix_fadvise(fileno(m_file), 0, 0, POSIX_FADV_RANDOM);
}

void DAXOFileIO::PrepareTransfer(int op) {
  if (m_lastOp != kNoOp && m_lastOp != op) fseek(m_file, 0, SEEK_CUR);
  m_lastOp = op;
}

bool DAXOFileIO::Close() {
  if (m_file == nullptr) return false;
  const int rc = fclose(m_file);
  m_file = nullptr;
  if (rc != 0) {
    Fail(errno);
    return false;
  }
  return true;
}

bool DAXOFileIO::Seek(long offset, int whence) {
  if (m_file == nullptr) {
    Fail(EBADF);
    return false;
  }
  if (fseek(m_file, offset, whence) != 0) {
    Fail(errno);
    return false;
  }
  m_lastOp = kNoOp;
  return true;
}

bool DAXOFileIO::SetPos(long pos) {
  return Seek(pos, SEEK_SET);
}
bool DAXOFileIO::MovePos(int delta) {
  return Seek(delta, SEEK_CUR);
}
bool DAXOFileIO::Rewind() {
  return Seek(0, SEEK_SET);
}
bool DAXOFileIO::Go2End() {
  return Seek(0, SEEK_END);
}

long DAXOFileIO::GetPos() {
  if (m_file == nullptr) return -1;
  const long pos = ftell(m_file);
  if (pos < 0) Fail(errno);
  return pos;
}

long DAXOFileIO::FileSize() {
  if (m_file == nullptr) return -1;
  struct stat st {};
  // Buffered output counts: push it to the system first.
  if (fflush(m_file) != 0 || fstat(fileno(m_file), &st) != 0) {
    Fail(errno);
    return -1;
  }
  return static_cast<long>(st.st_size);
}

// ------------------------------------------------------------ DAXOFileReader

DAXOFileReader::~DAXOFileReader() {
  Close();
}

bool DAXOFileReader::Open(const char* path, int flags) {
  return OpenStream(path, "rb", flags);
}

void DAXOFileReader::ShowError() {
  DisplayError("File read error");
}

bool DAXOFileReader::Read(void* buffer, int n, int* got) {
  if (got != nullptr) *got = 0;
  if (m_file == nullptr || n < 0 || (buffer == nullptr && n > 0)) {
    Fail(m_file == nullptr ? EBADF : EINVAL);
    return false;
  }
  PrepareTransfer(kReadOp);
  const size_t count = fread(buffer, 1, static_cast<size_t>(n), m_file);
  if (got != nullptr) *got = static_cast<int>(count);
  if (count < static_cast<size_t>(n)) {
    if (ferror(m_file)) {
      Fail(errno);
      return false;
    }
    clearerr(m_file);  // end of file is not sticky: data appended later can be read
  }
  return true;
}

bool DAXOFileReader::NextLine(DAXOString& line) {
  line = "";
  if (m_file == nullptr) {
    Fail(EBADF);
    return false;
  }
  PrepareTransfer(kReadOp);
  char* buffer = nullptr;
  size_t size = 0;
  errno = 0;
  ssize_t n = getline(&buffer, &size, m_file);
  if (n < 0) {
    const bool failed = ferror(m_file) != 0;
    const int saved = errno;
    std::free(buffer);
    clearerr(m_file);
    if (failed) Fail(saved);
    return false;
  }
  if (n > 0 && buffer[n - 1] == '\n') --n;
  if (n > 0 && buffer[n - 1] == '\r') --n;
  line.concat(static_cast<int>(n), buffer);
  std::free(buffer);
  return true;
}

bool DAXOFileReader::PreviousLine(DAXOString& line) {
  line = "";
  const long pos = GetPos();
  if (pos <= 0) return false;
  // The line ends at pos, or at pos - 1 when that byte is its line feed.
  char last = 0;
  if (!SetPos(pos - 1) || fread(&last, 1, 1, m_file) != 1) {
    if (!m_error) Fail(ferror(m_file) ? errno : EIO);
    return false;
  }
  const long lineEnd = last == '\n' ? pos - 1 : pos;
  // Walk back chunk by chunk to the line feed that precedes the line.
  long start = lineEnd;
  constexpr long kChunk = 512;
  char chunk[kChunk];
  while (start > 0) {
    const long from = start > kChunk ? start - kChunk : 0;
    const size_t want = static_cast<size_t>(start - from);
    if (!SetPos(from) || fread(chunk, 1, want, m_file) != want) {
      if (!m_error) Fail(ferror(m_file) ? errno : EIO);
      return false;
    }
    const void* feed = memrchr(chunk, '\n', want);
    if (feed != nullptr) {
      start = from + (static_cast<const char*>(feed) - chunk) + 1;
      break;
    }
    start = from;
  }
  long length = lineEnd - start;
  char* text = static_cast<char*>(std::malloc(static_cast<size_t>(length) + 1));
  if (text == nullptr) {
    Fail(ENOMEM);
    return false;
  }
  const bool ok = SetPos(start) && fread(text, 1, static_cast<size_t>(length), m_file) ==
                                       static_cast<size_t>(length);
  if (ok) {
    if (length > 0 && text[length - 1] == '\r') --length;
    line.concat(static_cast<int>(length), text);
  }
  std::free(text);
  if (!ok) {
    if (!m_error) Fail(ferror(m_file) ? errno : EIO);
    return false;
  }
  return SetPos(start);
}

bool DAXOFileReader::FindString(const char* text, DAXOString& line) {
  if (text == nullptr) {
    line = "";
    return false;
  }
  while (NextLine(line)) {
    if (std::strstr(line, text) != nullptr) return true;
  }
  return false;
}

// ------------------------------------------------------------ DAXOFileWriter

DAXOFileWriter::~DAXOFileWriter() {
  Close();
}

bool DAXOFileWriter::Open(const char* path, int flags) {
  if (!(flags & Append)) return OpenStream(path, (flags & EnableRead) ? "w+b" : "wb", flags);
  if (flags & EnableRead) {
    if (flags & RandomAccess) return OpenStream(path, "r+b", flags, true);
    return OpenStream(path, "a+b", flags);
  }
  return OpenStream(path, "ab", flags);
}

void DAXOFileWriter::ShowError() {
  DisplayError(ErrnoMessage("File write error: "));
}

bool DAXOFileWriter::Write(const void* data, int n, void* arg) {
  bool ok = false;
  if (m_file == nullptr || n < 0 || (data == nullptr && n > 0)) {
    Fail(m_file == nullptr ? EBADF : EINVAL);
  } else {
    PrepareTransfer(kWriteOp);
    errno = 0;
    ok = fwrite(data, 1, static_cast<size_t>(n), m_file) == static_cast<size_t>(n);
    if (!ok) Fail(errno != 0 ? errno : EIO);
  }
  // The callback typically releases the buffer: it runs whatever the outcome.
  if (m_callback != nullptr && arg != nullptr) m_callback(arg);
  return ok;
}

bool DAXOFileWriter::WriteText(const DAXOString& text, bool endLine) {
  if (!Write(static_cast<const char*>(text), text.Length())) return false;
  return !endLine || Write(Endl, static_cast<int>(std::strlen(Endl)));
}

bool DAXOFileWriter::FlushToDisk() {
  if (m_file == nullptr) {
    Fail(EBADF);
    return false;
  }
  if (fflush(m_file) != 0 || fsync(fileno(m_file)) != 0) {
    Fail(errno);
    return false;
  }
  return true;
}

bool DAXOFileWriter::Truncate() {
  if (m_file == nullptr) {
    Fail(EBADF);
    return false;
  }
  if (fflush(m_file) != 0) {
    Fail(errno);
    return false;
  }
  const long pos = ftell(m_file);
  if (pos < 0 || ftruncate(fileno(m_file), pos) != 0) {
    Fail(errno);
    return false;
  }
  return true;
}

// --------------------------------------------------- DAXOFileWriterAndReader

DAXOFileWriterAndReader::~DAXOFileWriterAndReader() {
  Close();
}

bool DAXOFileWriterAndReader::Open(const char* path, int flags) {
  flags |= EnableRead;
  if (!(flags & Append)) return OpenStream(path, "w+b", flags);
  if (flags & RandomAccess) return OpenStream(path, "r+b", flags, true);
  return OpenStream(path, "a+b", flags);
}

void DAXOFileWriterAndReader::ShowError() {
  DisplayError(ErrnoMessage("File read/write error: "));
}

bool DAXOFileWriterAndReader::OpenTempFile(DAXOString& name) {
  Close();
  m_error = false;
  m_errno = 0;
  char path[] = "vlqXXXXXX";
  const int fd = mkostemp(path, O_CLOEXEC);
  if (fd < 0) {
    Fail(errno);
    return false;
  }
  FILE* file = fdopen(fd, "w+b");
  DAXOString utf8;
  if (file == nullptr || !DAXOIconv::localeToUTF8(path, utf8)) {
    const int saved = file == nullptr ? errno : EILSEQ;
    if (file != nullptr) {
      fclose(file);
    } else {
      ::close(fd);
    }
    unlink(path);  // a failed call leaves nothing behind
    Fail(saved);
    return false;
  }
  Adopt(file, 0);
  name = utf8;
  return true;
}
