// DAXOModule: the base of everything the engine runs. It owns the module's
// state word (watched by the engine), its properties, the names it registered
// in the engine and the list of its threads, and it carries the property
// operations (create, find, read, write) with their checks and messages.
//
// Lifecycle: the constructor creates the standard module properties; the
// destructor unregisters every name the module registered in the engine and
// frees its properties. A bare module is living from construction; Start
// makes it living again after an error or a death.
//
// Threading. The module's locks, outermost first (their place among the
// SDK's: daxo_lock_order.h):
//   module lock (DAXOMutex2: state changes, property list, registered names)
//   -> property lock (DAXOMutex2: every property value read and write, and
//      the callbacks, which may themselves look up, read or write properties
//      of the same module)
//   -> threads lock and error lock (leaves: the thread list, the last error;
//      the thread objects are called under the threads lock, see "the
//      module's threads" below)
// Value reads and writes take the module lock and then the property lock
// (ValueGuard), so a callback may take the module lock again (every lookup
// does) without inverting the order. The state word itself is atomic: the
// write checks and the callbacks read and change it without a lock. The
// fields name their lock (DAXO_GUARDED_BY), which the thread-safety build
// checks.
// Reports and errors may be made with these locks held: the engine's report
// and state operations never call back into the module.
// Failures are raised with Error (report at error level, then throw the
// integer DAXO::ErrorException); lookups of absent properties go through the
// kernel error path (DAXOPrivate::KernelError, also throwing -5). The
// reading and writing calls are the exception: a failing one reports, sets
// the error state and answers null, and the component's life ends after the
// Core during which it failed (see "reading and writing" below).
#pragma once

#include <atomic>

#include "daxo_definitions.h"
#include "daxo_event.h"
#include "daxo_list.h"
#include "daxo_module_management.h"
#include "daxo_mutex.h"
#include "daxo_property.h"
#include "daxo_string.h"

class DAXOThread;
class DAXOInput;
class DAXOOutput;
class DAXOIOElt;
class DAXOInputImplementation;
class DAXOAction;

using ErrorCode = int;

namespace DAXO {
// Module state bits (DAXOModule::State()).
constexpr DAXOUInt32 DeadState = 0x1;
constexpr DAXOUInt32 DyingState = 0x2;
constexpr DAXOUInt32 LivingState = 0x4;
constexpr DAXOUInt32 ErrorState = 0x8;
constexpr DAXOUInt32 StartAutomaticallyState = 0x10;

constexpr ErrorCode ErrorGeneric = 0;

/// The property registered in the engine under `fullName`, or null.
DAXOProperty* Property(const char* fullName);
/// The value of a string or enumeration property (the selected value's text)
/// anywhere in the engine. Absent or of another kind: with `found`, *found is
/// false and the text empty; without it, the kernel error path throws.
DAXOString GetStringProperty(const char* fullName, bool* found = nullptr);
/// The same for an enumeration property.
DAXOEnumStruct GetEnumsProperty(const char* fullName, bool* found = nullptr);
}  // namespace DAXO

class DAXOModule : public DAXOModuleBase {
 public:
  /// A living module named `name`, with the "processor" property when
  /// `processorSelection` is set and the performance properties ("counter",
  /// "nbPeriods", "averagePeriod", "minPeriod", "maxPeriod",
  /// "contextSwitches", "CPULoad") when `performanceMonitoring` is set. May
  /// throw DAXO::ErrorException when the engine refuses a property name.
  explicit DAXOModule(const char* name, bool performanceMonitoring = false,
                      bool processorSelection = false);
  /// Unregisters every name the module registered and frees its properties.
  ~DAXOModule() override;

  /// "module"; a component answers "component".
  virtual const char* Kind() const;
  /// Does nothing in a module.
  virtual void SequentialCore(class DAXOInput* /*input*/) {}
  /// Stores the error, sets DAXO::ErrorState, tells the engine, reports
  /// `text` at error level and throws DAXO::ErrorException. Never returns.
  [[noreturn]] virtual void Error(const char* text, int code = 0,
                                  ErrorCode errorCode = DAXO::ErrorGeneric);
  /// Reports Kind() + " " + name + ": " + text to the engine.
  virtual void Report(const char* text, int level, int code);
  /// Renames the module and every element whose full name starts with the
  /// old name (inputs, outputs, properties, actions) and the names it
  /// registered in the engine.
  void Rename(const char* oldName, const char* newName) override;
  /// The engine created the module or changed its connections; a component
  /// re-declares its dynamic elements (CallDynamic). Nothing in a module.
  virtual void ElementsChanged() {}
  /// One more call of the work loop: "counter" + 1 and the period
  /// statistics over the last "nbPeriods" periods ("averagePeriod",
  /// "minPeriod", "maxPeriod"). Nothing without the performance properties.
  virtual void PerformanceMonitoring();

