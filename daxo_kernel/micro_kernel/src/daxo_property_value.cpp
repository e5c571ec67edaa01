// Property values and enumerations: construction, deep copies and the
// enumeration text form "nbVal|selected|val0|val1|val2...".
#include "daxo_property_value.h"

#include <climits>
#include <memory>
#include <utility>

#include "daxo_kernel.h"

namespace {

const char kIncompatibleSelection[] =
    "Selected value incompatible with enum values for property. Selected property is set to 0";

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads one decimal int at `p` the way "%d" does (leading white space and an
// optional sign), and moves `p` past it. A number that does not fit an int
// is refused rather than wrapped.
bool ReadInt(const char*& p, int& out) {
  while (IsSpace(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  if (*p < '0' || *p > '9') return false;
  long long magnitude = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    magnitude = magnitude * 10 + (*p - '0');
    if (magnitude > static_cast<long long>(INT_MAX) + 1) return false;
  }
  const long long v = negative ? -magnitude : magnitude;
  if (v > INT_MAX) return false;
  out = static_cast<int>(v);
  return true;
}

// The "%d|%d" header at the start of `text` (up to its first NUL byte).
bool ReadHeader(const char* text, int& count, int& selected) {
  if (text == nullptr) return false;
  const char* p = text;
  if (!ReadInt(p, count) || *p != '|') return false;
  ++p;
  return ReadInt(p, selected);
}

// A selection checked against `count` values: -1 (none) and valid indexes
// are kept, anything else becomes 0 after reporting `complaint`.
int CheckedSelection(int wanted, int count, const char* complaint) {
  if (wanted >= -1 && wanted < count) return wanted;
  DAXO::ReportError(complaint);
  return 0;
}

const DAXOString& EmptyString() {
  static const DAXOString empty;
  return empty;
}

}  // namespace

// --- DAXOEnumStruct ----------------------------------------------------------

DAXOEnumStruct::DAXOEnumStruct(const DAXOEnumStruct& other)
    : selected(other.selected),
      values(other.values != nullptr ? new DAXOArray<DAXOString>(*other.values) : nullptr) {}

DAXOEnumStruct::DAXOEnumStruct(DAXOEnumStruct&& other) noexcept
    : selected(other.selected), values(std::exchange(other.values, nullptr)) {}

DAXOEnumStruct::DAXOEnumStruct(const char* text, int wanted) : values(new DAXOArray<DAXOString>()) {
  if (text == nullptr || *text == '\0') {
    selected = -1;
    return;
  }
  try {
    *values = DAXOString(text).Split('|');
  } catch (...) {
    delete values;
    throw;
  }
  if (wanted >= 0 && wanted < values->Count()) {
    selected = wanted;
  } else {
    selected = 0;
    DAXO::ReportError(kIncompatibleSelection);
  }
}

DAXOEnumStruct::~DAXOEnumStruct() {
  delete values;
}

DAXOEnumStruct& DAXOEnumStruct::operator=(const DAXOEnumStruct& other) {
  Copy(other);
  return *this;
}

DAXOEnumStruct& DAXOEnumStruct::operator=(DAXOEnumStruct&& other) noexcept {
  if (this != &other) {
    delete values;
    selected = other.selected;
    values = std::exchange(other.values, nullptr);
  }
  return *this;
}

void DAXOEnumStruct::Copy(const DAXOEnumStruct& other) {
  if (this == &other) return;
  auto* copy = other.values != nullptr ? new DAXOArray<DAXOString>(*other.values) : nullptr;
  delete values;
  values = copy;
  selected = other.selected;
}

DAXOString DAXOEnumStruct::ToString() const {
  DAXOStreamedString text;
  text << Count() << '|' << selected;
  for (int i = 0; i < Count(); ++i) {
    text << '|';
    text += (*values)[i];
  }
  return text;
}

bool DAXOEnumStruct::IsEnumString(const DAXOString& text) {
  int count = 0;
  int index = 0;
  return ReadHeader(text, count, index);
}

void DAXOEnumStruct::FromString(const DAXOString& text, bool keepValues) {
  int count = 0;
  int wanted = 0;
  if (!ReadHeader(text, count, wanted)) {
    DAXOStreamedString report("DAXOEnumStruct::FromString: Ill-formed enum string ");
    report << "[expected:nbVal|selected|val0|val1|val2...] [received:" << text << "]";
    DAXO::ReportError(report);
    return;
  }
  static const char kSelectionReset[] =
      "DAXOEnumStruct::FromString: Selected value incompatible with enum values for property. "
      "Selected property is set to 0.";
  if (keepValues) {
    selected = CheckedSelection(wanted, Count(), kSelectionReset);
    return;
  }
  // The new values are built apart and swapped in, so that a failed
  // allocation leaves the enumeration as it was. The declared count is only
  // compared with what the text holds; it never sizes anything.
  auto fresh = std::make_unique<DAXOArray<DAXOString>>();
  int freshSelected = -1;
  if (count > 0) {
    DAXOArray<DAXOString> pieces = text.Split('|');
    if (pieces.Count() - 2 != count) {
      DAXO::ReportError(
          "DAXOEnumStruct::FromString: Declared size of enum struct does not match the number "
          "of given elements.");
    } else {
      fresh->Reserve(count);
      for (int i = 2; i < pieces.Count(); ++i) fresh->Append(pieces[i]);
      freshSelected = CheckedSelection(wanted, count, kSelectionReset);
    }
  }
  delete values;
  values = fresh.release();
  selected = freshSelected;
}

bool DAXOEnumStruct::Select(const DAXOString& text) {
  for (int i = 0; i < Count(); ++i) {
    if ((*values)[i] == text) {
      selected = i;
      return true;
    }
  }
  selected = -1;
  return false;
}

const DAXOString& DAXOEnumStruct::Value(int i) const {
  if (i < 0 || i >= Count()) return EmptyString();
  return (*values)[i];
}

bool DAXOEnumStruct::operator==(const DAXOEnumStruct& other) const {
  if (selected != other.selected || Count() != other.Count()) return false;
  for (int i = 0; i < Count(); ++i) {
    if ((*values)[i] != (*other.values)[i]) return false;
  }
  return true;
}

// --- DAXOPropertyValue -------------------------------------------------------

DAXOPropertyValue::DAXOPropertyValue(const DAXOEnumStruct& e) : type(DAXO::PropertyTypeEnum) {
  value.enumeration = new DAXOEnumStruct(e);
}

DAXOPropertyValue::DAXOPropertyValue(const char* text, int selected)
    : type(DAXO::PropertyTypeEnum) {
  value.enumeration = new DAXOEnumStruct(text, selected);
}

DAXOPropertyValue::DAXOPropertyValue(const char* text) {
  const DAXOString copy(text);
  if (DAXOEnumStruct::IsEnumString(copy)) {
    auto e = std::make_unique<DAXOEnumStruct>();
    e->FromString(copy, false);
    type = DAXO::PropertyTypeEnum;
    value.enumeration = e.release();
  } else {
    type = DAXO::PropertyTypeString;
    value.string = new DAXOString(copy);
  }
}

DAXOPropertyValue::DAXOPropertyValue(const DAXOPropertyValue& other) {
  Copy(other);
}

DAXOPropertyValue::DAXOPropertyValue(DAXOPropertyValue&& other) noexcept
    : type(other.type), value(other.value) {
  other.type = DAXO::PropertyTypeBool;
  other.value.boolean = false;
}

DAXOPropertyValue& DAXOPropertyValue::operator=(const DAXOPropertyValue& other) {
  Copy(other);
  return *this;
}

DAXOPropertyValue& DAXOPropertyValue::operator=(DAXOPropertyValue&& other) noexcept {
  if (this != &other) {
    Release();
    type = std::exchange(other.type, DAXO::PropertyTypeBool);
    value = other.value;
    other.value.boolean = false;
  }
  return *this;
}

DAXOPropertyValue::~DAXOPropertyValue() {
  Release();
}

void DAXOPropertyValue::Copy(const DAXOPropertyValue& other) {
  if (this == &other) return;
  Slot copy = other.value;
  if (other.type == DAXO::PropertyTypeString) {
    copy.string = other.value.string != nullptr ? new DAXOString(*other.value.string) : nullptr;
  } else if (other.type == DAXO::PropertyTypeEnum) {
    copy.enumeration = other.value.enumeration != nullptr
                           ? new DAXOEnumStruct(*other.value.enumeration)
                           : new DAXOEnumStruct();
  }
  Release();
  type = other.type;
  value = copy;
}

void DAXOPropertyValue::Release() {
  if (type == DAXO::PropertyTypeString) {
    delete value.string;
  } else if (type == DAXO::PropertyTypeEnum) {
    delete value.enumeration;
  }
  type = DAXO::PropertyTypeBool;
  value.boolean = false;
}
