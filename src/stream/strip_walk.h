#pragma once
// A page held in memory, walked in strips of columns, each strip from top to bottom by a
// thread of its own. Walked a band of rows at a time, the threads take turns on each band's
// tables and rows, hand the rows across cores, and wait for each other at every band; down
// strips of their own, they wait only where a strip has not yet handed over the rows that
// the strip to its right needs.
//
// An entry depends on the one to its left, so strip k starts each of its rows from the last
// entries of strip k - 1; and the windows of a column reach r columns to both sides, so strip
// k levels the columns r to the left of those whose entries it computes. Strip k keeps, left
// of its own columns, a margin of the 2r + 1 columns before them, which strip k - 1 hands
// over row by row. Strip k + 1 thus runs a few rows behind strip k.
// Every entry is computed from the same operands as in a walk over whole rows: the bits are
// the same.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace kelvane {

struct StripPlan {
  std::size_t width = 0, height = 0;
  std::uint32_t radius = 0;
  std::vector<std::size_t> columns;  // strip k computes the table columns [columns[k], columns[k + 1])

  std::size_t strips() const { return columns.empty() ? 0 : columns.size() - 1; }
  // Columns kept left of strip k's own: those its first windows reach, handed over.
  std::size_t margin(std::size_t k) const { return k == 0 ? 0 : 2 * std::size_t(radius) + 1; }
  // The columns strip k levels: those whose windows end within its columns.
  std::size_t leveled_begin(std::size_t k) const { return k == 0 ? 0 : columns[k] - radius; }
  std::size_t leveled_end(std::size_t k) const { return k + 1 == strips() ? width : columns[k + 1] - radius; }
  // Table rows a strip keeps: those the windows of a band span, and the band being reached.
  std::size_t kept_rows() const;
  // Columns of the widest strip's rows, its margin's included.
  std::size_t widest() const;
};

// Strips `strip_columns` wide, or where that is 0, one for each of `threads`; none (or one)
// where the page is too narrow for two strips of a margin each, or the margins handed over
// would take more than `budget` bytes.
StripPlan plan_strips(std::size_t width, std::size_t height, std::uint32_t r, std::size_t tables, unsigned threads,
                      std::size_t strip_columns, long double budget);

// Bytes a walk in strips holds: the kept rows of a strip per thread and the margins.
long double strip_walk_bytes(const StripPlan& plan, std::size_t tables, unsigned threads);

// The rows of a strip's tables, indexed by the page's column.
class StripRows {
 public:
  StripRows(double* data, std::size_t tables, std::size_t local_width, std::size_t origin, std::size_t kept)
      : data_(data), tables_(tables), local_(local_width), origin_(origin), kept_(kept) {}
  double* row(std::size_t table, std::size_t t) const {
    return data_ + ((t % kept_) * tables_ + table) * local_ - origin_;
  }

 private:
  double* data_;
  std::size_t tables_, local_, origin_, kept_;
};

struct StripWork {
  // Computes rows [first, first + count) of every table in columns [begin, end), into
  // `rows`, which holds the rows above them and the columns before `begin`.
  std::function<void(std::size_t first, std::size_t count, const StripRows& rows, std::size_t begin, std::size_t end)> fill;
  // Levels columns [begin, end) of row y, whose tables' rows are in `rows`; false stops the
  // walk.
  std::function<bool(std::size_t y, std::size_t begin, std::size_t end, const StripRows& rows)> level;
  // Told on the calling thread: rows leveled, of strips() * height.
  std::function<void(std::size_t rows)> progress;
};

// Walks the strips on up to `threads` threads. Returns each table's last entry (the sum over
// the whole plane), or nothing where a level() stopped the walk.
std::vector<double> walk_strips(const StripPlan& plan, std::size_t tables, unsigned threads, const StripWork& work);

}  // namespace kelvane