  // Typed reads. The property must be of the kind asked for (integer and
  // string reads also accept an enumeration); otherwise Error is raised.
  virtual void Get(DAXOProperty& property, bool& value);
  virtual void Get(DAXOProperty& property, long& value);
  virtual void Get(DAXOProperty& property, double& value);
  virtual void Get(DAXOProperty& property, DAXOString& value);
  virtual void Get(DAXOProperty& property, DAXOEnumStruct& value);
  // Guarded writes: after-start, read-only, mutable and kind checks (in that
  // order; the first failure raises Error), then store, set callback,
  // changed flag and event.
  virtual void Set(DAXOProperty& property, bool value);
  virtual void Set(DAXOProperty& property, long value);
  virtual void Set(DAXOProperty& property, double value);
  virtual void Set(DAXOProperty& property, const DAXOString& value);
  virtual void Set(DAXOProperty& property, const DAXOEnumStruct& value);
  void Set(DAXOProperty& property, const DAXOString& values, int selected);

  // Direct writes (the module's own updates of read-only values): only the
  // kind check; no set callback.
  void DirectSet(DAXOProperty& property, bool value);
  void DirectSet(DAXOProperty& property, long value);
  void DirectSet(DAXOProperty& property, double value);
  void DirectSet(DAXOProperty& property, const DAXOString& value);
  void DirectSet(DAXOProperty& property, const DAXOEnumStruct& value);
  void DirectSet(DAXOProperty& property, const DAXOString& values, int selected);

  // Reads of a property of `other` under its module and property locks.
  // False (value untouched) when the kinds do not match.
  static bool Get(DAXOModule& other, DAXOProperty& property, bool& value);
  static bool Get(DAXOModule& other, DAXOProperty& property, long& value);
  static bool Get(DAXOModule& other, DAXOProperty& property, double& value);
  static bool Get(DAXOModule& other, DAXOProperty& property, DAXOString& value);
  static bool Get(DAXOModule& other, DAXOProperty& property, DAXOEnumStruct& value);

  /// True when a property before the dynamic property cursor has that short
  /// name (null matches an empty short name).
  bool HasProperty(const char* shortName);
  /// The index-th property after the special ones; out of range: kernel
  /// error "Trying to access unknown property #i of <kind> <name>".
  DAXOProperty* Property(int index);
  /// The property with that short name; none: kernel error.
  DAXOProperty* Property(const char* shortName);
  /// Number of properties after the special ones.
  int NbProperties();

  /// Creates (or, while the module re-declares its properties, re-uses) a
  /// property from `definition` named `shortName` (default: the
  /// definition's name) and registers it in the engine. Throws
  /// DAXO::ModuleDied while the module is dying; failures raise Error.
  DAXOProperty* NewProperty(const DAXOPropertyDefinition& definition,
                            const char* shortName = nullptr);
  /// The placing step of NewProperty, under the module lock: the property
  /// named `fullName` re-used from the dynamic cursor on (created false,
  /// when it was made from the same definition name pointer), or a new bare
  /// one linked in (created true).
  DAXOProperty* NewPropertyX(const DAXOString& fullName, const char* definitionName, bool& created);
  /// As NewProperty for the built-in properties: inserted at the front of
  /// the list, counted as special, no cursor.
  DAXOProperty* NewSpecialProperty(const DAXOPropertyDefinition& definition,
                                   const char* shortName = nullptr);
  /// Unregisters the property's name from the engine, then RemovePropertyX.
  void RemoveProperty(DAXOProperty* property);
  /// Destroys the property if it is one of this module's; no engine notice.
  void RemovePropertyX(DAXOProperty* property);

