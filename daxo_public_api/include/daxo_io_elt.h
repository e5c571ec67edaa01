// I/O elements: one sample in a slot of an output's FIFO, and the layouts of
// the structured payloads that travel in them.
//
// DAXOIOElt                 the interface components see (virtual accessors)
// DAXOIOEltImplementation   the record that sits in every FIFO slot
// DAXOCANFrame, DAXOMatrix, IplROI, IplImage, DAXOImage, DAXOAudioSignal,
// DAXOTriangles3D (+ its point, triangle and object records)
//                           payload layouts shared with other processes and
//                           with serialized blocks; their sizes are fixed
// DAXO::IOEltItemSize       the one table of item and header sizes per type
//
// A payload is either a plain array of fixed-size items (vector types) or one
// structure header followed by its variable parts (structured types). The
// element never owns its payload: the output's shared block does.
//
// Threading: an element belongs to whoever holds its slot. The writer alone
// touches it between StartWriting and StopWriting; afterwards readers only
// read it, any number at once, while they hold the slot. Nothing here locks.
// Accessor checks (type and index, when the engine's check level is above 0)
// report through the engine and throw DAXO::ErrorException.
#pragma once

#include <cstdint>

#include "daxo_definitions.h"
#include "daxo_list.h"
#include "daxo_type_filter.h"
#include "daxo_type_info.h"
#include "daxo_types.h"

class DAXOOutput;

/// The handle of a FIFO slot (daxo_fast_io.h): the slot's list position. It
/// stays valid while the FIFO keeps its slots (until ResetFifoSize).
using DAXOFastIOHandle = DAXOListIterator;

// --- payload layouts ------------------------------------------------------------

struct DAXOCANFrame {
  DAXOUInt32 arbitrationId;
  bool isRemote;
  std::int8_t dataLength;
  std::uint8_t data[8];
  DAXOTimestamp ts;
};

struct DAXOMatrix {
  std::uint64_t reserved;  // belongs to the producer; the framework leaves it alone
  DAXOInt32 nbRows;
  DAXOInt32 nbColumns;  // cells = nbRows * nbColumns
  double* real;
  double* imaginary;  // null for a real-only matrix
  bool flag;          // reset to false by allocation
};

struct IplROI {
  DAXOInt32 coi;
  DAXOInt32 xOffset;
  DAXOInt32 yOffset;
  DAXOInt32 width;
  DAXOInt32 height;
};

struct IplImage {
  DAXOInt32 nSize;
  DAXOInt32 ID;
  DAXOInt32 nChannels;
  DAXOInt32 alphaChannel;
  DAXOInt32 depth;
  char colorModel[4];
  char channelSeq[4];
  DAXOInt32 dataOrder;
  DAXOInt32 origin;
  DAXOInt32 align;
  DAXOInt32 width;
  DAXOInt32 height;
  IplROI* roi;
  void* maskROI;
  void* imageId;
  void* tileInfo;
  DAXOInt32 imageSize;
  char* imageData;
  DAXOInt32 widthStep;
  DAXOInt32 BorderMode[4];
  DAXOInt32 BorderConst[4];
  char* imageDataOrigin;
};

struct DAXOImage {
  DAXOInt32 width;
  DAXOInt32 height;
  DAXOInt32 imageSize;
  DAXOInt32 bufferSize;
  void* imageId;
  void* imageId2;
  char* imageData;
  char imageCoding[4];
  char imageType[4];
};

struct DAXOAudioSignal {
  DAXOUInt32 dataType;
  DAXOUInt16 channels;
  DAXOUInt16 bitsPerSample;
  DAXOUInt32 samplesPerSecond;
  DAXOUInt32 streamSizeInBytes;
  void* streamData;
};

struct DAXOPoint3D {
  float x;
  float y;
  float z;
  DAXOInt32 landmark;
  DAXOInt32 xt;
  DAXOInt32 yt;
};

struct DAXOTriangle3D {
  DAXOInt32 p1;
  DAXOInt32 p2;
  DAXOInt32 p3;
  DAXOInt32 color;
};

struct DAXOObject3D {
  DAXOInt32 id;
  DAXOInt32 texture;
  DAXOInt32 firstTriangle;
  DAXOInt32 nbOfTriangles;
};

struct DAXOTriangles3D {
  DAXOInt32 nbObjects;
  DAXOObject3D* objects;
  DAXOInt32 nbPoints;
  DAXOPoint3D* points;
  DAXOInt32 nbTriangles;
  DAXOTriangle3D* triangles;
};

