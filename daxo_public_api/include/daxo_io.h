// Inputs and outputs of a module.
//
// DAXOOutput / DAXOOutputImplementation  an output: its FIFO of I/O elements
//   (the monitor), the one shared block its slots' payloads are carved from,
//   the list of inputs connected to it, its timestamp history.
// DAXOInput / DAXOInputImplementation    an input: the FIFO it reads (null
//   when not connected), its reader number and type in that FIFO, the slots
//   it holds, and the detaching hand-shake with the side that connects it.
//
// Connections are made by the engine through the input's EngineConnect and
// EngineDisconnect (virtual, so that the input's own copy of the SDK runs
// them). A reader never copies a sample: it holds the very slot the writer
// filled (daxo_fast_io.h).
//
// Threading:
// - The input mutex guards the reading side's hold count, detaching and
//   inside-a-read mark (daxo_input_reader.h); it is held only around them,
//   never across a FIFO call or a wait, so it never nests with a FIFO mutex.
// - The output's connection mutex guards its list of connected inputs; it is
//   held while sequential components are called after a publication, and
//   while the engine links or unlinks an input. Where both stand in the
//   SDK's lock order: daxo_lock_order.h (levels 5 and 8).
// - Buffer allocation runs while the owning component is not producing
//   (construction, Start, the component's own Birth).
// - The timestamp history belongs to the writing thread.
#pragma once

#include <atomic>

#include "daxo_definitions.h"
#include "daxo_event.h"
#include "daxo_fast_io.h"
#include "daxo_input_reader.h"
#include "daxo_io_elt.h"
#include "daxo_list.h"
#include "daxo_mutex.h"
#include "daxo_string.h"

class DAXOModule;
class DAXOInput;

class DAXOOutput {
 public:
  // Allocation of the slots' payloads (one shared block for the FIFO). Each
  // raises through DAXOPrivate::KernelError (throws -5) on a negative size,
  // a second allocation, or memory that cannot be had.
  /// `n` items (vector types) or bytes of the variable part (structured
  /// types); `allocate` false sizes the slots but leaves their data null.
  virtual void AllocOutputBuffer(int n, bool allocate = true) = 0;
  virtual void AllocOutputBufferIplImage(const IplImage& model, bool flag = true) = 0;
  virtual void AllocOutputBufferImage(int isize, int width, int height, DAXOUInt32 imageCoding,
                                      DAXOUInt32 imageType, bool headerOnly = false) = 0;
  virtual void AllocOutputBufferDAXOImage(int isize, int width, int height, DAXOUInt32 imageCoding,
                                          DAXOUInt32 imageType, bool headerOnly = false) = 0;
  virtual void AllocOutputBufferMatrix(int n, int m) = 0;
  virtual void AllocOutputBufferAudioSignal(const DAXOAudioSignal& signal) = 0;
  /// Full name (component + "." + short name).
  virtual const char* Name() = 0;
  virtual int NbFIFOOverflows() = 0;
  /// The FIFO's slots; null when the output has no FIFO.
  virtual DAXOIOMonitor* Monitor() = 0;
  virtual void MakeShareable() = 0;
  virtual void MakeUnshareable() = 0;
  /// Bytes per element of the allocated buffer.
  virtual int IOEltSizeBytes() = 0;
  virtual int NbFreeSlotsInFIFO() = 0;
  virtual DAXOTypeInfo& Type() = 0;
  virtual void SetTypeValue(DAXOTypeInfoValue value) = 0;
  virtual void SetTypeUnit(const char* unit) = 0;
  virtual void SetUnit(const char* unit) = 0;
  virtual const char* TypeUnit() = 0;
  virtual const char* Unit() = 0;
  virtual void SetTypeName(const char* name) = 0;
  virtual const char* TypeName() = 0;
  virtual ~DAXOOutput() = default;

  /// The module that owns the output.
  virtual DAXOModule* Owner() = 0;
  virtual const char* ShortName() = 0;
};