  /// Places the dynamic property cursor at the first property after the
  /// special ones: the following NewProperty calls re-declare the module's
  /// own properties in order.
  void BeginPropertyRedeclaration();
  /// Removes every property from the cursor on (not re-declared) and clears
  /// the cursor.
  void EndPropertyRedeclaration();

  /// Clears DAXO::ErrorState, DeadState and DyingState and the mark of a
  /// failed reading or writing call, sets LivingState, resets the die and
  /// all-lives-lost events; tells the engine.
  void Start();
  /// Sets DAXO::DyingState and the die event. Never blocks.
  void Die();

  // Lives: one per thread that runs the module's code (the component's main
  // thread, extra threads). The death sequence waits until every life is
  // lost before it calls Death, so that no thread still runs the module's
  // code while it is being taken down.
  /// One more life, under the module lock.
  void OneMoreLife();
  /// One life less, under the module lock; reaching 0 sets the
  /// all-lives-lost event.
  void LoseOneLife();
  int Lives();
  /// Blocks until every life is lost, at most "Engine.shutdownTimeout" µs
  /// (when that engine property exists and is not negative; otherwise 10 s).
  /// True when they were; on time-out reports a warning (level 1, code 2)
  /// and answers false.
  bool Wait4Death();
  DAXOEvent& AllLivesLostEvent() { return m_allLivesLostEvent; }
  DAXOUInt32 State() const { return m_state.load(); }
  DAXOEvent& DieEvent() { return m_dieEvent; }
  ErrorCode LastErrorCode() DAXO_EXCLUDES(m_errorLock);
  DAXOString LastErrorMessage() DAXO_EXCLUDES(m_errorLock);

  // --- inputs and outputs (daxo_module_io.cpp) ----------------------------------
  // Created under the module lock while the module is not living (its
  // construction, Dynamic) or by the engine; removed with the engine's
  // diagram lock held. Failures raise Error after the lock is released;
  // creating on a dying module throws DAXO::ModuleDied.
  /// Creates (or, inside a re-declaration window, re-uses) the input made
  /// from `definition`, named `shortName` (default: the definition's name),
  /// registers it in the engine and gives it ".subsampling" and, for FIFO
  /// family readers, ".readerType".
  DAXOInput& NewInput(const DAXOInputDefinition& definition, const char* shortName = nullptr);
  /// The same for an output: FIFO, buffer of the definition's size,
  /// ".subsampling", ".fifosize", ".periodic". Module outputs may have '.'
  /// and ':' in their names.
  DAXOOutput& NewOutput(const DAXOOutputDefinition& definition, const char* shortName = nullptr);
  /// Find-or-insert of an input / output named `fullName` inside the dynamic
  /// window (appended when there is none); `created` tells whether it is
  /// new, `index` gives its position. Module lock held by the caller.
  DAXOInput* NewInputX(const DAXOString& fullName, const char* definitionName, bool& created,
                       int& index);
  DAXOOutput* NewOutputX(const DAXOString& fullName, const char* definitionName, bool& created,
                         int& index);
  /// Detaches, removes the special properties, unregisters and destroys,
  /// under the engine's diagram lock.
  void RemoveInput(DAXOInput* input);
  void RemoveOutput(DAXOOutput* output);
  /// Unlinks and destroys only (a registration that was refused).
  void RemoveInputX(DAXOInput* input);
  void RemoveOutputX(DAXOOutput* output);
  /// Inputs and outputs in creation order; unknown index or name: kernel
  /// error "Trying to access unknown input #i of <kind> <name>" (throws).
  DAXOInput& Input(int index);
  DAXOOutput& Output(int index);
  DAXOInput& Input(const char* shortName);
  DAXOOutput& Output(const char* shortName);
  int NbInputs();
  int NbOutputs();
  /// Address of the reader number of the index-th input.
  int* ReaderHandle(int index);
  /// The input served by the current sequential call (null outside one).
  DAXOInput* CurrentInput() const { return m_currentInput; }
  /// Places the dynamic input and output cursors at the first element: the
  /// following creations re-declare them in order (connections of the
  /// elements declared again survive).
  void BeginIORedeclaration();
  /// Removes every input and output from the cursors on and clears them.
  void EndIORedeclaration();

