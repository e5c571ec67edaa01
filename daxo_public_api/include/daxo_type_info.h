// Data types of outputs and I/O elements: the 64-bit type value and the
// type record (value, optional name, optional unit) that travels with every
// output.
//
// A type value holds one bit per data kind in its low 32 bits (TypeMask) and
// flags in its high bits. Type filters (daxo_type_filter.h) test these bits.
//
// Threading: a DAXOTypeInfo is a plain value; one thread at a time may
// change it, any number may read it while nobody changes it.
#pragma once

#include <cstdint>

#include "daxo_string.h"

using DAXOTypeInfoValue = std::uint64_t;

namespace DAXO {

// --- data kinds (low 32 bits) ------------------------------------------------
constexpr DAXOTypeInfoValue TypeMask = 0xFFFFFFFFull;

constexpr DAXOTypeInfoValue Structure = 0x1;
constexpr DAXOTypeInfoValue Integer32 = 0x2;
constexpr DAXOTypeInfoValue Integer = Integer32;
constexpr DAXOTypeInfoValue Float64 = 0x4;
constexpr DAXOTypeInfoValue Float = Float64;
constexpr DAXOTypeInfoValue Double = Float64;
constexpr DAXOTypeInfoValue TextAscii = 0x8;
constexpr DAXOTypeInfoValue TextUTF8 = TextAscii;
constexpr DAXOTypeInfoValue TextUnicode = 0x10;
constexpr DAXOTypeInfoValue TextUTF16 = TextUnicode;
constexpr DAXOTypeInfoValue IplImage = 0x20;
constexpr DAXOTypeInfoValue DAXOImage = 0x40;
constexpr DAXOTypeInfoValue CANFrame = 0x80;
constexpr DAXOTypeInfoValue Matrix = 0x100;
constexpr DAXOTypeInfoValue RealObject = 0x200;
constexpr DAXOTypeInfoValue DrawingObject = 0x400;
constexpr DAXOTypeInfoValue Triangles3D = 0x800;
constexpr DAXOTypeInfoValue Stream8 = 0x1000;
constexpr DAXOTypeInfoValue UnsignedInteger8 = Stream8;
constexpr DAXOTypeInfoValue Stream16 = 0x2000;
constexpr DAXOTypeInfoValue UnsignedInteger16 = Stream16;
constexpr DAXOTypeInfoValue Stream32 = 0x4000;
constexpr DAXOTypeInfoValue UnsignedInteger32 = Stream32;
constexpr DAXOTypeInfoValue Integer64 = 0x8000;
constexpr DAXOTypeInfoValue Float32 = 0x10000;
constexpr DAXOTypeInfoValue AudioSignal = 0x20000;
constexpr DAXOTypeInfoValue DynamicStructure = 0x40000;
constexpr DAXOTypeInfoValue CANFDFrame = 0x80000;
constexpr DAXOTypeInfoValue Integer8 = 0x100000;
constexpr DAXOTypeInfoValue Integer16 = 0x200000;
constexpr DAXOTypeInfoValue UnsignedInteger64 = 0x400000;
constexpr DAXOTypeInfoValue CustomType = 0x800000;
constexpr DAXOTypeInfoValue CANUniFrame = 0x1000000;

// --- unions of kinds -----------------------------------------------------------
constexpr DAXOTypeInfoValue AnyText = 0x18;
constexpr DAXOTypeInfoValue AnyFloat = 0x10004;
constexpr DAXOTypeInfoValue AnySignedInteger = 0x308002;
constexpr DAXOTypeInfoValue AnyUnsignedInteger = 0x407000;
constexpr DAXOTypeInfoValue AnyInteger = 0x70F002;
constexpr DAXOTypeInfoValue AnySignedNumber = 0x318006;
constexpr DAXOTypeInfoValue AnyUnsignedNumber = 0x407000;
constexpr DAXOTypeInfoValue AnyNumber = 0x71F006;

// --- flags (high bits) -----------------------------------------------------------
/// The element holds a vector of items of its kind rather than one item.
constexpr DAXOTypeInfoValue VectorFlag = 1ull << 63;
constexpr DAXOTypeInfoValue FrequencyFlag = 1ull << 62;
constexpr DAXOTypeInfoValue QualityFlag = 1ull << 61;
constexpr DAXOTypeInfoValue MiscFlag = 1ull << 60;
/// Filters skip their name pattern for a type carrying this flag.
constexpr DAXOTypeInfoValue IgnoreNameFlag = 1ull << 59;
/// Filters skip their unit pattern for a type carrying this flag.
constexpr DAXOTypeInfoValue IgnoreUnitFlag = 1ull << 58;

/// Every kind; name and unit ignored (0x0C000000FFFFFFFF).
constexpr DAXOTypeInfoValue AnyType = TypeMask | IgnoreNameFlag | IgnoreUnitFlag;
constexpr DAXOTypeInfoValue NoType = 0;
constexpr DAXOTypeInfoValue NoMask = 0;

static_assert(AnyType == 0x0C000000FFFFFFFFull);

}  // namespace DAXO

/// The type of an output and of its I/O elements. Owns its name and unit
/// strings; either may be absent (null), which is not the same as empty.
class DAXOTypeInfo {
 public:
  DAXOTypeInfoValue value = DAXO::NoType;
  DAXOString* name = nullptr;  // owned; null until set
  DAXOString* unit = nullptr;  // owned; null until set

  DAXOTypeInfo() = default;
  /// A type of the given value; a null name or unit leaves it absent.
  explicit DAXOTypeInfo(DAXOTypeInfoValue value, const char* name = nullptr,
                        const char* unit = nullptr);
  /// Deep copies: the strings are duplicated, absent ones stay absent.
  DAXOTypeInfo(const DAXOTypeInfo& other);
  DAXOTypeInfo(DAXOTypeInfo&& other) noexcept;
  /// Copies value, name and unit deeply; an absent string of `other`
  /// deletes this type's string. Self-assignment is harmless.
  DAXOTypeInfo& operator=(const DAXOTypeInfo& other);
  DAXOTypeInfo& operator=(DAXOTypeInfo&& other) noexcept;
  ~DAXOTypeInfo();

  /// Creates the name on first use and copies `text` into it; null stores
  /// the empty string (the name then exists). No length limit.
  void SetName(const char* text);
  /// The same for the unit.
  void SetUnit(const char* text);
};
