// Engine-wide waits for an engine timestamp: block the calling thread until
// engine time reaches a given value, following the engine's speed, pause
// state, direction and time jumps, or until one of the caller's cancel
// events is set. The module waits (DAXOModule::WaitForTimestamp) are built
// on these and add the module's die event.
//
// Threading: any thread may call these, with no engine lock held and none of
// the caller's locks that a clock change or a Set of a cancel event could
// need. The call blocks; it arms a private timer of its own and enrols on
// the engine's time-change condition for each wait, both released before it
// returns or throws. Without a bound engine the wait runs on the system's
// monotonic clock at real-time speed.
#pragma once

#include "daxo_types.h"

class DAXOEvent;

namespace DAXO {

/// Blocks until engine time reaches `t` (from below while time runs
/// forwards, from above while it runs backwards) or one of
/// `cancelEvents[0..nCancel-1]` is set. True when `t` was reached (also at
/// once, when it is already behind); false when cancel event k fired, with
/// *which = k. *which is -1 otherwise. *timeChanged becomes true when the
/// engine's time changed (speed, pause or a jump) during the wait. While the
/// clock is stopped or paused only a time change or a cancel event ends the
/// wait. `which` and `timeChanged` may be null. A negative nCancel, too many
/// cancel events, a timer that cannot be armed or a failed wait is reported
/// as an engine-wide error and thrown as DAXO::ModuleDied.
bool WaitForTimestamp(DAXOTimestamp t, int nCancel, DAXOEvent** cancelEvents, int* which,
                      bool* timeChanged);
/// The same with at most one cancel event (`cancel` may be null).
bool WaitForTimestamp(DAXOTimestamp t, DAXOEvent* cancel, bool* timeChanged);

}  // namespace DAXO
