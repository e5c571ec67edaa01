// Dynamic I/O models: states, the declaration of one element, the failed
// check report.
#include "daxo_dynamic_io_models.h"

#include <unistd.h>

#include "daxo_component.h"
#include "daxo_iconv.h"
#include "daxo_io.h"
#include "daxo_services.h"
#include "daxo_thread.h"

namespace DAXO {

void DynamicModelAssertionFailed(int line, const char* operation, const char* condition) {
  DAXOStreamedString text("[");
  text << static_cast<long>(getpid()) << "." << DAXO::GetCurrentThreadId()
       << "] daxo_dynamic_io_models:" << line << "/" << operation << " : " << condition;
  DAXO::Report(text, DAXO::Error, 0);
  throw DAXO::ErrorException;
}

std::string DynamicModelLocaleText(const DAXOString& utf8) {
  char* converted = DAXOIconv::UTF8ToLocale(utf8);
  if (converted == nullptr) return std::string(utf8.Beginning(), utf8.Length());
  std::string text(converted);
  DAXOIconv::releaseLocale(converted);
  return text;
}

DAXOInput* FindInputByFilter(DAXOComponent& component, const DAXOTypeFilterBase* key) {
  for (int i = 0, n = component.NbInputs(); i < n; ++i) {
    DAXOInput& input = component.Input(i);
    if (input.Type() == key) return &input;
  }
  return nullptr;
}

DAXOOutput* FindOutputByDefinitionName(DAXOComponent& component, const char* key) {
  for (int i = 0, n = component.NbOutputs(); i < n; ++i) {
    auto& output = static_cast<DAXOOutputImplementation&>(component.Output(i));
    if (output.definition.name == key) return &output;
  }
  return nullptr;
}

// --- states ----------------------------------------------------------------------------

DynamicInputState::DynamicInputState(std::string name, DAXOTypeInfoValue typeValue,
                                     const DAXOString& typeName, int readerType)
    : DynamicModelState(std::move(name), typeValue, typeName) {
  m_filter.mask = DAXO::NoMask;
  m_filter.x = DAXO::NoType;
  m_filter.maskX = m_typeInfoValue;
  m_filter.nameFilter = TypeNameOrNull();
  m_filter.unitFilter = nullptr;
  m_definition.name = m_name.c_str();
  m_definition.reserved = 0;
  m_definition.typeFilter = &m_filter;
  m_definition.readerType = readerType;
  m_definition.subsampling = 1;
}

DynamicOutputState::DynamicOutputState(std::string name, DAXOTypeInfoValue typeValue,
                                       const DAXOString& typeName)
    : DynamicModelState(std::move(name), typeValue, typeName) {
  m_definition.name = m_name.c_str();
  m_definition.reserved = 0;
  m_definition.type = DAXOTypeInfo(m_typeInfoValue, TypeNameOrNull());
  m_definition.size = 0;
  m_definition.fifoSize = 0;
  m_definition.subsampling = 1;
}

// --- declarations ------------------------------------------------------------------------

namespace {

// Both names as stored (UTF-8): converting them to the locale's encoding
// cost a conversion per declaration and could make equal names differ.
bool SameText(const DAXOString& a, const DAXOString& b) {
  return a.Length() == b.Length() &&
         std::equal(a.Beginning(), a.Beginning() + a.Length(), b.Beginning());
}

// What tells the two kinds apart in a declaration: the settings a state
// keeps besides its name and type (an input's reader type), how its element
// is created, and how that element is found after a failed creation (an
// input by its filter, an output by its definition's name).
bool SameSettings(const DynamicInputState& state, int readerType) {
  return state.m_definition.readerType == readerType;
}
bool SameSettings(const DynamicOutputState&) {
  return true;
}

DAXOInput& Create(DAXOComponent& component, DynamicInputState& state) {
  return component.NewInput(state.m_definition);
}
DAXOOutput& Create(DAXOComponent& component, DynamicOutputState& state) {
  return component.NewOutput(state.m_definition);
}

DAXOInput* Existing(DAXOComponent& component, DynamicInputState& state) {
  return FindInputByFilter(component, &state.m_filter);
}
DAXOOutput* Existing(DAXOComponent& component, DynamicOutputState& state) {
  return FindOutputByDefinitionName(component, state.m_definition.name);
}

// After a failed creation, makes the model describe the element that exists
// now, so that no state is dropped while an element still points into it:
// the new state when its element was created (it sits in the window and
// stays), otherwise the old state with its element if it survived, or with
// none.
template <class Set, class Model, class State>
void Recover(Set& set, DAXOComponent& component, Model& model, std::unique_ptr<State>& fresh) {
  if (fresh != nullptr) {
    if (auto* created = Existing(component, *fresh)) {
      Set::Handle(*fresh) = created;
      fresh->m_unused = false;
      model = Model(std::move(fresh));
      set.partitionModels();
      return;
    }
  }
  if (State* old = model.state()) Set::Handle(*old) = Existing(component, *old);
}

// NewInput and NewOutput: `settings` are what the kind's state takes after
// the type name.
template <class Set, class... Settings>
typename Set::Element& Declare(Set& set, DAXOComponent& component, const std::string& name,
                               DAXOTypeInfoValue typeValue, const DAXOString& typeName,
                               Settings... settings) {
  using Model = typename Set::ModelType;
  using State = typename Model::State;
  Model& model = set.getOrAddModel(name);
  std::unique_ptr<State> fresh;
  if (!model.IsValid() || model.state()->m_typeInfoValue != typeValue ||
      !SameText(model.state()->m_typeName, typeName) ||
      !SameSettings(*model.state(), settings...)) {
    fresh = std::make_unique<State>(name, typeValue, typeName, settings...);
  }
  State& target = fresh != nullptr ? *fresh : *model.state();
  try {
    Set::Handle(target) = &Create(component, target);
  } catch (...) {
    Recover(set, component, model, fresh);
    throw;
  }
  // The old state goes only now: the SDK told the old element from the new
  // one by the address of the definition's name.
  if (fresh != nullptr) model = Model(std::move(fresh));
  model.setUnused(false);
  return set.postNewInstanceOfFound(name);
}

}  // namespace

DAXOInput& DynamicInputModelSet::NewInput(DAXOComponent& component, const std::string& name,
                                          DAXOTypeInfoValue typeValue, const DAXOString& typeName,
                                          int readerType) {
  return Declare(*this, component, name, typeValue, typeName, readerType);
}

DAXOOutput& DynamicOutputModelSet::NewOutput(DAXOComponent& component, const std::string& name,
                                             DAXOTypeInfoValue typeValue,
                                             const DAXOString& typeName) {
  return Declare(*this, component, name, typeValue, typeName);
}

}  // namespace DAXO
