// SortedRecorder: live streams -> one text file in timestamp order.
#include "sorted_recorder.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "daxo_component_record.h"
#include "daxo_io.h"
#include "daxo_package.h"
#include "daxo_property_value.h"

namespace velquor_io {

namespace {

enum { KyPropPath = 0, KyPropNbInputs, KyPropSamples, KyPropLate, KyPropUnsorted };

// Rows of the dynamic inputs, named per stream in Dynamic.
const DAXOInputDefinition s_dataRow{"input", 0, &DAXO::FilterAny, DAXO::NeverSkippingReader, 1};
const DAXOInputDefinition s_endRow{"iEndOfFile", 0, &DAXO::FilterInteger64,
                                   DAXO::NeverSkippingReader, 1};

// The template's outputs are declared by its Dynamic, the inputs by ours.
DAXOInputDefinition s_inputs[] = {{}};
DAXOOutputDefinition s_outputs[] = {{}};
DAXOPropertyDefinition s_properties[] = {
    // name, default, unit, needs init, modifiable after start, read-only, locked, subtype
    {"path", new DAXOPropertyValue(""), nullptr, true, false, false, false,
     DAXO::PropertySubTypeFile},
    {"nb_inputs", new DAXOPropertyValue(2L), nullptr, false, false, false, true, 0},
    {"samples", new DAXOPropertyValue(0L), nullptr, false, false, true, false, 0},
    {"late", new DAXOPropertyValue(0L), nullptr, false, false, true, false, 0},
    {"unsorted", new DAXOPropertyValue(0L), nullptr, false, false, true, false, 0},
    // The template's two settings, with its defaults, listed here so that the
    // model shows them (its Dynamic then leaves them alone).
    {"max_latency", new DAXOPropertyValue(100000L), "us", false, true, false, true, 0},
    {"verbose", new DAXOPropertyValue(false), nullptr, false, true, false, true, 0},
    {},
};
DAXOActionDefinition s_actions[] = {{}};

/// Appends `count` items of type T read from `data`, each printed with
/// `format` after a blank.
template <class T, class Print>
void AppendValues(std::string& line, const void* data, int count, const char* format, Print print) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  char text[40];
  for (int i = 0; i < count; ++i) {
    T value;
    std::memcpy(&value, bytes + static_cast<std::size_t>(i) * sizeof(T), sizeof(T));
    std::snprintf(text, sizeof text, format, print(value));
    line += ' ';
    line += text;
  }
}

DAXOStreamedString NbInputsFault(long n) {
  return DAXOStreamedString("velquor_io: nb_inputs must be between 1 and ")
         << SortedRecorder::KyMaxStreams << " (it is " << n << ")";
}

void AppendText(std::string& line, const char* text, std::size_t length) {
  static const char kHex[] = "0123456789abcdef";
  line += ' ';
  for (std::size_t i = 0; i < length; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '\\') {
      line += "\\\\";
    } else if (c < 0x20 || c == 0x7F) {
      line += "\\x";
      line += kHex[c >> 4];
      line += kHex[c & 0xF];
    } else {
      line += static_cast<char>(c);
    }
  }
}

}  // namespace

DAXOComponentDefinition SortedRecorder::s_definition =
    ThreadedComponentRecord("SortedRecorder", "1.4.0", &InstantiateComponent<SortedRecorder>,
                            s_inputs, s_outputs, s_properties, s_actions);

DAXO_DECLARE_MODULE(SortedRecorder, "DAXOComponent", "SortedRecorder", "1.4.0",
                    &SortedRecorder::s_definition);

void SortedRecorder::Dynamic() {
  DAXOSortedStartReadingComponent::Dynamic();
  long n = 0;
  Get(*Property(KyPropNbInputs), n);
  if (n < 1 || n > KyMaxStreams) Error(NbInputsFault(n));
  // Data inputs first: a data line's input index is its stream's number.
  for (long i = 0; i < n; ++i) NewInput(s_dataRow, (DAXOStreamedString("input_") << i));
  for (long i = 0; i < n; ++i) NewInput(s_endRow, (DAXOStreamedString("iEndOfFile_") << i));
}

