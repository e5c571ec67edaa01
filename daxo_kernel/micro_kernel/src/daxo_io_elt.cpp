// I/O element accessors, checks and payload sizes. See include/daxo_io_elt.h.
#include "daxo_io_elt.h"

#include "daxo_kernel.h"
#include "daxo_services.h"

namespace {

constexpr const char* kBadType = "Check error : Incorrect typing during I/O element access.";
constexpr const char* kBadIndex = "Check error : Bad vector index during I/O element access.";
constexpr const char* kNullElement =
    "Check error : A NULL I/O Element was disregarded by a component (probably due a detachment "
    "not taken into account).";

// Accessors check only on request of a bound engine: an unbound library has
// no check level to ask and nowhere to report.
bool ChecksWanted() {
  return DAXOPrivate::kernel != nullptr && DAXO::CheckLevel() > 0;
}

struct SizeRow {
  const DAXOTypeFilterBase* filter;
  int size;
  bool structured;
};

// Tested in order: a type that carries several kind bits takes the first row.
const SizeRow kSizeRows[] = {
    {&DAXO::FilterStructure, 1, false},
    {&DAXO::FilterInteger8, 1, false},
    {&DAXO::FilterUnsignedInteger8, 1, false},
    {&DAXO::FilterTextAscii, 1, false},
    {&DAXO::FilterStream8, 1, false},
    {&DAXO::FilterInteger16, 2, false},
    {&DAXO::FilterUnsignedInteger16, 2, false},
    {&DAXO::FilterTextUnicode, 2, false},
    {&DAXO::FilterStream16, 2, false},
    {&DAXO::FilterInteger32, 4, false},
    {&DAXO::FilterUnsignedInteger32, 4, false},
    {&DAXO::FilterFloat32, 4, false},
    {&DAXO::FilterStream32, 4, false},
    {&DAXO::FilterInteger64, 8, false},
    {&DAXO::FilterUnsignedInteger64, 8, false},
    {&DAXO::FilterFloat64, 8, false},
    {&DAXO::FilterCANFrame, static_cast<int>(sizeof(DAXOCANFrame)), false},
    {&DAXO::FilterCANFDFrame, DAXO::CANFDFrameSize, false},
    {&DAXO::FilterCANUniFrame, DAXO::CANUniFrameSize, false},
    {&DAXO::FilterDrawingObjects, static_cast<int>(sizeof(DAXODrawingObject)), false},
    {&DAXO::FilterRealObjects, static_cast<int>(sizeof(DAXORealObject)), false},
    {&DAXO::FilterMatrix, static_cast<int>(sizeof(DAXOMatrix)), true},
    {&DAXO::FilterIplImage, static_cast<int>(sizeof(IplImage)), true},
    {&DAXO::FilterDAXOImage, static_cast<int>(sizeof(DAXOImage)), true},
    {&DAXO::FilterAudioSignal, static_cast<int>(sizeof(DAXOAudioSignal)), true},
    {&DAXO::FilterTriangles3D, static_cast<int>(sizeof(DAXOTriangles3D)), true},
    {&DAXO::FilterCustomType, -1, false},
};

void SetArray(bool* isArray, bool value) {
  if (isArray != nullptr) *isArray = value;
}

// Bytes of a structured payload. `used` selects the bytes in use rather than
// the capacity. Only called with data set and a structured type; reads the
// header directly (the type is already known).
int StructuredSize(DAXOIOEltImplementation& e, bool used) {
  const DAXOTypeInfo& t = e.type;
  if (DAXO::TypeFilter(t, DAXO::FilterMatrix)) {
    if (!used) return 16 * e.bufferSize + static_cast<int>(sizeof(DAXOMatrix));
    const DAXOMatrix* m = static_cast<const DAXOMatrix*>(e.data);
    int cells = m->nbRows * m->nbColumns;
    int size = static_cast<int>(sizeof(DAXOMatrix));
    if (m->real != nullptr) size += 8 * cells;
    if (m->imaginary != nullptr) size += 8 * cells;
    return size;
  }
  if (DAXO::TypeFilter(t, DAXO::FilterIplImage)) {
    constexpr int kHeaderAndRoi = static_cast<int>(sizeof(IplImage) + sizeof(IplROI));
    if (!used) return e.bufferSize + kHeaderAndRoi;
    const IplImage* image = static_cast<const IplImage*>(e.data);
    int size = static_cast<int>(sizeof(IplImage));
    if (image->roi != nullptr) size += static_cast<int>(sizeof(IplROI));
    if (image->imageData != nullptr) size += image->imageSize;
    return size;
  }
  if (DAXO::TypeFilter(t, DAXO::FilterDAXOImage)) {
    if (!used) return e.bufferSize + static_cast<int>(sizeof(DAXOImage));
    const DAXOImage* image = static_cast<const DAXOImage*>(e.data);
    int size = static_cast<int>(sizeof(DAXOImage));
    if (image->imageData != nullptr) size += image->imageSize;
    return size;
  }
  if (DAXO::TypeFilter(t, DAXO::FilterAudioSignal)) {
    if (!used) return e.bufferSize + static_cast<int>(sizeof(DAXOAudioSignal));
    return static_cast<int>(static_cast<const DAXOAudioSignal*>(e.data)->streamSizeInBytes +
                            sizeof(DAXOAudioSignal));
  }
  // Triangles3D: bufferSize objects, points and triangles.
  constexpr int kPerItem =
      static_cast<int>(sizeof(DAXOObject3D) + sizeof(DAXOPoint3D) + sizeof(DAXOTriangle3D));
  if (!used) return kPerItem * e.bufferSize + static_cast<int>(sizeof(DAXOTriangles3D));
  const DAXOTriangles3D* mesh = static_cast<const DAXOTriangles3D*>(e.data);
  int size = static_cast<int>(sizeof(DAXOTriangles3D));
  if (mesh->objects != nullptr) size += static_cast<int>(sizeof(DAXOObject3D)) * e.vectorSize;
  if (mesh->points != nullptr) size += static_cast<int>(sizeof(DAXOPoint3D)) * e.vectorSize;
  if (mesh->triangles != nullptr) {
    size += static_cast<int>(sizeof(DAXOTriangle3D)) * e.vectorSize;
  }
  return size;
}

// The shared rule of both size functions; `count` is bufferSize or vectorSize.
int PayloadSize(DAXOIOEltImplementation& e, int count, bool used, bool* isArray) {
  if (e.data == nullptr) return 0;
  if (DAXO::TypeFilter(e.type, DAXO::FilterStructure)) {
    SetArray(isArray, false);
    return count;
  }
  bool structured = false;
  int item = DAXO::IOEltItemSize(e.type, &structured);
  if (item > 0 && !structured) {
    SetArray(isArray, true);
    return count * item;
  }
  if (structured) {
    SetArray(isArray, false);
    return StructuredSize(e, used);
  }
  if (item < 0) {  // custom type
    SetArray(isArray, false);
    return -1;
  }
  return used ? -1 : e.bufferSize;
}

}  // namespace

