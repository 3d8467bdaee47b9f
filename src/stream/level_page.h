#pragma once
// Leveling a page as a stream of rows: nothing picture-sized is held. A summed-area table
// row depends only on the row above it and on its picture row, and the sums of a row's
// windows only on two table rows (y0 - 1 and y1), so each table is walked by two cursors,
// one leading the rows being leveled by the half window and one trailing them, both built
// from a ring of the picture's rows in their own samples. The ring spans a window's height;
// the cursors hold a few rows each. The one-window forms need each table's last entry
// first: one walk over the page before the leveling walk.
#include <cstddef>
#include <functional>

#include "leveling/algorithms.h"
#include "stream/rows.h"

namespace kelvane {

struct StreamSettings {
  unsigned threads = 1;  // threads to level with, reading and writing included
  unsigned long long memory_limit = 0;  // bytes a file's leveling may use, 0: what the system has
  // Memory for the table rows of a window's height: where they fit, the leading cursors keep
  // them and no trailing cursor builds every table row a second time.
  long double window_table_bytes = 32.0L * (1 << 20);
  // Memory above which a window's height of the page's rows is read again, by readers of
  // their own, rather than kept, where the source has second readers.
  long double window_row_bytes = 16.0L * (1 << 20);
  // A file's page whose samples take at most this many bytes is decoded once and walked in
  // memory; 0: never.
  long double held_page_bytes = 0;
  // Where a picture in memory goes into integer samples, the one-window forms of mean and std
  // level it in one walk, from bounds on the totals (see total_bounds.h); false: in two.
  bool one_walk = true;
  // How much wider than the rounding can reach the bounds on the totals are made; below 0,
  // bounds that hold no totals (for tests: the page is then leveled again in two walks).
  double bounds_slack = 1.0;
  // Columns of the strips a single walk goes down (see strip_walk.h); 0: one strip for each
  // thread; whole_rows: none, the walk goes over whole rows.
  std::size_t strip_columns = 0;
  static constexpr std::size_t whole_rows = ~std::size_t(0);
  // Told, from the calling thread, how far the page is: rows walked of all the walks' rows.
  std::function<void(std::size_t done, std::size_t total)> progress;
};

// What a page's leveling did besides writing its rows.
struct LevelingReport {
  // The page lacked red, green and blue for a gray algorithm, and was leveled channel by
  // channel instead.
  bool channel_by_channel = false;
  // Walks over the page's rows: 1 or 2; 3 where the totals fell outside the bounds of a
  // single walk (or it left too many samples open) and the page was leveled again in two.
  int walks = 0;
  // Samples of the single walk whose codes the bounds left open, set once the totals were
  // known.
  std::size_t settled_late = 0;
};

// Whether a page of these samples may be leveled in a single walk, where it is held in memory
// and goes into integer samples in memory: the one-window forms of mean and std, of 8- or
// 16-bit samples.
bool may_walk_once(const Leveling& leveling, SampleType sample);

// Levels every row of the source into the sink. The values are those of the whole-picture
// formulas, bit for bit.
LevelingReport level_page(const Leveling& leveling, RowSource& source, RowSink& sink, const StreamSettings& settings);

// The memory a page's stream needs at most, in bytes, for the budget check: it grows with
// the width and the window, not with the height (beyond the window's). A window whose
// height of rows would take more than the settings' window_row_bytes reads them again with
// readers of its own where the source has them (`reads_again_where_tall`). A picture in
// memory leveled into integer samples in memory may take a single walk (`single_walk`),
// which keeps the samples it leaves open.
long double stream_bytes(const Leveling& leveling, const PageLayout& layout, std::size_t chunk_rows,
                         const StreamSettings& settings, bool reads_again_where_tall = false,
                         bool single_walk = false);

// How many readers of the page the stream uses where the source has second ones: 1, or up to
// 5 (a leading and a trailing reader for each tall window).
int stream_readers(const Leveling& leveling, const PageLayout& layout, const StreamSettings& settings);

}  // namespace kelvane