void SortedRecorder::Birth() {
  m_born = false;
  DAXOSortedStartReadingComponent::Birth();
  m_path = StringProperty(*this, KyPropPath);
  m_samples = m_late = m_unsorted = 0;
  PublishTotals();
  long n = 0;
  Get(*Property(KyPropNbInputs), n);
  // A refused "nb_inputs" left Dynamic without inputs: say so again here.
  if (n < 1 || n > KyMaxStreams || NbInputs() != 2 * n) Error(NbInputsFault(n));
  m_streams = static_cast<int>(n);
  if (m_path.empty()) Error("velquor_io: the property \"path\" is empty");
  const std::string input = InputPathNote::InputAt(m_path);
  if (!input.empty()) Fail("it is the input '" + input + "' of a player: it would be overwritten");
  if (!m_file.Open(m_path)) Fail(std::strerror(errno));

  m_ended.assign(static_cast<std::size_t>(m_streams), 0);
  m_endHanded.assign(static_cast<std::size_t>(m_streams), 0);
  m_running = 0;
  for (int i = 0; i < m_streams; ++i) {
    if (!Input(i).IsConnected()) {
      m_ended[static_cast<std::size_t>(i)] = 1;
      continue;
    }
    ++m_running;
    if (!Input(m_streams + i).IsConnected()) {
      Report(DAXOStreamedString("input_") << i << " is connected but iEndOfFile_" << i
                                          << " is not: the recorder runs until it is stopped",
             DAXO::Warning, 0);
    }
  }
  DAXOStreamedString header("# timestamp_us input flags kind values (inputs 0-");
  header << (m_streams - 1) << ": input_<i>, " << m_streams << "-" << (2 * m_streams - 1)
         << ": iEndOfFile_<i>; flags: L late, U unsorted)\n";
  if (!m_file.Write(static_cast<const char*>(header))) {
    Fail(std::string("write error: ") + std::strerror(errno));
  }
  m_born = true;
}

void SortedRecorder::Core() {
  if (m_running == 0) {
    Finish();
    return;
  }
  DAXOSortedStartReadingComponent::Core();
}

void SortedRecorder::ProcessSortedIOElt(DAXOIOElt* element, int inputIndex, bool unsorted,
                                        bool late) {
  m_line = std::to_string(element->Timestamp());
  m_line += ' ';
  m_line += std::to_string(inputIndex);
  m_line += ' ';
  if (!late && !unsorted) m_line += '-';
  if (late) m_line += 'L';
  if (unsorted) m_line += 'U';
  AppendPayload(*element);
  m_line += '\n';
  if (!m_file.Write(m_line)) Fail(std::string("write error: ") + std::strerror(errno));
  ++m_samples;
  m_late += late ? 1 : 0;
  m_unsorted += unsorted ? 1 : 0;
  PublishTotals();

  if (inputIndex >= m_streams) {
    const int stream = inputIndex - m_streams;
    m_endHanded[static_cast<std::size_t>(stream)] = 1;
    CheckEnded(stream);
  } else if (m_endHanded[static_cast<std::size_t>(inputIndex)] != 0) {
    CheckEnded(inputIndex);
  }
  if (m_running == 0) Finish();
}

void SortedRecorder::CheckEnded(int stream) {
  const auto s = static_cast<std::size_t>(stream);
  if (m_ended[s] != 0 || m_endHanded[s] == 0) return;
  // A sample of the stream still waiting in the reorder queue, or unread in
  // its FIFO, comes after the end of file was handed over: not ended yet.
  if (Holds(stream) || DataAvailableInFIFO(Input(stream))) return;
  m_ended[s] = 1;
  --m_running;
}

