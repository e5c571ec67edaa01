// The SortingMultiplexer component model: N streams (a data input and an
// end-of-file input each) merged into one output ordered by timestamp.
//
// This header holds the model's static definition: the records the module
// registry publishes and the engine instantiates from. The component's
// behaviour (Dynamic, Birth, Core, Death) joins it once the component
// framework it derives from is in place.
#pragma once

#include "daxo_definitions.h"
#include "daxo_type_filter.h"

class daxo_sorting_multiplexer {
 public:
  daxo_sorting_multiplexer() = delete;

  /// The model's record: "SortingMultiplexer" version "1.4.0", threaded,
  /// priority 128; its table counts are -1 (tables end with a zero row).
  static DAXOComponentDefinition s_componentDefinition;

  // Index of each property in the property table.
  static constexpr int KyPropNbInputs = 0;
  static constexpr int KyPropBufferPacketCount = 1;
  static constexpr int KyPropVectorMaxSize = 2;
  static constexpr int KyPropVectorMaxLatency = 3;
  static constexpr int KyPropFlushDelay = 4;
};

/// Accepts PCAP stream samples: dynamic structures named "DAXOpcap_data_t".
extern const DAXOTypeFilterBase DAXOFilterPCAPStructure;
/// The same with every kind bit fixed; declared for peers, used by nothing.
extern const DAXOTypeFilterBase DAXOFilterPCAPStructureStrict;
