// CsvRecorder: Float64 vector samples -> time-series CSV.
#include "csv_recorder.h"

#include <cerrno>
#include <cstring>

#include "csv_format.h"
#include "daxo_component_record.h"
#include "daxo_package.h"

namespace velquor_io {

namespace {

DAXOOutputDefinition s_outputs[] = {{}};
DAXOActionDefinition s_actions[] = {{}};

}  // namespace

DAXOComponentDefinition CsvRecorder::s_definition = ThreadedComponentRecord(
    "CsvRecorder", "1.4.0", &InstantiateComponent<CsvRecorder>,
    KyRecorderInputs<&DAXO::FilterFloats64>, s_outputs, KyRecorderProperties, s_actions);

DAXO_DECLARE_MODULE(CsvRecorder, "DAXOComponent", "CsvRecorder", "1.4.0",
                    &CsvRecorder::s_definition);

void CsvRecorder::Open() {
  m_header = false;
  TextRecorder::Open();
}

void CsvRecorder::WriteHeader() {
  // Read once a sample (or the end of file) came through: a writer may
  // still settle its output's type when its first sample goes out, and
  // taking a sample orders this read after that.
  m_header = true;
  DAXOOutput* source = Input(0).ConnectedOutput();
  const char* name = source != nullptr ? source->TypeName() : nullptr;
  const std::string header = name != nullptr ? name : "";
  if (const char* fault = ParseCsvHeader(header, m_columns)) {
    Fail(std::string("the input carries no time-series header (") + fault + ")");
  }
  if (!m_file.Write(header + "\n")) Fail(std::string("write error: ") + std::strerror(errno));
}

void CsvRecorder::Write(DAXOIOElt& element) {
  if (!m_header) WriteHeader();
  const int n = element.VectorSize();
  if (n != m_columns) {
    Fail("a sample has " + std::to_string(n) + " values, the header " + std::to_string(m_columns));
  }
  const auto* values = static_cast<const double*>(element.Data());
  if (values == nullptr) return;
  m_text.clear();
  FormatCsvRow(element.Timestamp(), values, n, m_text);
  m_text += '\n';
  Observe(element.Timestamp());
  if (!m_file.Write(m_text)) Fail(std::string("write error: ") + std::strerror(errno));
}

void CsvRecorder::Finish() {
  if (!m_header) WriteHeader();
  TextRecorder::Finish();
}

}  // namespace velquor_io