void SortedRecorder::AppendPayload(DAXOIOElt& element) {
  const DAXOTypeInfoValue type = element.Type().value;
  const void* data = element.Data();
  int count = (type & DAXO::VectorFlag) != 0 ? element.VectorSize() : 1;
  count = std::clamp(count, 0, std::max(element.BufferSize(), 0));
  if (data == nullptr) count = 0;
  const auto same = [](auto v) { return v; };
  const auto wide = [](auto v) { return static_cast<long long>(v); };
  const auto uwide = [](auto v) { return static_cast<unsigned long long>(v); };
  const auto real = [](auto v) { return static_cast<double>(v); };
  switch (type & DAXO::TypeMask) {
    case DAXO::Stream8: {
      static const char kHex[] = "0123456789abcdef";
      m_line += " stream8 ";
      const auto* bytes = static_cast<const unsigned char*>(data);
      for (int i = 0; i < count; ++i) {
        m_line += kHex[bytes[i] >> 4];
        m_line += kHex[bytes[i] & 0xF];
      }
      return;
    }
    case DAXO::Integer8:
      m_line += " int8";
      return AppendValues<std::int8_t>(m_line, data, count, "%d", [](auto v) { return int{v}; });
    case DAXO::Integer16:
      m_line += " int16";
      return AppendValues<std::int16_t>(m_line, data, count, "%d", [](auto v) { return int{v}; });
    case DAXO::Integer32:
      m_line += " int32";
      return AppendValues<std::int32_t>(m_line, data, count, "%d", same);
    case DAXO::Integer64:
      m_line += " int64";
      return AppendValues<std::int64_t>(m_line, data, count, "%lld", wide);
    case DAXO::Stream16:
      m_line += " stream16";
      return AppendValues<std::uint16_t>(m_line, data, count, "%u",
                                         [](auto v) { return unsigned{v}; });
    case DAXO::Stream32:
      m_line += " stream32";
      return AppendValues<std::uint32_t>(m_line, data, count, "%u", same);
    case DAXO::UnsignedInteger64:
      m_line += " uint64";
      return AppendValues<std::uint64_t>(m_line, data, count, "%llu", uwide);
    case DAXO::Float32:
      m_line += " float32";
      return AppendValues<float>(m_line, data, count, "%.9g", real);
    case DAXO::Float64:
      m_line += " float64";
      return AppendValues<double>(m_line, data, count, "%.17g", real);
    case DAXO::TextAscii: {
      m_line += " text";
      const int room = data != nullptr ? element.IOEltBufferSizeInBytes(nullptr) : 0;
      const auto* text = static_cast<const char*>(data);
      AppendText(m_line, text, room > 0 ? strnlen(text, static_cast<std::size_t>(room)) : 0);
      return;
    }
    default:
      m_line += " size ";
      m_line += std::to_string(std::max(element.IOEltUsedSizeInBytes(nullptr), 0));
      return;
  }
}

void SortedRecorder::PublishTotals() {
  DirectSet(*Property(KyPropSamples), m_samples);
  DirectSet(*Property(KyPropLate), m_late);
  DirectSet(*Property(KyPropUnsorted), m_unsorted);
}

void SortedRecorder::Finish() {
  if (!m_file.Finish()) Fail(std::string("write error: ") + std::strerror(errno));
  CommitSuicide();
}

void SortedRecorder::Death() {
  m_file.Close();
  DAXOSortedStartReadingComponent::Death();
  if (!m_born) return;
  m_born = false;
  Report(DAXOStreamedString("") << m_samples << " samples recorded in " << m_path.c_str() << " ("
                                << m_late << " late, " << m_unsorted << " unsorted)",
         DAXO::Info, 0);
}

void SortedRecorder::Fail(std::string_view detail) {
  m_file.Close();
  Error(FileFault(m_path, detail).c_str());
  throw DAXO::ErrorException;  // not reached: Error throws (invisible through the virtual call)
}

}  // namespace velquor_io
