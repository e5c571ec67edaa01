// What `velquor inspect` says about types: the kinds of an output's type, and
// what an input's type filter lets through.
//
// An input's acceptance is worked out by putting one type of each kind, as a
// single value and as a vector, through the filter's own matching code (its
// bit test; the name and unit patterns are shown as patterns), so that the
// text follows the filter's bits for any filter, not a list of known ones.
//
// Threading: plain functions.
#pragma once

#include <string>

#include "daxo_type_filter.h"
#include "daxo_type_info.h"

namespace velquor::tool {

/// The kinds of a type value ("Float64", "CANUniFrame|Integer64", "any" for
/// every kind), followed by " vector" when it carries DAXO::VectorFlag.
std::string KindNames(DAXOTypeInfoValue value);

/// What `filter` accepts: "any type"; or the kinds it accepts, grouped by
/// whether single values, vectors or both pass ("Float64 (single or
/// vector)", "Integer32, Float32 (single only)"), followed by the name and
/// unit patterns ("type name matching \"DAXOpcap_data_t\""); "nothing" when
/// no kind passes.
std::string AcceptedTypes(const DAXOTypeFilterBase& filter);

}  // namespace velquor::tool
