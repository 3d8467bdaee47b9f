#include "stream/level_page.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "gray/color.h"
#include "image/samples.h"
#include "image/thread_pool.h"
#include "stream/input_ring.h"
#include "stream/table_cursor.h"
#include "window_stats/table_rows.h"

namespace {

constexpr std::size_t band_rows = table_group;
using Row = long long;  // row numbers, signed: a trailing cursor's rows start above the page

// What is leveled: each leveled channel on its own, or one gray plane whose correction is
// carried back onto the leveled channels.
struct Planes {
  bool gray = false;
  std::size_t leveled = 0;  // value channels leveled (colour ones, or all with alpha)
  std::size_t count() const { return gray ? 1 : leveled; }
};

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

// The value a table sums for a plane value v: v, v * v, v^p or (1 - v)^p, the last with
// 1 - v formed as (v * -1.0) + 1.0.
double table_value(Table table, double v, double p) {
  switch (table) {
    case Table::values: return v;
    case Table::squares: return v * v;
    case Table::powers: return std::pow(v, p);
    case Table::complements: return std::pow((v * -1.0) + 1.0, p);
  }
  return v;
}

// A plane's values, and the values its tables sum, from a row of the page's samples. A
// channel of 8- or 16-bit codes is looked up in tables of what each code gives, computed by
// the same operations: the results are the same, without a pow for every sample.
class PlaneRows {
 public:
  PlaneRows(const Leveling& leveling, const PageLayout& layout, const Planes& planes, const std::vector<Table>& tables)
      : layout_(layout), planes_(planes), tables_(tables), method_(leveling.method) {
    if (planes.gray) return;
    codes_.resize(planes.leveled);
    for (std::size_t c = 0; c < planes.leveled; ++c) {
      const std::vector<double> values = code_values(layout, c);
      if (values.empty()) continue;
      codes_[c].resize(tables.size());
      for (std::size_t t = 0; t < tables.size(); ++t) {
        codes_[c][t].resize(values.size());
        for (std::size_t s = 0; s < values.size(); ++s) codes_[c][t][s] = table_value(tables[t], values[s], power_exponent);
      }
    }
  }

  // The plane's values of a row; `scratch` holds three rows for the gray.
  void values(const unsigned char* row, std::size_t plane, double* out, double* scratch) const {
    if (!planes_.gray) return channel_values(row, layout_, plane, out);
    const std::size_t w = layout_.width;
    for (std::size_t c = 0; c < 3; ++c) channel_values(row, layout_, c, scratch + c * w);
    gray_row(scratch, scratch + w, scratch + 2 * w, w, method_, out);
  }

  // What table t of the plane sums for each pixel of a row.
  void table_values(const unsigned char* row, std::size_t plane, std::size_t t, double* out, double* scratch) const {
    if (!planes_.gray && !codes_[plane].empty()) {
      const double* lookup = codes_[plane][t].data();
      const std::size_t step = layout_.channels, c = stored_channel(layout_, plane);
      if (layout_.sample == SampleType::u8)
        for (std::size_t x = 0; x < layout_.width; ++x) out[x] = lookup[row[x * step + c]];
      else
        for (std::size_t x = 0; x < layout_.width; ++x)
          out[x] = lookup[reinterpret_cast<const std::uint16_t*>(row)[x * step + c]];
      return;
    }
    values(row, plane, out, scratch);
    const Table table = tables_[t];
    if (table != Table::values)
      for (std::size_t x = 0; x < layout_.width; ++x) out[x] = table_value(table, out[x], power_exponent);
  }

