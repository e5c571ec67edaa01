// Outputs: the FIFO, the shared payload block and its carving into slots.
#include <cstring>
#include <exception>
#include <limits>
#include <new>

#include "daxo_io.h"
#include "daxo_kernel.h"
#include "daxo_services.h"
#include "daxo_system.h"
#include "daxo_type_filter.h"

namespace {

constexpr int kDefaultFifoSize = 16;
constexpr int kMatrixHeader = 40;
constexpr int kIplHeader = 144;
constexpr int kIplArea = 164;  // header + region of interest
constexpr int kImageHeader = 48;
constexpr int kAudioHeader = 24;
constexpr int kTrianglesHeader = 48;

enum class Shape { Vector, Matrix, IplImage, DAXOImage, Audio, Triangles };

Shape ShapeOf(const DAXOTypeInfo& type) {
  if (DAXO::TypeFilter(type, DAXO::FilterMatrix)) return Shape::Matrix;
  if (DAXO::TypeFilter(type, DAXO::FilterIplImage)) return Shape::IplImage;
  if (DAXO::TypeFilter(type, DAXO::FilterDAXOImage)) return Shape::DAXOImage;
  if (DAXO::TypeFilter(type, DAXO::FilterAudioSignal)) return Shape::Audio;
  if (DAXO::TypeFilter(type, DAXO::FilterTriangles3D)) return Shape::Triangles;
  return Shape::Vector;
}

/// Item size of a vector type, by the plural filters; 1 for anything else.
int VectorItemSize(const DAXOTypeInfo& type) {
  using namespace DAXO;
  if (TypeFilter(type, FilterIntegers64) || TypeFilter(type, FilterUnsignedIntegers64) ||
      TypeFilter(type, FilterFloats64)) {
    return 8;
  }
  if (TypeFilter(type, FilterIntegers32) || TypeFilter(type, FilterUnsignedIntegers32) ||
      TypeFilter(type, FilterFloats32) || TypeFilter(type, FilterStream32)) {
    return 4;
  }
  if (TypeFilter(type, FilterIntegers16) || TypeFilter(type, FilterUnsignedIntegers16) ||
      TypeFilter(type, FilterTextUnicode) || TypeFilter(type, FilterStream16)) {
    return 2;
  }
  if (TypeFilter(type, FilterCANFrame)) return 24;
  if (TypeFilter(type, FilterCANFDFrame)) return DAXO::CANFDFrameSize;
  if (TypeFilter(type, FilterCANUniFrame) || TypeFilter(type, FilterDrawingObjects)) {
    return DAXO::CANUniFrameSize;
  }
  if (TypeFilter(type, FilterRealObjects)) return static_cast<int>(sizeof(DAXORealObject));
  return 1;
}

bool IsTextOrStream(const DAXOTypeInfo& type) {
  using namespace DAXO;
  return TypeFilter(type, FilterTextAscii) || TypeFilter(type, FilterTextUnicode) ||
         TypeFilter(type, FilterStream8) || TypeFilter(type, FilterStream16) ||
         TypeFilter(type, FilterStream32);
}

void FourMarks(char (&field)[4]) {
  std::memset(field, '?', sizeof(field));
}

void CopyCode(char (&field)[4], DAXOUInt32 code) {
  std::memcpy(field, &code, sizeof(field));
}

/// Stores a header at the start of a slot area. Areas follow each other
/// every eltSizeBytes, which need not keep a header's alignment (an image of
/// 100 bytes starts every 148 bytes): headers are copied in bytewise.
template <class Header>
void Place(char* area, const Header& header) {
  std::memcpy(area, &header, sizeof(Header));
}

[[noreturn]] void Raise(const DAXOStreamedString& text) {
  DAXOPrivate::KernelError(text, 1);
}

/// `bytes` as the int an element's size is kept in. Larger sizes are
/// refused: truncated, they would carve slots smaller than the sizes the
/// elements announce.
int ElementSize(const char* operation, int line, long long bytes) {
  constexpr int kLargest = std::numeric_limits<int>::max();
  if (bytes > kLargest) {
    DAXOStreamedString text(operation);
    text << ":" << line << ": Requested element size [" << bytes << "] is too big (at most "
         << kLargest << " bytes per element)";
    Raise(text);
  }
  return static_cast<int>(bytes);
}

}  // namespace

