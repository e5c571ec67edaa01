// Flattened I/O elements: round trips of every built-in payload, the block
// layout (current and older formats), the size-first protocol, and the
// refusals that keep a reader inside the counts and the storage it has.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "daxo_io_elt.h"
#include "daxo_system.h"
#include "engine_test_support.h"

namespace velquor::test {
namespace {

using Bytes = std::vector<unsigned char>;

// An element that owns what Deserialize allocated for it.
struct Received : DAXOIOEltImplementation {
  ~Received() override { DAXO::DeallocSharedMemory(data); }
};

Bytes Flatten(DAXOIOElt& e) {
  const int size = e.Serialize(nullptr, 0);
  Bytes block(size > 0 ? size : 0);
  EXPECT_EQ(e.Serialize(block.data(), static_cast<unsigned>(block.size())), size);
  return block;
}

template <class T>
T At(const Bytes& b, size_t offset) {
  T v;
  std::memcpy(&v, b.data() + offset, sizeof v);
  return v;
}

template <class T>
void Put(Bytes& b, size_t offset, T v) {
  std::memcpy(b.data() + offset, &v, sizeof v);
}

bool Inside(const void* p, const DAXOIOElt& e, size_t bytes) {
  auto* base = static_cast<const char*>(const_cast<DAXOIOElt&>(e).Data());
  return p >= base && static_cast<const char*>(p) < base + bytes;
}

class DAXOIOEltSerializeTest : public EngineTest {
 protected:
  bool Reported(const std::string& message) {
    return reports->Contains([&](const ReportRecord& r) {
      return r.text == "External : " + message && r.level == DAXO::Error;
    });
  }
};

TEST_F(DAXOIOEltSerializeTest, VectorTypesRoundTripWithEveryField) {
  const DAXOTypeInfoValue types[] = {
      DAXO::Integer8,   DAXO::Integer16,   DAXO::Integer32,  DAXO::Integer64,
      DAXO::Float32,    DAXO::Float64,     DAXO::Stream8,    DAXO::Stream16,
      DAXO::Stream32,   DAXO::TextUnicode, DAXO::Structure,  DAXO::CANFrame,
      DAXO::CANFDFrame, DAXO::CANUniFrame, DAXO::RealObject, DAXO::UnsignedInteger64,
  };
  for (DAXOTypeInfoValue type : types) {
    const int item = DAXO::IOEltItemSize(DAXOTypeInfo(type));
    std::vector<unsigned char> payload(7 * item);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<unsigned char>(i * 7 + 1);
    DAXOIOEltImplementation e;
    e.type = DAXOTypeInfo(type | DAXO::VectorFlag, "name", "unit");
    e.data = payload.data();
    e.bufferSize = 7;
    e.vectorSize = 5;
    e.timestamp = -123456789012;
    e.timeOfIssue = 42;
    e.frequency = 1LL << 40;
    e.quality = -3;
    e.misc1 = 1, e.misc2 = 2, e.misc3 = 3;
    const Bytes block = Flatten(e);
    ASSERT_EQ(block.size(), 68u + 5 + 5 + 5 * item) << type;

    Received r;
    r.timeOfIssue = 99;
    ASSERT_EQ(r.Deserialize(const_cast<unsigned char*>(block.data()), true), 0) << type;
    EXPECT_EQ(r.bufferSize, 7);
    EXPECT_EQ(r.vectorSize, 5);
    EXPECT_EQ(r.timestamp, -123456789012);
    EXPECT_EQ(r.timeOfIssue, 99) << "time of issue stays the reader's";
    EXPECT_EQ(r.type.value, type | DAXO::VectorFlag);
    EXPECT_STREQ(*r.type.name, "name");
    EXPECT_STREQ(*r.type.unit, "unit");
    EXPECT_EQ(r.frequency, 1LL << 40);
    EXPECT_EQ(r.quality, -3);
    EXPECT_EQ(r.misc1 + 10 * r.misc2 + 100 * r.misc3, 321);
    EXPECT_EQ(std::memcmp(r.data, payload.data(), 5 * item), 0) << type;
    EXPECT_EQ(r.IOEltBufferSizeInBytes(nullptr), 7 * item) << "room for the whole buffer";
    EXPECT_EQ(DAXOIOElt::SerializedIOEltSizeInBytes(&e), 5 * item) << type;
  }
}

TEST_F(DAXOIOEltSerializeTest, BlockLayoutPutsTheUnitBeforeTheNameAndSkipsEmptyTexts) {
  DAXOIOEltImplementation e;
  e.type = DAXOTypeInfo(DAXO::Integer32, "", "m/s");
  e.frequency = 77;
  e.misc3 = 5;
  const Bytes block = Flatten(e);  // no data: no payload
  ASSERT_EQ(block.size(), 68u + 4);
  EXPECT_EQ(At<int32_t>(block, 0), 102);
  EXPECT_EQ(At<int32_t>(block, 36), 3);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&block[40])), "m/s");
  EXPECT_EQ(At<int32_t>(block, 44), 0);
  EXPECT_EQ(At<int64_t>(block, 48), 77);
  EXPECT_EQ(At<int32_t>(block, 68), 5);

  // A block without payload leaves the data of the reader untouched.
  int32_t values[3] = {7, 8, 9};
  DAXOIOEltImplementation r;
  r.type = DAXOTypeInfo(DAXO::Integer32, "old", nullptr);
  r.data = values;
  r.bufferSize = 3;
  r.vectorSize = 3;
  ASSERT_EQ(r.Deserialize(const_cast<unsigned char*>(block.data()), false), 0);
  EXPECT_EQ(values[0] + values[1] + values[2], 24);
  EXPECT_EQ(r.vectorSize, 0);
  EXPECT_STREQ(*r.type.name, "") << "an empty name empties the existing one";
  EXPECT_STREQ(*r.type.unit, "m/s");
}

