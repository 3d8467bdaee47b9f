#include "stream/level_whole_page.h"

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "gray/color.h"
#include "image/big_block.h"
#include "image/thread_pool.h"
#include "stream/plane_rows.h"
#include "window_stats/table_rows.h"

namespace kelvane {

namespace {

// Columns a group of rows fills before the group below may follow.
constexpr std::size_t block_columns = 1024;
// Rows leveled before they are handed to the sink.
constexpr std::size_t chunk_rows = 64;

class WholePage {
 public:
  WholePage(const Leveling& leveling, RowSource& source, RowSink& sink, const StreamSettings& settings)
      : leveling_(for_picture(leveling, source.layout().width, source.layout().height)), source_(source), sink_(sink),
        settings_(settings), layout_(source.layout()), width_(layout_.width), height_(layout_.height),
        planes_(planes_of(leveling_, layout_)), tables_(tables_list(leveling_.algorithm->family)),
        rows_(leveling_, layout_, planes_, tables_) {
    how_.family = leveling_.algorithm->family;
    how_.windows = leveling_.windows;
    how_.radius[0] = leveling_.window1 >> 1;
    how_.radius[1] = leveling_.windows == 2 ? leveling_.window2 >> 1 : how_.radius[0];
    how_.p = power_exponent;
    how_.max_gain = leveling_.max_gain;
  }

  LevelingReport run() {
    LevelingReport report;
    report.channel_by_channel = leveling_.algorithm->takes_method && !planes_.gray;
    if (width_ == 0 || height_ == 0) return report;
    read_samples();
    totals_.assign(planes_.count(), PlaneTotals());
    const bool by_channel = !planes_.gray && sink_.takes_channels();
    // One plane's tables at a time, or every plane's.
    held_planes_ = by_channel ? 1 : planes_.count();
    tables_block_ = BigBlock(held_planes_ * tables_.size() * width_ * height_ * sizeof(double));
    if (by_channel) {
      // A plane at a time, each written as a channel of its own; channels left as they are
      // (alpha) after them.
      for (std::size_t p = 0; p < planes_.count(); ++p) {
        fill(p);
        level_chunks([&](std::size_t y, double* out) { level_plane_row(y, p, out); }, 1,
                     [&](std::size_t y, std::size_t n, const double* v) { sink_.write_channel_rows(y, n, p, v); });
      }
      for (std::size_t c = planes_.leveled; c < layout_.channels; ++c)
        level_chunks([&](std::size_t y, double* out) { rows_.channel(sample_row(y), c, out); }, 1,
                     [&](std::size_t y, std::size_t n, const double* v) { sink_.write_channel_rows(y, n, c, v); });
      return report;
    }
    for (std::size_t p = 0; p < planes_.count(); ++p) fill(p);
    level_chunks([&](std::size_t y, double* out) { level_row_of_every_plane(y, out); }, layout_.channels,
                 [&](std::size_t y, std::size_t n, const double* v) { sink_.write_rows(y, n, v, n * width_); });
    return report;
  }

 private:
  const unsigned char* sample_row(std::size_t y) const { return rows_at_ + static_cast<std::ptrdiff_t>(y) * row_stride_; }

  // The page's samples: where they lie in the source's memory already, or read into a block.
  void read_samples() {
    rows_at_ = source_.held_rows(row_stride_);
    if (!rows_at_) {
      samples_ = BigBlock(height_ * layout_.row_bytes());
      unsigned char* samples = static_cast<unsigned char*>(samples_.data());
      const std::size_t run = std::max<std::size_t>(source_.chunk_rows(), 64);
      for (std::size_t y = 0; y < height_; y += run)
        source_.read_rows(y, std::min(run, height_ - y), samples + y * layout_.row_bytes());
      rows_at_ = samples;
      row_stride_ = static_cast<std::ptrdiff_t>(layout_.row_bytes());
    }
    progress(height_);
  }

  // Told in rows of three walks' worth: reading, filling, leveling.
  void progress(std::size_t rows) const {
    if (settings_.progress) settings_.progress(std::min(rows, 3 * height_), 3 * height_);
  }