int DAXO::IOEltItemSize(const DAXOTypeInfo& type, bool* structured) {
  for (const SizeRow& row : kSizeRows) {
    if (DAXO::TypeFilter(type, *row.filter)) {
      if (structured != nullptr) *structured = row.structured;
      return row.size;
    }
  }
  if (structured != nullptr) *structured = false;
  return 0;
}

// --- checks -------------------------------------------------------------------------

void DAXOIOEltImplementation::Check(DAXOIOElt* element, const DAXOTypeFilterBase& filter) {
  if (element == nullptr) DAXOPrivate::KernelError(kNullElement, 0);
  if (!DAXO::TypeFilter(element->Type(), filter)) DAXOPrivate::KernelError(kBadType, 0);
}

void DAXOIOEltImplementation::Check(DAXOIOElt* element, const DAXOTypeFilterBase& filter,
                                    int index) {
  Check(element, filter);
  if (index < 0 || index >= element->BufferSize()) DAXOPrivate::KernelError(kBadIndex, 0);
}

void DAXOIOEltImplementation::CheckAccess(const DAXOTypeFilterBase& filter) {
  if (ChecksWanted()) Check(this, filter);
}

void DAXOIOEltImplementation::CheckAccess(const DAXOTypeFilterBase& filter, int index) {
  if (ChecksWanted()) Check(this, filter, index);
}