TEST_F(DAXOIOEltSerializeTest, OlderFormatsAreReadWithTheirOwnOffsets) {
  for (int32_t version : {100, 101}) {
    const size_t shift = version == 100 ? 0 : 8;  // the time-of-issue field
    Bytes block(60 + shift + 3 + 16, 0);
    Put<int32_t>(block, 0, version);
    Put<int32_t>(block, 4, 4);
    Put<int32_t>(block, 8, 2);
    Put<int64_t>(block, 12, 1000);
    Put<uint64_t>(block, 20 + shift, DAXO::Float64);
    Put<int32_t>(block, 28 + shift, 0);
    Put<int32_t>(block, 32 + shift, 2);
    std::memcpy(&block[36 + shift], "dt", 3);
    Put<int32_t>(block, 39 + shift + 8, 6);  // quality
    Put<double>(block, 39 + shift + 24, 1.5);
    Put<double>(block, 39 + shift + 32, -2.5);
    Received r;
    ASSERT_EQ(r.Deserialize(block.data(), true), 0) << version;
    EXPECT_EQ(r.type.value, DAXO::Float64);
    EXPECT_STREQ(*r.type.name, "dt");
    EXPECT_EQ(r.type.unit, nullptr) << "an absent unit stays absent";
    EXPECT_EQ(r.timestamp, 1000);
    EXPECT_EQ(r.quality, 6);
    EXPECT_EQ(*r.Float64(0) + *r.Float64(1), -1.0);
  }
}

TEST_F(DAXOIOEltSerializeTest, TextGetsATerminatorOnlyWhenTheBufferHasRoom) {
  char text[] = "hello";
  DAXOIOEltImplementation e;
  e.type = DAXOTypeInfo(DAXO::TextAscii);
  e.data = text;
  e.bufferSize = e.vectorSize = 5;
  const Bytes block = Flatten(e);

  char room[17];
  std::memset(room, 'x', sizeof room);
  DAXOIOEltImplementation r;
  r.type = DAXOTypeInfo(DAXO::TextAscii);
  r.data = room;
  r.bufferSize = 16;
  ASSERT_EQ(r.Deserialize(const_cast<unsigned char*>(block.data()), false), 0);
  EXPECT_STREQ(room, "hello");
  EXPECT_EQ(room[6], 'x');

  std::memset(room, 'x', sizeof room);
  r.bufferSize = 5;
  ASSERT_EQ(r.Deserialize(const_cast<unsigned char*>(block.data()), false), 0);
  EXPECT_EQ(room[5], 'x') << "a full buffer gets no byte beyond it";
}

