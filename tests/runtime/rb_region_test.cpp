// DAXORBRegion: every operation's rules in one table (including the ring
// wrap, the true modulo of "offset minus n" and pushes longer than the
// ring), refusals of regions that are not clean and of bad arguments (no
// division by zero, nothing changed), the readers, and Push/Pop/Popback
// against a plain ring model over random sequences.
#include <climits>
#include <deque>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "daxo_rb_region.h"
#include "runtime_test_support.h"

namespace {

using daxo_test::Str;

constexpr int kE = DAXOConstRBRegionEmpty;
constexpr int kF = 1;
constexpr int kOv = DAXOConstRBRegionOverflowOp;
constexpr int kOvF = DAXOConstRBRegionOverflowOp | 1;
constexpr int kBad = DAXOConstRBRegionInvalidOp;
constexpr int kUninit = DAXOConstRBRegionUninitialized;
constexpr int kInvalid = DAXOConstRBRegionInvalid;

// A region's four fields, in their order.
struct Fields {
  int state, n, offset, size;
  bool operator==(const Fields&) const = default;
};
void PrintTo(const Fields& f, std::ostream* os) {
  *os << "{" << f.state << ", " << f.n << ", " << f.offset << ", " << f.size << "}";
}
Fields Of(const DAXORBRegion& r) {
  return {r.State(), r.FifoSize(), r.Offset(), r.Size()};
}
DAXORBRegion Made(int n, int offset, int size) {
  DAXORBRegion r;
  r.Init(n, offset, size);
  return r;
}
// What an `out` holds before the call: a refused call must leave it so.
const Fields kUntouched{kF, 99, 98, 97};

enum class Op {
  Init,
  SetFifoSize,
  SetSize,
  SetOffset,
  Reset,
  Full,
  Erode,
  Dilate,
  Crop,
  SubRegion,
  InverseRegion,
  BesideRegion,
  Push,
  PushOverwrite,
  Pop,
  PopNoOut,
  Popback,
  PopbackNoOut
};

int Apply(Op op, DAXORBRegion& r, DAXORBRegion& out, int a, int b, int c) {
  switch (op) {
    case Op::Init:
      return r.Init(a, b, c);
    case Op::SetFifoSize:
      return r.SetFifoSize(a);
    case Op::SetSize:
      return r.SetSize(a);
    case Op::SetOffset:
      return r.SetOffset(a);
    case Op::Reset:
      return r.Reset();
    case Op::Full:
      return r.Full();
    case Op::Erode:
      return r.Erode(static_cast<DAXOConstRBRegionErosion>(a), b);
    case Op::Dilate:
      return r.Dilate(static_cast<DAXOConstRBRegionDilation>(a), b);
    case Op::Crop:
      return r.Crop(static_cast<DAXOConstRBRegionCrop>(a), b, c);
    case Op::SubRegion:
      return r.SubRegion(out, static_cast<DAXOConstRBRegionSubRegion>(a), b, c);
    case Op::InverseRegion:
      return r.InverseRegion(out);
    case Op::BesideRegion:
      return r.BesideRegion(out, static_cast<DAXOConstRBRegionBesideRegion>(a), b, c);
    case Op::Push:
      return r.Push(a, out, false);
    case Op::PushOverwrite:
      return r.Push(a, out, true);
    case Op::Pop:
      return r.Pop(a, &out);
    case Op::PopNoOut:
      return r.Pop(a, nullptr);
    case Op::Popback:
      return r.Popback(a, &out);
    case Op::PopbackNoOut:
      return r.Popback(a, nullptr);
  }
  return -1;
}

struct Row {
  const char* name;
  Op op;
  Fields start;  // state ignored: the region is Init(n, offset, size)
  int a, b, c;
  Fields region;
  Fields out;
  int result;
};
void PrintTo(const Row& row, std::ostream* os) {
  *os << row.name;
}

void CheckRow(const Row& row) {
  DAXORBRegion r = Made(row.start.n, row.start.offset, row.start.size);
  DAXORBRegion out = Made(kUntouched.n, kUntouched.offset, kUntouched.size);
  const int result = Apply(row.op, r, out, row.a, row.b, row.c);
  EXPECT_EQ(result, row.result);
  EXPECT_EQ(Of(r), row.region);
  EXPECT_EQ(Of(out), row.out);
  // The stored state always matches the fields.
  EXPECT_EQ(r.Check(), r.State());
  EXPECT_EQ(out.Check(), out.State());
}

constexpr int kFront = 1, kBack = 2, kBoth = 3;
constexpr Fields kR{0, 8, 6, 4};  // slots 6, 7, 0, 1
constexpr Fields kRegion{kF, 8, 6, 4};
constexpr Fields kEmpty5{0, 8, 5, 0};

class Rules : public ::testing::TestWithParam<Row> {};
TEST_P(Rules, GiveTheRegionOutAndResult) {
  CheckRow(GetParam());
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(DAXORBRegion, Rules, ::testing::ValuesIn(std::vector<Row>{
  {"init_wrapping_run", Op::Init, {}, 8, 6, 4, kRegion, kUntouched, kF},
  {"init_empty", Op::Init, {}, 8, 0, 0, {kE, 8, 0, 0}, kUntouched, kE},
  {"init_full_from_last_slot", Op::Init, {}, 8, 7, 8, {kF, 8, 7, 8}, kUntouched, kF},
  {"init_zero_is_uninitialised", Op::Init, {}, 0, 0, 0, {kUninit, 0, 0, 0}, kUntouched, kUninit},
  {"init_zero_with_offset", Op::Init, {}, 0, 1, 0, {kInvalid, 0, 1, 0}, kUntouched, kInvalid},
  {"init_negative_n", Op::Init, {}, -1, 0, 0, {kInvalid, -1, 0, 0}, kUntouched, kInvalid},
  {"init_offset_n", Op::Init, {}, 8, 8, 0, {kInvalid, 8, 8, 0}, kUntouched, kInvalid},
  {"init_negative_offset", Op::Init, {}, 8, -1, 0, {kInvalid, 8, -1, 0}, kUntouched, kInvalid},
  {"init_size_over_n", Op::Init, {}, 8, 0, 9, {kInvalid, 8, 0, 9}, kUntouched, kInvalid},
  {"init_negative_size", Op::Init, {}, 8, 0, -1, {kInvalid, 8, 0, -1}, kUntouched, kInvalid},
  {"init_rebuilds_invalid", Op::Init, {0, -1, 3, 3}, 4, 3, 1, {kF, 4, 3, 1}, kUntouched, kF},
  {"set_fifo_size_of_uninitialised", Op::SetFifoSize, {}, 8, 0, 0, {kE, 8, 0, 0}, kUntouched, kE},
  {"set_fifo_size_keeps_run", Op::SetFifoSize, kR, 16, 0, 0, {kF, 16, 6, 4}, kUntouched, kF},
  {"set_size_full", Op::SetSize, kR, 8, 0, 0, {kF, 8, 6, 8}, kUntouched, kF},
  {"set_size_zero", Op::SetSize, kR, 0, 0, 0, {kE, 8, 6, 0}, kUntouched, kE},
  {"set_offset", Op::SetOffset, kR, 7, 0, 0, {kF, 8, 7, 4}, kUntouched, kF},
  // A setter stores what it is given and says what that makes of the region.
  {"set_fifo_size_below_offset", Op::SetFifoSize, kR, 4, 0, 0, {kInvalid, 4, 6, 4}, kUntouched, kInvalid},
  {"set_fifo_size_zero", Op::SetFifoSize, kEmpty5, 0, 0, 0, {kInvalid, 0, 5, 0}, kUntouched, kInvalid},
  {"set_size_over_n", Op::SetSize, kR, 9, 0, 0, {kInvalid, 8, 6, 9}, kUntouched, kInvalid},
  {"set_offset_negative", Op::SetOffset, kR, -1, 0, 0, {kInvalid, 8, -1, 4}, kUntouched, kInvalid},
  {"set_size_mends_invalid", Op::SetSize, {0, 8, 6, 9}, 2, 0, 0, {kF, 8, 6, 2}, kUntouched, kF},
  {"reset", Op::Reset, kR, 0, 0, 0, {kE, 8, 0, 0}, kUntouched, kE},
  {"full_keeps_offset", Op::Full, kR, 0, 0, 0, {kF, 8, 6, 8}, kUntouched, kF},
  {"full_of_empty", Op::Full, kEmpty5, 0, 0, 0, {kF, 8, 5, 8}, kUntouched, kF},
  {"erode_front_all", Op::Erode, kR, kFront, 4, 0, {kE, 8, 0, 0}, kUntouched, kOv},
  {"erode_front_wraps", Op::Erode, kR, kFront, 2, 0, {kF, 8, 0, 2}, kUntouched, kF},
  {"erode_front_int_max", Op::Erode, kR, kFront, INT_MAX, 0, {kE, 8, 0, 0}, kUntouched, kOv},
  {"erode_back", Op::Erode, kR, kBack, 3, 0, {kF, 8, 6, 1}, kUntouched, kF},
  {"erode_back_all", Op::Erode, kR, kBack, 4, 0, {kE, 8, 0, 0}, kUntouched, kOv},
  {"erode_both", Op::Erode, kR, kBoth, 1, 0, {kF, 8, 7, 2}, kUntouched, kF},
  {"erode_both_back_empties", Op::Erode, kR, kBoth, 2, 0, {kE, 8, 0, 0}, kUntouched, kOv},
  {"erode_empty", Op::Erode, kEmpty5, kFront, 1, 0, {kE, 8, 0, 0}, kUntouched, kOv},
  {"dilate_front_true_modulo", Op::Dilate, {0, 8, 1, 3}, kFront, 2, 0, {kF, 8, 7, 5}, kUntouched, kF},
  {"dilate_front_exactly_full", Op::Dilate, {0, 8, 0, 3}, kFront, 5, 0, {kF, 8, 3, 8}, kUntouched, kF},
  {"dilate_front_overflow_starts_at_end", Op::Dilate, {0, 8, 1, 3}, kFront, 6, 0, {kF, 8, 4, 8}, kUntouched, kOv},
  {"dilate_front_int_max", Op::Dilate, {0, 8, 1, 3}, kFront, INT_MAX, 0, {kF, 8, 4, 8}, kUntouched, kOv},
  {"dilate_back", Op::Dilate, kR, kBack, 4, 0, {kF, 8, 6, 8}, kUntouched, kF},
  {"dilate_back_capped", Op::Dilate, kR, kBack, 5, 0, {kF, 8, 6, 8}, kUntouched, kOv},
  {"dilate_back_int_max", Op::Dilate, kR, kBack, INT_MAX, 0, {kF, 8, 6, 8}, kUntouched, kOv},
  {"dilate_both", Op::Dilate, {0, 8, 1, 3}, kBoth, 2, 0, {kF, 8, 7, 7}, kUntouched, kF},
  {"crop_front", Op::Crop, kR, kFront, 1, 2, {kF, 8, 7, 2}, kUntouched, kF},
  {"crop_front_short", Op::Crop, kR, kFront, 2, 5, {kF, 8, 0, 2}, kUntouched, kOv},
  {"crop_back", Op::Crop, kR, kBack, 1, 2, {kF, 8, 7, 2}, kUntouched, kF},
  {"crop_back_whole", Op::Crop, kR, kBack, 0, 4, kRegion, kUntouched, kF},
  {"crop_back_short_keeps_offset", Op::Crop, kR, kBack, 1, 5, {kF, 8, 6, 3}, kUntouched, kOv},
  {"sub_region_back", Op::SubRegion, kR, kBack, 1, 2, kRegion, {kF, 8, 7, 2}, kF},
  {"sub_region_front_short", Op::SubRegion, kR, kFront, 2, 5, kRegion, {kF, 8, 0, 2}, kOv},
  {"inverse", Op::InverseRegion, kR, 0, 0, 0, kRegion, {kF, 8, 2, 4}, kF},
  {"inverse_of_full", Op::InverseRegion, {0, 8, 3, 8}, 0, 0, 0, {kF, 8, 3, 8}, {kE, 8, 3, 0}, kE},
  {"inverse_of_empty", Op::InverseRegion, kEmpty5, 0, 0, 0, {kE, 8, 5, 0}, {kF, 8, 5, 8}, kF},
  {"beside_after_back", Op::BesideRegion, {0, 8, 6, 2}, kBack, 1, 0, {kF, 8, 6, 2}, {kF, 8, 1, 2}, kF},
  {"beside_before_front", Op::BesideRegion, {0, 8, 6, 2}, kFront, 1, 0, {kF, 8, 6, 2}, {kF, 8, 3, 2}, kF},
  {"beside_after_back_short", Op::BesideRegion, {0, 8, 6, 2}, kBack, 5, 0, {kF, 8, 6, 2}, {kF, 8, 5, 1}, kOvF},
  {"beside_before_front_short", Op::BesideRegion, {0, 8, 6, 2}, kFront, 5, 0, {kF, 8, 6, 2}, {kF, 8, 0, 1}, kOvF},
  // Other pushes and pops are checked against the ring model below; these
  // rows cover what it cannot: huge counts and the offset of an empty out.
  {"push_int_max", Op::Push, kR, INT_MAX, 0, 0, {kF, 8, 6, 8}, {kF, 8, 2, 4}, kOv},
  {"push_onto_full", Op::Push, {0, 8, 3, 8}, 1, 0, 0, {kF, 8, 3, 8}, {kE, 8, 3, 0}, kOv},
  {"push_huge_ring", Op::Push, {0, INT_MAX, INT_MAX - 1, 2}, INT_MAX - 2, 0, 0,
   {kF, INT_MAX, INT_MAX - 1, INT_MAX}, {kF, INT_MAX, 1, INT_MAX - 2}, kF},
  {"pop_empty", Op::Pop, kEmpty5, 1, 0, 0, {kE, 8, 5, 0}, {kE, 8, 5, 0}, kE},
}), [](const auto& info) { return std::string(info.param.name); });

// Bad arguments on clean regions: InvalidOp, nothing changed.
class BadArguments : public ::testing::TestWithParam<Row> {};
TEST_P(BadArguments, AreRefusedWithoutChange) { CheckRow(GetParam()); }

#define REFUSED(name, op, start, a, b, c) \
  Row{name, op, start, a, b, c, {(start).size ? kF : kE, (start).n, (start).offset, (start).size}, kUntouched, kBad}
INSTANTIATE_TEST_SUITE_P(DAXORBRegion, BadArguments, ::testing::ValuesIn(std::vector<Row>{
  REFUSED("erode_zero", Op::Erode, kR, kFront, 0, 0),
  REFUSED("erode_negative", Op::Erode, kR, kBack, -1, 0),
  REFUSED("erode_no_flag", Op::Erode, kR, 0, 1, 0),
  REFUSED("erode_unknown_flag", Op::Erode, kR, 4, 1, 0),
  REFUSED("dilate_zero", Op::Dilate, kR, kFront, 0, 0),
  REFUSED("dilate_no_flag", Op::Dilate, kR, 0, 1, 0),
  REFUSED("dilate_unknown_flag", Op::Dilate, kR, 7, 1, 0),
  REFUSED("dilate_empty", Op::Dilate, kEmpty5, kBack, 1, 0),
  REFUSED("crop_unknown_mode", Op::Crop, kR, 3, 0, 1),
  REFUSED("crop_mode_zero", Op::Crop, kR, 0, 0, 1),
  REFUSED("crop_negative_offset", Op::Crop, kR, kFront, -1, 1),
  REFUSED("crop_offset_past_run", Op::Crop, kR, kBack, 4, 1),
  REFUSED("crop_zero_size", Op::Crop, kR, kFront, 0, 0),
  REFUSED("crop_empty", Op::Crop, kEmpty5, kFront, 0, 1),
  REFUSED("sub_region_unknown_mode", Op::SubRegion, kR, 5, 0, 1),
  REFUSED("sub_region_offset_past_run", Op::SubRegion, kR, kFront, 4, 1),
  REFUSED("sub_region_zero_size", Op::SubRegion, kR, kBack, 0, 0),
  REFUSED("beside_unknown_mode", Op::BesideRegion, kR, 0, 0, 0),
  REFUSED("beside_negative_offset", Op::BesideRegion, kR, kBack, -1, 0),
  REFUSED("beside_offset_past_rest", Op::BesideRegion, kR, kFront, 4, 0),
  REFUSED("beside_full", Op::BesideRegion, (Fields{0, 8, 2, 8}), kBack, 0, 0),
  REFUSED("beside_empty", Op::BesideRegion, kEmpty5, kBack, 0, 0),
  REFUSED("push_zero", Op::Push, kR, 0, 0, 0),
  REFUSED("push_negative_overwrite", Op::PushOverwrite, kR, -3, 0, 0),
  REFUSED("pop_zero", Op::Pop, kR, 0, 0, 0),
  REFUSED("popback_negative", Op::Popback, kR, INT_MIN, 0, 0),
}), [](const auto& info) { return std::string(info.param.name); });
#undef REFUSED
// clang-format on

// Regions that are not clean (uninitialised, or fields that do not fit)
// refuse every operation but Init and the setters: they return their own
// state and change neither themselves nor `out` (N = 0 would divide by zero).
class NotClean : public ::testing::TestWithParam<std::tuple<Fields, Op>> {};
TEST_P(NotClean, RefusesWithItsStateWithoutChange) {
  const auto& [start, op] = GetParam();
  const DAXORBRegion before = Made(start.n, start.offset, start.size);
  ASSERT_FALSE(DAXORBRegion::IsClean(before.State()));
  for (const auto& [a, b, c] : std::vector<std::tuple<int, int, int>>{{1, 0, 1}, {2, 0, 2}}) {
    DAXORBRegion r = before;
    DAXORBRegion out = Made(kUntouched.n, kUntouched.offset, kUntouched.size);
    EXPECT_EQ(Apply(op, r, out, a, b, c), before.State());
    EXPECT_EQ(r, before);
    EXPECT_EQ(Of(out), kUntouched);
  }
  EXPECT_EQ(before[0], 0);
  EXPECT_EQ(before[-1], 0);
  EXPECT_EQ(before[5], 0);
  EXPECT_EQ(before.Size0(), 0);
  EXPECT_EQ(before.Size1(), 0);
}
INSTANTIATE_TEST_SUITE_P(
    DAXORBRegion, NotClean,
    ::testing::Combine(::testing::Values(Fields{0, 0, 0, 0}, Fields{0, 0, 2, 1},
                                         Fields{0, -1, 0, 0}, Fields{0, -8, -3, -2},
                                         Fields{0, 8, 8, 0}, Fields{0, 8, -1, 3},
                                         Fields{0, 8, 2, 9}),
                       ::testing::Values(Op::Reset, Op::Full, Op::Erode, Op::Dilate, Op::Crop,
                                         Op::SubRegion, Op::InverseRegion, Op::BesideRegion,
                                         Op::Push, Op::PushOverwrite, Op::Pop, Op::PopNoOut,
                                         Op::Popback, Op::PopbackNoOut)));

// Copies are checked in NotClean and by the model's probe.
TEST(DAXORBRegion, ANewRegionIsUninitialisedInSixteenBytes) {
  const DAXORBRegion r;
  EXPECT_EQ(Of(r), (Fields{kUninit, 0, 0, 0}));
  EXPECT_EQ(sizeof(DAXORBRegion), 16u);
}

// Reading: operator[] (with its clamping), Size0 and Size1.
struct ReadRow {
  Fields region;
  int size0, size1;
  std::vector<std::pair<int, int>> slots;  // i -> ring slot
};
class Reading : public ::testing::TestWithParam<ReadRow> {};
TEST_P(Reading, IndexesAndSplitsAtTheWrap) {
  const ReadRow& row = GetParam();
  const DAXORBRegion r = Made(row.region.n, row.region.offset, row.region.size);
  EXPECT_EQ(r.Size0(), row.size0);
  EXPECT_EQ(r.Size1(), row.size1);
  for (const auto& [i, slot] : row.slots) EXPECT_EQ(r[i], slot) << "i = " << i;
}
INSTANTIATE_TEST_SUITE_P(
    DAXORBRegion, Reading,
    ::testing::Values(ReadRow{kR, 2, 2, {{0, 6}, {1, 7}, {2, 0}, {3, 1}, {-1, 6}, {4, 1}, {99, 1}}},
                      ReadRow{{0, 8, 0, 8}, 8, 0, {{7, 7}, {8, 7}}},
                      ReadRow{{0, 8, 4, 4}, 4, 0, {{3, 7}}},
                      ReadRow{{0, 8, 7, 8}, 1, 7, {{0, 7}, {1, 0}, {7, 6}}},
                      ReadRow{{0, 8, 2, 3}, 3, 0, {{2, 4}, {3, 4}}},
                      ReadRow{{0, 1, 0, 1}, 1, 0, {{0, 0}, {1, 0}}},
                      ReadRow{kEmpty5, 0, 0, {{0, 0}, {-1, 5}, {3, 0}}}));

TEST(DAXORBRegion, StateToStringNamesEachCode) {
  const std::vector<std::pair<int, std::string>> names{
      {DAXOConstRBRegionEmpty, "DAXOConstRBRegionEmpty"},
      {DAXOConstRBRegionWarnings, "DAXOConstRBRegionWarnings"},
      {DAXOConstRBRegionUninitialized, "DAXOConstRBRegionUninitialized"},
      {DAXOConstRBRegionOverflowOp, "DAXOConstRBRegionOverflowOp"},
      {DAXOConstRBRegionErrors, "DAXOConstRBRegionErrors"},
      {DAXOConstRBRegionInvalid, "DAXOConstRBRegionInvalid"},
      {DAXOConstRBRegionInvalidOp, "DAXOConstRBRegionInvalidOp"},
      {1, "Unknown state"},
      {kOvF, "Unknown state"},
      {0x12345, "Unknown state"}};
  for (const auto& [code, name] : names) {
    EXPECT_EQ(Str(DAXORBRegion::StateToString(static_cast<DAXOConstRBRegionState>(code))), name);
  }
  EXPECT_EQ(DAXOConstRBRegionErrors, INT_MIN);  // 32-bit signed codes
  EXPECT_TRUE(DAXORBRegion::IsClean(DAXOConstRBRegionEmpty) &&
              DAXORBRegion::IsClean(kDAXORBRegionFilled));
  EXPECT_FALSE(DAXORBRegion::IsClean(DAXOConstRBRegionOverflowOp) ||
               DAXORBRegion::IsClean(DAXOConstRBRegionInvalid));
}

// A plain ring: the run's slots in order and the slot the next push fills.
struct RingModel {
  int n;
  std::deque<int> run;
  int next;

  std::vector<int> Push(int count, bool overwrite) {
    std::vector<int> appended;
    if (count > n && overwrite) {  // a push longer than the ring restarts it at slot 0
      run.clear();
      next = 0;
      count = n;
    } else if (!overwrite) {
      count = std::min(count, n - static_cast<int>(run.size()));
    }
    for (int k = 0; k < count; ++k) {
      if (static_cast<int>(run.size()) == n) run.pop_front();
      run.push_back(next);
      appended.push_back(next);
      next = (next + 1) % n;
    }
    return appended;
  }
  std::vector<int> Pop(int count, bool back) {
    std::vector<int> removed;
    for (int k = 0; k < count && !run.empty(); ++k) {
      if (back) {
        removed.insert(removed.begin(), run.back());
        run.pop_back();
        next = (next + n - 1) % n;
      } else {
        removed.push_back(run.front());
        run.pop_front();
      }
    }
    return removed;
  }
};

std::vector<int> Slots(const DAXORBRegion& r) {
  std::vector<int> slots;
  for (int i = 0; i < r.Size(); ++i) slots.push_back(r[i]);
  return slots;
}

TEST(DAXORBRegion, PushPopAndPopbackFollowAPlainRing) {
  std::mt19937 rng(20240517);
  for (int sequence = 0; sequence < 3000; ++sequence) {
    const int n = std::vector<int>{1, 2, 3, 5, 8}[sequence % 5];
    const int offset = std::uniform_int_distribution<int>(0, n - 1)(rng);
    const int size = std::uniform_int_distribution<int>(0, n)(rng);
    DAXORBRegion r = Made(n, offset, size);
    RingModel model{n, {}, (offset + size) % n};
    for (int i = 0; i < size; ++i) model.run.push_back((offset + i) % n);

    for (int step = 0; step < 25; ++step) {
      const int kind = std::uniform_int_distribution<int>(0, 4)(rng);
      const int count = std::uniform_int_distribution<int>(1, n + 2)(rng);
      const bool withOut = kind < 4 || (rng() & 1) != 0;
      SCOPED_TRACE("N " + std::to_string(n) + " seq " + std::to_string(sequence) + " step " +
                   std::to_string(step) + " kind " + std::to_string(kind) + " n " +
                   std::to_string(count));
      const int held = static_cast<int>(model.run.size());
      DAXORBRegion out = Made(kUntouched.n, kUntouched.offset, kUntouched.size);
      std::vector<int> expected;
      int result = 0;
      int wanted = 0;
      if (kind <= 1) {
        result = r.Push(count, out, kind == 1);
        expected = model.Push(count, kind == 1);
        wanted = held + count > n ? kOv : kF;
      } else {
        const bool back = kind == 3 || (kind == 4 && (rng() & 1) != 0);
        result = back ? r.Popback(count, withOut ? &out : nullptr)
                      : r.Pop(count, withOut ? &out : nullptr);
        expected = model.Pop(count, back);
        wanted = model.run.empty() ? kE : kF;
      }
      ASSERT_EQ(result, wanted);
      const std::vector<int> run(model.run.begin(), model.run.end());
      ASSERT_EQ(Slots(r), run);
      ASSERT_EQ(r.State(), run.empty() ? kE : kF);
      ASSERT_EQ(r.Check(), r.State());
      // Size0 runs up to the first slot 0 after the front; Size1 is the rest.
      int size0 = 0;
      while (size0 < static_cast<int>(run.size()) && (size0 == 0 || run[size0] != 0)) ++size0;
      ASSERT_EQ(r.Size0(), size0);
      ASSERT_EQ(r.Size1(), static_cast<int>(run.size()) - size0);
      if (withOut) {
        ASSERT_EQ(Slots(out), expected);
        ASSERT_EQ(out.FifoSize(), n);
        ASSERT_EQ(out.Check(), out.State());
      } else {
        ASSERT_EQ(Of(out), kUntouched);
      }
      // The next push lands where the model's would.
      DAXORBRegion probe = r;
      DAXORBRegion appended;
      probe.Push(1, appended, true);
      ASSERT_EQ(appended.Offset(), model.next);
    }
  }
}

}  // namespace
