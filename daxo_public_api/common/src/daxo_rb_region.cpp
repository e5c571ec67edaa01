// DAXORBRegion: see daxo_rb_region.h for the rules and the refusals.
#include "daxo_rb_region.h"

#include <algorithm>

namespace {

static_assert(sizeof(DAXORBRegion) == 16, "four 32-bit fields");
static_assert(sizeof(DAXOConstRBRegionState) == 4, "a 32-bit signed code");

constexpr int32_t kTopBits = static_cast<int32_t>(0xC0000000u);

constexpr auto kOverflowFilled =
    static_cast<DAXOConstRBRegionState>(DAXOConstRBRegionOverflowOp | kDAXORBRegionFilled);

// The state of a region with these fields.
DAXOConstRBRegionState Classify(int64_t fifoSize, int64_t offset, int64_t size) {
  if (fifoSize < 0) return DAXOConstRBRegionInvalid;
  if (fifoSize == 0) {
    return offset == 0 && size == 0 ? DAXOConstRBRegionUninitialized : DAXOConstRBRegionInvalid;
  }
  if (offset < 0 || offset >= fifoSize || size < 0 || size > fifoSize) {
    return DAXOConstRBRegionInvalid;
  }
  return size > 0 ? kDAXORBRegionFilled : DAXOConstRBRegionEmpty;
}

DAXOConstRBRegionState StateOf(int size) {
  return size > 0 ? kDAXORBRegionFilled : DAXOConstRBRegionEmpty;
}

bool IsFlagSet(int32_t flags, int32_t flag) {
  return (flags & flag) != 0;
}

}  // namespace

bool DAXORBRegion::IsClean(DAXOConstRBRegionState state) {
  return (state & kTopBits) == 0;
}

int DAXORBRegion::Wrap(int64_t value) const {
  // True modulo: C++ % keeps the sign of a negative value.
  const int64_t n = m_fifoSize;
  return static_cast<int>(((value % n) + n) % n);
}

// --- building ----------------------------------------------------------

DAXOConstRBRegionState DAXORBRegion::Init(int fifoSize, int offset, int size) {
  m_fifoSize = fifoSize;
  m_offset = offset;
  m_size = size;
  m_state = Classify(fifoSize, offset, size);
  return m_state;
}

DAXOConstRBRegionState DAXORBRegion::SetFifoSize(int fifoSize) {
  return Init(fifoSize, m_offset, m_size);
}

DAXOConstRBRegionState DAXORBRegion::SetSize(int size) {
  return Init(m_fifoSize, m_offset, size);
}

DAXOConstRBRegionState DAXORBRegion::SetOffset(int offset) {
  return Init(m_fifoSize, offset, m_size);
}

DAXOConstRBRegionState DAXORBRegion::Reset() {
  if (!IsClean(m_state)) return m_state;
  return Init(m_fifoSize, 0, 0);
}

DAXOConstRBRegionState DAXORBRegion::Full() {
  if (!IsClean(m_state)) return m_state;
  return Init(m_fifoSize, m_offset, m_fifoSize);
}

// --- shrinking and growing -----------------------------------------------

DAXOConstRBRegionState DAXORBRegion::Erode(DAXOConstRBRegionErosion flags, int n) {
  if (!IsClean(m_state)) return m_state;
  if (n < 1 || flags < DAXOConstRBRegionErosionFront || flags > DAXOConstRBRegionErosionBoth) {
    return DAXOConstRBRegionInvalidOp;
  }
  DAXOConstRBRegionState result = kDAXORBRegionFilled;
  if (IsFlagSet(flags, DAXOConstRBRegionErosionFront)) {
    if (m_size <= n) {
      Init(m_fifoSize, 0, 0);
      result = DAXOConstRBRegionOverflowOp;
    } else {
      Init(m_fifoSize, Wrap(int64_t{m_offset} + n), m_size - n);
    }
  }
  if (IsFlagSet(flags, DAXOConstRBRegionErosionBack)) {
    if (n < m_size) {
      Init(m_fifoSize, m_offset, m_size - n);
    } else {
      Init(m_fifoSize, 0, 0);
      result = DAXOConstRBRegionOverflowOp;
    }
  }
  return result;
}

