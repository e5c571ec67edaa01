// The life of a threaded component on the thread its Start created: Birth,
// the birth signal, Core until the component is asked to die, then its death
// sequence. Exceptions that leave Birth or Core end the life and are
// reported with a fixed text naming the component; so does a Birth or Core
// that returns after a reading or writing call of the component failed
// (reported as DAXO::ErrorException is: "... died due to an error."), and no
// Core runs after it.
//
// Threading: runs entirely on the calling thread (the component's main
// thread) and holds no engine lock while it calls the component. The
// component is reached only through its virtual operations (it was built by
// another module's copy of the SDK). The thread is in the component's thread
// list (an EngineThread: "contextSwitches", "CPULoad", "processor") from
// before Birth until the last Core has returned, and leaves it before the
// death sequence. Once the death sequence has returned the component may be
// gone: nothing touches it afterwards.
#pragma once

#include <functional>
#include <string>

class DAXOComponent;

namespace velquor {

/// Where the runner's reports go: (text, level, code, engine flag).
using ComponentReport = std::function<void(const std::string&, int, int, bool)>;

/// Runs `component`'s life until it is dead (see the banner). Never throws.
void RunComponentLife(DAXOComponent& component, const ComponentReport& report);

}  // namespace velquor
