// Type filters: the matching rule, the lazily compiled name and unit
// patterns, and the predefined filters.
//
// Concurrency. Static filters are shared by every component, and components
// connect and match from several threads:
//  - Publishing the compiled pattern: each thread that finds no compiled
//    pattern compiles one and tries to publish it with a compare-and-exchange
//    (release); the losers delete their own copies. Once published, the
//    DAXORegExp is never changed again; the filter's destructor deletes it.
//  - Matching goes through DAXORegExp::Test, which only reads the compiled
//    pattern and so may run in several threads at once.
#include "daxo_type_filter.h"

#include <cstring>

#include "daxo_regexp.h"

namespace {

// Compiles `pattern` into the filter's slot on first use. Several threads
// may get here together: each compiles, one publishes, the others delete
// their copy.
const DAXORegExp& EnsureCompiled(std::atomic<DAXORegExp*>& slot, const char* pattern) {
  DAXORegExp* current = slot.load(std::memory_order_acquire);
  if (current != nullptr) return *current;
  auto* fresh = new DAXORegExp(pattern, 0);
  if (!slot.compare_exchange_strong(current, fresh, std::memory_order_acq_rel,
                                    std::memory_order_acquire)) {
    delete fresh;  // another thread published first; `current` is its copy
    return *current;
  }
  return *fresh;
}

// Whether `text` (the type's name or unit) satisfies the pattern. An absent
// text never does; a pattern that does not compile accepts nothing (Match
// fails without a compiled pattern).
bool PatternAccepts(std::atomic<DAXORegExp*>& slot, const char* pattern, const DAXOString* text) {
  if (text == nullptr) return false;
  return EnsureCompiled(slot, pattern).Test(*text, text->Length());
}

bool SamePattern(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) return a == b;
  return std::strcmp(a, b) == 0;
}

}  // namespace

DAXOTypeFilterBase::~DAXOTypeFilterBase() {
  delete nameRegExp.load(std::memory_order_acquire);
  delete unitRegExp.load(std::memory_order_acquire);
}

bool DAXOTypeFilterBase::Match(const DAXOTypeInfo& type) const {
  const DAXOTypeInfoValue v = type.value;
  // The bit test is the cheap part and decides most cases; patterns are
  // compiled only for types that pass it.
  if ((mask & (x ^ v)) != 0 || (maskX & v) == 0) return false;
  if ((v & DAXO::IgnoreNameFlag) == 0 && nameFilter != nullptr &&
      !PatternAccepts(nameRegExp, nameFilter, type.name)) {
    return false;
  }
  if ((v & DAXO::IgnoreUnitFlag) == 0 && unitFilter != nullptr &&
      !PatternAccepts(unitRegExp, unitFilter, type.unit)) {
    return false;
  }
  return true;
}

bool DAXOTypeFilterBase::operator==(const DAXOTypeFilterBase& other) const {
  return mask == other.mask && x == other.x && maskX == other.maskX &&
         SamePattern(nameFilter, other.nameFilter) && SamePattern(unitFilter, other.unitFilter);
}

bool DAXO::TypeFilter(const DAXOTypeInfo& type, const DAXOTypeFilterBase& filter) {
  return filter.Match(type);
}

// --- predefined filters ------------------------------------------------------
// Constant-initialised, so they are usable from other static initialisers
// whatever the order of initialisation.