DAXOConstRBRegionState DAXORBRegion::Dilate(DAXOConstRBRegionDilation flags, int n) {
  if (!IsClean(m_state)) return m_state;
  if (n < 1 || flags < DAXOConstRBRegionDilationFront || flags > DAXOConstRBRegionDilationBoth ||
      m_size == 0) {
    return DAXOConstRBRegionInvalidOp;
  }
  const int64_t fifo = m_fifoSize;
  DAXOConstRBRegionState result = kDAXORBRegionFilled;
  if (IsFlagSet(flags, DAXOConstRBRegionDilationFront)) {
    if (m_size + int64_t{n} > fifo) {
      // The whole ring, starting where the run's end wraps to.
      Init(m_fifoSize, Wrap(m_offset - (fifo - m_size)), m_fifoSize);
      result = DAXOConstRBRegionOverflowOp;
    } else {
      Init(m_fifoSize, Wrap(int64_t{m_offset} - n), m_size + n);
    }
  }
  if (IsFlagSet(flags, DAXOConstRBRegionDilationBack)) {
    if (m_size + int64_t{n} > fifo) {
      Init(m_fifoSize, m_offset, m_fifoSize);
      result = DAXOConstRBRegionOverflowOp;
    } else {
      Init(m_fifoSize, m_offset, m_size + n);
    }
  }
  return result;
}

DAXOConstRBRegionState DAXORBRegion::Cropped(int mode, int offsetX, int sizeX,
                                             DAXORBRegion& kept) const {
  if (!IsClean(m_state)) return m_state;
  if (offsetX < 0 || offsetX >= m_size || sizeX < 1 || mode < 1 || mode > 2) {
    return DAXOConstRBRegionInvalidOp;
  }
  const int remaining = m_size - offsetX;
  const bool overflow = sizeX > remaining;
  int offset = m_offset;
  if (mode == 1) {
    offset = Wrap(int64_t{m_offset} + offsetX);
  } else if (!overflow) {
    offset = Wrap(int64_t{m_offset} + m_size - offsetX - sizeX);
  }
  kept = DAXORBRegion(kDAXORBRegionFilled, m_fifoSize, offset, std::min(remaining, sizeX));
  return overflow ? DAXOConstRBRegionOverflowOp : kDAXORBRegionFilled;
}

DAXOConstRBRegionState DAXORBRegion::Crop(DAXOConstRBRegionCrop mode, int offsetX, int sizeX) {
  DAXORBRegion kept = *this;
  const DAXOConstRBRegionState result = Cropped(mode, offsetX, sizeX, kept);
  *this = kept;  // unchanged unless Cropped succeeded
  return result;
}

// --- derived regions -------------------------------------------------------

DAXOConstRBRegionState DAXORBRegion::SubRegion(DAXORBRegion& out, DAXOConstRBRegionSubRegion mode,
                                               int offsetX, int sizeX) const {
  return Cropped(mode, offsetX, sizeX, out);
}

DAXOConstRBRegionState DAXORBRegion::InverseRegion(DAXORBRegion& out) const {
  if (!IsClean(m_state)) return m_state;
  const int size = m_fifoSize - m_size;
  out = DAXORBRegion(StateOf(size), m_fifoSize, Wrap(int64_t{m_offset} + m_size), size);
  return out.m_state;
}

DAXOConstRBRegionState DAXORBRegion::BesideRegion(DAXORBRegion& out,
                                                  DAXOConstRBRegionBesideRegion mode, int offsetX,
                                                  int /*unused*/) const {
  if (!IsClean(m_state)) return m_state;
  const int end = Wrap(int64_t{m_offset} + m_size);  // first slot of the rest
  const int rest = m_fifoSize - m_size;
  if (m_size < 1 || offsetX < 0 || offsetX >= rest || mode < 1 || mode > 2) {
    return DAXOConstRBRegionInvalidOp;
  }
  const bool overflow = m_size > rest - offsetX;
  int offset = end;
  if (mode == 2) {
    offset = Wrap(int64_t{end} + offsetX);
  } else if (!overflow) {
    offset = Wrap(int64_t{end} + rest - offsetX - m_size);
  }
  out = DAXORBRegion(kDAXORBRegionFilled, m_fifoSize, offset, std::min(rest - offsetX, m_size));
  // rest >= 1 here, so the overflow result always carries bit 0.
  return overflow ? kOverflowFilled : kDAXORBRegionFilled;
}

