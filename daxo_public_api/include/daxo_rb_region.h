// DAXORBRegion: a contiguous run of slots in a ring of N slots.
//
// A region holds no data. Components that keep a ring of samples use it to
// work out which slots to fill, consume or hand on, including the split of a
// run into the part before the ring's wrap point (Size0) and the part after
// it (Size1). The run covers offset, offset + 1, ..., offset + size - 1, each
// modulo N. Every operation returns a DAXOConstRBRegionState; most also
// store it in the region.
//
// Layout: four 32-bit signed fields, in order: state, fifo size N, offset,
// size.
//
// Invariants:
//   - the stored state is always what Check() computes from the fields;
//   - a region is clean (state 0 or 1) exactly when N > 0,
//     0 <= offset < N and 0 <= size <= N; state 0 is an empty run, 1 is a
//     run of at least one slot;
//   - Init and the three setters store the fields they are given, then the
//     state those fields have: N = 0 (with offset and size 0) is
//     DAXOConstRBRegionUninitialized, anything else inconsistent is
//     DAXOConstRBRegionInvalid. A new region is uninitialised.
//
// Decisions where a caller breaks a precondition (no call divides by zero,
// indexes outside the ring or overflows, whatever its arguments):
//   - Init and the setters accept any values and report the state they give
//     (a region made invalid that way refuses everything but Init and the setters).
//   - Every other operation on a region that is not clean returns its state; nothing changes.
//   - n < 1, sizeX < 1, offsetX outside its range, or an unknown selector: InvalidOp, no change.
//   - "Nothing changes" includes `out`: a refused SubRegion/InverseRegion/BesideRegion/
//     Push/Pop/Popback leaves `out` as it was.
//   - operator[] of a region that is not clean is 0; its Size0 and Size1 are 0.
//   - Push without overwrite onto a full region hands back an empty `out` of state 0.
//   - Push of more than N slots with overwrite restarts the ring: region and `out` are
//     {1, N, 0, N}; the caller copies the first N items into slots 0..N-1.
//   - Erode of an empty region empties it at offset 0 and returns OverflowOp.
//   - Dilate of an empty region returns InvalidOp (there is no end to grow from).
//   - BesideRegion's overflow result carries bit 0 (OverflowOp | 1); its last argument is unused.
//   - Index arithmetic is done in 64 bits, so n up to INT_MAX never overflows.
//
// Threading: a plain value with no locks; a region is used by one thread at
// a time, or under a lock owned by its user.
#pragma once

#include <cstdint>

#include "daxo_string.h"

/// State codes. Value 1 (a clean, non-empty run) has no name of its own.
enum DAXOConstRBRegionState : int32_t {
  DAXOConstRBRegionEmpty = 0,
  DAXOConstRBRegionWarnings = 0x40000000,
  DAXOConstRBRegionUninitialized = 0x40000100,
  /// The operation was done only in part (returned, never stored).
  DAXOConstRBRegionOverflowOp = 0x40000200,
  DAXOConstRBRegionErrors = static_cast<int32_t>(0x80000000u),
  DAXOConstRBRegionInvalid = static_cast<int32_t>(0x80010000u),
  /// The operation is not allowed (returned, the region is unchanged).
  DAXOConstRBRegionInvalidOp = static_cast<int32_t>(0x80020000u),
};

/// State 1: a clean region whose run holds at least one slot.
inline constexpr DAXOConstRBRegionState kDAXORBRegionFilled =
    static_cast<DAXOConstRBRegionState>(1);

/// Erode: bit flags, both may be set.
enum DAXOConstRBRegionErosion : int32_t {
  DAXOConstRBRegionErosionFront = 1,
  DAXOConstRBRegionErosionBack = 2,
  DAXOConstRBRegionErosionBoth = 3,
};

/// Dilate: bit flags, both may be set.
enum DAXOConstRBRegionDilation : int32_t {
  DAXOConstRBRegionDilationFront = 1,
  DAXOConstRBRegionDilationBack = 2,
  DAXOConstRBRegionDilationBoth = 3,
};

/// Crop: where offsetX is measured from.
enum DAXOConstRBRegionCrop : int32_t {
  DAXOConstRBRegionCropFront = 1,
  DAXOConstRBRegionCropBack = 2,
};

/// SubRegion: where offsetX is measured from.
enum DAXOConstRBRegionSubRegion : int32_t {
  DAXOConstRBRegionSubRegionFront = 1,
  DAXOConstRBRegionSubRegionBack = 2,
};

/// BesideRegion: 1 ends the result offsetX slots before the run's front,
/// 2 starts it offsetX slots after the run's back.
enum DAXOConstRBRegionBesideRegion : int32_t {
  DAXOConstRBRegionBesideRegionFront = 1,
  DAXOConstRBRegionBesideRegionBack = 2,
};

