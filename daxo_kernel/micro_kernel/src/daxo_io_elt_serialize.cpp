// Flattening an I/O element into one contiguous block and rebuilding an
// element from such a block (format 102 written; 100 and 101 read).
//
// Block layout (host byte order, no padding):
//   version i32 | bufferSize i32 | vectorSize i32 | timestamp i64
//   | time of issue i64 (absent up to version 100) | type value u64
//   | U i32 | unit text + NUL (absent when U = 0)
//   | N i32 | name text + NUL (absent when N = 0)
//   | frequency i64 | quality i32 | misc1 i32 | misc2 i32 | misc3 i32
//   | payload
// A structured payload is its header followed by each part the header points
// to; the pointers in a written header are addresses inside the writer's
// block and mean nothing to a reader, which only tests them against null.
//
// The block carries no size of its own, so the reader cannot bound its reads
// by the block: it validates every count against the others and against the
// storage it writes into, so that a block the writer produced (or one whose
// payload bytes were damaged) never makes it read beyond the counts the
// writer stated or write beyond the element's storage.
//
// Threading: the caller owns the element (the writer of its slot, or the
// thread that reads it while holding the slot); nothing here locks.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "daxo_io_elt.h"
#include "daxo_kernel.h"
#include "daxo_services.h"
#include "daxo_system.h"

