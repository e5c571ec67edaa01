// I/O elements: the item-size table, payload sizes of vector and structured
// elements, and the accessor checks that the engine's check level turns on.
#include "daxo_io_elt.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "engine_test_support.h"

namespace velquor::test {
namespace {

using DAXOIOEltTest = EngineTest;

TEST_F(DAXOIOEltTest, ItemSizesFollowTheTypeTable) {
  struct Row {
    DAXOTypeInfoValue type;
    int size;
    bool structured;
  };
  const Row rows[] = {
      {DAXO::Integer8, 1, false},
      {DAXO::TextAscii, 1, false},
      {DAXO::Structure, 1, false},
      {DAXO::Integer16, 2, false},
      {DAXO::TextUnicode, 2, false},
      {DAXO::Stream16, 2, false},
      {DAXO::Integer32, 4, false},
      {DAXO::Float32, 4, false},
      {DAXO::Stream32, 4, false},
      {DAXO::Integer64, 8, false},
      {DAXO::UnsignedInteger64, 8, false},
      {DAXO::Float64, 8, false},
      {DAXO::CANFrame, 24, false},
      {DAXO::CANFDFrame, 80, false},
      {DAXO::CANUniFrame, 96, false},
      {DAXO::DrawingObject, 96, false},
      {DAXO::RealObject, 320, false},
      {DAXO::Matrix, 40, true},
      {DAXO::IplImage, 144, true},
      {DAXO::DAXOImage, 48, true},
      {DAXO::AudioSignal, 24, true},
      {DAXO::Triangles3D, 48, true},
      {DAXO::CustomType, -1, false},
      {DAXO::DynamicStructure, 0, false},
      {DAXO::Integer32 | DAXO::VectorFlag, 4, false},
  };
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

TEST_F(DAXOIOEltTest, StructuredSizesCountOnlyThePartsThatArePresent) {
  alignas(8) unsigned char block[512] = {};
  DAXOIOEltImplementation e;
  e.data = block;
  e.bufferSize = 100;
  e.vectorSize = 2;
  bool isArray = true;

  e.type = DAXOTypeInfo(DAXO::Matrix);
  auto* m = static_cast<DAXOMatrix*>(e.data);
  m->nbRows = 2;
  m->nbColumns = 3;
  EXPECT_EQ(e.IOEltBufferSizeInBytes(&isArray), 16 * 100 + 40);
  EXPECT_FALSE(isArray);
  EXPECT_EQ(e.IOEltUsedSizeInBytes(nullptr), 40);
  m->real = reinterpret_cast<double*>(block + 40);
  EXPECT_EQ(e.IOEltUsedSizeInBytes(nullptr), 40 + 48);
  m->imaginary = reinterpret_cast<double*>(block + 88);
  EXPECT_EQ(e.IOEltUsedSizeInBytes(nullptr), 40 + 96);

  std::memset(block, 0, sizeof block);
  e.type = DAXOTypeInfo(DAXO::IplImage);
  auto* ipl = static_cast<IplImage*>(e.data);
  ipl->imageSize = 50;
  EXPECT_EQ(e.IOEltBufferSizeInBytes(nullptr), 100 + 164);
  EXPECT_EQ(e.IOEltUsedSizeInBytes(nullptr), 144);
  ipl->roi = reinterpret_cast<IplROI*>(block + 144);
  ipl->imageData = reinterpret_cast<char*>(block + 164);
  EXPECT_EQ(e.IOEltUsedSizeInBytes(nullptr), 144 + 20 + 50);

  std::memset(block, 0, sizeof block);
  e.type = DAXOTypeInfo(DAXO::DAXOImage);
  auto* image = static_cast<DAXOImage*>(e.data);
  image->imageSize = 30;
  EXPECT_EQ(e.IOEltBufferSizeInBytes(nullptr), 100 + 48);
  EXPECT_EQ(e.IOEltUsedSizeInBytes(nullptr), 48);
  image->imageData = reinterpret_cast<char*>(block + 48);
  EXPECT_EQ(e.IOEltUsedSizeInBytes(nullptr), 48 + 30);

  e.type = DAXOTypeInfo(DAXO::AudioSignal);
  static_cast<DAXOAudioSignal*>(e.data)->streamSizeInBytes = 64;
  EXPECT_EQ(e.IOEltBufferSizeInBytes(nullptr), 100 + 24);
  EXPECT_EQ(e.IOEltUsedSizeInBytes(nullptr), 64 + 24);

  std::memset(block, 0, sizeof block);
  e.type = DAXOTypeInfo(DAXO::Triangles3D);
  auto* mesh = static_cast<DAXOTriangles3D*>(e.data);
  EXPECT_EQ(e.IOEltBufferSizeInBytes(nullptr), 56 * 100 + 48);
  EXPECT_EQ(e.IOEltUsedSizeInBytes(nullptr), 48);
  mesh->points = reinterpret_cast<DAXOPoint3D*>(block + 48);
  mesh->triangles = reinterpret_cast<DAXOTriangle3D*>(block + 96);
  EXPECT_EQ(e.IOEltUsedSizeInBytes(nullptr), 48 + 2 * 24 + 2 * 16);
  mesh->objects = reinterpret_cast<DAXOObject3D*>(block + 128);
  EXPECT_EQ(e.IOEltUsedSizeInBytes(nullptr), 48 + 2 * 24 + 2 * 16 + 2 * 16);
}

TEST_F(DAXOIOEltTest, AccessorsCheckTypeAndIndexOnlyWhenTheEngineAsks) {
  const std::string badType = "Check error : Incorrect typing during I/O element access.";
  const std::string badIndex = "Check error : Bad vector index during I/O element access.";
  auto reported = [&](const std::string& text) {
    return reports->Contains(
        [&](const ReportRecord& r) { return r.text == text && r.level == DAXO::Error; });
  };
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
  EXPECT_FALSE(reported(badType));

  engine.SetCheckLevel(1);
  EXPECT_EQ(*e.Float(1), 1.5);
  try {
    e.Integer32(0);
    ADD_FAILURE() << "a typing error must throw";
  } catch (int code) {
    EXPECT_EQ(code, DAXO::ErrorException);
  }
  EXPECT_TRUE(reported(badType));
  for (int index : {-1, 4}) {
    EXPECT_THROW(e.Float64(index), int) << index;
  }
  EXPECT_TRUE(reported(badIndex));
  EXPECT_THROW(e.Matrix(), int);
  EXPECT_THROW(e.TextAscii(), int);

  // The static checks do not depend on the check level.
  engine.SetCheckLevel(0);
  EXPECT_THROW(DAXOIOEltImplementation::Check(nullptr, DAXO::FilterFloat64), int);
  EXPECT_TRUE(reported(
      "Check error : A NULL I/O Element was disregarded by a component (probably due a detachment "
      "not taken into account)."));
  EXPECT_THROW(DAXOIOEltImplementation::Check(&e, DAXO::FilterFloat64, 4), int);
  EXPECT_NO_THROW(DAXOIOEltImplementation::Check(&e, DAXO::FilterFloats64, 3));
}

}  // namespace
}  // namespace velquor::test
