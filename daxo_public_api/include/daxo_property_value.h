// Values of properties: DAXOPropertyValue (boolean, integer, floating point,
// string or enumeration) and DAXOEnumStruct, the enumeration value with its
// text form.
//
// Text form of an enumeration, "nbVal|selected|val0|val1|val2...": the
// decimal count of values, a vertical bar, the decimal selected index, then
// each value preceded by a vertical bar. Values are written as they are, so a
// value must not contain a vertical bar.
//
// A selection is an index into the values, or -1 for none. The parsers never
// leave another index behind: an index outside [-1, count) becomes 0 with a
// report. (A new enumeration, with no values, has index 0; readers bound-check
// the index against the values.)
//
// Reports of the parsers go to the engine as error reports
// (DAXO::ReportError) and never end the call.
//
// Threading: plain values; one thread at a time may change one, any number
// may read it while nobody changes it. Properties guard theirs with their
// module's property lock.
#pragma once

#include "daxo_array.h"
#include "daxo_string.h"

namespace DAXO {
// Kind codes of a property value (DAXOPropertyValue::type).
constexpr int PropertyTypeBool = 0;
constexpr int PropertyTypeInteger = 1;
constexpr int PropertyTypeFloat = 2;
constexpr int PropertyTypeString = 3;
constexpr int PropertyTypeEnum = 4;
}  // namespace DAXO

class DAXOEnumStruct {
 public:
  /// Index of the selected value; -1 when none.
  int selected = 0;
  /// The possible values in order; owned. Null in a new enumeration, which
  /// counts as no values.
  DAXOArray<DAXOString>* values = nullptr;

  /// No values (no array), selected 0.
  DAXOEnumStruct() = default;
  /// Deep copy (the value array is duplicated).
  DAXOEnumStruct(const DAXOEnumStruct& other);
  DAXOEnumStruct(DAXOEnumStruct&& other) noexcept;
  /// The values are `text` split at every vertical bar ("a|b|" gives a, b and
  /// an empty value); a null or empty text gives no values and selection -1.
  /// With values, `selected` is kept when 0 <= selected < count, otherwise
  /// the selection is 0 and an incompatible-selection report is made.
  DAXOEnumStruct(const char* text, int selected);
  virtual ~DAXOEnumStruct();

  DAXOEnumStruct& operator=(const DAXOEnumStruct& other);
  DAXOEnumStruct& operator=(DAXOEnumStruct&& other) noexcept;
  /// Replaces this enumeration with a deep copy of `other`.
  void Copy(const DAXOEnumStruct& other);

  /// The text form, e.g. "2|1|x|y"; "0|-1" for no values and no selection.
  DAXOString ToString() const;
  /// True when `text` begins with two decimal integers (each optionally
  /// preceded by white space and a sign, each fitting an int) separated by a
  /// vertical bar.
  static bool IsEnumString(const DAXOString& text);
  /// Reads the text form. A text that is not an enumeration string is
  /// reported as ill-formed and changes nothing. With `keepValues` only the
  /// selection is taken (checked against the current values). Otherwise the
  /// values are replaced: a count of 0 or less gives no values and selection
  /// -1; a count that differs from the number of values given is reported and
  /// gives no values and selection -1. The declared count never sizes an
  /// allocation.
  void FromString(const DAXOString& text, bool keepValues);
  /// Selects the first value equal to `text` (same bytes) and returns true;
  /// otherwise the selection becomes -1 and the result is false.
  bool Select(const DAXOString& text);

  /// Number of values.
  int Count() const { return values != nullptr ? values->Count() : 0; }
  /// Value `i`, or a shared empty string when `i` is out of range.
  const DAXOString& Value(int i) const;
  /// The selected value, or a shared empty string when the selection is out
  /// of range.
  const DAXOString& SelectedValue() const { return Value(selected); }

  /// Same selection and the same values in the same order (no array and an
  /// empty array are equal).
  bool operator==(const DAXOEnumStruct& other) const;
};

/// A typed property value. Strings and enumerations are owned and copied
/// deeply by every copy.
class DAXOPropertyValue {
 public:
  int type = DAXO::PropertyTypeBool;  // DAXO::PropertyType...
  union Slot {
    bool boolean;
    long integer;
    double floating;
    DAXOString* string;           // owned; null reads as empty
    DAXOEnumStruct* enumeration;  // owned; never null
  } value{};

  /// Boolean false.
  DAXOPropertyValue() { value.boolean = false; }
  explicit DAXOPropertyValue(bool b) { value.boolean = b; }
  explicit DAXOPropertyValue(long i) : type(DAXO::PropertyTypeInteger) { value.integer = i; }
  explicit DAXOPropertyValue(int i) : type(DAXO::PropertyTypeInteger) { value.integer = i; }
  explicit DAXOPropertyValue(double f) : type(DAXO::PropertyTypeFloat) { value.floating = f; }
  /// An enumeration holding a copy of `e`.
  explicit DAXOPropertyValue(const DAXOEnumStruct& e);
  /// An enumeration built as DAXOEnumStruct(text, selected) builds it.
  DAXOPropertyValue(const char* text, int selected);
  /// An enumeration read from `text` (FromString) when the text is an
  /// enumeration string (DAXOEnumStruct::IsEnumString), otherwise a string
  /// holding the text (null gives the empty string).
  explicit DAXOPropertyValue(const char* text);
  DAXOPropertyValue(const DAXOPropertyValue& other);
  DAXOPropertyValue(DAXOPropertyValue&& other) noexcept;
  DAXOPropertyValue& operator=(const DAXOPropertyValue& other);
  DAXOPropertyValue& operator=(DAXOPropertyValue&& other) noexcept;
  virtual ~DAXOPropertyValue();

  /// Replaces this value with a deep copy of `other` (kind included).
  /// Self-copy is harmless; on allocation failure this value is unchanged.
  void Copy(const DAXOPropertyValue& other);

  int Type() const { return type; }

 private:
  void Release();
};
