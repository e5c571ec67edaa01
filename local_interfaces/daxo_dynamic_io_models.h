// Dynamic I/O models: what a component declared in its last Dynamic(), so
// that re-declaring an unchanged input (output) re-uses its definition record
// and therefore keeps the element, and its connections, alive.
//
// A model holds an optional State: the element's name, type and reader
// settings, the definition record the element was created from and the
// element itself. The SDK recognises a re-declared element by the address of
// its definition's name, so a state is never copied or moved while its
// element exists (it lives on the heap, owned by the model) and is replaced
// only after the element made from its successor exists.
//
// One cycle of the owner's Dynamic(), inside the SDK's re-declaration window
// (CallDynamic): Reset() each set, then declare every element wanted now, in
// order. Elements of models left undeclared are removed by the SDK when the
// window closes; their models stay marked unused (their element handles are
// stale) until the next Reset() drops them.
//
// Failed checks ("assertions") report at error level through DAXO::Report
// and throw DAXO::ErrorException, which ends the current lifecycle call.
//
// Threading: a set belongs to its component and is used by one thread at a
// time: the thread that runs the component's Dynamic() (the engine's control
// thread, under the diagram, lifecycle and module locks), or the component's
// own thread while it is living, when nobody re-declares. Nothing here locks.
#pragma once

#include <algorithm>
#include <cstddef>
#include <deque>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "daxo_definitions.h"
#include "daxo_string.h"
#include "daxo_type_filter.h"

class DAXOComponent;
class DAXOInput;
class DAXOOutput;

namespace DAXO {

/// Reports "[pid.tid] daxo_dynamic_io_models:<line>/<operation> : <condition>"
/// at error level and throws DAXO::ErrorException.
[[noreturn]] void DynamicModelAssertionFailed(int line, const char* operation,
                                              const char* condition);

/// The type name in the locale's encoding (the text itself when it cannot be
/// converted).
std::string DynamicModelLocaleText(const DAXOString& utf8);

/// The input (output) of `component` whose type filter (definition name) is
/// `key`, or null: finds out which element survived a failed creation.
DAXOInput* FindInputByFilter(DAXOComponent& component, const DAXOTypeFilterBase* key);
DAXOOutput* FindOutputByDefinitionName(DAXOComponent& component, const char* key);

}  // namespace DAXO