/// A CAN, CAN FD or other bus frame in one record (96 bytes): identifier,
/// timestamp and up to 64 data bytes; `misc`, `flags`, `hasFlags`, `crc` and
/// `reserved` belong to the producer.
struct DAXOCANUniFrame {
  DAXOUInt32 misc;
  DAXOUInt32 id;
  DAXOTimestamp ts;
  std::uint8_t data[64];
  DAXOUInt32 flags;
  DAXOUInt32 hasFlags;
  DAXOUInt32 crc;
  DAXOUInt32 reserved;
};

/// Items whose inner layout the framework never reads: opaque records of the
/// right size.
struct DAXORealObject {
  std::uint8_t bytes[320];
};
struct DAXODrawingObject {
  std::uint8_t bytes[96];
};

namespace DAXO {
/// Item sizes of the vector kinds that need no record here.
constexpr int CANFDFrameSize = 80;
constexpr int CANUniFrameSize = 96;
}  // namespace DAXO

static_assert(sizeof(DAXOCANFrame) == 24);
static_assert(sizeof(DAXOCANUniFrame) == 96);
static_assert(sizeof(DAXOMatrix) == 40);
static_assert(sizeof(IplROI) == 20);
static_assert(sizeof(IplImage) == 144);
static_assert(sizeof(DAXOImage) == 48);
static_assert(sizeof(DAXOAudioSignal) == 24);
static_assert(sizeof(DAXOTriangles3D) == 48);
static_assert(sizeof(DAXOPoint3D) == 24);
static_assert(sizeof(DAXOTriangle3D) == 16);
static_assert(sizeof(DAXOObject3D) == 16);
static_assert(sizeof(DAXORealObject) == 320);
static_assert(sizeof(DAXODrawingObject) == 96);

namespace DAXO {
/// The payload unit of `type`, testing the type filters in this order:
/// 1-byte kinds (8-bit integers, ASCII text, 8-bit streams, Structure),
/// 2-byte, 4-byte and 8-byte numbers and texts, CAN (24), CAN FD (80), CAN
/// uni-frames and drawing objects (96), real objects (320), then the
/// structured kinds.
///  - vector kind: returns the item size, *structured := false;
///  - structured kind (Matrix 40, IplImage 144, DAXOImage 48, AudioSignal 24,
///    Triangles3D 48): returns the header size, *structured := true;
///  - CustomType: returns -1, *structured := false (not sized here);
///  - anything else: returns 0, *structured := false; the caller decides
///    (element sizes use bufferSize as is, buffer allocation uses 1-byte
///    items).
/// `structured` may be null. Pure function; any thread.
int IOEltItemSize(const DAXOTypeInfo& type, bool* structured = nullptr);
}  // namespace DAXO

// --- the element ------------------------------------------------------------------

/// One sample. Indexed accessors return the payload cast to the item type,
/// advanced by index items; the others return the payload as the structure or
/// array it holds. With the engine's check level above 0 every accessor first
/// checks the element's type (and the index against BufferSize()) and raises
/// "Check error : ..." through DAXOPrivate::KernelError (throws -5).
class DAXOIOElt {
 public:
  virtual void*& Data() = 0;
  virtual DAXOTimestamp& TimeOfIssue() = 0;
  virtual DAXOTimestamp& Timestamp() = 0;
  /// Items in use (vector types).
  virtual DAXOInt32& VectorSize() = 0;
  /// Capacity: items for vector types, bytes of the variable part for
  /// structured types.
  virtual DAXOInt32& BufferSize() = 0;
  virtual DAXOInt64& Frequency() = 0;
  virtual DAXOInt32& Quality() = 0;
  virtual DAXOTypeInfo& Type() = 0;
  virtual int& BufferItemSize() = 0;
  virtual DAXOInt32* Integer(int index) = 0;
  virtual DAXOInt32* Integer32(int index) = 0;
  virtual DAXOInt64* Integer64(int index) = 0;
  virtual DAXOFloat64* Float64(int index) = 0;
  virtual float* Float32(int index) = 0;
  virtual char* Text() = 0;
  virtual char* TextAscii() = 0;
  virtual char16_t* TextUnicode() = 0;
  virtual struct IplImage* IplImage() = 0;
  virtual struct DAXOImage* DAXOImage() = 0;
  virtual DAXOCANFrame* CANFrame(int index) = 0;
  virtual DAXOMatrix* Matrix() = 0;
  virtual DAXORealObject* RealObject(int index) = 0;
  virtual DAXODrawingObject* DrawingObject(int index) = 0;
  virtual DAXOTriangles3D* Triangles3D() = 0;
  virtual std::uint8_t* Stream8() = 0;
  virtual DAXOUInt16* Stream16() = 0;
  virtual DAXOUInt32* Stream32() = 0;
  virtual DAXOAudioSignal* AudioSignal() = 0;
  virtual DAXOInt32& Misc1() = 0;
  virtual DAXOInt32& Misc2() = 0;
  virtual DAXOInt32& Misc3() = 0;
  /// Bytes of payload the element can hold / holds now; 0 without data, -1
  /// for custom types. *isArray (the pointer may be null) tells whether the
  /// payload is a plain item array; it is left alone for unknown types.
  virtual int IOEltBufferSizeInBytes(bool* isArray) = 0;
  virtual int IOEltUsedSizeInBytes(bool* isArray) = 0;
  /// Flattens the element into `dest` (null: asks the size needed).
  virtual int Serialize(void* dest, unsigned int destSize) = 0;
  /// Fills the element from a flattened block; 0 on success, -1 on failure.
  virtual int Deserialize(void* src, bool allocate) = 0;
  virtual ~DAXOIOElt() = default;