template <class Item>
Item* DAXOIOEltImplementation::At(const DAXOTypeFilterBase& filter, int index) {
  CheckAccess(filter, index);
  return static_cast<Item*>(data) + index;
}

// --- accessors -----------------------------------------------------------------------

DAXOInt32* DAXOIOEltImplementation::Integer(int index) {
  return At<DAXOInt32>(DAXO::FilterIntegers32, index);
}
DAXOInt32* DAXOIOEltImplementation::Integer32(int index) {
  return At<DAXOInt32>(DAXO::FilterIntegers32, index);
}
DAXOInt64* DAXOIOEltImplementation::Integer64(int index) {
  return At<DAXOInt64>(DAXO::FilterIntegers64, index);
}
DAXOFloat64* DAXOIOEltImplementation::Float64(int index) {
  return At<DAXOFloat64>(DAXO::FilterFloats64, index);
}
float* DAXOIOEltImplementation::Float32(int index) {
  return At<float>(DAXO::FilterFloats32, index);
}
DAXOCANFrame* DAXOIOEltImplementation::CANFrame(int index) {
  return At<DAXOCANFrame>(DAXO::FilterCANFrame, index);
}
DAXORealObject* DAXOIOEltImplementation::RealObject(int index) {
  return At<DAXORealObject>(DAXO::FilterRealObjects, index);
}
DAXODrawingObject* DAXOIOEltImplementation::DrawingObject(int index) {
  return At<DAXODrawingObject>(DAXO::FilterDrawingObjects, index);
}

char* DAXOIOEltImplementation::Text() {
  CheckAccess(DAXO::FilterTextAscii);
  return static_cast<char*>(data);
}
char* DAXOIOEltImplementation::TextAscii() {
  CheckAccess(DAXO::FilterTextAscii);
  return static_cast<char*>(data);
}
char16_t* DAXOIOEltImplementation::TextUnicode() {
  CheckAccess(DAXO::FilterTextUnicode);
  return static_cast<char16_t*>(data);
}
IplImage* DAXOIOEltImplementation::IplImage() {
  CheckAccess(DAXO::FilterIplImage);
  return static_cast<struct IplImage*>(data);
}
DAXOImage* DAXOIOEltImplementation::DAXOImage() {
  CheckAccess(DAXO::FilterDAXOImage);
  return static_cast<struct DAXOImage*>(data);
}
DAXOMatrix* DAXOIOEltImplementation::Matrix() {
  CheckAccess(DAXO::FilterMatrix);
  return static_cast<DAXOMatrix*>(data);
}
DAXOTriangles3D* DAXOIOEltImplementation::Triangles3D() {
  CheckAccess(DAXO::FilterTriangles3D);
  return static_cast<DAXOTriangles3D*>(data);
}
std::uint8_t* DAXOIOEltImplementation::Stream8() {
  CheckAccess(DAXO::FilterStream8);
  return static_cast<std::uint8_t*>(data);
}
DAXOUInt16* DAXOIOEltImplementation::Stream16() {
  CheckAccess(DAXO::FilterStream16);
  return static_cast<DAXOUInt16*>(data);
}
DAXOUInt32* DAXOIOEltImplementation::Stream32() {
  CheckAccess(DAXO::FilterStream32);
  return static_cast<DAXOUInt32*>(data);
}
DAXOAudioSignal* DAXOIOEltImplementation::AudioSignal() {
  CheckAccess(DAXO::FilterAudioSignal);
  return static_cast<DAXOAudioSignal*>(data);
}

// --- sizes ----------------------------------------------------------------------------

int DAXOIOEltImplementation::IOEltBufferSizeInBytes(bool* isArray) {
  return PayloadSize(*this, bufferSize, false, isArray);
}

int DAXOIOEltImplementation::IOEltUsedSizeInBytes(bool* isArray) {
  return PayloadSize(*this, vectorSize, true, isArray);
}

// Serialize, Deserialize, SerializedIOEltSizeInBytes and IsDeserializable:
// daxo_io_elt_serialize.cpp.