DAXOOutputImplementation::DAXOOutputImplementation(DAXOModule* owner_, const char* fullName,
                                                   const char* shortName_,
                                                   const DAXOOutputDefinition& definition_,
                                                   DAXOEvent* dieEvent)
    : name(fullName), shortName(shortName_), owner(owner_), definition(definition_) {
  if (definition.fifoSize < 1) definition.fifoSize = kDefaultFifoSize;
  if (definition.subsampling < 1) definition.subsampling = 1;
  monitor = DAXOIOMonitorImplementation::CreateMonitor(dieEvent, this, definition.fifoSize,
                                                       definition.subsampling);
}

DAXOOutputImplementation::~DAXOOutputImplementation() {
  FreeBuffer();
  delete monitor;
}

int DAXOOutputImplementation::NbFreeSlotsInFIFO() {
  return monitor->NbFreeSlots();
}

const char* DAXOOutputImplementation::TypeUnit() {
  return definition.type.unit != nullptr ? static_cast<const char*>(*definition.type.unit) : "";
}

const char* DAXOOutputImplementation::TypeName() {
  return definition.type.name != nullptr ? static_cast<const char*>(*definition.type.name) : "";
}

int DAXOOutputImplementation::NbConnectedInputs() {
  DAXOMutexGuard guard(connectionMutex);
  return static_cast<int>(connectedInputs.Size());
}

void DAXOOutputImplementation::BeginAllocation(const char* operation, const char* parameter,
                                               long value) {
  if (value < 0) {
    DAXOStreamedString text(operation);
    text << ":" << __LINE__ << ": " << parameter << " [" << value << "] < 0";
    Raise(text);
  }
  if (itemCount != 0) {
    DAXOPrivate::KernelError(
        "Output buffer already initialized. Can't initialize an output buffer twice.", 1);
  }
  for (DAXOFastIOHandle slot = monitor->InitBegin(); slot.ptr != nullptr;
       slot = monitor->InitNext(slot)) {
    auto* element = static_cast<DAXOIOEltImplementation*>((*monitor)[slot]);
    element->bufferSize = 0;
    element->frequency = 0;
    element->quality = 0;
    element->misc1 = element->misc2 = element->misc3 = 0;
    element->type = definition.type;
    element->data = nullptr;
  }
}

template <class SetUp>
void DAXOOutputImplementation::CarveSlots(int bufferSize, SetUp setUp) {
  auto* area = static_cast<char*>(block);
  int position = 0;
  for (DAXOFastIOHandle slot = monitor->InitBegin(); slot.ptr != nullptr;
       slot = monitor->InitNext(slot), ++position) {
    auto* element = static_cast<DAXOIOEltImplementation*>((*monitor)[slot]);
    std::memset(area, 0, static_cast<size_t>(eltSizeBytes));
    element->data = area;
    element->bufferSize = bufferSize;
    setUp(*element, area, position);
    area += eltSizeBytes;
  }
}

