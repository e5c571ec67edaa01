// What the component templates share when they declare their own rows in
// Dynamic(): a row the component's definition already makes (at
// construction) must not be declared again.
#pragma once

#include <cstring>

#include "daxo_definitions.h"

namespace DAXOPrivate {

/// Whether `table` (`count` rows, or up to its zero row) has a row `name`.
template <class Row>
bool InTable(const Row* table, DAXOUInt32 count, const char* name) {
  if (table == nullptr) return false;
  for (DAXOUInt32 i = 0; i < count; ++i) {
    if (table[i].name == nullptr) {
      if (count == DAXOComponentDefinition::CountUntilZeroRow) break;
      continue;
    }
    if (std::strcmp(table[i].name, name) == 0) return true;
  }
  return false;
}

/// Calls `declare(row)` for each row of `rows` (up to its zero row) that
/// `table` (`count` rows) does not make, in the order of `rows`.
template <class Row, class Declare>
void DeclareMissing(const Row* rows, const Row* table, DAXOUInt32 count, Declare declare) {
  for (const Row* row = rows; row != nullptr && row->name != nullptr; ++row) {
    if (!InTable(table, count, row->name)) declare(*row);
  }
}

}  // namespace DAXOPrivate
