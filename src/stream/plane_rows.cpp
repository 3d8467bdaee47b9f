#include "stream/plane_rows.h"

#include <cmath>

namespace kelvane {

Planes planes_of(const Leveling& leveling, const PageLayout& layout) {
  Planes planes;
  planes.leveled = leveling.level_alpha ? layout.channels : layout.colour_channels();
  planes.gray = leveling.algorithm->takes_method && !levels_channel_by_channel(*leveling.algorithm, planes.leveled);
  return planes;
}

std::vector<Table> tables_list(Family family) {
  const TableSet set = tables_of(family);
  std::vector<Table> list;
  if (set.values) list.push_back(Table::values);
  if (set.squares) list.push_back(Table::squares);
  if (set.powers) list.push_back(Table::powers);
  if (set.complements) list.push_back(Table::complements);
  return list;
}

double table_value(Table table, double v, double p) {
  switch (table) {
    case Table::values: return v;
    case Table::squares: return v * v;
    case Table::powers: return std::pow(v, p);
    case Table::complements: return std::pow((v * -1.0) + 1.0, p);
  }
  return v;
}

double* scratch_rows(std::size_t count) {
  thread_local std::vector<double> scratch;
  if (scratch.size() < count) scratch.resize(count);
  return scratch.data();
}

}  // namespace kelvane
