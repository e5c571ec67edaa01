// The generic components helper: relative property names, compatibility
// checks, content copies (whole and meta information only), clearing, and
// output allocation shaped after a sample, on outputs of a real component.
#include <cstring>
#include <string>
#include <vector>

#include "daxo_component.h"
#include "daxo_generic_components_helper.h"
#include "daxo_io.h"
#include "sdk_test_support.h"

namespace velquor::test {
namespace {

using Helper = DAXOGenericComponentsHelper;

/// An element over a caller's buffer.
struct Elt : DAXOIOEltImplementation {
  Elt(DAXOTypeInfoValue value, void* payload, int buffer, int vector = 0,
      const char* typeName = nullptr) {
    type = DAXOTypeInfo(value, typeName);
    data = payload;
    bufferSize = buffer;
    vectorSize = vector;
  }
};

/// An IplImage record with its region of interest and pixels.
struct Image {
  explicit Image(int size, char fill, int roiX = 0) : pixels(size, fill) {
    std::memset(&header, 0, sizeof(header));
    header.width = 8;
    header.height = size / 8;
    header.imageSize = size;
    header.imageData = pixels.data();
    roi = IplROI{1, roiX, 2, 3, 4};
    header.roi = &roi;
  }
  IplImage header;
  IplROI roi;
  std::vector<char> pixels;
};

TEST(GenericComponentsHelper, PropertyNamesClimbOneLevelPerLeadingDots) {
  struct Case {
    const char* component;
    const char* property;
    const char* full;
    bool ok;
  };
  const Case cases[] = {
      {"group::sub::comp", "other.threshold", "group::sub::other.threshold", true},
      {"group::sub::comp", "..::other.threshold", "group::other.threshold", true},
      {"group::sub::comp", "..::..::other.threshold", "other.threshold", true},
      {"group::sub::comp", "..::..::..::other.threshold", "", false},
      {"comp", "..::x", "..::x", true},
      {"sub::comp", "x", "sub::x", true},
  };
  for (const Case& c : cases) {
    bool ok = !c.ok;
    DAXOStreamedString message("before:");
    const DAXOString full = Helper::GetPropertyFullName(c.component, c.property, ok, message);
    EXPECT_STREQ(full, c.full) << c.component << " / " << c.property;
    EXPECT_EQ(ok, c.ok) << c.property;
    EXPECT_STREQ(message, c.ok ? "before:"
                               : "before:The property name contains too many occurrences "
                                 "of '..::'");
  }
}

TEST(GenericComponentsHelper, CompatibilityMessagesNameTheFirstDifference) {
  char a[16] = {};
  char b[16] = {};
  DAXOStreamedString message;
  Elt ints(DAXO::Integer32, a, 4);
  Elt vector(DAXO::Integer32 | DAXO::VectorFlag, b, 4);
  EXPECT_TRUE(Helper::CheckIOEltsCompatibility(&ints, &vector, &message));
  EXPECT_FALSE(Helper::CheckIOEltsCompatibility(nullptr, &ints, &message));
  EXPECT_FALSE(Helper::CheckIOEltsCompatibility(&ints, nullptr, &message));
  Elt floats(DAXO::Float64, b, 4);
  EXPECT_FALSE(Helper::CheckIOEltsCompatibility(&ints, &floats, &message));
  Elt structA(DAXO::Structure, a, 16, 0, "A");
  Elt structB(DAXO::Structure, b, 16, 0, "B");
  EXPECT_FALSE(Helper::CheckIOEltsCompatibility(&structA, &structB, &message));
  Elt longer(DAXO::Integer32, b, 2);
  EXPECT_FALSE(Helper::CheckIOEltsCompatibility(&ints, &longer, &message));
  // Appended one after the other, without separators.
  EXPECT_STREQ(message,
               "out is NULLin is NULLType mismatch"
               "Structure type name mismatch between 'A' and 'B'"
               "Buffersize mismatch between 4 and 2");
  EXPECT_FALSE(Helper::CheckIOEltsCompatibility(&ints, &floats));  // no message wanted
}

TEST(GenericComponentsHelper, CopyingTextTakesMetaInformationAndEndsTheText) {
  char from[16] = "hello";
  char to[16];
  std::memset(to, 'x', sizeof(to));
  Elt in(DAXO::TextAscii | DAXO::VectorFlag, from, 16, 5, "txt");
  in.timestamp = 1234;
  in.frequency = 50;
  in.quality = 7;
  in.misc1 = 1;
  in.misc2 = 2;
  in.misc3 = 3;
  Elt out(DAXO::TextAscii, to, 16);
  out.type.SetUnit("old unit");

  ASSERT_EQ(Helper::CopyIOEltContent(&out, &in, false), 0);
  EXPECT_EQ(std::memcmp(to, "hello\0xxxx", 10), 0);
  EXPECT_EQ(out.timestamp, 1234);
  EXPECT_EQ(out.frequency, 50);
  EXPECT_EQ(out.quality, 7);
  EXPECT_EQ(out.misc1 + out.misc2 + out.misc3, 6);
  EXPECT_EQ(out.vectorSize, 5);
  EXPECT_EQ(out.type.value, in.type.value);
  ASSERT_NE(out.type.name, nullptr);
  EXPECT_STREQ(*out.type.name, "txt");
  EXPECT_EQ(out.type.unit, nullptr) << "in has no unit";

  // Meta information only: the bytes stay.
  char other[16] = "world";
  Elt second(DAXO::TextAscii, other, 16, 5);
  second.timestamp = 99;
  ASSERT_EQ(Helper::CopyIOEltContent(&out, &second, true), 0);
  EXPECT_EQ(out.timestamp, 99);
  EXPECT_EQ(std::memcmp(to, "hello", 5), 0);
}

TEST(GenericComponentsHelper, ACopyThatDoesNotFitOrHasNoKnownLayoutIsRefused) {
  char big[32] = "0123456789012345678901234567890";
  char small[16];
  std::memset(small, 'x', sizeof(small));
  Elt in(DAXO::TextAscii, big, 32, 20);
  in.timestamp = 5;
  Elt out(DAXO::TextAscii, small, 16);
  // Taking in's buffer size would make out claim 32 bytes it does not own.
  EXPECT_EQ(Helper::CopyIOEltContent(&out, &in, false), -1);
  EXPECT_EQ(Helper::CopyIOEltContent(&out, &in, true), -1);
  EXPECT_EQ(out.bufferSize, 16);
  EXPECT_EQ(out.timestamp, 0);
  EXPECT_EQ(small[0], 'x');

  char raw[8] = {};
  Elt structure(DAXO::Structure, raw, 8, 8);
  Elt target(DAXO::Structure, small, 16);
  EXPECT_EQ(Helper::CopyIOEltContent(&target, &structure, false), -1);
  EXPECT_EQ(Helper::CopyIOEltContent(nullptr, &structure, false), -1);
  EXPECT_EQ(Helper::ZeroIOEltContent(&structure), -1);
}

TEST(GenericComponentsHelper, ImagesKeepTheirBuffersAndTakeTheRegionOfInterestEvenMetaOnly) {
  Image source(64, 'a', 5);
  Image target(64, 'z');
  IplImage* targetHeader = &target.header;
  Elt in(DAXO::IplImage, &source.header, 64);
  in.timestamp = 77;
  Elt out(DAXO::IplImage, targetHeader, 64);

  ASSERT_EQ(Helper::CopyIOEltContent(&out, &in, true), 0);
  EXPECT_EQ(out.timestamp, 77);
  EXPECT_EQ(target.header.roi, &target.roi) << "out keeps its own buffers";
  EXPECT_EQ(target.header.imageData, target.pixels.data());
  EXPECT_EQ(target.roi.xOffset, 5);
  EXPECT_EQ(target.pixels[0], 'z') << "no pixel data with meta information only";

  ASSERT_EQ(Helper::CopyIOEltContent(&out, &in, false), 0);
  EXPECT_EQ(target.pixels, source.pixels);

  // A region of interest back to the whole image, pixels cleared.
  ASSERT_EQ(Helper::ZeroIOEltContent(&out), 0);
  EXPECT_EQ(target.roi.coi + target.roi.xOffset + target.roi.yOffset, 0);
  EXPECT_EQ(target.roi.width, 8);
  EXPECT_EQ(target.roi.height, 8);
  EXPECT_EQ(target.pixels, std::vector<char>(64, 0));
}

TEST(GenericComponentsHelper, MatricesCopyThePartsBothHave) {
  double inReal[6] = {1, 2, 3, 4, 5, 6};
  double inImaginary[6] = {-1, -2, -3, -4, -5, -6};
  double outReal[8] = {};
  DAXOMatrix inRecord{0, 2, 3, inReal, inImaginary, false};
  DAXOMatrix outRecord{0, 0, 0, outReal, nullptr, false};
  Elt in(DAXO::Matrix, &inRecord, 6);
  Elt out(DAXO::Matrix, &outRecord, 8);
  ASSERT_EQ(Helper::CopyIOEltContent(&out, &in, false), 0);
  EXPECT_EQ(outRecord.nbRows, 2);
  EXPECT_EQ(outRecord.nbColumns, 3);
  EXPECT_EQ(outRecord.real, outReal);
  EXPECT_EQ(outRecord.imaginary, nullptr);
  EXPECT_EQ(outReal[5], 6);
  EXPECT_EQ(outReal[6], 0);

  // A record claiming more cells than its buffer holds is not read.
  inRecord.nbRows = 4;
  outRecord.nbRows = 0;
  EXPECT_EQ(Helper::CopyIOEltContent(&out, &in, false), -1);
  EXPECT_EQ(outRecord.nbRows, 0);
}

TEST(GenericComponentsHelper, ClearingTrianglesKeepsTheArrays) {
  DAXOObject3D objects[2] = {{1, 1, 1, 1}, {2, 2, 2, 2}};
  DAXOPoint3D points[2] = {{1, 1, 1, 1, 1, 1}, {2, 2, 2, 2, 2, 2}};
  DAXOTriangle3D triangles[2] = {{1, 1, 1, 1}, {2, 2, 2, 2}};
  DAXOTriangles3D record{2, objects, 2, points, 2, triangles};
  Elt mesh(DAXO::Triangles3D, &record, 2, 1);
  ASSERT_EQ(Helper::ZeroIOEltContent(&mesh), 0);
  EXPECT_EQ(record.nbObjects + record.nbPoints + record.nbTriangles, 0);
  EXPECT_EQ(record.points, points);
  EXPECT_EQ(objects[0].id, 0);
  EXPECT_EQ(points[0].landmark, 0);
  EXPECT_EQ(triangles[0].p1, 0);
  EXPECT_EQ(triangles[1].p1, 2) << "only VectorSize entries";
}

// --- with the engine ----------------------------------------------------------------

class Holder : public DAXOComponent {
 public:
  Holder(const char* name, DAXOComponentDefinition& d) : DAXOComponent(name, d) {}
  void Core() override { CommitSuicide(); }
};

DAXOOutputDefinition g_anyOutputs[] = {
    {"o0", 0, DAXOTypeInfo(DAXO::AnyType), 0, 4, 1, 0},
    {"o1", 0, DAXOTypeInfo(DAXO::AnyType), 0, 4, 1, 0},
    {"o2", 0, DAXOTypeInfo(DAXO::AnyType), 0, 4, 1, 0},
    {"o3", 0, DAXOTypeInfo(DAXO::AnyType), 0, 4, 1, 0},
    {"o4", 0, DAXOTypeInfo(DAXO::AnyType), 0, 4, 1, 0},
    {},
};
DAXOPropertyDefinition g_threshold{"threshold", new DAXOPropertyValue(3L)};

class GenericComponentsHelperInEngine : public PropertyTest {
 protected:
  GenericComponentsHelperInEngine()
      : model(Model<Holder>("Holder", true, nullptr, g_anyOutputs, DAXO::Threaded)) {
    EXPECT_TRUE(engine.AddModel(model));
    holder = Make<Holder>("Holder", "h");
  }
  DAXOComponentDefinition model;
  DAXOComponent* holder = nullptr;
};

TEST_F(GenericComponentsHelperInEngine, OutputsTakeTheTypeAndShapeOfTheModelSample) {
  double values[8] = {};
  Elt vector(DAXO::Float64 | DAXO::VectorFlag, values, 8, 8, "speed");
  vector.type.SetUnit("m/s");
  DAXOOutput& o0 = holder->Output(0);
  EXPECT_EQ(Helper::AllocOutputBuffer(&o0, &vector), 8);
  EXPECT_EQ(o0.Type().value, DAXO::Float64 | DAXO::VectorFlag);
  EXPECT_STREQ(o0.TypeName(), "speed");
  EXPECT_STREQ(o0.TypeUnit(), "m/s");
  EXPECT_EQ(o0.IOEltSizeBytes(), 64);

  Image image(1000, 0);
  Elt ipl(DAXO::IplImage, &image.header, 1000);
  EXPECT_EQ(Helper::AllocOutputBuffer(&holder->Output(1), &ipl), 1000);
  EXPECT_EQ(holder->Output(1).IOEltSizeBytes(), 164 + 1000);

  double cells[12] = {};
  DAXOMatrix matrixRecord{0, 3, 4, cells, nullptr, false};
  Elt matrix(DAXO::Matrix, &matrixRecord, 12);
  EXPECT_EQ(Helper::AllocOutputBuffer(&holder->Output(2), &matrix), 12);
  EXPECT_EQ(holder->Output(2).IOEltSizeBytes(), 3 * 4 * 16 + 40);

  char sound[100] = {};
  DAXOAudioSignal audioRecord{1, 2, 16, 44100, 100, sound};
  Elt audio(DAXO::AudioSignal, &audioRecord, 100);
  EXPECT_EQ(Helper::AllocOutputBuffer(&holder->Output(3), &audio), 100);
  EXPECT_EQ(holder->Output(3).IOEltSizeBytes(), 124);

  char pixels[300] = {};
  DAXOImage imageRecord{10, 10, 300, 300, nullptr, nullptr, pixels, {'R', 'G', 'B', ' '}, {}};
  Elt daxoImage(DAXO::DAXOImage, &imageRecord, 300);
  EXPECT_EQ(Helper::AllocOutputBuffer(&holder->Output(4), &daxoImage), 300);
  EXPECT_EQ(holder->Output(4).IOEltSizeBytes(), 348);
  EXPECT_FALSE(ErrorReported());

  // Missing arguments, and a structured model without its record.
  EXPECT_EQ(Helper::AllocOutputBuffer(nullptr, &vector), 0);
  EXPECT_EQ(Helper::AllocOutputBuffer(&o0, nullptr), 0);
  Elt hollow(DAXO::Matrix, nullptr, 12);
  EXPECT_EQ(Helper::AllocOutputBuffer(&o0, &hollow), 0);
  EXPECT_EQ(o0.Type().value, DAXO::Float64 | DAXO::VectorFlag) << "left alone";

  Helper::ResetOutputType(&o0);
  EXPECT_EQ(o0.Type().value, DAXO::AnyType);
  EXPECT_STREQ(o0.TypeName(), "");
}

TEST_F(GenericComponentsHelperInEngine, PropertiesAreFoundFromTheComponentsLevel) {
  TestModule other("group::sub::other");
  DAXOProperty* threshold = other.NewProperty(g_threshold);
  DAXOStreamedString message;
  EXPECT_EQ(Helper::GetPropertyFromShortName("group::sub::comp", "other.threshold", message),
            threshold);
  EXPECT_EQ(
      Helper::GetPropertyFromShortName("group::sub::deeper::comp", "..::other.threshold", message),
      threshold);
  EXPECT_EQ(Helper::GetPropertyFromShortName("group::comp", "other.threshold", message), nullptr);
  EXPECT_STREQ(message, "");
  EXPECT_EQ(Helper::GetPropertyFromShortName("a::b", "..::..::other.threshold", message), nullptr);
  EXPECT_STREQ(message, "The property name contains too many occurrences of '..::'");
}

}  // namespace
}  // namespace velquor::test