  /// Creates (or re-uses inside the re-declaration window) the action made
  /// from `definition`, with its own copy of the action function, and
  /// registers it in the engine.
  DAXOAction& NewAction(const DAXOActionDefinition& definition, const char* shortName = nullptr);
  /// Find-or-insert of an action inside the dynamic window (module lock
  /// held by the caller).
  DAXOAction* NewActionX(const DAXOString& fullName, const char* definitionName, bool& created);
  /// Unregisters and destroys the action; the X form only destroys it.
  void RemoveAction(DAXOAction* action);
  void RemoveActionX(DAXOAction* action);
  /// Actions in creation order; unknown: kernel error (throws).
  DAXOAction& Action(int index);
  DAXOAction& Action(const char* shortName);
  int NbActions();

  /// Starts an extra thread of the module, run by the engine, that calls
  /// `function` on this module; returns once the thread runs. The thread
  /// counts as a life of the module (its death waits for it: the function
  /// must end when the die event is set). DAXO::ModuleDied ends it quietly,
  /// other exceptions are reported. Failure raises Error.
  void CreateThread(void (DAXOModule::*function)());

  // Set callbacks of the per-input and per-output special properties.
  static void SetOutputSubsamplingProperty(DAXOProperty& property);
  static void SetOutputFifoSizeProperty(DAXOProperty& property);
  static void SetOutputPeriodicProperty(DAXOProperty& property);
  static void SetInputSubsamplingProperty(DAXOProperty& property);
  static void SetInputReaderTypeProperty(DAXOProperty& property);

  // --- reading and writing (daxo_module_rw.cpp) --------------------------------
  // Called on the module's own thread (or, for a sequential component, on
  // the thread of the writer that called it). Every blocking call has the
  // die event in its wait set and throws DAXO::ModuleDied when the module
  // is dying: let it leave Core.
  //
  // Failures. A call that cannot do its work (no slot to write into, a
  // writer's wait that was aborted, a FIFO fault, arguments beyond the
  // limits, an overfull vector) reports a component error whose text says
  // what failed, puts the module in DAXO::ErrorState and answers null
  // (false for NLastStartReading, -1 for SynchroStartReading); it does not
  // throw. A failure ends the life: the component must return from Core
  // (or Birth) at once, without calling the failed primitive again, and the
  // lifecycle then runs its death sequence, reported as a Core that raised
  // Error ("... died due to an error."). No further Core runs. A failure
  // outside Core (on an extra thread) ends the life when the Core running
  // at the time, or else the next one, returns.
  //
  // Null without a failure: an input detached by the engine while it was
  // being read (the read answers null, *which names the input; the error
  // state is not set and the life goes on: return from Core and read again
  // in the next one), a cancel event, a waiting message, and a sequential
  // component's read with nothing to read.
  /// Reserves the next slot of `output` (may wait for a never-skipping
  /// reader); its timestamp is 0 (or `t`). Null after a failure (see above).
  DAXOIOElt* StartWriting(DAXOOutput& output);
  DAXOIOElt* StartWriting(DAXOOutput& output, DAXOTimestamp t);
  /// Publishes the element (or drops it when `discard`), stamping it with
  /// engine time when it has no time, and calls the sequential components
  /// connected to the output on this thread. A vector larger than its buffer
  /// is a failure (the sample is published all the same).
  void StopWriting(DAXOIOElt* element, bool discard = false);
  /// The next sample of `input` (releasing what it held). Threaded: blocks
  /// until there is one; sequential: null when there is none. Null after a
  /// failure or a detachment.
  DAXOIOElt* StartReading(DAXOInput& input);
  /// The first sample available on any of `n` inputs (at most 32; the
  /// lowest index wins ties); *which: its index, n + k when the k-th of the
  /// `nCancel` cancel events fired (null returned). Null after a failure
  /// (*which untouched) or a detachment (*which: the detached input).
  DAXOIOElt* StartReading(int n, DAXOInput** inputs, int* which, int nCancel = 0,
                          DAXOEvent** cancelEvents = nullptr);
  /// The same, null at once when a message waits (*which = -2).
  DAXOIOElt* MsgStartReading(DAXOInput& input);
  DAXOIOElt* MsgStartReading(int n, DAXOInput** inputs, int* which, int nCancel = 0,
                             DAXOEvent** cancelEvents = nullptr);
  /// Reads one more sample and gives the `n` latest (oldest first) in `out`.
  /// False after a failure, a detachment, or (sequential) while the window
  /// is not full.
  bool NLastStartReading(DAXOInput& input, int n, DAXOIOElt** out);
  /// One sample per input, timestamps within `tolerance`; their common
  /// lower bound, or -1 when `cancel` fired, after a failure, or when a
  /// sequential component has nothing more to read now.
  DAXOTimestamp SynchroStartReading(int n, DAXOInput** inputs, DAXOIOElt** out,
                                    DAXOTimestamp tolerance, DAXOEvent* cancel = nullptr);
  DAXOTimestamp SynchroStartReading2(int n, DAXOInput** inputs, DAXOIOElt** out,
                                     DAXOTimestamp tolerance, DAXOEvent* cancel = nullptr);
  /// Gives back every slot `input` holds.
  void StopReading(DAXOInput& input);
  bool DataAvailableInFIFO(DAXOInput& input);
  bool IsFIFOEmpty(DAXOOutput& output);
  bool IsFIFOFull(DAXOOutput& output);
  /// Blocks until a sample of `output` was had by every FIFO reader.
  void Wait4Handshake(DAXOOutput& output);

