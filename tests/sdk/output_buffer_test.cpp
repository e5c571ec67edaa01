// Output buffers: one shared block per output carved into equal slot areas,
// the sizes per type, the structured headers set up inside each area, and
// the refusals (twice, negative, too big) with their messages.
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include "daxo_io.h"
#include "sdk_test_support.h"

namespace velquor::test {
namespace {

class OutputBuffer : public PropertyTest {
 protected:
  /// A fresh output of module "m" named `name`, `fifoSize` slots, no buffer.
  DAXOOutputImplementation& Make(DAXOTypeInfoValue type, int fifoSize = 4,
                                 const char* name = "out") {
    DAXOOutputDefinition definition;
    definition.name = name;
    definition.type = DAXOTypeInfo(type);
    definition.size = 0;
    definition.fifoSize = fifoSize;
    definition.subsampling = 1;
    auto& out = static_cast<DAXOOutputImplementation&>(module.NewOutput(definition));
    EXPECT_EQ(out.block, nullptr);
    return out;
  }

  /// The slots' elements in list order from the head.
  static std::vector<DAXOIOEltImplementation*> Slots(DAXOOutputImplementation& out) {
    std::vector<DAXOIOEltImplementation*> slots;
    DAXOIOMonitor& monitor = *out.Monitor();
    for (DAXOFastIOHandle slot = monitor.InitBegin(); slot.ptr != nullptr;
         slot = monitor.InitNext(slot)) {
      slots.push_back(static_cast<DAXOIOEltImplementation*>(monitor[slot]));
    }
    return slots;
  }

  static char* Area(DAXOIOEltImplementation* e) { return static_cast<char*>(e->data); }

  /// A copy of the header at the start of the slot's area (areas follow
  /// each other every eltSizeBytes and need not be aligned for it).
  template <class Header>
  static Header HeaderOf(DAXOIOEltImplementation* e) {
    Header header;
    std::memcpy(&header, e->data, sizeof(Header));
    return header;
  }

  static bool AllZero(const void* memory, size_t bytes) {
    const auto* p = static_cast<const unsigned char*>(memory);
    for (size_t i = 0; i < bytes; ++i) {
      if (p[i] != 0) return false;
    }
    return true;
  }

  /// Runs `call`, expects DAXO::ErrorException and an error report reading
  /// `operation` ":" <source line> ": " `rest`.
  template <class F>
  void ExpectRaised(F call, const std::string& operation, const std::string& rest) {
    ExpectError(call, operation + ":*: " + rest);
  }

  static constexpr const char* kTwice =
      "Output buffer already initialized. Can't initialize an output buffer twice.";

