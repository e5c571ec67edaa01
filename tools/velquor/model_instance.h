// The inputs and outputs a model's component really has. A component may
// make elements of its own from its property values (one input per stream,
// say), which its model's tables do not list; `velquor inspect` builds one
// instance with the default values and lists what it has, then builds one
// more per integer or boolean property, with that property changed, to tell
// which properties make which elements.
//
// Reports of these throw-away instances (a default that a component refuses,
// a changed value it rejects) are not the user's business: QuietReports
// keeps them off the console while the instances are built.
//
// Threading: the command's thread; the engine may deliver reports on others.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "daxo_type_filter.h"
#include "daxo_type_info.h"
#include "velquor/engine.h"
#include "velquor/reports.h"

namespace velquor::tool {

/// Forwards reports to `next` unless quiet; while quiet, keeps the first
/// error report's text instead.
class QuietReports : public ReportSink {
 public:
  explicit QuietReports(std::shared_ptr<ReportSink> next) : m_next(std::move(next)) {}
  void Deliver(const ReportRecord& report) override;
  /// Starts a quiet spell and forgets the error kept by the last one.
  void BeQuiet();
  void Speak() { m_quiet = false; }
  /// The first error reported during the current (or last) quiet spell.
  std::string FirstError() const;

 private:
  std::shared_ptr<ReportSink> m_next;
  std::atomic<bool> m_quiet{false};
  mutable std::mutex m_mutex;  // guards m_firstError; a leaf
  std::string m_firstError;
};

struct ElementText {
  std::string name;             // short name
  std::string text;             // "never-skipping, accepts Float64 (single or vector)"
  bool fromProperties = false;  // not in the model's tables
};

struct InstanceElements {
  /// Whether an instance with the default values could be built; without
  /// one, the lists are empty.
  bool made = false;
  /// Why the default instance could not be built, or is in error (its
  /// lists may then lack elements); empty when all went well.
  std::string failure;
  std::vector<ElementText> inputs;
  std::vector<ElementText> outputs;
  /// "nb_inputs=2 (default 1) adds inputs iEndOfFile_1, input_1", one per
  /// property whose change adds or removes elements.
  std::vector<std::string> effects;
};

/// "never-skipping, accepts Integer64 (single or vector)"; `readerType` -1
/// when unknown, `filter` null when the input has none.
std::string InputText(int readerType, const DAXOTypeFilterBase* filter);
/// "Float64 vector \"name\", FIFO of 16"; `fifoSize` -1 when unknown.
std::string OutputText(const DAXOTypeInfo& type, long fifoSize);

/// Builds instances of `model` in `engine` (destroyed before returning),
/// keeping `reports` quiet meanwhile.
InstanceElements DescribeInstance(Engine& engine, const ModelInfo& model, QuietReports& reports);

}  // namespace velquor::tool