TEST_F(DAXOIOEltSerializeTest, StructuredPayloadsRoundTripIntoTheReadersOwnStorage) {
  alignas(8) unsigned char src[1024] = {};
  for (size_t i = 200; i < sizeof src; ++i) src[i] = static_cast<unsigned char>(i);
  struct Case {
    DAXOTypeInfoValue type;
    int payload;  // header and parts
    std::function<void(unsigned char*)> build;
  };
  const Case cases[] = {
      {DAXO::Matrix, 40 + 2 * 48,
       [](unsigned char* h) {
         auto* m = reinterpret_cast<DAXOMatrix*>(h);
         *m = {9,   2, 3, reinterpret_cast<double*>(h + 200), reinterpret_cast<double*>(h + 300),
               true};
       }},
      {DAXO::Matrix, 40 + 48,
       [](unsigned char* h) {
         *reinterpret_cast<DAXOMatrix*>(h) = {0,       3,    2, reinterpret_cast<double*>(h + 200),
                                              nullptr, false};
       }},
      {DAXO::IplImage, 144 + 20 + 30,
       [](unsigned char* h) {
         auto* ipl = reinterpret_cast<IplImage*>(h);
         ipl->width = 5;
         ipl->imageSize = 30;
         ipl->roi = reinterpret_cast<IplROI*>(h + 200);
         ipl->imageData = reinterpret_cast<char*>(h + 300);
         ipl->imageDataOrigin = ipl->imageData;
         ipl->tileInfo = h;
       }},
      {DAXO::DAXOImage, 48 + 25,
       [](unsigned char* h) {
         auto* image = reinterpret_cast<DAXOImage*>(h);
         image->width = 5;
         image->imageSize = 25;
         image->imageData = reinterpret_cast<char*>(h + 200);
       }},
      {DAXO::AudioSignal, 24 + 40,
       [](unsigned char* h) {
         *reinterpret_cast<DAXOAudioSignal*>(h) = {1, 2, 16, 44100, 40, h + 200};
       }},
      {DAXO::Triangles3D, 48 + 4 * (16 + 24 + 16),
       [](unsigned char* h) {
         auto* t = reinterpret_cast<DAXOTriangles3D*>(h);
         *t = {4, reinterpret_cast<DAXOObject3D*>(h + 200),
               4, reinterpret_cast<DAXOPoint3D*>(h + 400),
               4, reinterpret_cast<DAXOTriangle3D*>(h + 600)};
       }},
  };
  for (const Case& c : cases) {
    std::memset(src, 0, 200);
    c.build(src);
    DAXOIOEltImplementation e;
    e.type = DAXOTypeInfo(c.type);
    e.data = src;
    e.bufferSize = 40;
    e.vectorSize = 4;
    const Bytes block = Flatten(e);
    ASSERT_EQ(static_cast<int>(block.size()), 68 + c.payload) << c.type;

    Received fresh;
    ASSERT_EQ(fresh.Deserialize(const_cast<unsigned char*>(block.data()), true), 0) << c.type;
    const auto capacity = static_cast<size_t>(fresh.IOEltBufferSizeInBytes(nullptr));
    EXPECT_EQ(fresh.IOEltUsedSizeInBytes(nullptr), c.payload) << c.type;
    // The same element again: it reuses the storage it has now.
    void* storage = fresh.data;
    ASSERT_EQ(fresh.Deserialize(const_cast<unsigned char*>(block.data()), false), 0);
    EXPECT_EQ(fresh.data, storage);

    auto* h = static_cast<unsigned char*>(fresh.data);
    auto same = [&](const void* part, const void* original, size_t n) {
      EXPECT_TRUE(Inside(part, fresh, capacity)) << c.type;
      EXPECT_EQ(std::memcmp(part, original, n), 0) << c.type;
    };
    if (c.type == DAXO::Matrix) {
      auto* m = reinterpret_cast<DAXOMatrix*>(h);
      auto* o = reinterpret_cast<DAXOMatrix*>(src);
      EXPECT_EQ(m->nbRows * 10 + m->nbColumns, o->nbRows * 10 + o->nbColumns);
      same(m->real, o->real, 48);
      if (o->imaginary != nullptr) same(m->imaginary, o->imaginary, 48);
      EXPECT_EQ(m->imaginary == nullptr, o->imaginary == nullptr);
    } else if (c.type == DAXO::IplImage) {
      auto* ipl = reinterpret_cast<IplImage*>(h);
      EXPECT_EQ(ipl->width, 5);
      same(ipl->roi, src + 200, 20);
      same(ipl->imageData, src + 300, 30);
      EXPECT_EQ(ipl->tileInfo, nullptr) << "no address of the writer survives";
    } else if (c.type == DAXO::DAXOImage) {
      same(reinterpret_cast<DAXOImage*>(h)->imageData, src + 200, 25);
    } else if (c.type == DAXO::AudioSignal) {
      auto* a = reinterpret_cast<DAXOAudioSignal*>(h);
      EXPECT_EQ(a->samplesPerSecond, 44100u);
      same(a->streamData, src + 200, 40);
    } else {
      auto* t = reinterpret_cast<DAXOTriangles3D*>(h);
      same(t->objects, src + 200, 64);
      same(t->points, src + 400, 96);
      same(t->triangles, src + 600, 64);
    }
  }
}