  // Table t of plane p: planes held one at a time share the first place.
  double* table_of(std::size_t p, std::size_t t) const {
    const std::size_t place = held_planes_ > 1 ? p : 0;
    return static_cast<double*>(tables_block_.data()) + (place * tables_.size() + t) * width_ * height_;
  }

  // Every table of plane p over the whole page. Group g of rows is one task; it fills a block
  // of columns once group g - 1 has filled it, so that both threads go down the table together.
  void fill(std::size_t p) {
    const std::size_t groups = (height_ + table_group - 1) / table_group;
    const std::size_t blocks = (width_ + block_columns - 1) / block_columns;
    std::vector<std::atomic<std::size_t>> filled(groups);
    for (auto& f : filled) f.store(0);
    run_tasks(groups, settings_.threads, [&](std::size_t g) {
      const std::size_t y0 = g * table_group, count = std::min(table_group, height_ - y0);
      // What each table sums for the group's rows.
      double* values = scratch_rows(tables_.size() * table_group * width_ + 3 * width_);
      double* scratch = values + tables_.size() * table_group * width_;
      for (std::size_t t = 0; t < tables_.size(); ++t)
        for (std::size_t k = 0; k < count; ++k)
          rows_.table_values(sample_row(y0 + k), p, t, values + (t * table_group + k) * width_, scratch);
      for (std::size_t b = 0; b < blocks; ++b) {
        while (g > 0 && filled[g - 1].load(std::memory_order_acquire) <= b) std::this_thread::yield();
        const std::size_t begin = b * block_columns, end = std::min(width_, begin + block_columns);
        for (std::size_t t = 0; t < tables_.size(); ++t) {
          double* table = table_of(p, t);
          const double* in[table_group];
          double* out[table_group];
          for (std::size_t k = 0; k < count; ++k) {
            in[k] = values + (t * table_group + k) * width_;
            out[k] = table + (y0 + k) * width_;
          }
          fill_table_columns(y0 > 0 ? table + (y0 - 1) * width_ : nullptr, in, out, count, begin, end);
        }
        filled[g].store(b + 1, std::memory_order_release);
      }
    });
    PlaneTotals& totals = totals_[p];
    totals.pixels = static_cast<double>(static_cast<unsigned long long>(width_) * height_);
    for (std::size_t t = 0; t < tables_.size(); ++t) {
      const double sum = table_of(p, t)[width_ * height_ - 1];
      switch (tables_[t]) {
        case Table::values: totals.values = sum; break;
        case Table::squares: totals.squares = sum; break;
        case Table::powers: totals.powers = sum; break;
        case Table::complements: totals.complements = sum; break;
      }
    }
    progress(height_ + height_ * (p + 1) / planes_.count());
  }

  // Rows in chunks: each row computed by `row(y, out)` into `channels` planes of the chunk
  // (plane c of row r at chunk + (c * n + r) * width), on every thread; then the chunk handed
  // to `write(y, n, chunk)`.
  template <class Row, class Write>
  void level_chunks(Row row, std::size_t channels, Write write) {
    std::vector<double> chunk(channels * chunk_rows * width_);
    for (std::size_t y = 0; y < height_; y += chunk_rows) {
      const std::size_t n = std::min(chunk_rows, height_ - y);
      run_tasks(n, settings_.threads, [&](std::size_t r) {
        thread_local std::vector<double> planes;
        if (channels == 1) return row(y + r, chunk.data() + r * width_);
        // Every channel of the row, then each to its place in the chunk.
        planes.resize(channels * width_);
        row(y + r, planes.data());
        for (std::size_t c = 0; c < channels; ++c)
          std::copy(planes.begin() + static_cast<std::ptrdiff_t>(c * width_),
                    planes.begin() + static_cast<std::ptrdiff_t>((c + 1) * width_), chunk.begin() + static_cast<std::ptrdiff_t>((c * n + r) * width_));
      });
      write(y, n, chunk.data());
      progress(2 * height_ + y + n);
    }
  }