void DAXOOutputImplementation::AllocateSharedMemory(size_t eltSize) {
  const auto fifoSize = static_cast<size_t>(definition.fifoSize);
  size_t total = 0;
  if (__builtin_mul_overflow(eltSize, fifoSize, &total)) {
    DAXOStreamedString text("AllocateSharedMemory");
    text << ":" << __LINE__ << ": "
         << "Requested buffer size [" << static_cast<unsigned long>(eltSize) << "] is too big"
         << " given the current FIFO size [" << static_cast<unsigned long>(fifoSize) << "]"
         << " of output [" << name << "]"
         << " Please reduce the requested output buffer size and/or the output FIFO size"
         << " such that (buffer_size * fifo_size) <= "
         << static_cast<unsigned long>(std::numeric_limits<size_t>::max())
         << " (i.e. std::numeric_limits<size_t>::max)";
    Raise(text);
  }
  DAXOStreamedString text("AllocateSharedMemory");
  text << ":" << __LINE__ << ": "
       << "Failed to allocate [buffer_size:" << static_cast<unsigned long>(eltSize)
       << " x fifo_size:" << static_cast<unsigned long>(fifoSize) << " = "
       << static_cast<unsigned long>(total) << "] bytes for output [" << name;
  try {
    block = DAXO::AllocSharedMemory(static_cast<unsigned long>(total));
  } catch (int code) {
    text << "] due to: int: " << code;
    Raise(text);
  } catch (const std::bad_alloc& e) {
    text << "] due to: std::bad_alloc: " << e.what()
         << ". Please reduce the requested output buffer size and/or the output FIFO size";
    Raise(text);
  } catch (const std::exception& e) {
    text << "] due to: std::exception: " << e.what();
    Raise(text);
  } catch (const char* what) {
    text << "] due to: const char*: " << (what != nullptr ? what : "NULL");
    Raise(text);
  } catch (...) {
    text << "] due to: an unknown error";
    Raise(text);
  }
  if (block == nullptr && total != 0) {
    text << "] due to: an unknown error";
    Raise(text);
  }
}

void DAXOOutputImplementation::FreeBuffer() {
  for (DAXOTimestamp& t : history) t = 0;
  historyIndex = 0;
  // The slots must not keep pointers into the released block, and their
  // samples go with it: a reader connected later must not take one.
  if (monitor != nullptr) monitor->DiscardPublished();
  if (block != nullptr && monitor != nullptr) {
    for (DAXOFastIOHandle slot = monitor->InitBegin(); slot.ptr != nullptr;
         slot = monitor->InitNext(slot)) {
      static_cast<DAXOIOEltImplementation*>((*monitor)[slot])->data = nullptr;
    }
  }
  DAXO::DeallocSharedMemory(block);
  block = nullptr;
  itemCount = 0;
  eltSizeBytes = 0;  // no element size until the next allocation
}

void DAXOOutputImplementation::HandshakeReaders() {
  DAXOMutexGuard connections(connectionMutex);
  for (DAXOListIterator r = connectedInputs.First(); r != nullptr; ++r) {
    static_cast<DAXOInputImplementation*>(connectedInputs.Value(r))->Handshake();
  }
}

