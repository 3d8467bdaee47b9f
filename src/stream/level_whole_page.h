#pragma once
// Leveling a page held whole in memory: each plane's tables are filled once over the whole
// page, by every thread (a group of rows follows the group above it a block of columns at a
// time), and each row is leveled from them. The stream computes some table rows twice and
// reads the one-window forms' pages twice; this reads the page once and computes each table
// row once, at the price of holding the page's samples and 8 bytes a pixel for each table.
// The values are the same, bit for bit.
#include "stream/level_page.h"

namespace kelvane {

// The bytes it holds for a page: its samples, and the tables of one plane at a time where
// the sink takes a channel at a time, of every plane otherwise.
long double whole_page_bytes(const Leveling& leveling, const PageLayout& layout, bool by_channel);

LevelingReport level_whole_page(const Leveling& leveling, RowSource& source, RowSink& sink,
                                const StreamSettings& settings);

}  // namespace kelvane