  // --- engine-time waits (daxo_module_waits.cpp) ------------------------------
  // Every wait below has the die event in its wait set and throws
  // DAXO::ModuleDied when the module is dying on waking. Time-outs and delays
  // are engine-time microseconds: they follow the engine's speed, pause and
  // time jumps (re-evaluated whenever the engine's time-change condition
  // fires). Called on the module's own threads, with none of its locks held.
  /// Waits for `event` at most `timeout` (-1: no limit). True when it fired,
  /// false on time-out.
  bool Wait4Event(DAXOEvent* event, DAXODelay timeout);
  bool Wait4Event(DAXOEvent& event, DAXODelay timeout);
  /// Waits for any of `n` events (at most 254), with the die event last when
  /// `withDeath`. The index of the event that fired, or DAXO::TimeOut (-3).
  int Wait4Events(int n, DAXOEvent** events, DAXODelay timeout, bool withDeath);
  /// Message-aware forms; the time-out is passed on unchanged (real time).
  int MsgWait4Event(DAXOEvent* event, DAXODelay timeout);
  int MsgWait4Events(int n, DAXOEvent** events, DAXODelay timeout, bool withDeath);
  /// Sleeps `delay` of engine time (forwards or backwards with the speed).
  /// False when `cancel` fired, true otherwise.
  bool Rest(DAXODelay delay, DAXOEvent* cancel = nullptr);
  /// Sleeps until engine time `t`. False when `cancel` fired.
  bool Wait(DAXOTimestamp t, DAXOEvent* cancel = nullptr);
  /// Waits until engine time `t` through DAXO::WaitForTimestamp. True when
  /// `t` was reached; false when a cancel event fired (*which: its index
  /// among the caller's events) or the wait failed (reported as an error).
  /// *timeChanged tells whether the engine's time changed meanwhile.
  bool WaitForTimestamp(DAXOTimestamp t, DAXOEvent* cancel, bool* timeChanged);
  bool WaitForTimestamp(DAXOTimestamp t, int n, DAXOEvent** events, int* which, bool* timeChanged);

