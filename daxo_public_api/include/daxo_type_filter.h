// Type filters: which output types an input accepts.
//
// A filter accepts a type of value v when (mask AND (x XOR v)) is 0 and
// (maskX AND v) is not 0: mask selects bits of v that must equal those of x,
// maskX lists bits of which at least one must be set. A filter may also carry
// regular-expression patterns (not owned) that the type's name and unit must
// match, unless the type carries DAXO::IgnoreNameFlag / DAXO::IgnoreUnitFlag.
//
// Filters are static data or members of long-lived records, written as
// aggregates: {mask, x, maskX, "name pattern", "unit pattern"}.
//
// Threading: Match may be called on one filter from any number of threads at
// once. Each pattern is compiled on the first match that needs it and
// published without a lock (the first published compilation wins, the
// others are discarded); matching itself never writes to the filter. The
// filter must not be destroyed or have its fields changed while a Match on
// it runs.
#pragma once

#include <atomic>

#include "daxo_type_info.h"

class DAXORegExp;

struct DAXOTypeFilterBase {
  DAXOTypeInfoValue mask = DAXO::NoMask;
  DAXOTypeInfoValue x = DAXO::NoType;
  DAXOTypeInfoValue maskX = DAXO::NoMask;
  const char* nameFilter = nullptr;  // pattern for the type's name, or null
  const char* unitFilter = nullptr;  // pattern for the type's unit, or null
  // Compiled patterns, owned, null until the first match that needs them.
  // Published once by compare-and-exchange; never changed afterwards.
  mutable std::atomic<DAXORegExp*> nameRegExp{nullptr};
  mutable std::atomic<DAXORegExp*> unitRegExp{nullptr};

  /// Deletes the compiled patterns.
  ~DAXOTypeFilterBase();

  /// True when the filter accepts `type`. A pattern that does not compile
  /// accepts nothing; a type without a name (unit) never matches a name
  /// (unit) pattern unless it carries the matching ignore flag.
  /// Non-blocking; safe to call concurrently on the same filter.
  bool Match(const DAXOTypeInfo& type) const;

  /// Same masks, and patterns both null or equal texts.
  bool operator==(const DAXOTypeFilterBase& other) const;
};

namespace DAXO {

/// `filter.Match(type)`.
bool TypeFilter(const DAXOTypeInfo& type, const DAXOTypeFilterBase& filter);

// --- predefined filters: mask 0, x 0, maskX as commented ------------------------
extern const DAXOTypeFilterBase FilterAny;  // 0xFFFFFFFF: any kind, not NoType
extern const DAXOTypeFilterBase FilterInteger, FilterIntegers, FilterInteger32,
    FilterIntegers32;  // Integer32
extern const DAXOTypeFilterBase FilterFloat, FilterFloats, FilterDouble, FilterDoubles,
    FilterFloat64, FilterFloats64;                                  // Float64
extern const DAXOTypeFilterBase FilterFloat32, FilterFloats32;      // Float32
extern const DAXOTypeFilterBase FilterInteger8, FilterIntegers8;    // Integer8
extern const DAXOTypeFilterBase FilterInteger16, FilterIntegers16;  // Integer16
extern const DAXOTypeFilterBase FilterInteger64, FilterIntegers64;  // Integer64
extern const DAXOTypeFilterBase FilterUnsignedInteger8, FilterUnsignedIntegers8;
extern const DAXOTypeFilterBase FilterUnsignedInteger16, FilterUnsignedIntegers16;
extern const DAXOTypeFilterBase FilterUnsignedInteger32, FilterUnsignedIntegers32;
extern const DAXOTypeFilterBase FilterUnsignedInteger64, FilterUnsignedIntegers64;
extern const DAXOTypeFilterBase FilterNumber, FilterNumbers;  // AnyNumber
extern const DAXOTypeFilterBase FilterAnyIntegers;            // AnyInteger
extern const DAXOTypeFilterBase FilterAnyFloats;              // AnyFloat
extern const DAXOTypeFilterBase FilterSignedIntegers;         // AnySignedInteger
extern const DAXOTypeFilterBase FilterUnsignedIntegers;       // AnyUnsignedInteger
extern const DAXOTypeFilterBase FilterSignedNumbers;          // AnySignedNumber
extern const DAXOTypeFilterBase FilterUnsignedNumbers;        // AnyUnsignedNumber
extern const DAXOTypeFilterBase FilterStructure, FilterDynamicStructure, FilterCustomType;
extern const DAXOTypeFilterBase FilterTextAscii, FilterTextUTF8, FilterTextUnicode, FilterTextUTF16;
extern const DAXOTypeFilterBase FilterImage;  // IplImage or DAXOImage
extern const DAXOTypeFilterBase FilterIplImage, FilterDAXOImage;
extern const DAXOTypeFilterBase FilterCANFrame, FilterCANFDFrame, FilterCANUniFrame;
extern const DAXOTypeFilterBase FilterAnyCANFrame;  // any of the three CAN kinds
extern const DAXOTypeFilterBase FilterMatrix, FilterRealObjects, FilterDrawingObjects,
    FilterTriangles3D;
extern const DAXOTypeFilterBase FilterStream8, FilterStream16, FilterStream32;
extern const DAXOTypeFilterBase FilterAudioSignal;
extern const DAXOTypeFilterBase FilterAudioSignals;  // AudioSignal, Float32 or Stream8

// --- single values: exactly one kind, VectorFlag clear ------------------------
// mask 0x80000000FFFFFFFF, maskX 0xFFFFFFFF, x the kind.
extern const DAXOTypeFilterBase FilterOneInteger, FilterOneInteger32;
extern const DAXOTypeFilterBase FilterOneFloat, FilterOneDouble, FilterOneFloat64;
extern const DAXOTypeFilterBase FilterOneFloat32;
extern const DAXOTypeFilterBase FilterOneInteger8, FilterOneInteger16, FilterOneInteger64;
extern const DAXOTypeFilterBase FilterOneUnsignedInteger8, FilterOneUnsignedInteger16,
    FilterOneUnsignedInteger32, FilterOneUnsignedInteger64;
/// Any number kind, VectorFlag clear (mask 0x8000000000000000, x 0).
extern const DAXOTypeFilterBase FilterOneNumber;

}  // namespace DAXO
