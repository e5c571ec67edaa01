// CsvPlayer: time-series CSV -> Float64 vector samples.
#include "csv_player.h"

#include <sys/stat.h>

#include <cstring>

#include "csv_format.h"
#include "daxo_component_record.h"
#include "daxo_package.h"
#include "daxo_property_value.h"

namespace velquor_io {

namespace {

enum { KyPropHeader = KyPlayerPackets + 1 };

DAXOOutputDefinition s_outputs[] = {
    // name, reserved, type, size (0: sized from the header), FIFO size, subsampling, shareable
    {"output", 0, DAXOTypeInfo(DAXO::Float64 | DAXO::VectorFlag, ""), 0, 16, 1, 1},
    {"end_of_file", 0, DAXOTypeInfo(DAXO::Integer64), 1, 16, 1, 1},
    {},
};

DAXOPropertyDefinition s_properties[] = {
    // name, default, unit, needs init, modifiable after start, read-only, locked, subtype
    {"path", new DAXOPropertyValue(""), nullptr, true, false, false, false,
     DAXO::PropertySubTypeFile},
    {"packets", new DAXOPropertyValue(0L), nullptr, false, false, true, false, 0},
    {"header", new DAXOPropertyValue(""), nullptr, false, false, false, false, 0},
    {},
};

DAXOInputDefinition s_inputs[] = {{}};
DAXOActionDefinition s_actions[] = {{}};

/// The header line of `path` without its end of line; empty when the file
/// cannot be read or its first line is not a time-series header. Only a
/// regular file is read: the lines read from a pipe or a device would be
/// gone for Birth.
std::string ReadHeader(const std::string& path) {
  LineReader reader;
  std::string_view line;
  int columns = 0;
  struct stat status {};
  if (path.empty() || stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode) ||
      !reader.Open(path) || !reader.Next(line)) {
    return {};
  }
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (ParseCsvHeader(line, columns) != nullptr) return {};
  return std::string(line);
}

}  // namespace

DAXOComponentDefinition CsvPlayer::s_definition =
    ThreadedComponentRecord("CsvPlayer", "1.4.0", &InstantiateComponent<CsvPlayer>, s_inputs,
                            s_outputs, s_properties, s_actions);

DAXO_DECLARE_MODULE(CsvPlayer, "DAXOComponent", "CsvPlayer", "1.4.0", &CsvPlayer::s_definition);

void CsvPlayer::Dynamic() {
  const std::string path = NotePath();
  std::string header = StringProperty(*this, KyPropHeader);
  if (header.empty()) header = ReadHeader(path);
  DAXOOutput& output = Output(0);
  const char* current = output.TypeName();
  if (current == nullptr || header != current) output.SetTypeName(header.c_str());
  DAXOComponent::Dynamic();
}

void CsvPlayer::Birth() {
  LinePlayer::Birth();
  std::string_view line;
  if (!m_reader.Next(line)) Error(FileFault(m_path, "line", 1, "no header line").c_str());
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (const char* fault = ParseCsvHeader(line, m_columns)) {
    Error(FileFault(m_path, "line", 1, fault).c_str());
  }
  // Readers took the name when they were connected: it must not change
  // under them (nor be rewritten while they read it on their threads).
  DAXOOutput& output = Output(0);
  const char* name = output.TypeName();
  if (name == nullptr || line != name) {
    Error(FileFault(m_path, "line", 1, "the header differs from the one read when \"path\" was set")
              .c_str());
  }
  const int bytes = m_columns * static_cast<int>(sizeof(double));
  if (output.IOEltSizeBytes() == 0) {
    output.AllocOutputBuffer(m_columns, true);
  } else if (output.IOEltSizeBytes() < bytes) {
    Error(FileFault(m_path, "the output buffer is smaller than a row").c_str());
  }
  m_values.assign(static_cast<std::size_t>(m_columns), 0.0);
}

void CsvPlayer::Core() {
  std::string_view line;
  if (!NextLine(line, &IsBlankCsvLine)) {
    EndOfFile();
    return;
  }
  std::int64_t timestamp = 0;
  const char* fault = ParseCsvRow(line, m_columns, timestamp, m_values.data());
  if (fault == nullptr && timestamp == 0) {
    fault = "timestamp 0 cannot be carried (the engine stamps such samples with its clock)";
  }
  if (fault != nullptr) LineFault(fault);
  DAXOIOElt* element = StartWriting(Output(0));
  if (element == nullptr) return;  // failed: the life ends with this Core
  std::memcpy(element->Data(), m_values.data(), m_values.size() * sizeof(double));
  element->VectorSize() = m_columns;
  element->Timestamp() = timestamp;
  StopWriting(element);
  Played(1, timestamp);
}

}  // namespace velquor_io