TEST_F(DAXOIOEltSerializeTest, ReusedMatrixStorageRegainsAPartAnEarlierBlockLacked) {
  alignas(8) unsigned char src[256] = {};
  auto* m = reinterpret_cast<DAXOMatrix*>(src);
  *m = {0, 1, 2, reinterpret_cast<double*>(src + 40), nullptr, false};
  m->real[0] = 1.0, m->real[1] = 2.0;
  DAXOIOEltImplementation e;
  e.type = DAXOTypeInfo(DAXO::Matrix);
  e.data = src;
  e.bufferSize = 2;
  const Bytes realOnly = Flatten(e);
  m->imaginary = m->real + 2;
  m->imaginary[0] = 3.0, m->imaginary[1] = 4.0;
  const Bytes complex = Flatten(e);

  Received r;
  ASSERT_EQ(r.Deserialize(const_cast<unsigned char*>(complex.data()), true), 0);
  ASSERT_EQ(r.Deserialize(const_cast<unsigned char*>(realOnly.data()), false), 0);
  EXPECT_EQ(r.Matrix()->imaginary, nullptr) << "a real-only matrix stays real-only";
  ASSERT_EQ(r.Deserialize(const_cast<unsigned char*>(complex.data()), false), 0);
  ASSERT_NE(r.Matrix()->imaginary, nullptr);
  EXPECT_TRUE(Inside(r.Matrix()->imaginary + 1, r, r.IOEltBufferSizeInBytes(nullptr)));
  EXPECT_EQ(r.Matrix()->imaginary[1], 4.0);
}

TEST_F(DAXOIOEltSerializeTest, SizeComesFirstAndAShortDestinationIsRefusedSilently) {
  double values[10] = {1, 2, 3, 4};
  DAXOIOEltImplementation e;
  e.type = DAXOTypeInfo(DAXO::Float64);
  e.data = values;
  e.bufferSize = 10;
  e.vectorSize = 4;
  reports->Clear();
  const int size = e.Serialize(nullptr, 0);
  EXPECT_EQ(size, 68 + 32);
  Bytes block(size + 48, 0xEE);  // the room a queue keeps for the whole buffer
  EXPECT_EQ(e.Serialize(block.data(), size - 1), -1);
  EXPECT_TRUE(reports->Reports().empty());
  EXPECT_EQ(block[0], 0xEE) << "nothing written";
  EXPECT_EQ(e.Serialize(block.data(), static_cast<unsigned>(block.size())), size);
  EXPECT_EQ(block[size], 0xEE);

  double small[3];
  DAXOIOEltImplementation r;
  r.type = DAXOTypeInfo(DAXO::Float64);
  r.data = small;
  r.bufferSize = 3;
  EXPECT_EQ(r.Deserialize(block.data(), false), -1);
  EXPECT_TRUE(Reported(
      "DAXOIOElt deserialization impossible : deserialized buffer size is bigger than allocated "
      "buffer size."));
  EXPECT_EQ(r.vectorSize, 0) << "a refused block changes nothing";
  double room[10];
  r.data = room;
  r.bufferSize = 10;
  EXPECT_EQ(r.Deserialize(block.data(), false), 0);
  EXPECT_EQ(room[3], 4.0);
}

