// Type and type-filter texts for `velquor inspect`.
#include "type_text.h"

#include <cinttypes>
#include <cstdio>
#include <utility>
#include <vector>

namespace velquor::tool {

namespace {

constexpr int kKindBits = 32;  // the kinds live in DAXO::TypeMask

const char* KindName(DAXOTypeInfoValue bit) {
  static const std::pair<DAXOTypeInfoValue, const char*> kKinds[] = {
      {DAXO::Structure, "Structure"},
      {DAXO::Integer32, "Integer32"},
      {DAXO::Float64, "Float64"},
      {DAXO::TextAscii, "Text"},
      {DAXO::TextUnicode, "TextUnicode"},
      {DAXO::IplImage, "IplImage"},
      {DAXO::DAXOImage, "Image"},
      {DAXO::CANFrame, "CANFrame"},
      {DAXO::Matrix, "Matrix"},
      {DAXO::RealObject, "RealObject"},
      {DAXO::DrawingObject, "DrawingObject"},
      {DAXO::Triangles3D, "Triangles3D"},
      {DAXO::Stream8, "Stream8"},
      {DAXO::Stream16, "Stream16"},
      {DAXO::Stream32, "Stream32"},
      {DAXO::Integer64, "Integer64"},
      {DAXO::Float32, "Float32"},
      {DAXO::AudioSignal, "AudioSignal"},
      {DAXO::DynamicStructure, "DynamicStructure"},
      {DAXO::CANFDFrame, "CANFDFrame"},
      {DAXO::Integer8, "Integer8"},
      {DAXO::Integer16, "Integer16"},
      {DAXO::UnsignedInteger64, "UnsignedInteger64"},
      {DAXO::CustomType, "CustomType"},
      {DAXO::CANUniFrame, "CANUniFrame"},
  };
  for (const auto& [kind, name] : kKinds) {
    if (kind == bit) return name;
  }
  return nullptr;
}

std::string BitName(DAXOTypeInfoValue bit) {
  if (const char* name = KindName(bit)) return name;
  char hex[24];
  std::snprintf(hex, sizeof hex, "0x%" PRIx64, static_cast<std::uint64_t>(bit));
  return hex;
}

std::string Join(const std::vector<DAXOTypeInfoValue>& kinds, const char* separator) {
  std::string text;
  for (DAXOTypeInfoValue bit : kinds) text += (text.empty() ? "" : separator) + BitName(bit);
  return text;
}

// "Float64, Integer64 (single or vector)"; "any kind" when every kind is there.
std::string Group(const std::vector<DAXOTypeInfoValue>& kinds, const char* how) {
  const std::string names =
      kinds.size() == static_cast<std::size_t>(kKindBits) ? "any kind" : Join(kinds, ", ");
  return names + " (" + how + ")";
}

}  // namespace

std::string KindNames(DAXOTypeInfoValue value) {
  std::string names;
  if ((value & DAXO::TypeMask) == DAXO::TypeMask) {
    names = "any";
  } else {
    std::vector<DAXOTypeInfoValue> kinds;
    for (int i = 0; i < kKindBits; ++i) {
      if ((value & (DAXOTypeInfoValue{1} << i)) != 0) kinds.push_back(DAXOTypeInfoValue{1} << i);
    }
    names = kinds.empty() ? "none" : Join(kinds, "|");
  }
  if ((value & DAXO::VectorFlag) != 0) names += " vector";
  return names;
}

std::string AcceptedTypes(const DAXOTypeFilterBase& filter) {
  // The bit test alone: the patterns are shown, not tried (there is no one
  // name to try them on).
  const DAXOTypeFilterBase bits{filter.mask, filter.x, filter.maskX};
  // Flags (other than the vector flag, tried both ways) that the filter
  // demands: a type without them never passes.
  const DAXOTypeInfoValue required = filter.mask & filter.x & ~(DAXO::TypeMask | DAXO::VectorFlag);
  std::vector<DAXOTypeInfoValue> both, singleOnly, vectorOnly;
  for (int i = 0; i < kKindBits; ++i) {
    const DAXOTypeInfoValue kind = DAXOTypeInfoValue{1} << i;
    const bool single = bits.Match(DAXOTypeInfo(kind | required));
    const bool vector = bits.Match(DAXOTypeInfo(kind | required | DAXO::VectorFlag));
    if (single && vector) {
      both.push_back(kind);
    } else if (single) {
      singleOnly.push_back(kind);
    } else if (vector) {
      vectorOnly.push_back(kind);
    }
  }
  const bool patterns = filter.nameFilter != nullptr || filter.unitFilter != nullptr;
  if (both.size() == static_cast<std::size_t>(kKindBits) && required == 0 && !patterns) {
    return "any type";
  }
  std::string text;
  auto add = [&text](const std::string& part) { text += (text.empty() ? "" : "; ") + part; };
  if (!both.empty()) add(Group(both, "single or vector"));
  if (!singleOnly.empty()) add(Group(singleOnly, "single only"));
  if (!vectorOnly.empty()) add(Group(vectorOnly, "vector only"));
  if (text.empty()) return "nothing";
  if (required != 0) {
    char hex[24];
    std::snprintf(hex, sizeof hex, "0x%" PRIx64, static_cast<std::uint64_t>(required));
    text += std::string(", with flags ") + hex;
  }
  if (filter.nameFilter != nullptr) {
    text += std::string(", type name matching \"") + filter.nameFilter + "\"";
  }
  if (filter.unitFilter != nullptr) {
    text += std::string(", unit matching \"") + filter.unitFilter + "\"";
  }
  return text;
}

}  // namespace velquor::tool