  /// The Float64 item at `index`, as Float64 (with its checks).
  DAXOFloat64* Float(int index) { return Float64(index); }
  DAXOFloat64* Double(int index) { return Float64(index); }

  /// Payload bytes of a flattened element (-1 for a null element or a
  /// custom type).
  static int SerializedIOEltSizeInBytes(void* element);
  /// Whether `block` holds a flattened element.
  static bool IsDeserializable(void* block);
};

class DAXOIOEltImplementation : public DAXOIOElt {
 public:
  DAXOIOEltImplementation() = default;
  DAXOIOEltImplementation(const DAXOIOEltImplementation&) = delete;
  DAXOIOEltImplementation& operator=(const DAXOIOEltImplementation&) = delete;
  ~DAXOIOEltImplementation() override = default;

  void*& Data() override { return data; }
  DAXOTimestamp& TimeOfIssue() override { return timeOfIssue; }
  DAXOTimestamp& Timestamp() override { return timestamp; }
  DAXOInt32& VectorSize() override { return vectorSize; }
  DAXOInt32& BufferSize() override { return bufferSize; }
  DAXOInt64& Frequency() override { return frequency; }
  DAXOInt32& Quality() override { return quality; }
  DAXOTypeInfo& Type() override { return type; }
  int& BufferItemSize() override { return bufferItemSize; }
  DAXOInt32* Integer(int index) override;
  DAXOInt32* Integer32(int index) override;
  DAXOInt64* Integer64(int index) override;
  DAXOFloat64* Float64(int index) override;
  float* Float32(int index) override;
  char* Text() override;
  char* TextAscii() override;
  char16_t* TextUnicode() override;
  struct IplImage* IplImage() override;
  struct DAXOImage* DAXOImage() override;
  DAXOCANFrame* CANFrame(int index) override;
  DAXOMatrix* Matrix() override;
  DAXORealObject* RealObject(int index) override;
  DAXODrawingObject* DrawingObject(int index) override;
  DAXOTriangles3D* Triangles3D() override;
  std::uint8_t* Stream8() override;
  DAXOUInt16* Stream16() override;
  DAXOUInt32* Stream32() override;
  DAXOAudioSignal* AudioSignal() override;
  DAXOInt32& Misc1() override { return misc1; }
  DAXOInt32& Misc2() override { return misc2; }
  DAXOInt32& Misc3() override { return misc3; }
  int IOEltBufferSizeInBytes(bool* isArray) override;
  int IOEltUsedSizeInBytes(bool* isArray) override;
  int Serialize(void* dest, unsigned int destSize) override;
  int Deserialize(void* src, bool allocate) override;

  /// Raises "Check error : ..." (DAXOPrivate::KernelError, throws -5) when
  /// `element` is null or its type does not pass `filter`; the indexed form
  /// also when `index` is not in [0, BufferSize()). Checks whatever the
  /// engine's check level.
  static void Check(DAXOIOElt* element, const DAXOTypeFilterBase& filter);
  static void Check(DAXOIOElt* element, const DAXOTypeFilterBase& filter, int index);

  void* data = nullptr;
  DAXOInt32 bufferSize = 0;
  DAXOInt32 vectorSize = 0;
  DAXOTimestamp timestamp = 0;
  DAXOTimestamp timeOfIssue = 0;
  DAXOTypeInfo type;
  DAXOInt64 frequency = 0;
  DAXOInt32 quality = 0;
  DAXOOutput* output = nullptr;  // owning output; set when a writer takes the slot
  DAXOFastIOHandle slot;         // the FIFO slot holding this element
  int bufferItemSize = 0;
  DAXOInt32 misc1 = 0;
  DAXOInt32 misc2 = 0;
  DAXOInt32 misc3 = 0;

 private:
  // The checks of an accessor when the engine asks for them.
  void CheckAccess(const DAXOTypeFilterBase& filter);
  void CheckAccess(const DAXOTypeFilterBase& filter, int index);
  template <class Item>
  Item* At(const DAXOTypeFilterBase& filter, int index);
};