namespace {

constexpr std::int32_t kFormatVersion = 102;
// Up to this version the block has no time-of-issue field.
constexpr std::int32_t kLastVersionWithoutTimeOfIssue = 100;
// Fixed fields of a version 101+ block, both text lengths included.
constexpr long kFixedBytes = 68;
// Type names and units are short; a longer length means a damaged block.
constexpr long kMaxTextLength = 1L << 20;
// A block's bufferSize decides how much a reader allocates; above this the
// count is taken for damage rather than honoured.
constexpr long kMaxAllocation = 1L << 30;

constexpr const char* kTooSmall =
    "DAXOIOElt serialization is not possible : destination memory is too small.";
constexpr const char* kCustomOut = "DAXOIOElt serialization not supported for custom types.";
constexpr const char* kUnknownOut =
    "DAXOIOElt serialization impossible : unknown type for DAXOIOElt.";
constexpr const char* kInconsistentOut =
    "DAXOIOElt serialization impossible : inconsistent sizes in the I/O element.";
constexpr const char* kNullSource = "DAXOIOElt deserialization impossible : source pointer is NULL";
constexpr const char* kNotAllocated =
    "DAXOIOElt deserialization impossible : destination is not allocated properly.";
constexpr const char* kBufferTooBig =
    "DAXOIOElt deserialization impossible : deserialized buffer size is bigger than allocated "
    "buffer size.";
constexpr const char* kVectorTooBig =
    "DAXOIOElt deserialization impossible : deserialized vector size is bigger than allocated "
    "buffer size.";
constexpr const char* kNoMemory = "DAXOIOelt deserialization impossible : not enough memory.";
constexpr const char* kCustomIn = "DAXOIOElt deserialization not supported for custom types.";
constexpr const char* kInconsistentIn =
    "DAXOIOElt deserialization impossible : inconsistent sizes in the serialized block.";
constexpr const char* kNotImplemented =
    "DAXOIOElt::IsDeserializable not implemented yet. Returns always true.";

enum class Kind { None, Vector, Custom, Matrix, IplImage, DAXOImage, Audio, Triangles };

// How a type's payload is laid out. `unit` is the item size of a vector kind
// and the header size of a structured one.
struct Shape {
  Kind kind = Kind::None;
  long unit = 0;
  bool Structured() const { return kind >= Kind::Matrix; }
};

// Follows the element's own size table, so that a type carrying several kind
// bits is read the way the size functions read it.
Shape ShapeOf(DAXOTypeInfoValue value) {
  const DAXOTypeInfo type(value);
  bool structured = false;
  const int size = DAXO::IOEltItemSize(type, &structured);
  if (size < 0) return {Kind::Custom, 0};
  if (size == 0) return {Kind::None, 0};
  if (!structured) return {Kind::Vector, size};
  if (DAXO::TypeFilter(type, DAXO::FilterMatrix)) return {Kind::Matrix, size};
  if (DAXO::TypeFilter(type, DAXO::FilterIplImage)) return {Kind::IplImage, size};
  if (DAXO::TypeFilter(type, DAXO::FilterDAXOImage)) return {Kind::DAXOImage, size};
  if (DAXO::TypeFilter(type, DAXO::FilterAudioSignal)) return {Kind::Audio, size};
  return {Kind::Triangles, size};
}

// Bytes that storage for `bufferSize` holds under the buffer-size rule (as
// if data were set). Custom and unknown kinds count 1-byte items, as output
// allocation does.
long CapacityBytes(const Shape& shape, long bufferSize) {
  switch (shape.kind) {
    case Kind::Vector:
      return bufferSize * shape.unit;
    case Kind::Matrix:
      return 2 * static_cast<long>(sizeof(double)) * bufferSize + shape.unit;
    case Kind::IplImage:
      return bufferSize + shape.unit + static_cast<long>(sizeof(IplROI));
    case Kind::DAXOImage:
    case Kind::Audio:
      return bufferSize + shape.unit;
    case Kind::Triangles:
      return static_cast<long>(sizeof(DAXOObject3D) + sizeof(DAXOPoint3D) +
                               sizeof(DAXOTriangle3D)) *
                 bufferSize +
             shape.unit;
    case Kind::None:
    case Kind::Custom:
      break;
  }
  return bufferSize;
}

template <class T>
T Load(const unsigned char* at) {
  T value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

template <class T>
void Store(unsigned char* at, T value) {
  std::memcpy(at, &value, sizeof value);
}

// One variable part of a structured payload.
struct Part {
  std::size_t pointerField;  // offset of its pointer in the header
  long bytes;                // bytes the part holds
  long standardOffset;       // where output allocation puts it after the header
  bool present;              // the header's pointer is set
};

// The parts of a structured header in block order, at most three.
struct Parts {
  Part part[3];
  int count = 0;
  void Add(std::size_t field, long bytes, long standardOffset, const unsigned char* header) {
    part[count++] = {field, bytes, standardOffset, Load<void*>(header + field) != nullptr};
  }
};

enum class Counts { Ok, Negative, AboveBuffer };

// Describes the parts of the structured header at `header` (unaligned) for
// storage laid out for `bufferSize` using `vectorSize` items. Every count
// that governs a present part must lie in [0, limit].
Counts DescribeParts(const Shape& shape, const unsigned char* header, long bufferSize, long limit,
                     long vectorSize, Parts& parts) {
  auto check = [&](long count) {
    if (count < 0) return Counts::Negative;
    return count > limit ? Counts::AboveBuffer : Counts::Ok;
  };
  Counts verdict = Counts::Ok;
  auto governs = [&](const Part& p, long count) {
    if (p.present && verdict == Counts::Ok) verdict = check(count);
  };
  const long h = shape.unit;
  switch (shape.kind) {
    case Kind::Matrix: {
      const long rows = Load<DAXOInt32>(header + offsetof(DAXOMatrix, nbRows));
      const long columns = Load<DAXOInt32>(header + offsetof(DAXOMatrix, nbColumns));
      // Both factors fit 32 bits, so the product cannot overflow a long.
      const long cells = (rows < 0 || columns < 0) ? -1 : rows * columns;
      // Sized only when in bounds; a count out of bounds is refused below.
      const long partBytes =
          (cells < 0 || cells > limit) ? 0 : static_cast<long>(sizeof(double)) * cells;
      parts.Add(offsetof(DAXOMatrix, real), partBytes, h, header);
      parts.Add(offsetof(DAXOMatrix, imaginary), partBytes,
                h + static_cast<long>(sizeof(double)) * bufferSize, header);
      governs(parts.part[0], cells);
      governs(parts.part[1], cells);
      break;
    }
    case Kind::IplImage: {
      const long size = Load<DAXOInt32>(header + offsetof(IplImage, imageSize));
      parts.Add(offsetof(IplImage, roi), sizeof(IplROI), h, header);
      parts.Add(offsetof(IplImage, imageData), size < 0 ? 0 : size,
                h + static_cast<long>(sizeof(IplROI)), header);
      governs(parts.part[1], size);
      break;
    }
    case Kind::DAXOImage: {
      const long size = Load<DAXOInt32>(header + offsetof(DAXOImage, imageSize));
      parts.Add(offsetof(DAXOImage, imageData), size < 0 ? 0 : size, h, header);
      governs(parts.part[0], size);
      break;
    }
    case Kind::Audio: {
      const long size = Load<DAXOUInt32>(header + offsetof(DAXOAudioSignal, streamSizeInBytes));
      parts.Add(offsetof(DAXOAudioSignal, streamData), size, h, header);
      governs(parts.part[0], size);
      break;
    }
    case Kind::Triangles: {
      // One count for all three parts: the items in use. Output allocation
      // lays them out as points, triangles, objects; the block holds objects,
      // points, triangles.
      const long n = vectorSize < 0 ? 0 : vectorSize;
      const long pointsAt = h;
      const long trianglesAt = pointsAt + static_cast<long>(sizeof(DAXOPoint3D)) * bufferSize;
      const long objectsAt = trianglesAt + static_cast<long>(sizeof(DAXOTriangle3D)) * bufferSize;
      parts.Add(offsetof(DAXOTriangles3D, objects), n * static_cast<long>(sizeof(DAXOObject3D)),
                objectsAt, header);
      parts.Add(offsetof(DAXOTriangles3D, points), n * static_cast<long>(sizeof(DAXOPoint3D)),
                pointsAt, header);
      parts.Add(offsetof(DAXOTriangles3D, triangles), n * static_cast<long>(sizeof(DAXOTriangle3D)),
                trianglesAt, header);
      for (int i = 0; i < 3; ++i) governs(parts.part[i], vectorSize);
      break;
    }
    default:
      break;
  }
  return verdict;
}

long TextLength(const DAXOString* text) {
  return text != nullptr ? text->Length() : 0;
}

// Bytes a text takes in the block: the text and its NUL, nothing when empty.
long TextBytes(long length) {
  return length > 0 ? length + 1 : 0;
}

unsigned char* PutText(unsigned char* at, const DAXOString* text) {
  const auto length = static_cast<std::int32_t>(TextLength(text));
  Store<std::int32_t>(at, length);
  at += sizeof(std::int32_t);
  if (length > 0) {
    std::memcpy(at, text->Beginning(), static_cast<std::size_t>(length));
    at[length] = 0;
    at += length + 1;
  }
  return at;
}

// A text field of a block: its start (null when empty) and the position
// after it. False when the length is out of bounds or the NUL is missing.
bool TakeText(const unsigned char*& at, const unsigned char*& text) {
  const std::int32_t length = Load<std::int32_t>(at);
  at += sizeof(std::int32_t);
  text = nullptr;
  if (length < 0 || length > kMaxTextLength) return false;
  if (length == 0) return true;
  if (at[length] != 0) return false;
  text = at;
  at += length + 1;
  return true;
}

// Sets or empties one of the type's texts: an empty text in the block
// empties an existing string and leaves an absent one absent.
void ApplyTexts(DAXOTypeInfo& type, const unsigned char* unit, const unsigned char* name) {
  if (unit == nullptr) {
    if (type.unit != nullptr) *type.unit = "";
  } else {
    type.SetUnit(reinterpret_cast<const char*>(unit));
  }
  if (name == nullptr) {
    if (type.name != nullptr) *type.name = "";
  } else {
    type.SetName(reinterpret_cast<const char*>(name));
  }
}

int Fail(const char* message) {
  DAXO::ReportError(message, 0);
  return -1;
}

// Header fields that refer to storage of the element but are not parts of
// the block; a reader must never keep the writer's values.
struct Opaque {
  std::size_t field;
};
const Opaque kIplOpaque[] = {{offsetof(IplImage, maskROI)},
                             {offsetof(IplImage, imageId)},
                             {offsetof(IplImage, tileInfo)},
                             {offsetof(IplImage, imageDataOrigin)}};
const Opaque kImageOpaque[] = {{offsetof(DAXOImage, imageId)}, {offsetof(DAXOImage, imageId2)}};

// --- the steps of reading a block -------------------------------------------------------

// The fields of a block after its version, as read. The texts point into
// the block (null when empty).
struct Block {
  long buffer = 0;
  long vector = 0;
  DAXOTimestamp timestamp = 0;
  DAXOTypeInfoValue type = 0;
  const unsigned char* unitText = nullptr;
  const unsigned char* nameText = nullptr;
  DAXOInt64 frequency = 0;
  DAXOInt32 quality = 0;
  DAXOInt32 misc1 = 0;
  DAXOInt32 misc2 = 0;
  DAXOInt32 misc3 = 0;
  const unsigned char* payload = nullptr;
};

// What a block makes of the element, settled before anything changes.
struct Plan {
  Shape shape;                     // of the block's type
  Shape previous;                  // of the element's type before
  long buffer = 0;                 // the element's buffer size after
  Parts parts;                     // of a structured payload
  unsigned char* fresh = nullptr;  // storage for an element that had none
};

// Reads the fields of a block of `version` after the version itself; false
// when a text field is out of bounds.
bool ReadBlock(const unsigned char* in, std::int32_t version, Block& block) {
  block.buffer = Load<std::int32_t>(in + 4);
  block.vector = Load<std::int32_t>(in + 8);
  block.timestamp = Load<DAXOTimestamp>(in + 12);
  const unsigned char* at = in + (version <= kLastVersionWithoutTimeOfIssue ? 20 : 28);
  block.type = Load<DAXOTypeInfoValue>(at);
  at += sizeof(DAXOTypeInfoValue);
  if (!TakeText(at, block.unitText) || !TakeText(at, block.nameText)) return false;
  block.frequency = Load<DAXOInt64>(at);
  block.quality = Load<DAXOInt32>(at + 8);
  block.misc1 = Load<DAXOInt32>(at + 12);
  block.misc2 = Load<DAXOInt32>(at + 16);
  block.misc3 = Load<DAXOInt32>(at + 20);
  block.payload = at + 24;
  return true;
}

// The buffer size `element` gets for `block` (storage in place keeps its
// own) and both shapes; the refusal, or null.
const char* SettleBuffer(const DAXOIOEltImplementation& element, const Block& block, Plan& plan) {
  const bool inPlace = element.data != nullptr;
  plan.buffer = block.buffer;
  if (inPlace && block.buffer > element.bufferSize) return kBufferTooBig;
  if (inPlace) plan.buffer = element.bufferSize;
  if (block.vector > plan.buffer || block.vector > block.buffer) return kVectorTooBig;
  if (block.buffer < 0 || block.vector < 0) return kInconsistentIn;

  plan.shape = ShapeOf(block.type);
  if (plan.shape.kind == Kind::Custom) return kCustomIn;

  // Storage kept from another type holds its bytes, not its item count:
  // when the new type's items are larger, only the block's own capacity is
  // promised, and only if those bytes fit.
  plan.previous = ShapeOf(element.type.value);
  if (inPlace) {
    const long held = CapacityBytes(plan.previous, element.bufferSize);
    if (CapacityBytes(plan.shape, plan.buffer) > held) {
      if (CapacityBytes(plan.shape, block.buffer) > held) return kBufferTooBig;
      plan.buffer = block.buffer;
      if (block.vector > plan.buffer) return kVectorTooBig;
    }
  }
  return nullptr;
}

// The parts of a structured payload; the refusal, or null.
const char* DescribePayload(const Block& block, Plan& plan) {
  if (!plan.shape.Structured()) return nullptr;
  // The writer's counts never exceed its own buffer, whatever room the
  // reader has: beyond it the block holds nothing of this element.
  const long limit = block.buffer < plan.buffer ? block.buffer : plan.buffer;
  switch (DescribeParts(plan.shape, block.payload, plan.buffer, limit, block.vector, plan.parts)) {
    case Counts::Ok:
      break;
    case Counts::Negative:
      return kInconsistentIn;
    case Counts::AboveBuffer:
      return kVectorTooBig;
  }
  return nullptr;
}

// Zeroed storage for the planned buffer; the refusal, or null.
const char* AllocateStorage(Plan& plan) {
  const long needed = CapacityBytes(plan.shape, plan.buffer);
  if (needed > kMaxAllocation) return kNoMemory;
  const auto bytes = static_cast<unsigned long>(needed > 0 ? needed : 1);
  plan.fresh = static_cast<unsigned char*>(DAXO::AllocSharedMemory(bytes));
  if (plan.fresh == nullptr) return kNoMemory;
  std::memset(plan.fresh, 0, bytes);
  return nullptr;
}

void ApplyFields(DAXOIOEltImplementation& element, const Block& block, const Plan& plan) {
  element.bufferSize = static_cast<DAXOInt32>(plan.buffer);
  element.vectorSize = static_cast<DAXOInt32>(block.vector);
  element.timestamp = block.timestamp;
  element.type.value = block.type;
  ApplyTexts(element.type, block.unitText, block.nameText);
  element.frequency = block.frequency;
  element.quality = block.quality;
  element.misc1 = block.misc1;
  element.misc2 = block.misc2;
  element.misc3 = block.misc3;
  if (plan.fresh != nullptr) {
    element.data = plan.fresh;
    element.bufferItemSize =
        plan.shape.kind == Kind::Vector ? static_cast<int>(plan.shape.unit) : 1;
  }
}

// Copies a structured payload into `storage`. Opaque header fields and part
// pointers of storage in place are kept when it already had this shape.
void CopyStructure(unsigned char* storage, const unsigned char* payload, const Plan& plan) {
  const bool reuseHeader = plan.fresh == nullptr && plan.previous.kind == plan.shape.kind;
  unsigned char before[sizeof(struct IplImage)];  // the largest header
  if (reuseHeader) std::memcpy(before, storage, static_cast<std::size_t>(plan.shape.unit));

  std::memcpy(storage, payload, static_cast<std::size_t>(plan.shape.unit));
  const unsigned char* from = payload + plan.shape.unit;
  for (int i = 0; i < plan.parts.count; ++i) {
    const Part& p = plan.parts.part[i];
    void* target = nullptr;
    if (p.present) {
      if (reuseHeader) target = Load<void*>(before + p.pointerField);
      // A part the storage did not have sits where output allocation puts it.
      if (target == nullptr) target = storage + p.standardOffset;
      if (p.bytes > 0) std::memcpy(target, from, static_cast<std::size_t>(p.bytes));
      from += p.bytes;
    }
    Store<void*>(storage + p.pointerField, target);
  }
  const Opaque* opaque = nullptr;
  std::size_t opaqueCount = 0;
  if (plan.shape.kind == Kind::IplImage) {
    opaque = kIplOpaque;
    opaqueCount = sizeof kIplOpaque / sizeof kIplOpaque[0];
  } else if (plan.shape.kind == Kind::DAXOImage) {
    opaque = kImageOpaque;
    opaqueCount = sizeof kImageOpaque / sizeof kImageOpaque[0];
  }
  for (std::size_t i = 0; i < opaqueCount; ++i) {
    void* value = reuseHeader ? Load<void*>(before + opaque[i].field) : nullptr;
    Store<void*>(storage + opaque[i].field, value);
  }
  if (plan.shape.kind == Kind::IplImage && !reuseHeader) {
    // Fresh storage: the image data starts at its origin (no alignment gap).
    Store<void*>(storage + offsetof(struct IplImage, imageDataOrigin),
                 Load<void*>(storage + offsetof(struct IplImage, imageData)));
  }
}

// Copies the payload into the element's storage, its fields applied.
void CopyPayload(DAXOIOEltImplementation& element, const Block& block, const Plan& plan) {
  auto* storage = static_cast<unsigned char*>(element.data);
  if (plan.shape.kind == Kind::Vector) {
    const long used = block.vector * plan.shape.unit;
    if (used > 0) std::memcpy(storage, block.payload, static_cast<std::size_t>(used));
    if (DAXO::TypeFilter(element.type, DAXO::FilterTextAscii) && plan.buffer > used) {
      storage[used] = 0;
    }
    return;
  }
  if (!plan.shape.Structured()) return;  // an unknown kind has no payload
  CopyStructure(storage, block.payload, plan);
}

}  // namespace

// --- writing ------------------------------------------------------------------------

int DAXOIOEltImplementation::Serialize(void* dest, unsigned int destSize) {
  const Shape shape = ShapeOf(type.value);
  const long unitLength = TextLength(type.unit);
  const long nameLength = TextLength(type.name);

  // What follows the fixed fields, and why it cannot be written (if so).
  const char* refusal = nullptr;
  long payload = 0;
  const unsigned char* header = nullptr;
  Parts parts;
  if (unitLength > kMaxTextLength || nameLength > kMaxTextLength) {
    refusal = kInconsistentOut;
  } else if (data == nullptr) {
    // Nothing follows for a vector; a structured kind gets a zeroed header
    // (no parts), because a reader always reads the header of its type.
    if (shape.Structured()) payload = shape.unit;
  } else if (shape.kind == Kind::Custom) {
    refusal = kCustomOut;
  } else if (shape.kind == Kind::None) {
    refusal = kUnknownOut;
  } else if (vectorSize < 0 || bufferSize < 0 || vectorSize > bufferSize) {
    refusal = kInconsistentOut;
  } else if (shape.kind == Kind::Vector) {
    payload = static_cast<long>(vectorSize) * shape.unit;
  } else {
    // The typed accessors check the type when the engine asks for checks.
    switch (shape.kind) {
      case Kind::Matrix:
        header = reinterpret_cast<const unsigned char*>(Matrix());
        break;
      case Kind::IplImage:
        header = reinterpret_cast<const unsigned char*>(IplImage());
        break;
      case Kind::DAXOImage:
        header = reinterpret_cast<const unsigned char*>(DAXOImage());
        break;
      case Kind::Audio:
        header = reinterpret_cast<const unsigned char*>(AudioSignal());
        break;
      default:
        header = reinterpret_cast<const unsigned char*>(Triangles3D());
        break;
    }
    if (DescribeParts(shape, header, bufferSize, bufferSize, vectorSize, parts) != Counts::Ok) {
      refusal = kInconsistentOut;
    } else {
      payload = shape.unit;
      for (int i = 0; i < parts.count; ++i) {
        if (parts.part[i].present) payload += parts.part[i].bytes;
      }
    }
  }

  // A refused payload counts nothing: the size query still answers, and the
  // real call reports why it cannot write.
  const long size = kFixedBytes + TextBytes(unitLength) + TextBytes(nameLength) +
                    (refusal != nullptr ? 0 : payload);
  if (size > INT32_MAX) return -1;
  if (dest == nullptr) return static_cast<int>(size);
  if (size > static_cast<long>(destSize)) return -1;
  if (refusal != nullptr) return Fail(refusal);
  const long fixedEnd = size - payload;
  if (shape.kind == Kind::Vector && payload > static_cast<long>(destSize) - fixedEnd) {
    return Fail(kTooSmall);  // the copy below never trusts the size rule alone
  }

  auto* out = static_cast<unsigned char*>(dest);
  Store<std::int32_t>(out + 0, kFormatVersion);
  Store<std::int32_t>(out + 4, bufferSize);
  Store<std::int32_t>(out + 8, data != nullptr ? vectorSize : 0);
  Store<DAXOTimestamp>(out + 12, timestamp);
  Store<DAXOTimestamp>(out + 20, timeOfIssue);
  Store<DAXOTypeInfoValue>(out + 28, type.value);
  unsigned char* at = PutText(out + 36, type.unit);
  at = PutText(at, type.name);
  Store<DAXOInt64>(at, frequency);
  Store<DAXOInt32>(at + 8, quality);
  Store<DAXOInt32>(at + 12, misc1);
  Store<DAXOInt32>(at + 16, misc2);
  Store<DAXOInt32>(at + 20, misc3);
  at += 24;

  if (payload == 0) return static_cast<int>(at - out);
  if (data == nullptr) {
    std::memset(at, 0, static_cast<std::size_t>(payload));
    return static_cast<int>(at + payload - out);
  }
  if (shape.kind == Kind::Vector) {
    std::memcpy(at, data, static_cast<std::size_t>(payload));
    return static_cast<int>(at + payload - out);
  }
  unsigned char* copy = at;
  std::memcpy(copy, header, static_cast<std::size_t>(shape.unit));
  at += shape.unit;
  for (int i = 0; i < parts.count; ++i) {
    const Part& p = parts.part[i];
    if (!p.present) continue;  // the pointer keeps the source value
    if (p.bytes > 0) {
      std::memcpy(at, Load<void*>(header + p.pointerField), static_cast<std::size_t>(p.bytes));
    }
    Store<void*>(copy + p.pointerField, at);
    at += p.bytes;
  }
  return static_cast<int>(at - out);
}

// --- reading ------------------------------------------------------------------------

int DAXOIOEltImplementation::Deserialize(void* src, bool allocate) {
  if (src == nullptr) return Fail(kNullSource);
  const auto* in = static_cast<const unsigned char*>(src);
  const std::int32_t version = Load<std::int32_t>(in);
  if (version > kFormatVersion) {
    DAXOStreamedString text("Wrong binary format version for DAXOIOElt, ");
    text << "received = " << version << ", current = " << kFormatVersion;
    return Fail(text);
  }
  if (data == nullptr && !allocate) return Fail(kNotAllocated);

  // Everything is read and checked before the element changes, so that a
  // refused block leaves the element as it was.
  Block block;
  if (!ReadBlock(in, version, block)) return Fail(kInconsistentIn);
  Plan plan;
  const char* refusal = SettleBuffer(*this, block, plan);
  if (refusal == nullptr) refusal = DescribePayload(block, plan);
  if (refusal == nullptr && data == nullptr) refusal = AllocateStorage(plan);
  if (refusal != nullptr) return Fail(refusal);

  ApplyFields(*this, block, plan);
  CopyPayload(*this, block, plan);
  return 0;
}

// --- static helpers -------------------------------------------------------------------

int DAXOIOElt::SerializedIOEltSizeInBytes(void* element) {
  if (element == nullptr) return -1;
  auto* e = static_cast<DAXOIOElt*>(element);
  const Shape shape = ShapeOf(e->Type().value);
  switch (shape.kind) {
    case Kind::Custom:
      return -1;
    case Kind::None:
      return e->BufferSize();
    case Kind::Vector: {
      const long bytes = static_cast<long>(e->VectorSize()) * shape.unit;
      return bytes < 0 || bytes > INT32_MAX ? -1 : static_cast<int>(bytes);
    }
    default:
      break;
  }
  // Structured: what Serialize writes after the fixed fields.
  if (e->Data() == nullptr) return static_cast<int>(shape.unit);
  Parts parts;
  const auto* header = static_cast<const unsigned char*>(e->Data());
  if (e->VectorSize() < 0 || e->VectorSize() > e->BufferSize() ||
      DescribeParts(shape, header, e->BufferSize(), e->BufferSize(), e->VectorSize(), parts) !=
          Counts::Ok) {
    return -1;
  }
  long bytes = shape.unit;
  for (int i = 0; i < parts.count; ++i) {
    if (parts.part[i].present) bytes += parts.part[i].bytes;
  }
  return bytes > INT32_MAX ? -1 : static_cast<int>(bytes);
}

bool DAXOIOElt::IsDeserializable(void*) {
  DAXOPrivate::Report(kNotImplemented, 2, 0, false);
  return true;
}