class DAXOInput {
 public:
  virtual bool IsConnected() = 0;
  /// The output it reads; null when not connected.
  virtual DAXOOutput* ConnectedOutput() = 0;
  /// The filter an output's type must pass to be connected.
  virtual const DAXOTypeFilterBase* Type() = 0;
  virtual const char* Name() = 0;
  virtual const char* ShortName() = 0;
  /// Whether a StartReading would take a sample without waiting.
  virtual bool DataAvailableInFIFO() = 0;
  virtual int NbDataAvailableInFIFO() = 0;
  virtual ~DAXOInput() = default;

  virtual DAXOModule* Owner() = 0;
  // --- engine entry points ---------------------------------------------------
  /// Connects the input to `output` (disconnecting it first when it reads
  /// another): checks the output's type against Type(), registers a reader
  /// of the input's type and subsampling in the output's FIFO, links the
  /// input in the output's list and sets the connection event. False, with
  /// nothing changed, when the type does not pass, the output has no FIFO or
  /// the FIFO has 32 readers already (reported).
  virtual bool EngineConnect(DAXOOutput& output) = 0;
  /// Detaches the input from its output: a reader inside a reading call or
  /// holding slots is interrupted and gives them back before the reader is
  /// unregistered (at most 10 s; then the slots are taken from it). Then
  /// the connection event is set. Nothing when not connected. Blocks.
  virtual void EngineDisconnect() = 0;
};

class DAXOOutputImplementation : public DAXOOutput {
 public:
  /// An output of `owner` named `fullName` / `shortName`, made from
  /// `definition`, with a FIFO of the definition's size and subsampling
  /// whose waits end with `dieEvent` (the owner's). No buffer yet.
  DAXOOutputImplementation(DAXOModule* owner, const char* fullName, const char* shortName,
                           const DAXOOutputDefinition& definition, DAXOEvent* dieEvent);
  /// Frees the buffer and the FIFO. Every input must be disconnected.
  ~DAXOOutputImplementation() override;
  DAXOOutputImplementation(const DAXOOutputImplementation&) = delete;
  DAXOOutputImplementation& operator=(const DAXOOutputImplementation&) = delete;

  void AllocOutputBuffer(int n, bool allocate = true) override;
  void AllocOutputBufferIplImage(const IplImage& model, bool flag = true) override;
  void AllocOutputBufferImage(int isize, int width, int height, DAXOUInt32 imageCoding,
                              DAXOUInt32 imageType, bool headerOnly = false) override;
  void AllocOutputBufferDAXOImage(int isize, int width, int height, DAXOUInt32 imageCoding,
                                  DAXOUInt32 imageType, bool headerOnly = false) override;
  void AllocOutputBufferMatrix(int n, int m) override;
  void AllocOutputBufferAudioSignal(const DAXOAudioSignal& signal) override;
  const char* Name() override { return name; }
  int NbFIFOOverflows() override { return overflows; }
  DAXOIOMonitor* Monitor() override { return monitor; }
  void MakeShareable() override { definition.shareable = 1; }
  void MakeUnshareable() override { definition.shareable = 0; }
  int IOEltSizeBytes() override { return eltSizeBytes; }
  int NbFreeSlotsInFIFO() override;
  DAXOTypeInfo& Type() override { return definition.type; }
  void SetTypeValue(DAXOTypeInfoValue value) override { definition.type.value = value; }
  void SetTypeUnit(const char* unit) override { definition.type.SetUnit(unit); }
  void SetUnit(const char* unit) override { definition.type.SetUnit(unit); }
  const char* TypeUnit() override;
  const char* Unit() override { return TypeUnit(); }
  void SetTypeName(const char* text) override { definition.type.SetName(text); }
  const char* TypeName() override;
  DAXOModule* Owner() override { return owner; }
  const char* ShortName() override { return shortName; }