 private:
  const PageLayout& layout_;
  Planes planes_;
  std::vector<Table> tables_;
  GrayMethod method_;
  std::vector<std::vector<std::vector<double>>> codes_;  // [channel][table][code]
};

// The cursors of one half window: per plane and table, one at the windows' bottom rows and
// one at the rows above their tops.
struct WindowCursors {
  std::uint32_t radius;
  std::vector<std::unique_ptr<TableCursor>> lead, trail;  // [plane * tables + table]
};

WindowRows rows_of(const TableCursor& lead, const TableCursor& trail, Row y, std::uint32_t r, std::size_t height) {
  const std::size_t y0 = window_start(static_cast<std::size_t>(y), r);
  const std::size_t y1 = window_end(static_cast<std::size_t>(y), r, height);
  return WindowRows{lead.row(static_cast<Row>(y1)), y0 > 0 ? trail.row(static_cast<Row>(y0) - 1) : nullptr,
                    static_cast<double>(y1 - y0 + 1)};
}

WindowRows* table_slot(WindowTables& t, Table table) {
  switch (table) {
    case Table::values: return &t.values;
    case Table::squares: return &t.squares;
    case Table::powers: return &t.powers;
    case Table::complements: return &t.complements;
  }
  return &t.values;
}

// Rows the ring holds: a window's height above and below a band, and a chunk to read into.
std::size_t ring_rows(const Leveling& leveling, std::size_t height, std::size_t chunk) {
  const unsigned long long r = std::max(leveling.window1 >> 1, leveling.windows == 2 ? leveling.window2 >> 1 : 0u);
  const unsigned long long span = std::min<unsigned long long>(height, 2 * r + band_rows + 2);
  return static_cast<std::size_t>(span) + std::max<std::size_t>(1, chunk);
}

// Scratch rows of the calling thread.
double* scratch_rows(std::size_t count) {
  thread_local std::vector<double> scratch;
  if (scratch.size() < count) scratch.resize(count);
  return scratch.data();
}

class PageStream {
 public:
  PageStream(const Leveling& leveling, RowSource& source, RowSink& sink, const StreamSettings& settings)
      : leveling_(leveling), source_(source), sink_(sink), settings_(settings), layout_(source.layout()),
        width_(layout_.width), height_(layout_.height), planes_(planes_of(leveling, layout_)),
        tables_(tables_list(leveling.algorithm->family)), rows_(leveling, layout_, planes_, tables_) {
    radius_[0] = leveling.window1 >> 1;
    radius_[1] = leveling.windows == 2 ? leveling.window2 >> 1 : radius_[0];
  }

  LevelingReport run() {
    LevelingReport report;
    report.channel_by_channel = leveling_.algorithm->takes_method && !planes_.gray;
    if (width_ == 0 || height_ == 0) return report;
    totals_.assign(planes_.count(), PlaneTotals());
    if (leveling_.windows == 1) sum_planes();
    level_rows();
    return report;
  }

 private:
  std::size_t cursor_count() const { return planes_.count() * tables_.size(); }

  // Runs a cursor up to row `last` over the ring's rows.
  void advance(TableCursor& cursor, std::size_t index, Row last, const InputRing& ring) const {
    const std::size_t plane = index / tables_.size(), table = index % tables_.size();
    cursor.advance(last, [&](Row t, double* out, double* scratch) {
      rows_.table_values(ring.row(t), plane, table, out, scratch);
    });
  }

  // The one-window forms' reference: every table of every plane walked to its last entry,
  // the sum over the whole plane.
  void sum_planes() {
    std::vector<std::unique_ptr<TableCursor>> cursors;
    for (std::size_t i = 0; i < cursor_count(); ++i) cursors.push_back(std::make_unique<TableCursor>(width_));
    const std::size_t step = 8 * band_rows;
    InputRing ring(source_, step + source_.chunk_rows());
    for (Row y = 0; y < static_cast<Row>(height_); y += step) {
      const Row last = std::min<Row>(y + step - 1, static_cast<Row>(height_) - 1);
      ring.fill(y, last);
      run_tasks(cursors.size(), settings_.threads, [&](std::size_t i) { advance(*cursors[i], i, last, ring); });
    }
    const double pixels = static_cast<double>(static_cast<unsigned long long>(width_) * height_);
    for (std::size_t p = 0; p < planes_.count(); ++p) {
      PlaneTotals& totals = totals_[p];
      totals.pixels = pixels;
      for (std::size_t t = 0; t < tables_.size(); ++t) {
        const double sum = cursors[p * tables_.size() + t]->row(static_cast<Row>(height_) - 1)[width_ - 1];
        switch (tables_[t]) {
          case Table::values: totals.values = sum; break;
          case Table::squares: totals.squares = sum; break;
          case Table::powers: totals.powers = sum; break;
          case Table::complements: totals.complements = sum; break;
        }
      }
    }
  }