void DAXOOutputImplementation::AllocOutputBuffer(int n, bool allocate) {
  BeginAllocation("AllocOutputBuffer", "n", n);
  const DAXOTypeInfo& type = definition.type;
  const Shape shape = ShapeOf(type);
  const long long items = n;
  int itemSize = 1;
  long long bytes = 0;
  switch (shape) {
    case Shape::Vector:
      itemSize = VectorItemSize(type);
      bytes = items * itemSize;
      break;
    case Shape::Matrix:
      bytes = items * 16 + kMatrixHeader;
      break;
    case Shape::Triangles:
      bytes = items * 56 + kTrianglesHeader;
      break;
    case Shape::IplImage:
      bytes = items + kIplArea;
      break;
    case Shape::DAXOImage:
      bytes = items + kImageHeader;
      break;
    case Shape::Audio:
      bytes = items + kAudioHeader;
      break;
  }
  eltSizeBytes = ElementSize("AllocOutputBuffer", __LINE__, bytes);
  itemCount = shape == Shape::Vector ? n : -1;
  if (shape == Shape::Vector && n != 1 && !IsTextOrStream(type) &&
      (type.value & DAXO::VectorFlag) == 0) {
    DAXOStreamedString text("Output ");
    text << name << " is a vector but its vector flag is not set.";
    DAXOPrivate::Report(text, 2, 0, true);
  }
  const bool imageOrAudio =
      shape == Shape::IplImage || shape == Shape::DAXOImage || shape == Shape::Audio;
  if ((imageOrAudio && n < 2) || (!imageOrAudio && n == 0)) {
    // Nothing allocated: a later allocation is accepted.
    itemCount = 0;
    return;
  }
  if (!allocate) {
    for (DAXOFastIOHandle slot = monitor->InitBegin(); slot.ptr != nullptr;
         slot = monitor->InitNext(slot)) {
      auto* element = static_cast<DAXOIOEltImplementation*>((*monitor)[slot]);
      element->bufferSize = n;
      element->bufferItemSize = itemSize;
    }
    return;
  }
  AllocateSharedMemory(static_cast<size_t>(eltSizeBytes));
  CarveSlots(n, [&](DAXOIOEltImplementation& e, char* area, int) {
    e.bufferItemSize = itemSize;
    switch (shape) {
      case Shape::Vector:
        e.vectorSize = n;
        break;
      case Shape::Matrix: {
        DAXOMatrix m{};
        m.real = reinterpret_cast<double*>(area + kMatrixHeader);
        m.imaginary = m.real + n;
        Place(area, m);
        break;
      }
      case Shape::IplImage: {
        IplImage image{};
        FourMarks(image.colorModel);
        FourMarks(image.channelSeq);
        image.roi = reinterpret_cast<IplROI*>(area + kIplHeader);
        image.imageData = area + kIplArea;
        Place(area, image);
        break;
      }
      case Shape::DAXOImage: {
        DAXOImage image{};
        image.bufferSize = n;
        FourMarks(image.imageCoding);
        image.imageData = area + kImageHeader;
        Place(area, image);
        break;
      }
      case Shape::Audio: {
        DAXOAudioSignal signal{};
        signal.streamSizeInBytes = static_cast<DAXOUInt32>(n);
        signal.streamData = area + kAudioHeader;
        Place(area, signal);
        break;
      }
      case Shape::Triangles: {
        DAXOTriangles3D t{};
        char* p = area + kTrianglesHeader;
        t.points = reinterpret_cast<DAXOPoint3D*>(p);
        p += static_cast<size_t>(n) * sizeof(DAXOPoint3D);
        t.triangles = reinterpret_cast<DAXOTriangle3D*>(p);
        p += static_cast<size_t>(n) * sizeof(DAXOTriangle3D);
        t.objects = reinterpret_cast<DAXOObject3D*>(p);
        Place(area, t);
        break;
      }
    }
  });
}

void DAXOOutputImplementation::AllocOutputBufferMatrix(int n, int m) {
  BeginAllocation("AllocOutputBufferMatrix", n < 0 ? "n" : "m", n < 0 ? n : m);
  const long cells = static_cast<long>(n) * m;  // at most 2^62: no overflow
  // The byte count saturates where it would leave the 64-bit range.
  constexpr long kSaturation = (std::numeric_limits<long>::max() - kMatrixHeader) / 16;
  eltSizeBytes = ElementSize(
      "AllocOutputBufferMatrix", __LINE__,
      cells > kSaturation ? std::numeric_limits<long>::max() : cells * 16 + kMatrixHeader);
  itemCount = -1;
  AllocateSharedMemory(static_cast<size_t>(eltSizeBytes));
  CarveSlots(static_cast<int>(cells), [&](DAXOIOEltImplementation& e, char* area, int) {
    DAXOMatrix matrix{};
    matrix.nbRows = n;
    matrix.nbColumns = m;
    matrix.real = reinterpret_cast<double*>(area + kMatrixHeader);
    matrix.imaginary = matrix.real + cells;
    Place(area, matrix);
    e.bufferItemSize = 1;
  });
}