  /// Obtains the shared block of `eltSize` x fifoSize bytes (raises when
  /// the product overflows or the memory is refused).
  void AllocateSharedMemory(size_t eltSize);
  /// Zeroes the timestamp history, releases the shared block and forgets
  /// the allocation (a new one is accepted afterwards).
  void FreeBuffer();
  /// Makes every connected reader give back the samples it holds (each
  /// input's Handshake), under the connection mutex: call it before the
  /// buffer goes, with no module lock held (connection mutexes come first).
  void HandshakeReaders();
  /// The FIFO (the monitor's implementation).
  DAXOIOMonitorImplementation* Fifo() { return monitor; }
  /// Inputs connected now, under the connection mutex.
  int NbConnectedInputs();

  DAXOString name;
  DAXOString shortName;
  DAXOString thirdName;
  DAXOMutex connectionMutex;
  DAXOList<DAXOInput*> connectedInputs;  // guarded by connectionMutex
  DAXOModule* owner;
  DAXOIOMonitorImplementation* monitor;
  void* block = nullptr;  // the shared block; null when none
  DAXOOutputDefinition definition;
  int overflows = 0;
  int itemCount = 0;  // items per element; -1 structured; 0 no buffer yet
  int eltSizeBytes = 0;
  bool periodic = false;
  static constexpr int HistorySize = 30;
  DAXOTimestamp history[HistorySize + 1] = {};  // ring of 30, then the last published
  int historyIndex = 0;

 private:
  // The steps every allocation shares: the negative-size and twice checks
  // (raising with `operation`), the element reset.
  void BeginAllocation(const char* operation, const char* parameter, long value);
  // Sets up every slot in list order: `setUp(element, area, position)`.
  template <class SetUp>
  void CarveSlots(int bufferSize, SetUp setUp);
};

class DAXOInputImplementation : public DAXOInput {
 public:
  /// An input of `owner` named `fullName` / `shortName`, made from
  /// `definition` (reader type and subsampling; subsampling 0 counts as 1).
  DAXOInputImplementation(DAXOModule* owner, const char* fullName, const char* shortName,
                          const DAXOInputDefinition& definition);
  /// The input must be disconnected.
  ~DAXOInputImplementation() override;
  DAXOInputImplementation(const DAXOInputImplementation&) = delete;
  DAXOInputImplementation& operator=(const DAXOInputImplementation&) = delete;

  bool IsConnected() override { return fifo != nullptr; }
  DAXOOutput* ConnectedOutput() override { return output; }
  const DAXOTypeFilterBase* Type() override { return definition.typeFilter; }
  const char* Name() override { return name; }
  const char* ShortName() override { return shortName; }
  bool DataAvailableInFIFO() override;
  int NbDataAvailableInFIFO() override;
  DAXOModule* Owner() override { return owner; }
  bool EngineConnect(DAXOOutput& output) override;
  void EngineDisconnect() override;

  /// Makes the reader give back what it holds: a reader inside a reading
  /// call or holding slots is interrupted and acknowledges (at most 10 s;
  /// then its slots are taken from it in the FIFO). Leaves the input
  /// connected. Blocks; call from the connecting side, not the reader.
  void Handshake();

  DAXOString name;
  DAXOString shortName;
  DAXOMutex mutex;
  // Written by the connecting side, read by the reading thread: atomic.
  std::atomic<DAXOIOMonitorImplementation*> fifo{nullptr};  // null when not connected
  std::atomic<DAXOOutputImplementation*> output{nullptr};
  DAXOModule* owner;
  DAXOInputDefinition definition;
  int readerType;
  int subsampling;
  int readerNumber = -1;
  DAXOEvent connectionEvent;
  DAXOEvent interruptEvent;
  DAXOEvent detachAckEvent;
  int subsamplingCounter = 0;  // the reading thread's
  // The held slots, the detaching hand-shake and the inside-a-read mark.
  DAXOInputReader reader{*this, mutex};
};

namespace DAXO {
/// Connects `output` to `input` through the engine (by their full names).
bool Attach(DAXOOutput& output, DAXOInput& input);
/// Detaches `input` from `output` through the engine (when it reads it).
bool Detach(DAXOOutput& output, DAXOInput& input);
}  // namespace DAXO
