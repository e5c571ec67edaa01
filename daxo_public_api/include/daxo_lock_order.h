// The SDK's lock order: every lock of the runtime, the micro-kernel and the
// engine, outermost first. A thread that holds a lock may take only locks
// further down this list (or, for the recursive ones, the same lock again).
// Class banners say what their locks guard and refer here for the order.
// Documentation only: nothing to include.
//
//  1. Diagram lock (engine: DiagramLock; SDK: DAXOKernel::LockDiagram, e.g.
//     through DAXOPrivate::DiagramLockScope). Recursive. Held while the
//     diagram changes: a component or an engine function is built or
//     destroyed, connected or
//     disconnected, re-declares its elements (CallDynamic) or removes one.
//     Its holder runs component code (constructors, Dynamic, destructors,
//     EngineConnect / EngineDisconnect, which wait for a reader to give its
//     samples back) and may call every engine service. Never held while a
//     component starts or dies: a dying component may take it itself.
//  2. Package loader lock (PackageLoader, recursive). Held for a whole Load,
//     DAXOPckInit included; taken under the diagram lock when a model is
//     looked up. Failures are reported after it is released.
//  3. Component lifecycle lock (DAXOComponent, DAXOMutex2). Held by Start
//     (across a sequential Birth, and up to 3 s while a threaded one waits
//     for Birth) and by CallDynamic (across Dynamic).
//  4. Death lock of a sequential component (DAXOComponent, DAXOMutex). Held
//     across its Birth, every Core and its whole death (Banzai, the wait for
//     its lives, Death).
//  5. Connection mutex of an output (DAXOOutputImplementation). Held while
//     the writer calls the output's sequential readers and while an input is
//     linked or unlinked. A reader's SequentialCore takes the reader's death
//     lock under it: along a chain of sequential components, levels 4 and 5
//     are taken in data-flow order (a component's death lock, its output's
//     connection mutex, the reader's death lock, the reader's output's
//     connection mutex ...), so a cycle of sequential components would
//     deadlock. No connection mutex is taken with a module lock (6) held.
//  6. Module lock (DAXOModule, DAXOMutex2): state changes, the element and
//     property lists, the registered names, the lives.
//  7. Property lock (DAXOModule, DAXOMutex2), always after the module lock
//     (DAXOModule::ValueGuard takes both): every value read and write. Both
//     are held while a property callback runs; the callback may take them
//     again (lookups take the module lock), but writing another module's
//     property nests that module's locks: two modules whose callbacks write
//     each other can deadlock.
//  8. Input mutex (DAXOInputImplementation) and FIFO mutex (DAXOFastIO; also
//     the protecting mutex of its readers' DAXOCondition2). Never nested with
//     each other; taken under a connection mutex or a module lock, held only
//     for bookkeeping, never across a wait or a report.
//  9. Leaves of a module: threads lock, error lock (DAXOModule). The
//     module's thread objects (DAXOThread) are called under the threads
//     lock: the engine's (EngineThread) take their load-window lock (14)
//     and may report a warning (report hub, 14) when a processor cannot be
//     applied.
// 10. Engine clock: the time-change condition's protecting mutex, then the
//     clock's state lock. A waiter holds the first between
//     BeginTimeComputation and WaitX (never while blocked); a clock change
//     holds both and signals the condition (11) under the first.
// 11. Protecting mutex of a DAXOCondition / DAXOCondition2 (the caller's
//     DAXOMutex): held only between the calls, released before blocking.
// 12. Timer service lock (TimerService). Held while a trigger fires, so that
//     ResetEventTrigger cannot return while its event is being set; nobody
//     enters the service holding an event mutex.
// 13. Event mutex (DAXOEvent, DAXOEventBasic), then the mutex of ONE thread
//     waiting on several events at a time (DAXOPosixWaitingThread). Set is
//     called under 8, 10, 11 and 12; no event mutex is held while calling the
//     engine.
// 14. Leaves, which call nothing while held: the engine's symbol registry,
//     properties, module notices, report hub (sinks are called after it is
//     released, on the reporting thread, so a sink may run under any lock
//     above and must not report back), the diagram's table mutex, the
//     diagram lock's own mutex, the neutral-service set, the engine
//     functions' table (CoreFunctions), the script service's queue mutex
//     (ScriptService; never held while a script runs), the engine list, the
//     open-library list, each report sink, the clock table, an engine
//     thread's load window (EngineThread); the runtime's DAXOMutex2
//     bookkeeping mutex, DAXOProcess's mutex, the joinable-thread list, the
//     file lock table (then a text conversion handle's mutex, then the
//     converter set's mutex).
// 15. Listener hub lock (engine: ListenerHub), the innermost: a notice is
//     posted under the clock's state lock (10) and under the diagram's table
//     mutex (14), so that notices queue in the order of the changes. Nothing
//     is called or reported under it. Listener callbacks run on the hub's
//     notice thread with NO lock held; Unregister waits (lock released) for
//     the listener's running callback, so a thread must not unregister a
//     listener while holding a lock that its callback takes (the diagram
//     lock, held while a component is destroyed, is the one to mind).
//
// Pins of the symbol registry (14) are not a lock but block like one: a
// module's destruction (DAXOModule teardown; the diagram before it deletes
// a component) waits, with none of the module's locks held, until the
// readers that found one of its properties by name (DAXO::GetStringProperty,
// GetEnumsProperty) have read it under the module's locks (6, 7). A get
// callback of a property read that way must not wait for the diagram lock.
//
// Reports and errors may be made under any lock down to 7: the engine's
// report and state operations take only leaves (14) and never call back into
// a module. Waits (DAXOModule::Wait4Event ..., DAXO::WaitForTimestamp) are
// made with none of the module's locks held. DAXOKernel::GlobalOSMutex is a
// component's own lock: the SDK never takes it.
//
// Checked: the annotations of daxo_thread_annotations.h let clang
// (-Wthread-safety, the "thread-safety" build) check which lock guards a
// field and which locks a function needs; the order above is checked by
// review only.
//
// Known inversions, kept as they are until they are fixed:
// - A re-declaration that drops or replaces an element (DAXOModule::
//   FindOrInsert) removes it with the module lock held: RemoveInput and
//   RemoveOutput then take the diagram lock (already the thread's in
//   Dynamic and in construction, so it does not block) and connection
//   mutexes after the module lock.
// - A guarded DAXOComponent::Set runs CallDynamic, which takes the diagram
//   lock and then the lifecycle lock: from a sequential Birth (lifecycle
//   lock held by Start) that is 3 before 1, and from a threaded Birth it
//   waits until Start stops waiting for the birth (3 s).
// - Diagram::Destroy of a living component shuts it down with the diagram
//   lock held; a death that takes the diagram lock (a guarded Set) waits
//   until the shutdown gives up.
#pragma once
