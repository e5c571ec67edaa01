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

DynamicInputModel::State::State(std::string name, DAXOTypeInfoValue typeValue,
                                const DAXOString& typeName, int readerType)
    : m_name(std::move(name)), m_typeinfovalue(typeValue), m_typename(typeName) {
  m_filter.mask = DAXO::NoMask;
  m_filter.x = DAXO::NoType;
  m_filter.maskX = m_typeinfovalue;
  // An empty pattern would refuse every type that has no name at all, though
  // an empty type name means "any name".
  m_filter.nameFilter = m_typename.Length() > 0 ? m_typename.Beginning() : nullptr;
  m_filter.unitFilter = nullptr;
  m_definition.name = m_name.c_str();
  m_definition.reserved = 0;
  m_definition.typeFilter = &m_filter;
  m_definition.readerType = readerType;
  m_definition.subsampling = 1;
}

DynamicOutputModel::State::State(std::string name, DAXOTypeInfoValue typeValue,
                                 const DAXOString& typeName)
    : m_name(std::move(name)), m_typeinfovalue(typeValue), m_typename(typeName) {
  m_definition.name = m_name.c_str();
  m_definition.reserved = 0;
  m_definition.type =
      DAXOTypeInfo(m_typeinfovalue, m_typename.Length() > 0 ? m_typename.Beginning() : nullptr);
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

// After a failed creation, makes the model describe the element that exists
// now, so that no state is dropped while an element still points into it:
// the new state when its element was created (it sits in the window and
// stays), otherwise the old state with its element if it survived, or with
// none.
template <class Set, class Model, class State, class FindFresh, class FindOld>
void Recover(Set& set, Model& model, std::unique_ptr<State>& fresh, FindFresh findFresh,
             FindOld findOld) {
  if (fresh != nullptr) {
    if (auto* created = findFresh(*fresh)) {
      Set::Handle(*fresh) = created;
      fresh->m_unused = false;
      model = Model(std::move(fresh));
      set.partitionModels();
      return;
    }
  }
  if (State* old = model.state()) Set::Handle(*old) = findOld(*old);
}

}  // namespace

DAXOInput& DynamicInputModelSet::NewInput(DAXOComponent& component, const std::string& name,
                                          DAXOTypeInfoValue typeValue, const DAXOString& typeName,
                                          int readerType) {
  DynamicInputModel& model = getOrAddModel(name);
  std::unique_ptr<DynamicInputModel::State> fresh;
  if (!model.IsValid() || model.m_state->m_typeinfovalue != typeValue ||
      !SameText(model.m_state->m_typename, typeName) ||
      model.m_state->m_definition.readerType != readerType) {
    fresh = std::make_unique<DynamicInputModel::State>(name, typeValue, typeName, readerType);
  }
  DynamicInputModel::State& target = fresh != nullptr ? *fresh : *model.m_state;
  try {
    target.m_input = &component.NewInput(target.m_definition);
  } catch (...) {
    auto find = [&](DynamicInputModel::State& s) {
      return FindInputByFilter(component, &s.m_filter);
    };
    Recover(*this, model, fresh, find, find);
    throw;
  }
  // The old state goes only now: the SDK told the old input from the new one
  // by the address of the definition's name.
  if (fresh != nullptr) model.m_state = std::move(fresh);
  model.setUnused(false);
  return postNewInstanceOfFound(name);
}

DAXOOutput& DynamicOutputModelSet::NewOutput(DAXOComponent& component, const std::string& name,
                                             DAXOTypeInfoValue typeValue,
                                             const DAXOString& typeName) {
  DynamicOutputModel& model = getOrAddModel(name);
  std::unique_ptr<DynamicOutputModel::State> fresh;
  if (!model.IsValid() || model.m_state->m_typeinfovalue != typeValue ||
      !SameText(model.m_state->m_typename, typeName)) {
    fresh = std::make_unique<DynamicOutputModel::State>(name, typeValue, typeName);
  }
  DynamicOutputModel::State& target = fresh != nullptr ? *fresh : *model.m_state;
  try {
    target.m_output = &component.NewOutput(target.m_definition);
  } catch (...) {
    auto find = [&](DynamicOutputModel::State& s) {
      return FindOutputByDefinitionName(component, s.m_definition.name);
    };
    Recover(*this, model, fresh, find, find);
    throw;
  }
  if (fresh != nullptr) model.m_state = std::move(fresh);
  model.setUnused(false);
  return postNewInstanceOfFound(name);
}

}  // namespace DAXO
