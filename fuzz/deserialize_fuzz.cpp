// Builds a valid flattened I/O element from the first input bytes (type,
// sizes, texts, structured header), damages its texts and payload with the
// rest of the input, and reads it back into a fresh element (allocating) and
// into elements that already have storage (not allocating), one of them of
// another type. The block is followed by room for the element's whole
// buffer, so a damaged header whose counts still fit the stated buffer stays
// inside it; the reader must never go beyond that nor write beyond the
// element's storage.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "daxo_io_elt.h"
#include "daxo_system.h"

namespace {

class Input {
 public:
  Input(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
  uint8_t Byte() { return m_at < m_size ? m_data[m_at++] : 0; }
  int Below(int n) { return Byte() % n; }
  bool Empty() const { return m_at >= m_size; }

 private:
  const uint8_t* m_data;
  size_t m_size;
  size_t m_at = 0;
};

const DAXOTypeInfoValue kTypes[] = {
    DAXO::Integer8,    DAXO::Integer16,   DAXO::Integer32,        DAXO::Integer64,
    DAXO::Float64,     DAXO::TextAscii,   DAXO::TextUnicode,      DAXO::CANFrame,
    DAXO::CANFDFrame,  DAXO::CANUniFrame, DAXO::RealObject,       DAXO::Structure,
    DAXO::Matrix,      DAXO::IplImage,    DAXO::DAXOImage,        DAXO::AudioSignal,
    DAXO::Triangles3D, DAXO::CustomType,  DAXO::DynamicStructure,
};

// Lays out a structured header at `base` the way output allocation does
// (each part at its place after the header), with counts within the
// element's buffer; vector payloads get a byte pattern.
void Fill(DAXOIOEltImplementation& e, unsigned char* base, size_t bytes, Input& in) {
  const int buffer = e.bufferSize;
  for (size_t i = 0; i < bytes; ++i) base[i] = static_cast<unsigned char>(i * 31);
  const uint8_t present = in.Byte();
  auto pick = [&](int bit, void* part) { return (present >> bit) & 1 ? part : nullptr; };
  if (DAXO::TypeFilter(e.type, DAXO::FilterMatrix)) {
    auto* m = reinterpret_cast<DAXOMatrix*>(base);
    m->nbRows = buffer > 0 ? in.Below(buffer + 1) : 0;
    m->nbColumns = m->nbRows > 0 ? in.Below(buffer / m->nbRows + 1) : in.Below(4);
    m->real = static_cast<double*>(pick(0, base + 40));
    m->imaginary = static_cast<double*>(pick(1, base + 40 + 8 * buffer));
  } else if (DAXO::TypeFilter(e.type, DAXO::FilterIplImage)) {
    auto* ipl = reinterpret_cast<IplImage*>(base);
    ipl->imageSize = in.Below(buffer + 1);
    ipl->roi = static_cast<IplROI*>(pick(0, base + 144));
    ipl->imageData = static_cast<char*>(pick(1, base + 164));
  } else if (DAXO::TypeFilter(e.type, DAXO::FilterDAXOImage)) {
    auto* image = reinterpret_cast<DAXOImage*>(base);
    image->imageSize = in.Below(buffer + 1);
    image->imageData = static_cast<char*>(pick(0, base + 48));
  } else if (DAXO::TypeFilter(e.type, DAXO::FilterAudioSignal)) {
    auto* audio = reinterpret_cast<DAXOAudioSignal*>(base);
    audio->streamSizeInBytes = static_cast<DAXOUInt32>(in.Below(buffer + 1));
    audio->streamData = pick(0, base + 24);
  } else if (DAXO::TypeFilter(e.type, DAXO::FilterTriangles3D)) {
    auto* t = reinterpret_cast<DAXOTriangles3D*>(base);
    t->points = static_cast<DAXOPoint3D*>(pick(0, base + 48));
    t->triangles = static_cast<DAXOTriangle3D*>(pick(1, base + 48 + 24 * buffer));
    t->objects = static_cast<DAXOObject3D*>(pick(2, base + 48 + 40 * buffer));
  }
}

// An element of a type, buffer and texts chosen by the input.
void Choose(DAXOIOEltImplementation& e, Input& in) {
  e.type = DAXOTypeInfo(kTypes[in.Below(sizeof kTypes / sizeof kTypes[0])]);
  for (int text = 0; text < 2; ++text) {
    const int length = in.Below(6) - 1;  // -1: absent
    if (length < 0) continue;
    char value[8] = {};
    for (int i = 0; i < length; ++i) value[i] = static_cast<char>('a' + in.Below(26));
    if (text == 0) {
      e.type.SetUnit(value);
    } else {
      e.type.SetName(value);
    }
  }
  e.bufferSize = in.Below(64);
  e.vectorSize = e.bufferSize > 0 ? in.Below(e.bufferSize + 1) : 0;
}

// Bytes of storage output allocation gives the element's buffer (1-byte
// items for custom types).
int Capacity(DAXOIOEltImplementation& e) {
  void* kept = e.data;
  e.data = &e;  // any non-null address: the size rule counts only with data
  const int bytes = e.IOEltBufferSizeInBytes(nullptr);
  e.data = kept;
  return bytes < 0 ? e.bufferSize : bytes;
}

// Storage of exactly the element's buffer size (at least one byte), so that
// the sanitizer sees any write beyond it.
unsigned char* Give(DAXOIOEltImplementation& e, Input& in) {
  const int bytes = Capacity(e);
  const size_t n = bytes > 0 ? static_cast<size_t>(bytes) : 1;
  auto* storage = new unsigned char[n];
  e.data = storage;
  Fill(e, storage, n, in);
  return storage;
}

struct Owned : DAXOIOEltImplementation {
  ~Owned() override { DAXO::DeallocSharedMemory(data); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  DAXOIOEltImplementation source;
  Choose(source, in);
  source.timestamp = static_cast<int64_t>(in.Byte()) << 40;
  source.quality = in.Byte();
  unsigned char* sourceStorage = in.Byte() % 8 != 0 ? Give(source, in) : nullptr;
  DAXOIOEltImplementation slot;  // storage of another type, as an output slot has
  Choose(slot, in);
  unsigned char* slotStorage = Give(slot, in);

  const int needed = source.Serialize(nullptr, 0);
  if (needed <= 0) abort();
  // Room for the whole buffer after what was written, so that a damaged
  // header whose counts still fit the stated buffer stays inside the block.
  const int room = needed + Capacity(source);
  std::vector<unsigned char> block(static_cast<size_t>(room), 0);
  const int written = source.Serialize(block.data(), static_cast<unsigned>(block.size()));
  if (written != -1 && written != needed) abort();

  if (written == needed) {
    // Damage the texts (terminators included), the free fields and the
    // payload, structured headers included. The two text lengths stay: the
    // block does not say how long it is, so only its terminator can catch a
    // damaged length, and a wrong one sends any reader beyond the block.
    int32_t unitLength = 0;
    std::memcpy(&unitLength, &block[36], sizeof unitLength);
    const size_t nameLengthAt = 40 + (unitLength > 0 ? unitLength + 1 : 0);
    const size_t first = 40;
    while (!in.Empty()) {
      const size_t at = first + (in.Byte() * 256u + in.Byte()) % (block.size() - first);
      const uint8_t flip = in.Byte();
      if (at >= nameLengthAt && at < nameLengthAt + 4) continue;
      block[at] ^= flip;
    }

    Owned fresh;
    if (fresh.Deserialize(block.data(), false) != -1) abort();  // no storage yet
    if (fresh.Deserialize(block.data(), true) == 0 && fresh.data == nullptr) abort();
    if (fresh.data != nullptr) fresh.Deserialize(block.data(), false);
    slot.Deserialize(block.data(), false);
  }
  delete[] sourceStorage;
  delete[] slotStorage;
  return 0;
}