TEST_F(DAXOIOEltSerializeTest, EveryRefusalIsReportedWithItsOwnMessage) {
  double values[4] = {};
  DAXOIOEltImplementation e;
  e.type = DAXOTypeInfo(DAXO::Float64);
  e.data = values;
  e.bufferSize = 4;
  e.vectorSize = 4;
  Bytes block = Flatten(e);
  Received r;

  EXPECT_EQ(r.Deserialize(nullptr, true), -1);
  EXPECT_TRUE(Reported("DAXOIOElt deserialization impossible : source pointer is NULL"));
  Put<int32_t>(block, 0, 103);
  EXPECT_EQ(r.Deserialize(block.data(), true), -1);
  EXPECT_TRUE(Reported("Wrong binary format version for DAXOIOElt, received = 103, current = 102"));
  Put<int32_t>(block, 0, 102);
  EXPECT_EQ(r.Deserialize(block.data(), false), -1);
  EXPECT_TRUE(
      Reported("DAXOIOElt deserialization impossible : destination is not allocated properly."));
  Put<int32_t>(block, 8, 5);
  EXPECT_EQ(r.Deserialize(block.data(), true), -1);
  EXPECT_TRUE(Reported(
      "DAXOIOElt deserialization impossible : deserialized vector size is bigger than allocated "
      "buffer size."));
  Put<int32_t>(block, 4, INT32_MAX);  // 16 GiB of doubles
  EXPECT_EQ(r.Deserialize(block.data(), true), -1);
  EXPECT_TRUE(Reported("DAXOIOelt deserialization impossible : not enough memory."));
  Put<int32_t>(block, 4, 4);
  Put<int32_t>(block, 8, -1);
  EXPECT_EQ(r.Deserialize(block.data(), true), -1);
  const std::string inconsistent =
      "DAXOIOElt deserialization impossible : inconsistent sizes in the serialized block.";
  EXPECT_TRUE(Reported(inconsistent));
  Put<int32_t>(block, 8, 4);
  Put<uint64_t>(block, 28, DAXO::CustomType);
  EXPECT_EQ(r.Deserialize(block.data(), true), -1);
  EXPECT_TRUE(Reported("DAXOIOElt deserialization not supported for custom types."));
  EXPECT_EQ(r.data, nullptr);

  // A text length that does not end on its terminator.
  e.type.SetUnit("abc");
  block = Flatten(e);
  block[43] = 'x';
  reports->Clear();
  EXPECT_EQ(r.Deserialize(block.data(), true), -1);
  EXPECT_TRUE(Reported(inconsistent));

  EXPECT_TRUE(DAXOIOElt::IsDeserializable(block.data()));
  EXPECT_TRUE(reports->Contains([](const ReportRecord& rec) {
    return rec.text == "DAXOIOElt::IsDeserializable not implemented yet. Returns always true." &&
           rec.level == DAXO::Error && !rec.engineFlag;
  }));

  Bytes out(512);
  e.type = DAXOTypeInfo(DAXO::CustomType);
  EXPECT_EQ(e.Serialize(out.data(), 512), -1);
  EXPECT_TRUE(Reported("DAXOIOElt serialization not supported for custom types."));
  e.type = DAXOTypeInfo(DAXO::DynamicStructure);
  EXPECT_EQ(e.Serialize(out.data(), 512), -1);
  EXPECT_TRUE(Reported("DAXOIOElt serialization impossible : unknown type for DAXOIOElt."));
  e.type = DAXOTypeInfo(DAXO::Float64);
  e.vectorSize = 5;
  EXPECT_EQ(e.Serialize(out.data(), 512), -1);
  EXPECT_TRUE(
      Reported("DAXOIOElt serialization impossible : inconsistent sizes in the I/O element."));
}

TEST_F(DAXOIOEltSerializeTest, StorageIsNeverWrittenBeyondWhatTheReaderHas) {
  // Doubles into storage that held ten bytes: the counts match, the bytes do not.
  double values[10] = {};
  DAXOIOEltImplementation e;
  e.type = DAXOTypeInfo(DAXO::Float64);
  e.data = values;
  e.bufferSize = e.vectorSize = 10;
  const Bytes doubles = Flatten(e);
  unsigned char small[11];
  std::memset(small, 0xAB, sizeof small);
  DAXOIOEltImplementation r;
  r.type = DAXOTypeInfo(DAXO::Integer8);
  r.data = small;
  r.bufferSize = 10;
  EXPECT_EQ(r.Deserialize(const_cast<unsigned char*>(doubles.data()), false), -1);
  EXPECT_EQ(small[0], 0xAB);
  EXPECT_EQ(r.type.value, DAXO::Integer8);

  // A matrix header announcing more cells than the buffer holds.
  alignas(8) unsigned char src[64 + 40 * 8] = {};
  *reinterpret_cast<DAXOMatrix*>(src) = {0,       2,    2, reinterpret_cast<double*>(src + 40),
                                         nullptr, false};
  e.type = DAXOTypeInfo(DAXO::Matrix);
  e.data = src;
  e.bufferSize = 4;
  e.vectorSize = 0;
  Bytes block = Flatten(e);
  Put<int32_t>(block, 68 + 8, 40);  // nbRows
  Received m;
  EXPECT_EQ(m.Deserialize(block.data(), true), -1);
  EXPECT_EQ(m.data, nullptr);
  // Cells the reader's storage could hold but the writer's buffer could not:
  // the block has no such bytes.
  Put<int32_t>(block, 68 + 8, 3);
  alignas(8) unsigned char big[40 + 16 * 100] = {};
  DAXOIOEltImplementation roomy;
  roomy.type = DAXOTypeInfo(DAXO::Matrix);
  roomy.data = big;
  roomy.bufferSize = 100;
  EXPECT_EQ(roomy.Deserialize(block.data(), false), -1);
  EXPECT_EQ(DAXOIOElt::SerializedIOEltSizeInBytes(nullptr), -1);
  EXPECT_EQ(DAXOIOElt::SerializedIOEltSizeInBytes(&e), 40 + 32);
}

}  // namespace
}  // namespace velquor::test