  // The leveling walk, a band of rows at a time.
  void level_rows() {
    std::vector<WindowCursors> windows;  // one set per distinct half window
    for (int w = 0; w < leveling_.windows; ++w) {
      if (w == 1 && radius_[1] == radius_[0]) break;
      WindowCursors set;
      set.radius = radius_[w];
      for (std::size_t i = 0; i < cursor_count(); ++i) {
        set.lead.push_back(std::make_unique<TableCursor>(width_));
        set.trail.push_back(std::make_unique<TableCursor>(width_));
      }
      windows.push_back(std::move(set));
    }
    const std::size_t set_of[2] = {0, windows.size() - 1};
    InputRing ring(source_, ring_rows(leveling_, height_, source_.chunk_rows()));
    const std::size_t channels = layout_.channels;
    std::vector<double> band(channels * band_rows * width_);

    const Row height = static_cast<Row>(height_);
    for (Row y = 0; y < height; y += band_rows) {
      const Row n = std::min<Row>(band_rows, height - y);
      Row keep_from = y, last = y + n - 1;
      for (const WindowCursors& set : windows) {
        keep_from = std::min(keep_from, set.trail[0]->next());
        last = std::max(last, std::min<Row>(y + n - 1 + set.radius, height - 1));
      }
      ring.fill(keep_from, last);
      // Every cursor of every window, plane and table on its own.
      const std::size_t per_set = 2 * cursor_count();
      run_tasks(windows.size() * per_set, settings_.threads, [&](std::size_t task) {
        WindowCursors& set = windows[task / per_set];
        const std::size_t i = task % per_set % cursor_count();
        if (task % per_set < cursor_count())
          advance(*set.lead[i], i, std::min<Row>(y + n - 1 + set.radius, height - 1), ring);
        else
          advance(*set.trail[i], i, y + n - 2 - static_cast<Row>(set.radius), ring);
      });
      // Then every row of the band, plane by plane.
      const std::size_t plane_tasks = planes_.count();
      run_tasks(static_cast<std::size_t>(n) * plane_tasks, settings_.threads, [&](std::size_t task) {
        const Row row = y + static_cast<Row>(task / plane_tasks);
        level_band_row(row, task % plane_tasks, windows, set_of, ring,
                       band.data() + static_cast<std::size_t>(row - y) * width_, static_cast<std::size_t>(n));
      });
      sink_.write_rows(static_cast<std::size_t>(y), static_cast<std::size_t>(n), band.data(),
                       static_cast<std::size_t>(n) * width_);
    }
  }

  // Row `row` of one plane into the band (channel c of the row at out + c * n * width).
  void level_band_row(Row row, std::size_t plane, const std::vector<WindowCursors>& windows, const std::size_t set_of[2],
                      const InputRing& ring, double* out, std::size_t n) const {
    const std::size_t w = width_, stride = n * width_;
    const unsigned char* samples = ring.row(row);
    double* scratch = scratch_rows(12 * w);
    double* in = scratch + 9 * w;
    rows_.values(samples, plane, in, scratch + 6 * w);
    WindowTables tables[2];
    for (int k = 0; k < leveling_.windows; ++k) {
      const WindowCursors& set = windows[set_of[k]];
      for (std::size_t t = 0; t < tables_.size(); ++t) {
        const std::size_t i = plane * tables_.size() + t;
        *table_slot(tables[k], tables_[t]) = rows_of(*set.lead[i], *set.trail[i], row, set.radius, height_);
      }
    }
    double* leveled = planes_.gray ? scratch + 10 * w : out + plane * stride;
    level_row(leveling_.algorithm->family, in, leveled, w, leveling_.windows, radius_, tables, totals_[plane],
              power_exponent, scratch);
    if (planes_.gray)
      for (std::size_t c = 0; c < planes_.leveled; ++c) {
        channel_values(samples, layout_, c, out + c * stride);
        reproject_row(out + c * stride, in, leveled, w);
      }
    // Channels left as they are (alpha), with the first plane's task.
    if (plane == 0)
      for (std::size_t c = planes_.leveled; c < layout_.channels; ++c) channel_values(samples, layout_, c, out + c * stride);
  }

  const Leveling& leveling_;
  RowSource& source_;
  RowSink& sink_;
  StreamSettings settings_;
  const PageLayout& layout_;
  std::size_t width_, height_;
  Planes planes_;
  std::vector<Table> tables_;
  PlaneRows rows_;
  std::uint32_t radius_[2];
  std::vector<PlaneTotals> totals_;
};

}  // namespace

LevelingReport level_page(const Leveling& leveling, RowSource& source, RowSink& sink, const StreamSettings& settings) {
  return PageStream(leveling, source, sink, settings).run();
}

long double stream_bytes(const Leveling& leveling, const PageLayout& layout, std::size_t chunk_rows) {
  const long double w = static_cast<long double>(layout.width);
  const Planes planes = planes_of(leveling, layout);
  const long double cursors = planes.count() * tables_list(leveling.algorithm->family).size() *
                              (leveling.windows == 2 ? 4.0L : 2.0L);
  const long double ring = static_cast<long double>(ring_rows(leveling, layout.height, chunk_rows)) *
                           layout.row_bytes();
  // A cursor holds a band and the row above, and a band of values; the band of leveled
  // rows; scratch rows of every thread; code tables of 16-bit channels.
  const long double rows = cursors * (2 * band_rows + 1) * w * 8 + layout.channels * band_rows * w * 8 +
                           default_threads() * 12 * w * 8;
  const long double codes = layout.sample == SampleType::u16 ? planes.count() * 4.0L * 65536 * 8 : 0.0L;
  return ring + rows + codes;
}