class DAXORBRegion {
 public:
  /// Uninitialised: N = 0, offset 0, size 0.
  DAXORBRegion() = default;
  DAXORBRegion(const DAXORBRegion&) = default;
  DAXORBRegion& operator=(const DAXORBRegion&) = default;
  bool operator==(const DAXORBRegion&) const = default;

  // --- fields ------------------------------------------------------------
  DAXOConstRBRegionState State() const { return m_state; }
  int FifoSize() const { return m_fifoSize; }
  int Offset() const { return m_offset; }
  int Size() const { return m_size; }
  /// True when neither the warning nor the error bit is set.
  static bool IsClean(DAXOConstRBRegionState state);

  // --- building ----------------------------------------------------------
  /// Stores N, offset and size as given, then their state (Check's rule).
  DAXOConstRBRegionState Init(int fifoSize, int offset, int size);
  /// New N, then the state of the fields (Invalid when the run no longer
  /// fits).
  DAXOConstRBRegionState SetFifoSize(int fifoSize);
  /// New size (0 <= size <= N for a clean region), then the state.
  DAXOConstRBRegionState SetSize(int size);
  /// New offset (0 <= offset < N for a clean region), then the state.
  DAXOConstRBRegionState SetOffset(int offset);
  /// Empty run at offset 0.
  DAXOConstRBRegionState Reset();
  /// The run covers the whole ring from its offset.
  DAXOConstRBRegionState Full();

  // --- shrinking and growing in place (n >= 1) ------------------------------
  /// Removes n slots at the front and/or back; OverflowOp when that empties
  /// the run (which then sits at offset 0).
  DAXOConstRBRegionState Erode(DAXOConstRBRegionErosion flags, int n);
  /// Adds n slots at the front and/or back of a non-empty run, capped at
  /// the whole ring (OverflowOp).
  DAXOConstRBRegionState Dilate(DAXOConstRBRegionDilation flags, int n);
  /// Keeps min(size - offsetX, sizeX) slots starting offsetX slots from the
  /// front or the back; OverflowOp when fewer than sizeX remain.
  /// 0 <= offsetX < size, sizeX >= 1.
  DAXOConstRBRegionState Crop(DAXOConstRBRegionCrop mode, int offsetX, int sizeX);

  // --- derived regions (this region is not changed) -------------------------
  /// What Crop would leave, into `out`.
  DAXOConstRBRegionState SubRegion(DAXORBRegion& out, DAXOConstRBRegionSubRegion mode, int offsetX,
                                   int sizeX) const;
  /// The rest of the ring; returns out's state.
  DAXOConstRBRegionState InverseRegion(DAXORBRegion& out) const;
  /// A run of this run's size in the rest of the ring, offsetX slots before
  /// its front (mode 1) or after its back (mode 2), shortened to what fits.
  /// Needs size >= 1 and 0 <= offsetX < N - size.
  DAXOConstRBRegionState BesideRegion(DAXORBRegion& out, DAXOConstRBRegionBesideRegion mode,
                                      int offsetX, int unused) const;

  // --- the ring as a queue (n >= 1) ---------------------------------------
  /// Appends n slots after the run; `out` receives the appended slots. On
  /// overflow, with `overwrite` the oldest slots are dropped, without it
  /// only the free slots are appended; OverflowOp either way.
  DAXOConstRBRegionState Push(int n, DAXORBRegion& out, bool overwrite);
  /// Removes n slots from the front; `out` (may be null) receives them.
  /// Returns the new state (0 once the run is empty, else 1).
  DAXOConstRBRegionState Pop(int n, DAXORBRegion* out);
  /// Removes n slots from the back; as Pop.
  DAXOConstRBRegionState Popback(int n, DAXORBRegion* out);

  // --- reading -------------------------------------------------------------
  /// Ring slot of the run's i-th slot; i < 0 gives the first, i >= size the
  /// last (0 for an empty run).
  int operator[](int i) const;
  /// The state the fields would have; changes nothing.
  DAXOConstRBRegionState Check() const;
  /// Length of the run before the wrap point.
  int Size0() const;
  /// Length of the run after the wrap point (from slot 0).
  int Size1() const;
  /// The code's name, or "Unknown state" (also for 1).
  static DAXOString StateToString(const DAXOConstRBRegionState& state);

 private:
  DAXORBRegion(DAXOConstRBRegionState state, int fifoSize, int offset, int size)
      : m_state(state), m_fifoSize(fifoSize), m_offset(offset), m_size(size) {}
  /// Shared by Crop and SubRegion: the kept run, or InvalidOp.
  DAXOConstRBRegionState Cropped(int mode, int offsetX, int sizeX, DAXORBRegion& kept) const;
  /// (value mod N) in [0, N); N > 0.
  int Wrap(int64_t value) const;

  DAXOConstRBRegionState m_state = DAXOConstRBRegionUninitialized;  // int32_t underneath
  int32_t m_fifoSize = 0;
  int32_t m_offset = 0;
  int32_t m_size = 0;
};