// --- the ring as a queue ---------------------------------------------------

DAXOConstRBRegionState DAXORBRegion::Push(int n, DAXORBRegion& out, bool overwrite) {
  if (!IsClean(m_state)) return m_state;
  if (n < 1) return DAXOConstRBRegionInvalidOp;
  const int end = Wrap(int64_t{m_offset} + m_size);
  if (int64_t{m_size} + n <= m_fifoSize) {
    out = DAXORBRegion(kDAXORBRegionFilled, m_fifoSize, end, n);
    Init(m_fifoSize, m_offset, m_size + n);
    return kDAXORBRegionFilled;
  }
  if (overwrite && n <= m_fifoSize) {
    out = DAXORBRegion(kDAXORBRegionFilled, m_fifoSize, end, n);
    Init(m_fifoSize, Wrap(int64_t{m_offset} + m_size + n - m_fifoSize), m_fifoSize);
  } else if (overwrite) {
    Init(m_fifoSize, 0, m_fifoSize);
    out = *this;
  } else {
    const int freeSlots = m_fifoSize - m_size;
    out = DAXORBRegion(StateOf(freeSlots), m_fifoSize, end, freeSlots);
    Init(m_fifoSize, m_offset, m_fifoSize);
  }
  return DAXOConstRBRegionOverflowOp;
}

DAXOConstRBRegionState DAXORBRegion::Pop(int n, DAXORBRegion* out) {
  if (!IsClean(m_state)) return m_state;
  if (n < 1) return DAXOConstRBRegionInvalidOp;
  if (m_size <= n) {
    if (out != nullptr) *out = *this;
    return Init(m_fifoSize, Wrap(int64_t{m_offset} + m_size), 0);
  }
  if (out != nullptr) *out = DAXORBRegion(kDAXORBRegionFilled, m_fifoSize, m_offset, n);
  return Init(m_fifoSize, Wrap(int64_t{m_offset} + n), m_size - n);
}

DAXOConstRBRegionState DAXORBRegion::Popback(int n, DAXORBRegion* out) {
  if (!IsClean(m_state)) return m_state;
  if (n < 1) return DAXOConstRBRegionInvalidOp;
  if (m_size <= n) {
    if (out != nullptr) *out = *this;
    return Init(m_fifoSize, m_offset, 0);
  }
  if (out != nullptr) {
    *out = DAXORBRegion(kDAXORBRegionFilled, m_fifoSize, Wrap(int64_t{m_offset} + m_size - n), n);
  }
  return Init(m_fifoSize, m_offset, m_size - n);
}

// --- reading -----------------------------------------------------------------

int DAXORBRegion::operator[](int i) const {
  if (!IsClean(m_state)) return 0;
  if (i < 0) return m_offset;
  if (i >= m_size) return m_size == 0 ? 0 : Wrap(int64_t{m_offset} + m_size - 1);
  return Wrap(int64_t{m_offset} + i);
}

DAXOConstRBRegionState DAXORBRegion::Check() const {
  return Classify(m_fifoSize, m_offset, m_size);
}

int DAXORBRegion::Size0() const {
  if (!IsClean(m_state)) return 0;
  return std::min(m_fifoSize - m_offset, m_size);
}

int DAXORBRegion::Size1() const {
  if (!IsClean(m_state)) return 0;
  const int64_t end = int64_t{m_offset} + m_size;
  return end >= m_fifoSize ? Wrap(end) : 0;
}

DAXOString DAXORBRegion::StateToString(const DAXOConstRBRegionState& state) {
  switch (state) {
    case DAXOConstRBRegionEmpty:
      return "DAXOConstRBRegionEmpty";
    case DAXOConstRBRegionWarnings:
      return "DAXOConstRBRegionWarnings";
    case DAXOConstRBRegionUninitialized:
      return "DAXOConstRBRegionUninitialized";
    case DAXOConstRBRegionOverflowOp:
      return "DAXOConstRBRegionOverflowOp";
    case DAXOConstRBRegionErrors:
      return "DAXOConstRBRegionErrors";
    case DAXOConstRBRegionInvalid:
      return "DAXOConstRBRegionInvalid";
    case DAXOConstRBRegionInvalidOp:
      return "DAXOConstRBRegionInvalidOp";
  }
  return "Unknown state";
}