void DAXOOutputImplementation::AllocOutputBufferImage(int isize, int width, int height,
                                                      DAXOUInt32 imageCoding, DAXOUInt32 imageType,
                                                      bool headerOnly) {
  BeginAllocation("AllocOutputBufferImage", isize < 0 ? "isize" : (width < 0 ? "w" : "h"),
                  isize < 0 ? isize : (width < 0 ? width : height));
  const int full =
      ElementSize("AllocOutputBufferImage", __LINE__, static_cast<long long>(isize) + kImageHeader);
  itemCount = -1;
  const int area = headerOnly ? kImageHeader : full;
  // The slots' areas are `area` apart; eltSizeBytes keeps the full size,
  // also when the block cannot be had.
  eltSizeBytes = full;
  AllocateSharedMemory(static_cast<size_t>(area));
  eltSizeBytes = area;
  // A header-only slot owns no image bytes: its element must not announce
  // any (a reader deserializing into it would write past the area).
  CarveSlots(headerOnly ? 0 : isize, [&](DAXOIOEltImplementation& e, char* slotArea, int position) {
    DAXOImage image{};
    image.width = width;
    image.height = height;
    image.imageSize = isize;
    image.bufferSize = isize;
    CopyCode(image.imageCoding, imageCoding);
    CopyCode(image.imageType, imageType);
    image.imageId = reinterpret_cast<void*>(static_cast<intptr_t>(position));
    image.imageId2 = reinterpret_cast<void*>(static_cast<intptr_t>(0xDEAD));
    image.imageData = headerOnly ? nullptr : slotArea + kImageHeader;
    Place(slotArea, image);
    e.bufferItemSize = 1;
  });
  eltSizeBytes = full;
}

void DAXOOutputImplementation::AllocOutputBufferDAXOImage(int isize, int width, int height,
                                                          DAXOUInt32 imageCoding,
                                                          DAXOUInt32 imageType, bool headerOnly) {
  AllocOutputBufferImage(isize, width, height, imageCoding, imageType, headerOnly);
}

void DAXOOutputImplementation::AllocOutputBufferIplImage(const IplImage& model, bool) {
  BeginAllocation("AllocOutputBufferIplImage", model.align < 0 ? "align" : "imageSize",
                  model.align < 0 ? model.align : model.imageSize);
  eltSizeBytes = ElementSize("AllocOutputBufferIplImage", __LINE__,
                             static_cast<long long>(kIplArea) + model.align + model.imageSize);
  itemCount = -1;
  AllocateSharedMemory(static_cast<size_t>(eltSizeBytes));
  CarveSlots(model.imageSize, [&](DAXOIOEltImplementation& e, char* area, int) {
    IplImage image = model;
    Place(area + kIplHeader, IplROI{0, 0, 0, model.width, model.height});
    image.roi = reinterpret_cast<IplROI*>(area + kIplHeader);
    image.imageDataOrigin = area + kIplArea;
    // The data starts at the next multiple of align after the origin (a
    // whole step when the origin is aligned already).
    const auto origin = reinterpret_cast<uintptr_t>(image.imageDataOrigin);
    const auto align = static_cast<uintptr_t>(model.align > 0 ? model.align : 1);
    image.imageData = image.imageDataOrigin + (align - origin % align);
    if (model.align <= 0) image.imageData = image.imageDataOrigin;
    Place(area, image);
    e.bufferItemSize = 1;
  });
}

void DAXOOutputImplementation::AllocOutputBufferAudioSignal(const DAXOAudioSignal& signal) {
  BeginAllocation("AllocOutputBufferAudioSignal", "streamSizeInBytes",
                  static_cast<long>(signal.streamSizeInBytes));
  eltSizeBytes = ElementSize("AllocOutputBufferAudioSignal", __LINE__,
                             static_cast<long long>(signal.streamSizeInBytes) + kAudioHeader);
  itemCount = -1;
  AllocateSharedMemory(static_cast<size_t>(eltSizeBytes));
  CarveSlots(static_cast<int>(signal.streamSizeInBytes),
             [&](DAXOIOEltImplementation& e, char* area, int) {
               DAXOAudioSignal copy = signal;
               copy.streamData = area + kAudioHeader;
               Place(area, copy);
               e.bufferItemSize = 1;
             });
}
