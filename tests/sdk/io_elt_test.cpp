// I/O elements: the item-size table, payload sizes of vector and structured
// elements, and the accessor checks that the engine's check level turns on.
#include "daxo_io_elt.h"

#include <cstdint>
#include <cstring>

#include "sdk_test_support.h"

namespace velquor::test {
namespace {

using DAXOIOEltTest = PropertyTest;

TEST_F(DAXOIOEltTest, ItemSizesFollowTheTypeTable) {
  struct Row {
    DAXOTypeInfoValue type;
    int size;
    bool structured;
  };
  // clang-format off
  const Row rows[] = {
      {DAXO::Integer8, 1, false},          {DAXO::TextAscii, 1, false},
      {DAXO::Structure, 1, false},         {DAXO::Integer16, 2, false},
      {DAXO::TextUnicode, 2, false},       {DAXO::Stream16, 2, false},
      {DAXO::Integer32, 4, false},         {DAXO::Float32, 4, false},
      {DAXO::Stream32, 4, false},          {DAXO::Integer64, 8, false},
      {DAXO::UnsignedInteger64, 8, false}, {DAXO::Float64, 8, false},
      {DAXO::CANFrame, 24, false},         {DAXO::CANFDFrame, 80, false},
      {DAXO::CANUniFrame, 96, false},      {DAXO::DrawingObject, 96, false},
      {DAXO::RealObject, 320, false},      {DAXO::Matrix, 40, true},
      {DAXO::IplImage, 144, true},         {DAXO::DAXOImage, 48, true},
      {DAXO::AudioSignal, 24, true},       {DAXO::Triangles3D, 48, true},
      {DAXO::CustomType, -1, false},       {DAXO::DynamicStructure, 0, false},
      {DAXO::Integer32 | DAXO::VectorFlag, 4, false}};
  // clang-format on
  for (const Row& row : rows) {
    bool structured = !row.structured;
    EXPECT_EQ(DAXO::IOEltItemSize(DAXOTypeInfo(row.type), &structured), row.size) << row.type;
    EXPECT_EQ(structured, row.structured) << row.type;
  }
  EXPECT_EQ(DAXO::IOEltItemSize(DAXOTypeInfo(DAXO::Float64), nullptr), 8);
}

TEST_F(DAXOIOEltTest, VectorSizesCountItemsAndOtherKindsFollowTheirOwnRules) {
  alignas(8) unsigned char block[256] = {};
  DAXOIOEltImplementation e;
  e.type = DAXOTypeInfo(DAXO::Integer32);
  e.bufferSize = 10;
  e.vectorSize = 3;
  bool isArray = false;
  EXPECT_EQ(e.IOEltBufferSizeInBytes(&isArray), 0) << "no data: no payload";

  e.data = block;
  EXPECT_EQ(e.IOEltBufferSizeInBytes(&isArray), 40);
  EXPECT_TRUE(isArray);
  EXPECT_EQ(e.IOEltUsedSizeInBytes(nullptr), 12);

  e.type = DAXOTypeInfo(DAXO::Structure);
  EXPECT_EQ(e.IOEltBufferSizeInBytes(&isArray), 10);
  EXPECT_FALSE(isArray);
  EXPECT_EQ(e.IOEltUsedSizeInBytes(&isArray), 3);

  e.type = DAXOTypeInfo(DAXO::CustomType);
  isArray = true;
  EXPECT_EQ(e.IOEltBufferSizeInBytes(&isArray), -1);
  EXPECT_FALSE(isArray);

  e.type = DAXOTypeInfo(DAXO::DynamicStructure);  // in no row of the table
  isArray = true;
  EXPECT_EQ(e.IOEltBufferSizeInBytes(&isArray), 10);
  EXPECT_EQ(e.IOEltUsedSizeInBytes(&isArray), -1);
  EXPECT_TRUE(isArray) << "left alone for unknown types";
}

// With every part present, the payloads are those of the serialized blocks
// (serialize_test); here, parts that are absent count for nothing.
TEST_F(DAXOIOEltTest, StructuredSizesCountOnlyThePartsThatArePresent) {
  alignas(8) unsigned char block[512] = {};
  DAXOIOEltImplementation e;
  e.data = block;
  e.bufferSize = 100;
  const struct {
    DAXOTypeInfoValue type;
    int buffer;  // header and room for 100 items
    int used;    // header alone
  } cases[] = {
      {DAXO::Matrix, 16 * 100 + 40, 40},      {DAXO::IplImage, 100 + 164, 144},
      {DAXO::DAXOImage, 100 + 48, 48},        {DAXO::Triangles3D, 56 * 100 + 48, 48},
      {DAXO::AudioSignal, 100 + 24, 64 + 24},  // the stream counts by its size
  };
  for (const auto& c : cases) {
    // Counts without the parts they count: nothing but the audio stream.
    std::memset(block, 0, sizeof block);
    if (c.type == DAXO::Matrix) reinterpret_cast<DAXOMatrix*>(block)->nbRows = 2;
    if (c.type == DAXO::IplImage) reinterpret_cast<IplImage*>(block)->imageSize = 50;
    if (c.type == DAXO::DAXOImage) reinterpret_cast<DAXOImage*>(block)->imageSize = 30;
    if (c.type == DAXO::AudioSignal) {
      reinterpret_cast<DAXOAudioSignal*>(block)->streamSizeInBytes = 64;
    }
    e.type = DAXOTypeInfo(c.type);
    bool isArray = true;
    EXPECT_EQ(e.IOEltBufferSizeInBytes(&isArray), c.buffer) << c.type;
    EXPECT_FALSE(isArray);
    EXPECT_EQ(e.IOEltUsedSizeInBytes(nullptr), c.used) << c.type;
  }
}

TEST_F(DAXOIOEltTest, AccessorsCheckTypeAndIndexOnlyWhenTheEngineAsks) {
  const std::string badType = "Check error : Incorrect typing during I/O element access.";
  const std::string badIndex = "Check error : Bad vector index during I/O element access.";
  double values[4] = {0.5, 1.5, 2.5, 3.5};
  DAXOIOEltImplementation e;
  e.type = DAXOTypeInfo(DAXO::Float64);
  e.data = values;
  e.bufferSize = 4;

  // Check level 0: no checks, plain pointer arithmetic.
  engine.SetCheckLevel(0);
  EXPECT_EQ(*e.Float64(2), 2.5);
  EXPECT_EQ(e.Double(3), &values[3]);
  EXPECT_EQ(static_cast<void*>(e.Integer64(1)), static_cast<void*>(&values[1]));
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(e.Float64(9)),
            reinterpret_cast<std::uintptr_t>(values) + 9 * sizeof(double));
  EXPECT_FALSE(Reported(badType));

  engine.SetCheckLevel(1);
  EXPECT_EQ(*e.Float(1), 1.5);
  EXPECT_EQ(Thrown([&] { e.Integer32(0); }), DAXO::ErrorException) << "a typing error throws";
  EXPECT_TRUE(Reported(badType));
  for (int index : {-1, 4}) {
    EXPECT_THROW(e.Float64(index), int) << index;
  }
  EXPECT_TRUE(Reported(badIndex));
  EXPECT_THROW(e.Matrix(), int);
  EXPECT_THROW(e.TextAscii(), int);

  // The static checks do not depend on the check level.
  engine.SetCheckLevel(0);
  EXPECT_THROW(DAXOIOEltImplementation::Check(nullptr, DAXO::FilterFloat64), int);
  EXPECT_TRUE(Reported(
      "Check error : A NULL I/O Element was disregarded by a component (probably due a detachment "
      "not taken into account)."));
  EXPECT_THROW(DAXOIOEltImplementation::Check(&e, DAXO::FilterFloat64, 4), int);
  EXPECT_NO_THROW(DAXOIOEltImplementation::Check(&e, DAXO::FilterFloats64, 3));
}

}  // namespace
}  // namespace velquor::test
