// Byte-stream component templates: abstract bases for components that
// consume a stream of bytes (a serial-line or socket decoder, say).
//
// DAXOStream8InputComponent reads its "iStream8" input into a ring FIFO of
// "pInputFIFOSize" bytes, stamps every byte with a timestamp and the time of
// issue of the sample that brought it, and hands the whole FIFO to the
// derived class after each received sample. DAXOStream8IOComponent adds the
// "oStream8" output and SendData, which writes a byte array as samples of at
// most "pOutputFIFOsSize" bytes.
//
// Using a template in a package:
//   class MyDecoder : public DAXOStream8InputComponent {
//    public:
//     using DAXOStream8InputComponent::DAXOStream8InputComponent;
//     void ProcessStreamData(DAXORBRegion& fifo, unsigned char* data,
//                            DAXOTimestamp* timestamps, DAXOTimestamp* timesOfIssue) override;
//   };
//   DAXOComponentDefinition s_myDecoder{"MyDecoder", "1.0", &Instantiate, ...};
//   with inputs / nbInputs, properties / nbProperties (and outputs for the
//   IO template) pointing at the template's static tables
//   (DAXOStream8InputComponent::InputDefinitions, ::PropertyDefinitions...)
//   and the counts DAXOComponentDefinition::CountUntilZeroRow; then
//   DAXO_DECLARE_MODULE(MyDecoder, "DAXOComponent", "MyDecoder", "1.0", &s_myDecoder).
// A definition may also leave the template's rows out: Dynamic() then
// declares them as dynamic elements. A derived Dynamic() calls the
// template's first, then declares its own dynamic elements.
//
// ProcessStreamData consumes from the front of the run of `fifo` with
// DAXORBRegion::Pop (fifo[i] is the ring slot of the i-th byte held; Size0
// and Size1 split the run at the wrap point) and may leave bytes for the next
// call. When the FIFO is full, a new sample overwrites the oldest bytes. While
// engine time runs backwards, each received sample empties the FIFO before
// its bytes are appended.
//
// Decisions:
//   - an overwriting Push reports OverflowOp: that is the FIFO dropping its oldest bytes, not a
//   fault.
//   - "pInputFIFOSize" below 1 or above INT_MAX fails Birth with "Error while initializing the
//   FIFO".
//   - "pOutputFIFOsSize" below 1 fails Birth (SendData could never send a byte).
//   - a sample whose VectorSize() exceeds its BufferSize(), or that has no data, raises an error in
//   Core.
//   - SendData with a negative length, or null data and a length above 0, raises an error.
//   - SendData answers false when StartWriting fails: the caller returns from Core at once.
//   - each SendData sample holds at most the element's BufferSize() bytes (the "oStream8" buffer is
//     allocated with pOutputFIFOsSize at Birth unless it already has one).
//
// Threading: Core, ProcessStreamData and SendData run on the component's
// thread (SendData also from the derived class's own code on that thread).
// The three arrays and the region take no lock. Birth and Death run on the
// component's thread too, never at the same time as Core.
#pragma once

#include "daxo_component.h"
#include "daxo_rb_region.h"
#include "daxo_types.h"

#include <memory>

/// What the two templates share: the FIFO, its arrays and Core.
class DAXOStream8ComponentBase : public DAXOComponent {
 public:
  /// The rows a template declares, each table ending with an all-zero row.
  struct Tables {
    const DAXOInputDefinition* inputs;
    const DAXOOutputDefinition* outputs;
    const DAXOPropertyDefinition* properties;
    const DAXOActionDefinition* actions;
  };

  /// Declares every row of the template's tables that the component's
  /// definition does not already make, in table order.
  void Dynamic() override;
  /// Starts one run: reads "pInputFIFOSize" and builds an empty FIFO.
  void Birth() override;
  /// Reads one sample of "iStream8" and Receive()s it.
  void Core() override;
  /// Appends the bytes of `sample` (a Stream8 sample the caller holds) to
  /// the FIFO and calls ProcessStreamData. For a derived Core that reads
  /// "iStream8" together with inputs of its own (an end-of-file input, say).
  void Receive(DAXOIOElt& sample);
  /// Releases the arrays.
  void Death() override;
  /// The consumer: takes what it can from the run of `fifo`. `data`,
  /// `timestamps` and `timesOfIssue` are indexed by ring slot.
  virtual void ProcessStreamData(DAXORBRegion& fifo, unsigned char* data, DAXOTimestamp* timestamps,
                                 DAXOTimestamp* timesOfIssue) = 0;

  /// (Re)builds an empty FIFO of `size` slots; a size the region refuses
  /// raises "Error while initializing the FIFO".
  void Initialize(long size);
  /// Releases the three arrays (null afterwards).
  void Close();

 protected:
  DAXOStream8ComponentBase(const char* name, DAXOComponentDefinition& definition,
                           const Tables& tables);
  ~DAXOStream8ComponentBase() override;

  /// The value of integer property `shortName`, read under the value locks.
  long IntegerProperty(const char* shortName);

  std::unique_ptr<unsigned char[]> m_data;
  std::unique_ptr<DAXOTimestamp[]> m_timestamps;
  std::unique_ptr<DAXOTimestamp[]> m_timesOfIssue;
  DAXORBRegion m_fifo;
  /// Set by Birth; for the derived class.
  bool m_started = false;

 private:
  Tables m_tables;
};

class DAXOStream8InputComponent : public DAXOStream8ComponentBase {
 public:
  DAXOStream8InputComponent(const char* name, DAXOComponentDefinition& definition);

  // "iStream8" (Stream8, FIFO reader); "pInputFIFOSize" (integer, 1000).
  static DAXOInputDefinition InputDefinitions[2];
  static DAXOOutputDefinition OutputDefinitions[1];
  static DAXOPropertyDefinition PropertyDefinitions[2];
  static DAXOActionDefinition ActionDefinitions[1];
};

class DAXOStream8IOComponent : public DAXOStream8ComponentBase {
 public:
  DAXOStream8IOComponent(const char* name, DAXOComponentDefinition& definition);

  /// As the base, then reads "pOutputFIFOsSize" (refused below 1) and
  /// allocates the "oStream8" buffers with that many bytes each.
  void Birth() override;
  /// Writes `length` bytes to "oStream8" as samples of at most
  /// "pOutputFIFOsSize" bytes, each stamped `ts` (0: engine time now).
  /// Length 0 writes nothing. True unless a write failed.
  virtual bool SendData(const unsigned char* data, int length, DAXOTimestamp ts);
  virtual bool SendData(const char* data, int length, DAXOTimestamp ts);

  // "iStream8" as above; "oStream8" (Stream8, FIFO of 16, shareable);
  // "pInputFIFOSize" (1000) and "pOutputFIFOsSize" (10).
  static DAXOInputDefinition InputDefinitions[2];
  static DAXOOutputDefinition OutputDefinitions[2];
  static DAXOPropertyDefinition PropertyDefinitions[3];
  static DAXOActionDefinition ActionDefinitions[1];

 protected:
  /// The largest number of bytes in one output sample.
  DAXOInt32 m_outputChunkSize = 0;

 private:
  DAXOOutput* m_output = nullptr;  // "oStream8", found at Birth
};