  // The two rows of each table that row y's windows read.
  void window_tables(std::size_t y, std::size_t p, WindowTables tables[2]) const {
    for (int k = 0; k < leveling_.windows; ++k) {
      const std::uint32_t r = how_.radius[k];
      const std::size_t y0 = window_start(y, r), y1 = window_end(y, r, height_);
      for (std::size_t t = 0; t < tables_.size(); ++t) {
        const double* table = table_of(p, t);
        const WindowRows rows{table + y1 * width_, y0 > 0 ? table + (y0 - 1) * width_ : nullptr,
                              static_cast<double>(y1 - y0 + 1)};
        switch (tables_[t]) {
          case Table::values: tables[k].values = rows; break;
          case Table::squares: tables[k].squares = rows; break;
          case Table::powers: tables[k].powers = rows; break;
          case Table::complements: tables[k].complements = rows; break;
        }
      }
    }
  }

  // Row y of plane p, leveled, into `out`.
  void level_plane_row(std::size_t y, std::size_t p, double* out) const {
    double* scratch = scratch_rows(10 * width_);
    double* in = scratch + 9 * width_;
    rows_.values(sample_row(y), p, in, scratch + 6 * width_);
    WindowTables tables[2];
    window_tables(y, p, tables);
    level_row(how_, in, out, width_, tables, totals_[p], scratch);
  }

  // Every value channel of row y (channel c at out + c * width): the leveled planes, or the
  // channels rescaled by the leveled gray; channels left as they are (alpha) as they are.
  void level_row_of_every_plane(std::size_t y, double* out) const {
    const unsigned char* samples = sample_row(y);
    if (planes_.gray) {
      double* gray = scratch_rows(13 * width_) + 12 * width_;
      double* scratch = scratch_rows(13 * width_);
      double* in = scratch + 9 * width_;
      rows_.values(samples, 0, in, scratch + 6 * width_);
      WindowTables tables[2];
      window_tables(y, 0, tables);
      level_row(how_, in, gray, width_, tables, totals_[0], scratch);
      for (std::size_t c = 0; c < planes_.leveled; ++c) {
        rows_.channel(samples, c, out + c * width_);
        reproject_row(out + c * width_, in, gray, width_);
      }
    } else {
      for (std::size_t p = 0; p < planes_.count(); ++p) level_plane_row(y, p, out + p * width_);
    }
    for (std::size_t c = planes_.leveled; c < layout_.channels; ++c) rows_.channel(samples, c, out + c * width_);
  }

  const Leveling leveling_;  // with the windows of this page
  RowSource& source_;
  RowSink& sink_;
  StreamSettings settings_;
  const PageLayout& layout_;
  std::size_t width_, height_;
  Planes planes_;
  std::vector<Table> tables_;
  PlaneRows rows_;
  RowLeveling how_;
  const unsigned char* rows_at_ = nullptr;  // the page's samples, row y at rows_at_ + y * row_stride_
  std::ptrdiff_t row_stride_ = 0;
  BigBlock samples_;       // the samples, where the source does not hold them
  BigBlock tables_block_;  // [plane held][table][y * width + x]
  std::size_t held_planes_ = 1;
  std::vector<PlaneTotals> totals_;
};

}  // namespace

long double whole_page_bytes(const Leveling& given, const PageLayout& layout, bool by_channel) {
  const Leveling leveling = for_picture(given, layout.width, layout.height);
  const Planes planes = planes_of(leveling, layout);
  const long double pixels = static_cast<long double>(layout.width) * layout.height;
  const long double tables = tables_list(leveling.algorithm->family).size() * (by_channel && !planes.gray ? 1 : planes.count());
  return pixels * (static_cast<long double>(layout.row_bytes()) / std::max<std::size_t>(1, layout.width) + 8 * tables) +
         static_cast<long double>(layout.channels) * chunk_rows * layout.width * 8;
}

LevelingReport level_whole_page(const Leveling& leveling, RowSource& source, RowSink& sink,
                                const StreamSettings& settings) {
  return WholePage(leveling, source, sink, settings).run();
}

}  // namespace kelvane