  TestModule module{"m"};
};

TEST_F(OutputBuffer, AnEmptyAllocationLeavesRoomForALaterOneAndASecondOneIsRefused) {
  DAXOOutputImplementation& out = Make(DAXO::Integer32 | DAXO::VectorFlag);
  out.AllocOutputBuffer(0);
  EXPECT_EQ(out.itemCount, 0);
  EXPECT_EQ(out.block, nullptr);
  for (DAXOIOEltImplementation* e : Slots(out)) EXPECT_EQ(e->data, nullptr);

  out.AllocOutputBuffer(3);
  EXPECT_EQ(out.itemCount, 3);
  EXPECT_EQ(out.IOEltSizeBytes(), 12);
  void* const block = out.block;
  ASSERT_NE(block, nullptr);
  ExpectError([&] { out.AllocOutputBuffer(3); }, kTwice);
  ExpectError([&] { out.AllocOutputBufferMatrix(2, 2); }, kTwice);
  EXPECT_EQ(out.block, block) << "the refused allocation keeps the buffer";

  // Freed, the output accepts a new allocation; no slot keeps a stale pointer.
  reports->Clear();
  out.FreeBuffer();
  EXPECT_EQ(out.block, nullptr);
  EXPECT_EQ(out.itemCount, 0);
  for (DAXOIOEltImplementation* e : Slots(out)) EXPECT_EQ(e->data, nullptr);
  out.AllocOutputBuffer(5);
  EXPECT_EQ(out.IOEltSizeBytes(), 20);
  EXPECT_EQ(Slots(out).front()->BufferSize(), 5);

  // Images and sound need at least 2 bytes: less allocates nothing.
  DAXOOutputImplementation& image = Make(DAXO::DAXOImage, 4, "image");
  image.AllocOutputBuffer(1);
  EXPECT_EQ(image.block, nullptr);
  image.AllocOutputBuffer(64);
  EXPECT_NE(image.block, nullptr);
  EXPECT_FALSE(ErrorReported());
}

TEST_F(OutputBuffer, SlotsShareOneBlockInListOrderAndStartClean) {
  DAXOOutputImplementation& out = Make(DAXO::Float64 | DAXO::VectorFlag);
  // Leftovers of an earlier life must not survive a new allocation.
  for (DAXOIOEltImplementation* e : Slots(out)) {
    e->frequency = 7;
    e->quality = 8;
    e->misc1 = e->misc2 = e->misc3 = 9;
  }
  out.AllocOutputBuffer(3);
  ASSERT_EQ(out.IOEltSizeBytes(), 24);
  const std::vector<DAXOIOEltImplementation*> slots = Slots(out);
  ASSERT_EQ(slots.size(), 4u);
  for (size_t k = 0; k < slots.size(); ++k) {
    DAXOIOEltImplementation* e = slots[k];
    EXPECT_EQ(e->data, static_cast<char*>(out.block) + k * 24) << "slot " << k;
    EXPECT_EQ(e->bufferSize, 3);
    EXPECT_EQ(e->vectorSize, 3);
    EXPECT_EQ(e->type.value, DAXO::Float64 | DAXO::VectorFlag);
    EXPECT_EQ(e->frequency, 0);
    EXPECT_EQ(e->quality, 0);
    EXPECT_EQ(e->misc1 + e->misc2 + e->misc3, 0);
    EXPECT_TRUE(AllZero(e->data, 24));
    // The whole area is the slot's own (the sanitizers watch the bounds).
    for (int i = 0; i < 3; ++i) *e->Float64(i) = static_cast<double>(k);
  }
  EXPECT_EQ(*slots[0]->Float64(2), 0.0);
  EXPECT_EQ(*slots[1]->Float64(0), 1.0);

  // Without allocation the slots are sized but the component brings memory.
  DAXOOutputImplementation& lent = Make(DAXO::Integer64 | DAXO::VectorFlag, 3, "lent");
  lent.AllocOutputBuffer(10, false);
  EXPECT_EQ(lent.block, nullptr);
  for (DAXOIOEltImplementation* e : Slots(lent)) {
    EXPECT_EQ(e->data, nullptr);
    EXPECT_EQ(e->bufferSize, 10);
  }
  ExpectError([&] { lent.AllocOutputBuffer(10); }, kTwice);
}

// Samples published before the buffer was released went with it: a reader
// connected afterwards (the next run's) must not take one whose data is
// gone, and a new allocation starts from empty slots.
TEST_F(OutputBuffer, ReleasingTheBufferDiscardsThePublishedSamples) {
  DAXOOutputImplementation& out = Make(DAXO::Float64 | DAXO::VectorFlag, 4);
  out.AllocOutputBuffer(2, true);
  DAXOIOMonitorImplementation& fifo = *out.Fifo();
  for (int k = 0; k < 3; ++k) fifo.StopWriting(fifo.StartWriting(), false);
  const int early = fifo.RegisterReader(DAXO::NeverSkippingReader, 1);
  ASSERT_EQ(fifo.NbDataAvailable(early), 3);
  out.FreeBuffer();
  const int late = fifo.RegisterReader(DAXO::FifoReader, 1);
  EXPECT_FALSE(fifo.DataAvailable(early));
  EXPECT_FALSE(fifo.DataAvailable(late));
  EXPECT_TRUE(fifo.IsEmpty());
  out.AllocOutputBuffer(2, true);
  EXPECT_EQ(fifo.NbFreeSlots(), 4);
}

TEST_F(OutputBuffer, AVectorWithoutItsVectorFlagIsReportedAndAllocatedAllTheSame) {
  DAXOOutputImplementation& out = Make(DAXO::Integer32);
  reports->Clear();
  out.AllocOutputBuffer(8);
  EXPECT_TRUE(reports->Contains([](const ReportRecord& r) {
    return r.text == "Output m.out is a vector but its vector flag is not set." &&
           r.level == DAXO::Error && r.engineFlag;
  }));
  EXPECT_EQ(out.IOEltSizeBytes(), 32);
  EXPECT_EQ(Slots(out)[1]->data, static_cast<char*>(out.block) + 32);

  // One item, text and structured types are no vectors to flag.
  reports->Clear();
  Make(DAXO::Integer32, 4, "one").AllocOutputBuffer(1);
  Make(DAXO::TextAscii, 4, "text").AllocOutputBuffer(8);
  Make(DAXO::Matrix, 4, "matrix").AllocOutputBuffer(8);
  EXPECT_FALSE(ErrorReported());
}

TEST_F(OutputBuffer, SizesOutsideTheRangeAreRefusedWithoutAllocating) {
  DAXOOutputImplementation& out = Make(DAXO::Integer32 | DAXO::VectorFlag, 4);
  ExpectRaised([&] { out.AllocOutputBuffer(-1); }, "AllocOutputBuffer", "n [-1] < 0");
  ExpectRaised([&] { out.AllocOutputBufferMatrix(-2, 3); }, "AllocOutputBufferMatrix",
               "n [-2] < 0");
  ExpectRaised([&] { out.AllocOutputBufferMatrix(2, -3); }, "AllocOutputBufferMatrix",
               "m [-3] < 0");
  ExpectRaised([&] { out.AllocOutputBufferImage(-5, 1, 1, 0, 0); }, "AllocOutputBufferImage",
               "isize [-5] < 0");
  ExpectRaised([&] { out.AllocOutputBufferImage(5, 1, -1, 0, 0); }, "AllocOutputBufferImage",
               "h [-1] < 0");
  EXPECT_EQ(out.itemCount, 0);
  EXPECT_EQ(out.block, nullptr);

  // Element size x FIFO size beyond 64 bits.
  const size_t huge = std::numeric_limits<size_t>::max() / 2;
  ExpectRaised([&] { out.AllocateSharedMemory(huge); }, "AllocateSharedMemory",
               "Requested buffer size [9223372036854775807] is too big given the current FIFO "
               "size [4] of output [m.out] Please reduce the requested output buffer size "
               "and/or the output FIFO size such that (buffer_size * fifo_size) <= "
               "18446744073709551615 (i.e. std::numeric_limits<size_t>::max)");
  EXPECT_EQ(out.block, nullptr);

  // One element larger than its int size would be carved from a wrapped
  // size: refused, and the output stays free for a sound allocation.
  DAXOOutputImplementation& wide = Make(DAXO::Integer64 | DAXO::VectorFlag, 4, "wide");
  ExpectRaised([&] { wide.AllocOutputBuffer(1 << 29); }, "AllocOutputBuffer",
               "Requested element size [4294967296] is too big (at most 2147483647 bytes per "
               "element)");
  ExpectRaised([&] { wide.AllocOutputBufferMatrix(1 << 16, 1 << 16); }, "AllocOutputBufferMatrix",
               "Requested element size [68719476776] is too big (at most 2147483647 bytes per "
               "element)");
  EXPECT_EQ(wide.block, nullptr);
  wide.AllocOutputBuffer(2);
  EXPECT_EQ(wide.IOEltSizeBytes(), 16);
}

TEST_F(OutputBuffer, StructuredTypesPointIntoTheirOwnSlotArea) {
  using std::tuple;
  DAXOOutputImplementation& matrix = Make(DAXO::Matrix, 4, "matrix");
  matrix.AllocOutputBuffer(6);
  EXPECT_EQ(matrix.itemCount, -1);
  ASSERT_EQ(matrix.IOEltSizeBytes(), 6 * 16 + 40);
  for (DAXOIOEltImplementation* e : Slots(matrix)) {
    const auto m = HeaderOf<DAXOMatrix>(e);
    EXPECT_EQ(tuple(m.nbRows, m.nbColumns, m.flag, reinterpret_cast<char*>(m.real), m.imaginary),
              tuple(0, 0, false, Area(e) + 40, m.real + 6));
    EXPECT_TRUE(AllZero(m.real, 12 * sizeof(double)));
  }

  DAXOOutputImplementation& ipl = Make(DAXO::IplImage, 4, "ipl");
  ipl.AllocOutputBuffer(100);
  ASSERT_EQ(ipl.IOEltSizeBytes(), 264);
  for (DAXOIOEltImplementation* e : Slots(ipl)) {
    const auto image = HeaderOf<IplImage>(e);
    EXPECT_EQ(tuple(std::string(image.colorModel, 4), std::string(image.channelSeq, 4),
                    reinterpret_cast<char*>(image.roi), image.imageData, image.width),
              tuple("????", "????", Area(e) + 144, Area(e) + 164, 0));
    EXPECT_TRUE(AllZero(image.roi, sizeof(IplROI)));
  }

  DAXOOutputImplementation& picture = Make(DAXO::DAXOImage, 4, "picture");
  picture.AllocOutputBuffer(100);
  ASSERT_EQ(picture.IOEltSizeBytes(), 148);
  for (DAXOIOEltImplementation* e : Slots(picture)) {
    const auto image = HeaderOf<DAXOImage>(e);
    EXPECT_EQ(tuple(image.bufferSize, image.imageSize, image.imageId,
                    std::string(image.imageCoding, 4), image.imageData),
              tuple(100, 0, nullptr, "????", Area(e) + 48));
  }

  DAXOOutputImplementation& sound = Make(DAXO::AudioSignal, 4, "sound");
  sound.AllocOutputBuffer(100);
  ASSERT_EQ(sound.IOEltSizeBytes(), 124);
  for (DAXOIOEltImplementation* e : Slots(sound)) {
    const auto signal = HeaderOf<DAXOAudioSignal>(e);
    EXPECT_EQ(
        tuple(signal.streamSizeInBytes, signal.channels, static_cast<char*>(signal.streamData)),
        tuple(100u, 0, Area(e) + 24));
  }

  DAXOOutputImplementation& mesh = Make(DAXO::Triangles3D, 4, "mesh");
  mesh.AllocOutputBuffer(4);
  ASSERT_EQ(mesh.IOEltSizeBytes(), 4 * 56 + 48);
  for (DAXOIOEltImplementation* e : Slots(mesh)) {
    const auto t = HeaderOf<DAXOTriangles3D>(e);
    EXPECT_EQ(tuple(t.nbObjects + t.nbPoints + t.nbTriangles, reinterpret_cast<char*>(t.points),
                    reinterpret_cast<char*>(t.triangles), reinterpret_cast<char*>(t.objects)),
              tuple(0, Area(e) + 48, Area(e) + 48 + 4 * 24, Area(e) + 48 + 4 * 24 + 4 * 16));
  }
  EXPECT_FALSE(ErrorReported());
}

TEST_F(OutputBuffer, TheImageMatrixAndSoundVariantsSetEachSlotUpFromTheirArguments) {
  using std::tuple;
  DAXOOutputImplementation& matrix = Make(DAXO::Matrix, 3, "matrix");
  matrix.AllocOutputBufferMatrix(2, 3);
  ASSERT_EQ(matrix.IOEltSizeBytes(), 6 * 16 + 40);
  for (DAXOIOEltImplementation* e : Slots(matrix)) {
    const auto m = HeaderOf<DAXOMatrix>(e);
    EXPECT_EQ(
        tuple(m.nbRows, m.nbColumns, reinterpret_cast<char*>(m.real), m.imaginary, e->bufferSize),
        tuple(2, 3, Area(e) + 40, m.real + 6, 6));
  }

  DAXOUInt32 coding = 0;
  DAXOUInt32 kind = 0;
  std::memcpy(&coding, "RGB3", 4);
  std::memcpy(&kind, "RAW ", 4);
  DAXOOutputImplementation& full = Make(DAXO::DAXOImage, 3, "full");
  full.AllocOutputBufferImage(1000, 20, 50, coding, kind);
  DAXOOutputImplementation& headers = Make(DAXO::DAXOImage, 3, "headers");
  headers.AllocOutputBufferImage(1000, 20, 50, coding, kind, true);
  EXPECT_EQ(full.IOEltSizeBytes(), 1048);
  EXPECT_EQ(headers.IOEltSizeBytes(), 1048) << "the size of a full element, data or not";
  for (DAXOOutputImplementation* out : {&full, &headers}) {
    const bool headerOnly = out == &headers;
    const std::vector<DAXOIOEltImplementation*> slots = Slots(*out);
    for (size_t k = 0; k < slots.size(); ++k) {
      const auto image = HeaderOf<DAXOImage>(slots[k]);
      EXPECT_EQ(Area(slots[k]), static_cast<char*>(out->block) + k * (headerOnly ? 48 : 1048));
      EXPECT_EQ(tuple(image.width, image.height, image.imageSize, image.bufferSize,
                      std::string(image.imageCoding, 4), std::string(image.imageType, 4)),
                tuple(20, 50, 1000, 1000, "RGB3", "RAW "));
      EXPECT_EQ(tuple(reinterpret_cast<std::uintptr_t>(image.imageId),
                      reinterpret_cast<std::uintptr_t>(image.imageId2), image.imageData),
                tuple(k, 0xDEADu, headerOnly ? nullptr : Area(slots[k]) + 48));
    }
  }

  IplImage model{};
  model.nChannels = 3;
  model.align = 8;
  model.width = 10;
  model.height = 20;
  model.imageSize = 200;
  DAXOOutputImplementation& ipl = Make(DAXO::IplImage, 3, "ipl");
  ipl.AllocOutputBufferIplImage(model);
  ASSERT_EQ(ipl.IOEltSizeBytes(), 164 + 8 + 200);
  for (DAXOIOEltImplementation* e : Slots(ipl)) {
    const auto image = HeaderOf<IplImage>(e);
    IplROI roi;
    std::memcpy(&roi, image.roi, sizeof roi);
    EXPECT_EQ(tuple(image.nChannels, reinterpret_cast<char*>(image.roi), image.imageDataOrigin,
                    e->bufferSize),
              tuple(3, Area(e) + 144, Area(e) + 164, 200));
    EXPECT_EQ(tuple(roi.coi + roi.xOffset + roi.yOffset, roi.width, roi.height), tuple(0, 10, 20));
    // The data starts at the first 8-byte boundary after its origin.
    const std::ptrdiff_t step = image.imageData - image.imageDataOrigin;
    EXPECT_TRUE(step >= 1 && step <= 8) << step;
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(image.imageData) % 8, 0u);
  }

  DAXOAudioSignal signal{};
  signal.channels = 2;
  signal.bitsPerSample = 16;
  signal.samplesPerSecond = 44100;
  signal.streamSizeInBytes = 400;
  DAXOOutputImplementation& sound = Make(DAXO::AudioSignal, 3, "sound");
  sound.AllocOutputBufferAudioSignal(signal);
  ASSERT_EQ(sound.IOEltSizeBytes(), 424);
  for (DAXOIOEltImplementation* e : Slots(sound)) {
    const auto copy = HeaderOf<DAXOAudioSignal>(e);
    EXPECT_EQ(tuple(copy.samplesPerSecond, copy.channels, copy.streamSizeInBytes,
                    static_cast<char*>(copy.streamData), e->bufferSize),
              tuple(44100u, 2, 400u, Area(e) + 24, 400));
  }
  EXPECT_FALSE(ErrorReported());
}

}  // namespace
}  // namespace velquor::test