namespace DAXO {

namespace {
constexpr DAXOTypeInfoValue kOneValueMask = VectorFlag | TypeMask;
}  // namespace

constinit const DAXOTypeFilterBase FilterAny{0, 0, TypeMask};

constinit const DAXOTypeFilterBase FilterInteger{0, 0, Integer32};
constinit const DAXOTypeFilterBase FilterIntegers{0, 0, Integer32};
constinit const DAXOTypeFilterBase FilterInteger32{0, 0, Integer32};
constinit const DAXOTypeFilterBase FilterIntegers32{0, 0, Integer32};
constinit const DAXOTypeFilterBase FilterFloat{0, 0, Float64};
constinit const DAXOTypeFilterBase FilterFloats{0, 0, Float64};
constinit const DAXOTypeFilterBase FilterDouble{0, 0, Float64};
constinit const DAXOTypeFilterBase FilterDoubles{0, 0, Float64};
constinit const DAXOTypeFilterBase FilterFloat64{0, 0, Float64};
constinit const DAXOTypeFilterBase FilterFloats64{0, 0, Float64};
constinit const DAXOTypeFilterBase FilterFloat32{0, 0, Float32};
constinit const DAXOTypeFilterBase FilterFloats32{0, 0, Float32};
constinit const DAXOTypeFilterBase FilterInteger8{0, 0, Integer8};
constinit const DAXOTypeFilterBase FilterIntegers8{0, 0, Integer8};
constinit const DAXOTypeFilterBase FilterInteger16{0, 0, Integer16};
constinit const DAXOTypeFilterBase FilterIntegers16{0, 0, Integer16};
constinit const DAXOTypeFilterBase FilterInteger64{0, 0, Integer64};
constinit const DAXOTypeFilterBase FilterIntegers64{0, 0, Integer64};
constinit const DAXOTypeFilterBase FilterUnsignedInteger8{0, 0, UnsignedInteger8};
constinit const DAXOTypeFilterBase FilterUnsignedIntegers8{0, 0, UnsignedInteger8};
constinit const DAXOTypeFilterBase FilterUnsignedInteger16{0, 0, UnsignedInteger16};
constinit const DAXOTypeFilterBase FilterUnsignedIntegers16{0, 0, UnsignedInteger16};
constinit const DAXOTypeFilterBase FilterUnsignedInteger32{0, 0, UnsignedInteger32};
constinit const DAXOTypeFilterBase FilterUnsignedIntegers32{0, 0, UnsignedInteger32};
constinit const DAXOTypeFilterBase FilterUnsignedInteger64{0, 0, UnsignedInteger64};
constinit const DAXOTypeFilterBase FilterUnsignedIntegers64{0, 0, UnsignedInteger64};

constinit const DAXOTypeFilterBase FilterNumber{0, 0, AnyNumber};
constinit const DAXOTypeFilterBase FilterNumbers{0, 0, AnyNumber};
constinit const DAXOTypeFilterBase FilterAnyIntegers{0, 0, AnyInteger};
constinit const DAXOTypeFilterBase FilterAnyFloats{0, 0, AnyFloat};
constinit const DAXOTypeFilterBase FilterSignedIntegers{0, 0, AnySignedInteger};
constinit const DAXOTypeFilterBase FilterUnsignedIntegers{0, 0, AnyUnsignedInteger};
constinit const DAXOTypeFilterBase FilterSignedNumbers{0, 0, AnySignedNumber};
constinit const DAXOTypeFilterBase FilterUnsignedNumbers{0, 0, AnyUnsignedNumber};

constinit const DAXOTypeFilterBase FilterStructure{0, 0, Structure};
constinit const DAXOTypeFilterBase FilterDynamicStructure{0, 0, DynamicStructure};
constinit const DAXOTypeFilterBase FilterCustomType{0, 0, CustomType};
constinit const DAXOTypeFilterBase FilterTextAscii{0, 0, TextAscii};
constinit const DAXOTypeFilterBase FilterTextUTF8{0, 0, TextUTF8};
constinit const DAXOTypeFilterBase FilterTextUnicode{0, 0, TextUnicode};
constinit const DAXOTypeFilterBase FilterTextUTF16{0, 0, TextUTF16};
constinit const DAXOTypeFilterBase FilterImage{0, 0, IplImage | DAXOImage};
constinit const DAXOTypeFilterBase FilterIplImage{0, 0, IplImage};
constinit const DAXOTypeFilterBase FilterDAXOImage{0, 0, DAXOImage};
constinit const DAXOTypeFilterBase FilterCANFrame{0, 0, CANFrame};
constinit const DAXOTypeFilterBase FilterCANFDFrame{0, 0, CANFDFrame};
constinit const DAXOTypeFilterBase FilterCANUniFrame{0, 0, CANUniFrame};
constinit const DAXOTypeFilterBase FilterAnyCANFrame{0, 0, CANFrame | CANFDFrame | CANUniFrame};
constinit const DAXOTypeFilterBase FilterMatrix{0, 0, Matrix};
constinit const DAXOTypeFilterBase FilterRealObjects{0, 0, RealObject};
constinit const DAXOTypeFilterBase FilterDrawingObjects{0, 0, DrawingObject};
constinit const DAXOTypeFilterBase FilterTriangles3D{0, 0, Triangles3D};
constinit const DAXOTypeFilterBase FilterStream8{0, 0, Stream8};
constinit const DAXOTypeFilterBase FilterStream16{0, 0, Stream16};
constinit const DAXOTypeFilterBase FilterStream32{0, 0, Stream32};
constinit const DAXOTypeFilterBase FilterAudioSignal{0, 0, AudioSignal};
constinit const DAXOTypeFilterBase FilterAudioSignals{0, 0, AudioSignal | Float32 | Stream8};

constinit const DAXOTypeFilterBase FilterOneInteger{kOneValueMask, Integer32, TypeMask};
constinit const DAXOTypeFilterBase FilterOneInteger32{kOneValueMask, Integer32, TypeMask};
constinit const DAXOTypeFilterBase FilterOneFloat{kOneValueMask, Float64, TypeMask};
constinit const DAXOTypeFilterBase FilterOneDouble{kOneValueMask, Float64, TypeMask};
constinit const DAXOTypeFilterBase FilterOneFloat64{kOneValueMask, Float64, TypeMask};
constinit const DAXOTypeFilterBase FilterOneFloat32{kOneValueMask, Float32, TypeMask};
constinit const DAXOTypeFilterBase FilterOneInteger8{kOneValueMask, Integer8, TypeMask};
constinit const DAXOTypeFilterBase FilterOneInteger16{kOneValueMask, Integer16, TypeMask};
constinit const DAXOTypeFilterBase FilterOneInteger64{kOneValueMask, Integer64, TypeMask};
constinit const DAXOTypeFilterBase FilterOneUnsignedInteger8{kOneValueMask, UnsignedInteger8,
                                                             TypeMask};
constinit const DAXOTypeFilterBase FilterOneUnsignedInteger16{kOneValueMask, UnsignedInteger16,
                                                              TypeMask};
constinit const DAXOTypeFilterBase FilterOneUnsignedInteger32{kOneValueMask, UnsignedInteger32,
                                                              TypeMask};
constinit const DAXOTypeFilterBase FilterOneUnsignedInteger64{kOneValueMask, UnsignedInteger64,
                                                              TypeMask};
constinit const DAXOTypeFilterBase FilterOneNumber{VectorFlag, 0, AnyNumber};

}  // namespace DAXO