#define DAXO_DYNAMIC_MODEL_ASSERT(condition, operation)                                          \
  do {                                                                                           \
    if (!(condition)) {                                                                          \
      ::DAXO::DynamicModelAssertionFailed(__LINE__, operation, "Assertion Failed: " #condition); \
    }                                                                                            \
  } while (false)

namespace DAXO {

/// What a state of either kind holds besides its element: the declared
/// name and type, whether the last Dynamic() left it undeclared, and the
/// definition record its element is made from.
template <class ElementType, class DefinitionType>
struct DynamicModelState {
  using Element = ElementType;

  DynamicModelState(std::string name, DAXOTypeInfoValue typeValue, const DAXOString& typeName)
      : m_name(std::move(name)), m_typeInfoValue(typeValue), m_typeName(typeName) {}
  DynamicModelState(const DynamicModelState&) = delete;
  DynamicModelState& operator=(const DynamicModelState&) = delete;

  /// The type name as a definition takes it: null when empty, because an
  /// empty type name means "any name" (an empty pattern would refuse every
  /// type that has no name at all).
  const char* TypeNameOrNull() const {
    return m_typeName.Length() > 0 ? m_typeName.Beginning() : nullptr;
  }

  bool m_unused = false;
  const std::string m_name;
  const DAXOTypeInfoValue m_typeInfoValue;
  const DAXOString m_typeName;
  DefinitionType m_definition;
};

/// A dynamic input's state.
struct DynamicInputState : DynamicModelState<DAXOInput, DAXOInputDefinition> {
  /// Builds the filter {0, 0, typeValue, typeName} (no name pattern when
  /// the type name is empty, so that unnamed types pass) and the
  /// definition {name, 0, &filter, readerType, 1}. No input yet.
  DynamicInputState(std::string name, DAXOTypeInfoValue typeValue, const DAXOString& typeName,
                    int readerType);

  DAXOTypeFilterBase m_filter;
  DAXOInput* m_input = nullptr;  // not owned: the component owns it

  /// The input; asserts that it exists.
  DAXOInput& Instance() const {
    DAXO_DYNAMIC_MODEL_ASSERT(m_input != nullptr, "Instance");
    return *m_input;
  }
};

/// A dynamic output's state.
struct DynamicOutputState : DynamicModelState<DAXOOutput, DAXOOutputDefinition> {
  /// Builds the definition {name, 0, type (value, name; no name when
  /// empty), size 0, FIFO size 0 (the SDK's default), subsampling 1}.
  DynamicOutputState(std::string name, DAXOTypeInfoValue typeValue, const DAXOString& typeName);

  DAXOOutput* m_output = nullptr;  // not owned: the component owns it

  /// The output; asserts that it exists.
  DAXOOutput& Instance() const {
    DAXO_DYNAMIC_MODEL_ASSERT(m_output != nullptr, "Instance");
    return *m_output;
  }
};

/// A model of either kind: an optional state, owned. Movable, not copyable.
template <class StateType>
class DynamicModel {
 public:
  using State = StateType;
  using Element = typename State::Element;

  DynamicModel() = default;
  explicit DynamicModel(std::unique_ptr<State> state) : m_state(std::move(state)) {}
  DynamicModel(DynamicModel&&) noexcept = default;
  DynamicModel& operator=(DynamicModel&&) noexcept = default;

  /// True when the model has a state.
  bool IsValid() const { return m_state != nullptr; }
  /// Whether the last Dynamic() left this model undeclared. Asserts IsValid().
  bool isUnused() const {
    DAXO_DYNAMIC_MODEL_ASSERT(IsValid(), "isUnused");
    return m_state->m_unused;
  }
  /// Asserts IsValid().
  void setUnused(bool flag) {
    DAXO_DYNAMIC_MODEL_ASSERT(IsValid(), "setUnused");
    m_state->m_unused = flag;
  }
  /// The element created from the state. Asserts IsValid() and that the
  /// element exists. Meaningful only while the model is in use.
  Element& Instance() const {
    DAXO_DYNAMIC_MODEL_ASSERT(IsValid(), "Instance");
    return m_state->Instance();
  }
  /// The declared type value. Asserts IsValid().
  DAXOTypeInfoValue TypeInfoValue() const {
    DAXO_DYNAMIC_MODEL_ASSERT(IsValid(), "TypeInfoValue");
    return m_state->m_typeInfoValue;
  }
  /// The definition record the element was made from. Asserts IsValid().
  const auto& Definition() const {
    DAXO_DYNAMIC_MODEL_ASSERT(IsValid(), "Definition");
    return m_state->m_definition;
  }
  /// The state, or null.
  State* state() const { return m_state.get(); }
  /// The declared type name, in the locale's encoding. Asserts IsValid().
  std::string TypeName() const {
    DAXO_DYNAMIC_MODEL_ASSERT(IsValid(), "TypeName");
    return DynamicModelLocaleText(m_state->m_typeName);
  }
  /// The element's short name. Asserts IsValid().
  std::string ShortName() const {
    DAXO_DYNAMIC_MODEL_ASSERT(IsValid(), "ShortName");
    return m_state->m_name;
  }

 private:
  std::unique_ptr<State> m_state;
};

/// A dynamic input.
class DynamicInputModel : public DynamicModel<DynamicInputState> {
 public:
  using DynamicModel::DynamicModel;

  /// The input. Asserts IsValid() and that the input exists.
  DAXOInput& Input() const {
    DAXO_DYNAMIC_MODEL_ASSERT(IsValid(), "Input");
    return state()->Instance();
  }
};

/// A dynamic output.
class DynamicOutputModel : public DynamicModel<DynamicOutputState> {
 public:
  using DynamicModel::DynamicModel;

  /// The output. Asserts IsValid() and that the output exists.
  DAXOOutput& Output() const {
    DAXO_DYNAMIC_MODEL_ASSERT(IsValid(), "Output");
    return state()->Instance();
  }
};

class DynamicInputModelSet;
class DynamicOutputModelSet;

template <class Set>
struct DynamicModelSetTraits;
template <>
struct DynamicModelSetTraits<DynamicInputModelSet> {
  using Model = DynamicInputModel;
};
template <>
struct DynamicModelSetTraits<DynamicOutputModelSet> {
  using Model = DynamicOutputModel;
};

/// The models of one kind of element of a component. Invariant after
/// partitionModels(): models in use first, in the order they were first
/// added; unused models after them.
template <class Set>
class DynamicModelSetBase {
 public:
  using ModelType = typename DynamicModelSetTraits<Set>::Model;
  using Element = typename ModelType::Element;

  /// Drops the models without a state or marked unused (the order of the
  /// others is kept), then marks every remaining model unused. Call at the
  /// start of each Dynamic(), inside the re-declaration window.
  void Reset() {
    m_models.erase(std::remove_if(m_models.begin(), m_models.end(),
                                  [](const ModelType& m) { return !m.IsValid() || m.isUnused(); }),
                   m_models.end());
    for (ModelType& m : m_models) m.setUnused(true);
    m_next = 0;
    m_usedPrefix = 0;
  }

  /// The first model with a state named `name` (byte for byte); otherwise a
  /// new model without a state, appended.
  ModelType& getOrAddModel(const std::string& name) {
    // A Dynamic() declares what it declared last time, in the same order:
    // the model after the last one found is tried first. Models with a state
    // have distinct names (a second model of a name is made only while the
    // first has none, and then keeps none), so the hint finds the first.
    if (m_next < m_models.size()) {
      ModelType& m = m_models[m_next];
      if (m.IsValid() && m.state()->m_name == name) {
        m_found = m_next++;
        return m;
      }
    }
    for (std::size_t i = 0; i < m_models.size(); ++i) {
      ModelType& m = m_models[i];
      if (m.IsValid() && m.state()->m_name == name) {
        m_found = i;
        m_next = i + 1;
        return m;
      }
    }
    m_models.emplace_back();
    m_found = m_models.size() - 1;
    m_next = m_models.size();
    return m_models.back();
  }

  /// Stable partition: models not marked unused first. Models without a
  /// state count as unused.
  void partitionModels() {
    auto used = std::stable_partition(m_models.begin(), m_models.end(), [](const ModelType& m) {
      return m.IsValid() && !m.isUnused();
    });
    m_usedPrefix = static_cast<std::size_t>(used - m_models.begin());
    m_next = m_usedPrefix;
  }

  /// The first model named `name`; asserts that there is one.
  ModelType& Model(const std::string& name) {
    auto it = Find(name);
    DAXO_DYNAMIC_MODEL_ASSERT(it != m_models.end(), "Model");
    return *it;
  }
  /// The index-th model; asserts that it exists.
  ModelType& Model(std::size_t index) {
    DAXO_DYNAMIC_MODEL_ASSERT(index < m_models.size(), "Model");
    return m_models[index];
  }
  /// The model of an element; asserts that there is one.
  ModelType& Model(const Element& instance) {
    auto it = std::find_if(m_models.begin(), m_models.end(), [&](const ModelType& m) {
      return m.IsValid() && Handle(*m.state()) == &instance;
    });
    DAXO_DYNAMIC_MODEL_ASSERT(it != m_models.end(), "Model");
    return *it;
  }
  bool HasModel(const std::string& name) const { return Find(name) != m_models.end(); }
  std::size_t Size() const { return m_models.size(); }
  /// Models with a state that the last Dynamic() declared.
  std::size_t usedModelCount() const {
    return static_cast<std::size_t>(
        std::count_if(m_models.begin(), m_models.end(),
                      [](const ModelType& m) { return m.IsValid() && !m.isUnused(); }));
  }
  const std::deque<ModelType>& Models() const { return m_models; }

  Element& Instance(std::size_t index) { return Model(index).Instance(); }
  Element& Instance(const std::string& name) { return Model(name).Instance(); }
  static Element& Instance(const ModelType& model) { return model.Instance(); }
  /// The elements of the models in use, in model order. Unused models are
  /// left out: their elements were removed when the window closed.
  std::vector<Element*> Instances() const {
    std::vector<Element*> result;
    for (const ModelType& m : m_models) {
      if (m.IsValid() && !m.isUnused() && Handle(*m.state()) != nullptr) {
        result.push_back(Handle(*m.state()));
      }
    }
    return result;
  }

  /// partitionModels(), then the element of the model named `name`.
  Element& postNewInstance(const std::string& name) {
    partitionModels();
    return Model(name).Instance();
  }

  /// postNewInstance for the model getOrAddModel found last, now marked in
  /// use. A model declared right after the models in use leaves the set
  /// partitioned, so re-declaring n elements in their order costs O(n)
  /// rather than a partition per element.
  Element& postNewInstanceOfFound(const std::string& name) {
    if (m_found == m_usedPrefix && m_found < m_models.size()) {
      ModelType& m = m_models[m_found];
      if (m.IsValid() && !m.isUnused()) {
        ++m_usedPrefix;
        return m.Instance();
      }
    }
    return postNewInstance(name);
  }

  /// The element slot of a state (its m_input or m_output).
  static Element*& Handle(typename ModelType::State& state) {
    if constexpr (std::is_same_v<Element, DAXOInput>) {
      return state.m_input;
    } else {
      return state.m_output;
    }
  }

 protected:
  typename std::deque<ModelType>::iterator Find(const std::string& name) {
    return std::find_if(m_models.begin(), m_models.end(), [&](const ModelType& m) {
      return m.IsValid() && m.state()->m_name == name;
    });
  }
  typename std::deque<ModelType>::const_iterator Find(const std::string& name) const {
    return std::find_if(m_models.begin(), m_models.end(), [&](const ModelType& m) {
      return m.IsValid() && m.state()->m_name == name;
    });
  }

  std::deque<ModelType> m_models;

 private:
  // Hints for declarations in the last order; a wrong hint costs a search,
  // never a wrong answer. m_usedPrefix: models [0, m_usedPrefix) are in use
  // (valid only from a Reset or partition on, through the set's own
  // declarations).
  std::size_t m_next = 0;   // model expected to be declared next
  std::size_t m_found = 0;  // model getOrAddModel returned last
  std::size_t m_usedPrefix = 0;
};

/// The dynamic inputs of a component.
class DynamicInputModelSet : public DynamicModelSetBase<DynamicInputModelSet> {
 public:
  std::vector<DAXOInput*> Inputs() const { return Instances(); }

  /// Declares the input `name` of `component` for this Dynamic() cycle: the
  /// model's state is kept when type value, type name and reader type are
  /// unchanged (the SDK then keeps the input and its connection), otherwise
  /// a new state replaces it once its input exists. Returns the input.
  /// Failures of the creation (DAXOModule::Error, DAXO::ModuleDied) pass
  /// through; the model then still describes the input that exists, if any.
  DAXOInput& NewInput(DAXOComponent& component, const std::string& name,
                      DAXOTypeInfoValue typeValue, const DAXOString& typeName, int readerType);
};

/// The dynamic outputs of a component.
class DynamicOutputModelSet : public DynamicModelSetBase<DynamicOutputModelSet> {
 public:
  std::vector<DAXOOutput*> Outputs() const { return Instances(); }

  /// The output counterpart of DynamicInputModelSet::NewInput (kept when
  /// type value and type name are unchanged).
  DAXOOutput& NewOutput(DAXOComponent& component, const std::string& name,
                        DAXOTypeInfoValue typeValue, const DAXOString& typeName);
};

}  // namespace DAXO

#undef DAXO_DYNAMIC_MODEL_ASSERT