  // --- the module's threads (daxo_module_threads.cpp) -------------------------
  // The list holds every thread that runs the module's code while it runs:
  // a threaded component's main thread from before Birth until its last
  // Core has returned (its death sequence runs unlisted: the component may
  // be destroyed the moment it ends), and each extra thread (CreateThread)
  // from its start until its function has returned. The engine lists them
  // with EngineThreadBegins and EngineThreadEnds; its thread objects answer
  // the performance properties and take the "processor" and "priority"
  // choices. A sequential component has no thread of its own: only its
  // extra threads are listed, and with none "contextSwitches" and "CPULoad"
  // read 0.
  // Threading: the list is guarded by the threads lock, a leaf under the
  // module and property locks (daxo_lock_order.h, level 9). Whoever walks
  // the list calls the thread objects with the threads lock held; a thread
  // leaves the list (under that lock) before its object or itself ends, so
  // a reader never reaches a thread that is gone.
  /// Lists `thread` (not owned). No life is taken: the caller keeps the
  /// object alive until RemoveThread.
  void AddThread(DAXOThread* thread) DAXO_EXCLUDES(m_threadsLock);
  /// Unlists `thread` (nothing when it is not listed).
  void RemoveThread(DAXOThread* thread) DAXO_EXCLUDES(m_threadsLock);
  /// Engine entry point (virtual: the engine reaches a package's module
  /// through its own copy of the SDK), called on the thread that `thread`
  /// describes before it runs the module's code: takes one more life (so the
  /// module's death waits until the thread has left), lists the thread and
  /// pins it to the "processor" value when that is not -1, all under the
  /// module's value locks, so that a "processor" change made meanwhile is
  /// either seen here or applied to the listed thread. True when the thread
  /// was listed (then, and only then, EngineThreadEnds must follow); false
  /// for a null thread or when the list cannot grow. Never throws.
  virtual bool EngineThreadBegins(DAXOThread* thread);
  /// Engine entry point, on the same thread once it no longer runs the
  /// module's code: unlists the thread, then gives its life back (the module
  /// may then be destroyed at once: nothing touches it afterwards). Never
  /// throws.
  virtual void EngineThreadEnds(DAXOThread* thread);

  /// Held around every value read and write: the module lock, then the
  /// property lock. Taking the module lock too lets a callback look up
  /// properties of its module (a lookup takes the module lock) without
  /// inverting the lock order.
  /// The two member guards do the locking, which the thread-safety analysis
  /// does not follow into members: it trusts the annotations here.
  class DAXO_SCOPED_CAPABILITY ValueGuard {
   public:
    DAXO_NO_THREAD_SAFETY_ANALYSIS explicit ValueGuard(DAXOModule& module)
        DAXO_ACQUIRE(module.m_moduleLock, module.m_propertyLock)
        : m_module(module.m_moduleLock), m_property(module.m_propertyLock) {}
    DAXO_NO_THREAD_SAFETY_ANALYSIS ~ValueGuard() DAXO_RELEASE() {}
    /// Releases both (before an error report, for instance).
    DAXO_NO_THREAD_SAFETY_ANALYSIS void unlock() DAXO_RELEASE() {
      m_property.unlock();
      m_module.unlock();
    }

   private:
    DAXOMutexGuard m_module;  // declared first: released last
    DAXOMutexGuard m_property;
  };

  DAXOMutex2& ModuleLock() DAXO_RETURN_CAPABILITY(m_moduleLock) { return m_moduleLock; }
  /// Whether `property` is still one of this module's properties, named
  /// `fullName` (a reader that found it by name checks this before reading:
  /// it may have been removed, or replaced at the same address, since).
  bool OwnsProperty(DAXOProperty* property, const char* fullName) DAXO_REQUIRES(m_moduleLock);
  DAXOMutex2& PropertyLock() DAXO_RETURN_CAPABILITY(m_propertyLock) { return m_propertyLock; }

  // Callbacks of the built-in properties.
  static void SetProcessorProperty(DAXOProperty& property);
  /// Runs the engine time object's "refreshInputProperties" action with
  /// `inputName`, when the engine has such an object with such an action.
  static void RefreshInputProperties(const char* inputName);
  static void GetPerfMonProperties(DAXOProperty& property, void* value);

  // Built-in property definitions.
  static const DAXOPropertyDefinition PeriodicPropertyDefinition;
  static const DAXOPropertyDefinition FifoSizePropertyDefinition;
  static const DAXOPropertyDefinition IOSubsamplingPropertyDefinition;
  static const DAXOPropertyDefinition ReaderTypePropertyDefinition;
  static const DAXOPropertyDefinition ProcessorPropertyDefinition;
  static const DAXOPropertyDefinition CounterPropertyDefinition;
  static const DAXOPropertyDefinition NbPeriodsPropertyDefinition;
  static const DAXOPropertyDefinition AveragePeriodPropertyDefinition;
  static const DAXOPropertyDefinition MinPeriodPropertyDefinition;
  static const DAXOPropertyDefinition MaxPeriodPropertyDefinition;
  static const DAXOPropertyDefinition ContextSwitchesPropertyDefinition;
  static const DAXOPropertyDefinition CPULoadPropertyDefinition;

