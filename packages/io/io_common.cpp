// Shared pieces of the players and recorders.
#include "io_common.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "daxo_property_value.h"

namespace velquor_io {

std::string FileFault(const std::string& path, std::string_view detail) {
  std::string text = "velquor_io: ";
  text += path;
  text += ": ";
  text += detail;
  return text;
}

std::string FileFault(const std::string& path, const char* what, long number,
                      std::string_view detail) {
  std::string text = "velquor_io: ";
  text += path;
  text += ": ";
  text += what;
  text += ' ';
  text += std::to_string(number);
  text += ": ";
  text += detail;
  return text;
}

std::string StringProperty(DAXOComponent& component, int index) {
  DAXOString value;
  component.Get(*component.Property(index), value);
  return std::string(static_cast<const char*>(value), static_cast<std::size_t>(value.Length()));
}

bool WriteEndOfFile(DAXOComponent& component, DAXOOutput& output, DAXOTimestamp timestamp) {
  DAXOIOElt* element = component.StartWriting(output);
  if (element == nullptr) return false;
  *element->Integer64(0) = 1;
  element->Timestamp() = timestamp;
  component.StopWriting(element);
  return true;
}

// --- LineReader --------------------------------------------------------------------

LineReader::~LineReader() {
  Close();
  std::free(m_buffer);
}

bool LineReader::Open(const std::string& path) {
  Close();
  m_file = std::fopen(path.c_str(), "rb");
  m_lineNumber = 0;
  return m_file != nullptr;
}

void LineReader::Close() {
  if (m_file != nullptr) std::fclose(m_file);
  m_file = nullptr;
}

bool LineReader::Next(std::string_view& line) {
  if (m_file == nullptr) return false;
  const ssize_t n = ::getline(&m_buffer, &m_capacity, m_file);
  if (n < 0) return false;
  ++m_lineNumber;
  std::size_t length = static_cast<std::size_t>(n);
  if (length > 0 && m_buffer[length - 1] == '\n') --length;
  line = std::string_view(m_buffer, length);
  // Editors on Windows start UTF-8 text with a byte order mark: it is no
  // part of the first line's content.
  constexpr std::string_view KyBom = "\xEF\xBB\xBF";
  if (m_lineNumber == 1 && line.substr(0, KyBom.size()) == KyBom) line.remove_prefix(KyBom.size());
  return true;
}

bool LineReader::Failed() const {
  return m_file != nullptr && std::ferror(m_file) != 0;
}

// --- TextFileWriter ----------------------------------------------------------------

bool TextFileWriter::Open(const std::string& path) {
  Close();
  m_file = std::fopen(path.c_str(), "wb");
  return m_file != nullptr;
}

bool TextFileWriter::Write(std::string_view text) {
  if (m_file == nullptr) return false;
  return text.empty() || std::fwrite(text.data(), 1, text.size(), m_file) == text.size();
}

bool TextFileWriter::Finish() {
  std::FILE* file = m_file;
  m_file = nullptr;
  if (file == nullptr) return true;
  bool ok = std::fflush(file) == 0 && std::ferror(file) == 0;
  const int error = errno;
  ok = std::fclose(file) == 0 && ok;
  if (!ok && errno == 0) errno = error;
  return ok;
}

void TextFileWriter::Close() {
  if (m_file != nullptr) std::fclose(m_file);
  m_file = nullptr;
}

// --- IoRecorder --------------------------------------------------------------------

DAXOPropertyDefinition KyRecorderProperties[] = {
    // name, default, unit, needs init, modifiable after start, read-only, locked, subtype
    {"path", new DAXOPropertyValue(""), nullptr, true, false, false, false,
     DAXO::PropertySubTypeFile},
    {"packets", new DAXOPropertyValue(0L), nullptr, false, false, true, false, 0},
    {"out_of_order", new DAXOPropertyValue(0L), nullptr, false, false, true, false, 0},
    {"max_backwards_us", new DAXOPropertyValue(0L), "us", false, false, true, false, 0},
    {},
};

namespace {

std::mutex g_inputPathsLock;
std::map<const InputPathNote*, std::string> g_inputPaths;  // guarded by g_inputPathsLock

}  // namespace

InputPathNote::~InputPathNote() {
  std::lock_guard<std::mutex> guard(g_inputPathsLock);
  g_inputPaths.erase(this);
}

void InputPathNote::Note(const std::string& path) {
  std::lock_guard<std::mutex> guard(g_inputPathsLock);
  g_inputPaths[this] = path;
}

std::string InputPathNote::InputAt(const std::string& path) {
  struct stat target {};
  if (stat(path.c_str(), &target) != 0 || !S_ISREG(target.st_mode)) return {};
  std::lock_guard<std::mutex> guard(g_inputPathsLock);
  for (const auto& [note, input] : g_inputPaths) {
    struct stat read {};
    if (stat(input.c_str(), &read) == 0 && read.st_dev == target.st_dev &&
        read.st_ino == target.st_ino) {
      return input;
    }
  }
  return {};
}

void IoRecorder::Birth() {
  m_path = StringProperty(*this, KyRecorderPath);
  m_endOfFile = false;
  m_any = false;
  m_last = 0;
  m_count = 0;
  m_outOfOrder = 0;
  m_maxBackwards = 0;
  PublishCounts();
  if (m_path.empty()) Error("velquor_io: the property \"path\" is empty");
  const std::string input = InputPathNote::InputAt(m_path);
  if (!input.empty()) Fail("it is the input '" + input + "' of a player: it would be overwritten");
  Open();
}

void IoRecorder::Core() {
  DAXOInput* inputs[2] = {&Input(0), &Input(1)};
  if (m_endOfFile && !DataAvailableInFIFO(*inputs[0])) {
    Finish();
    PublishCounts();
    CommitSuicide();
    return;
  }
  int which = -1;
  DAXOIOElt* element = StartReading(2, inputs, &which);
  // A failure ends the life after this Core; a detached input is read again
  // in the next one, once it is connected again.
  if (element == nullptr) return;
  if (which == 0) {
    Write(*element);
    PublishCounts();
  } else if (which == 1) {
    m_endOfFile = true;
  }
}

void IoRecorder::Death() {
  Close();
  PublishCounts();
}

void TextRecorder::Open() {
  if (!m_file.Open(m_path)) Fail(std::strerror(errno));
}

void TextRecorder::Finish() {
  if (!m_file.Finish()) Fail(std::string("write error: ") + std::strerror(errno));
}

void IoRecorder::Observe(std::int64_t t) {
  if (m_any && t < m_last) {
    ++m_outOfOrder;
    if (m_last - t > m_maxBackwards) m_maxBackwards = m_last - t;
  }
  m_any = true;
  m_last = t;
  ++m_count;
}

void IoRecorder::Fail(std::string_view detail) {
  Close();
  Error(FileFault(m_path, detail).c_str());
  throw DAXO::ErrorException;  // not reached: Error throws it (GCC cannot see through the virtual
                               // call)
}

void IoRecorder::CheckCreatable() {
  struct stat existing {};
  if (stat(m_path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) return;
  std::FILE* probe = std::fopen(m_path.c_str(), "wb");
  if (probe == nullptr) Fail(std::strerror(errno));
  std::fclose(probe);
}

void IoRecorder::PublishCounts() {
  DirectSet(*Property(KyRecorderCount), m_count);
  DirectSet(*Property(KyRecorderOutOfOrder), m_outOfOrder);
  DirectSet(*Property(KyRecorderMaxBackwards), m_maxBackwards);
}

}  // namespace velquor_io
