// PcapFileRecorder: writes a PCAP packet stream to a pcap file
// (microsecond times, snap length 262144, the link type of the first
// sample) through libpcap. The file is created with the first sample; a
// stream that ends without any sample still leaves a valid, empty Ethernet
// capture. Packets are written a block at a time (records as pcap_dump
// writes them). Statistics: "packets" written, "out_of_order" packets older than
// the one before, "max_backwards_us" the largest such step.
//
// Faults (the file cannot be created or written, a sample of another link
// type) raise a component error naming the file.
//
// Threading: threaded model; Birth, Core and Death run on the component's
// thread, which alone touches the dump handles.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "io_common.h"
#include "pcap_data.h"

struct pcap;
struct pcap_dumper;

namespace velquor_io {

class PcapFileRecorder : public IoRecorder, public DAXOpcap_class {
 public:
  static constexpr int KySnapLength = 262144;

  static DAXOComponentDefinition s_definition;

  PcapFileRecorder(const char* name, DAXOComponentDefinition& definition)
      : IoRecorder(name, definition) {}
  ~PcapFileRecorder() override;

  /// A malformed sample: raises the component error.
  void FatalError(const char* message) override;

 protected:
  void Open() override;
  void Write(DAXOIOElt& element) override;
  void Finish() override;
  void Close() override;

 private:
  /// Creates the file for `linkType`.
  void Create(int linkType);
  void CheckWritten();
  /// Adds one packet's record to m_stage (written out when full).
  void Stage(const pcap_stream::pkthdr& header, const std::uint8_t* data);
  void FlushStage();

  pcap* m_dead = nullptr;
  pcap_dumper* m_dumper = nullptr;
  std::int32_t m_linkType = 0;
  std::vector<std::uint8_t> m_stage;  // packet records not written yet
  std::size_t m_staged = 0;
};

}  // namespace velquor_io