 protected:
  /// Sets the bits of `set`, clears those of `clear`, tells the engine.
  void ChangeState(DAXOUInt32 set, DAXOUInt32 clear);
  /// As ChangeState without telling the engine (the caller has told it).
  void ChangeStateQuietly(DAXOUInt32 set, DAXOUInt32 clear);
  /// Tells the engine the current state.
  void NotifyState();
  /// Hands `priority` to every thread of the module.
  void ApplyPriority(int priority) DAXO_EXCLUDES(m_threadsLock);

 private:
  enum class WriteKind { Bool, Integer, Float, String, Enum };
  void CheckWritable(DAXOPropertyImplementation& property, WriteKind kind, bool guarded);
  // The steps of a write that run under the value locks (ValueGuard).
  void StoreInteger(DAXOPropertyImplementation& property, long value)
      DAXO_REQUIRES(m_moduleLock, m_propertyLock);
  bool StoreString(DAXOPropertyImplementation& property, const DAXOString& value, bool guarded)
      DAXO_REQUIRES(m_moduleLock, m_propertyLock);
  void FinishWrite(DAXOPropertyImplementation& property, bool guarded)
      DAXO_REQUIRES(m_moduleLock, m_propertyLock);
  // One write: the checks, then `store` under the locks, then the flags and
  // the event (a store that returns false changed nothing).
  template <class Store>
  void Write(DAXOProperty& property, WriteKind kind, bool guarded, Store store);
  DAXOProperty* CreateProperty(const DAXOPropertyDefinition& definition, const char* shortName,
                               bool special);
  void TearDown();
  void Unregister(const char* fullName);
  DAXOBasicListItem* FindItem(DAXOProperty* property) DAXO_REQUIRES(m_moduleLock);

  std::atomic<DAXOUInt32> m_state{DAXO::LivingState};
  DAXOMutex m_errorLock;  // leaf
  ErrorCode m_errorCode DAXO_GUARDED_BY(m_errorLock) = DAXO::ErrorGeneric;
  DAXOString m_lastError DAXO_GUARDED_BY(m_errorLock);
  DAXOEvent m_dieEvent;
  DAXOEvent m_allLivesLostEvent;
  int m_lives DAXO_GUARDED_BY(m_moduleLock) = 0;
  DAXOMutex2 m_moduleLock;
  DAXOMutex2 m_propertyLock;
  DAXOList<DAXOProperty*> m_properties DAXO_GUARDED_BY(m_moduleLock);  // owned pointers
  int m_nbSpecialProperties DAXO_GUARDED_BY(m_moduleLock) = 0;
  // The boundary item.
  DAXOBasicListItem* m_lastSpecialProperty DAXO_GUARDED_BY(m_moduleLock) = nullptr;
  DAXOBasicListItem* m_dynamicPropertyCursor DAXO_GUARDED_BY(m_moduleLock) = nullptr;
  DAXOList<DAXOString> m_registeredNames DAXO_GUARDED_BY(m_moduleLock);  // own name first
  DAXOMutex m_threadsLock;                                               // leaf
  DAXOList<DAXOThread*> m_threads DAXO_GUARDED_BY(m_threadsLock);        // not owned

 protected:
  // Inputs, outputs and actions, owned.
  DAXOList<DAXOInput*> m_inputs DAXO_GUARDED_BY(m_moduleLock);
  DAXOList<DAXOOutput*> m_outputs DAXO_GUARDED_BY(m_moduleLock);
  DAXOBasicListItem* m_dynamicInputCursor DAXO_GUARDED_BY(m_moduleLock) = nullptr;
  DAXOBasicListItem* m_dynamicOutputCursor DAXO_GUARDED_BY(m_moduleLock) = nullptr;
  DAXOInput* m_currentInput = nullptr;  // the input of the running sequential call
  DAXOList<DAXOAction*> m_actions DAXO_GUARDED_BY(m_moduleLock);
  DAXOBasicListItem* m_dynamicActionCursor DAXO_GUARDED_BY(m_moduleLock) = nullptr;

  /// Places the four dynamic cursors on the first element after the given
  /// number of own elements of each list (properties: after the special
  /// ones and `ownProperties` more). Module lock taken here.
  void PlaceDynamicCursors(int ownInputs, int ownOutputs, int ownProperties, int ownActions);
  /// Removes every element from each cursor on (inputs, outputs,
  /// properties, actions), dropping exceptions of single removals, and
  /// clears the cursors.
  void RemoveFromDynamicCursors();
  void ClearDynamicCursors();
  /// Starts an extra thread through the engine (see CreateThread).
  /// `failure` is the Error text when it cannot be started.
  void StartExtraThread(void (DAXOModule::*function)(), const char* failure);
  // False while the module runs as a sequential component: its reads never
  // block, and writers call its SequentialCore.
  std::atomic<bool> m_threadedReads{true};

  // Period statistics (PerformanceMonitoring; the thread that runs Core).
  struct PeriodStatistics {
    DAXOTimestamp* ring = nullptr;  // owned; capacity a power of two
    int capacity = 0;
    int window = 0;  // the "nbPeriods" value in use
    int position = 0;
    long count = 0;
    DAXOTimestamp last = 0;
    DAXOTimestamp sum = 0;
  } m_periods;
  /// Forgets the period statistics (the next call only records the time).
  void ResetPeriodStatistics();

  /// A reading or writing call failed: Error without the throw (records and
  /// reports `text`, sets DAXO::ErrorState; the call answers null instead of
  /// unwinding) and marks the life as failed (m_primitiveFailed).
  void ReportFailure(const DAXOString& text);
  // Set by ReportFailure (any thread of the module), cleared by Start: the
  // lifecycle ends the life once the Birth or Core that saw it returns.
  std::atomic<bool> m_primitiveFailed{false};

 private:
  template <class Element, class Make>
  Element* FindOrInsert(DAXOList<Element*>& list, DAXOBasicListItem*& cursor,
                        const DAXOString& fullName, const char* definitionName, bool& created,
                        int* index, Make make);
  /// NewInputX / NewOutputX; the position is given only when `index` is
  /// not null.
  DAXOInput* FindOrCreateInput(const DAXOString& fullName, const char* definitionName,
                               bool& created, int* index);
  DAXOOutput* FindOrCreateOutput(const DAXOString& fullName, const char* definitionName,
                                 bool& created, int* index);
  void RemoveElementProperties(const DAXOString& fullName, const char* const* suffixes)
      DAXO_REQUIRES(m_moduleLock);
  /// The property named `shortName`, or null; with `beforeCursor` only
  /// those before the dynamic cursor. Module lock held.
  DAXOProperty* FindPropertyByName(const char* shortName, bool beforeCursor)
      DAXO_REQUIRES(m_moduleLock);
  /// The checks every element creation makes with the module lock held by
  /// `guard` (released before raising): dying module (throws
  /// DAXO::ModuleDied), record without a name, short name not matching
  /// `pattern`. `shortName` defaults to the record's name; `kind` is
  /// "Input", "Output" or "Action". Returns the element's full name. Not
  /// checked by the thread-safety analysis, which cannot follow the guard
  /// through the reference.
  DAXO_NO_THREAD_SAFETY_ANALYSIS DAXOString BeginNewElement(DAXOMutexGuard& guard,
                                                            const char* definitionName,
                                                            const char*& shortName,
                                                            const char* kind, const char* pattern);
  void RemoveElement(DAXOInput* input) { RemoveInput(input); }
  void RemoveElement(DAXOOutput* output) { RemoveOutput(output); }
  void RemoveElement(DAXOAction* action) { RemoveAction(action); }
  DAXOOutput& CreateOutput(const DAXOOutputDefinition& definition, const char* shortName,
                           const char* pattern);
  // The reading calls' bodies (msg: the message-aware waits); what an input
  // holds and the FIFO protocol are its reader's (daxo_input_reader.h).
  DAXOIOElt* ReadOne(DAXOInput& input, bool msg);
  DAXOIOElt* ReadMany(int n, DAXOInput** inputs, int* which, int nCancel, DAXOEvent** cancelEvents,
                      bool msg);
  DAXOIOElt* ReadManySequential(int n, DAXOInput** inputs, int* which);
  DAXOIOElt* ReadManyThreaded(int n, DAXOInput** inputs, int* which, int nCancel,
                              DAXOEvent** cancelEvents, bool msg);
  friend class DAXOComponent;
};
