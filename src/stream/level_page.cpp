#include "stream/level_page.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "gray/color.h"
#include "image/samples.h"
#include "image/saved_codes.h"
#include "image/thread_pool.h"
#include "stream/input_ring.h"
#include "stream/plane_rows.h"
#include "stream/strip_walk.h"
#include "stream/table_cursor.h"
#include "stream/total_bounds.h"
#include "stream/wavefront.h"
#include "window_stats/table_rows.h"

namespace kelvane {

namespace {

// Rows leveled together. The walk is a pipeline of bands: while the cursors reach the rows
// of one band, the band before is leveled, the one before that written, and the rows of the
// next read, all at once on the pool's threads.
constexpr std::size_t band_rows = table_group;
// Columns of a row leveled together: their values, statistics and results stay in the
// core's nearest cache from the first step to the stored samples.
constexpr std::size_t stretch_columns = 512;
using Row = long long;  // row numbers, signed: a trailing cursor's rows start above the page

// The cursors of one half window: per plane and table, one at the windows' bottom rows and
// one at the rows above their tops; or, where the rows of a window's height fit in memory,
// one that keeps them all, the tops' included. The cursors read the page's rows from the
// shared ring, or where a window's height of rows would take too much memory, the leading
// and the trailing ones each from a reader of their own.
struct WindowCursors {
  std::uint32_t radius;
  std::vector<std::unique_ptr<TableCursor>> lead, trail;  // [plane * tables + table]; trail may be empty
  std::unique_ptr<RowSource> lead_source, trail_source;
  std::unique_ptr<InputRing> lead_rows, trail_rows;  // null: the shared ring
};

// Rows the shared ring holds for a half window: its height around three bands (the one
// leveled, the one the cursors reach, the one read); never more than the page has.
std::size_t window_rows(std::uint32_t r, std::size_t height) {
  return static_cast<std::size_t>(std::min<unsigned long long>(height, 2ull * r + 3 * band_rows + 2));
}

// Whether a half window's cursors read the page through readers of their own.
bool reads_again(std::uint32_t r, const PageLayout& layout, const StreamSettings& settings) {
  return static_cast<long double>(window_rows(r, layout.height)) * layout.row_bytes() > settings.window_row_bytes;
}

// Rows of a ring of a reader of its own: the band its cursors reach and the next.
std::size_t own_ring_rows(std::size_t chunk) { return 2 * band_rows + 2 + std::max<std::size_t>(1, chunk); }

// Table rows a leading cursor keeps so that the rows above the windows of the band being
// leveled are still there while it reaches the next band's; never more than the page has.
std::size_t window_span(std::uint32_t r, std::size_t height) {
  return std::min(2 * static_cast<std::size_t>(r) + 2 * band_rows + 2, height + 1);
}

// Threads a wavefront over the page's rows runs on: those asked for, no more than the pool
// has.
unsigned wavefront_threads(unsigned asked) { return std::max(1u, std::min(asked, default_threads())); }

// Samples a single walk may leave open at most, of `samples`, and the bytes each takes: more
// (a flat picture), and the walk is given up for two.
std::size_t open_limit(std::size_t samples) {
  return std::min<std::size_t>(std::max<std::size_t>(1024, samples / 256), std::size_t(1) << 18);
}
constexpr std::size_t open_sample_bytes = 6 * 8;

// Rows a cursor keeps for the band being leveled while it reaches the next.
constexpr std::size_t two_bands = 2 * band_rows + 1;

// Whether the leading cursors of a half window keep its whole height.
bool keeps_window(std::uint32_t r, std::size_t width, std::size_t height, std::size_t cursors, long double budget) {
  return static_cast<long double>(window_span(r, height)) * width * 8 * cursors <= budget;
}

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

// Rows the shared ring holds for the half windows that read it (three bands for none), and
// a chunk to read into.
std::size_t ring_rows(const std::vector<std::uint32_t>& radii, std::size_t height, std::size_t chunk) {
  std::size_t span = std::min<std::size_t>(height, 3 * band_rows + 2);
  for (std::uint32_t r : radii) span = std::max(span, window_rows(r, height));
  return span + std::max<std::size_t>(1, chunk);
}

class PageStream {
 public:
  PageStream(const Leveling& leveling, RowSource& source, RowSink& sink, const StreamSettings& settings)
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
    totals_.assign(planes_.count(), PlaneTotals());
    const bool tried = leveling_.windows == 1 && bound_totals_first();
    if (tried) {
      walks_ = 1;
      const StripPlan strips = plan_strips(width_, height_, how_.radius[0], cursor_count(),
                                           wavefront_threads(settings_.threads), settings_.strip_columns,
                                           settings_.window_table_bytes);
      strips.strips() > 1 ? level_strips(strips) : level_rows();
      one_walk_ = false;
      if (settle_open_samples(report)) {
        report.walks = 1;
        return report;
      }
      given_up_ = true;
    }
    walks_ = leveling_.windows == 1 ? 2 : 1;
    report.walks = static_cast<int>(walks_) + (tried ? 1 : 0);
    std::ptrdiff_t stride = 0;
    if (leveling_.windows == 1) source_.held_rows(stride) ? sum_held_planes() : sum_planes();
    level_rows();
    return report;
  }

 private:
  std::size_t cursor_count() const { return planes_.count() * tables_.size(); }

  // Told as rows walked of all the walks' rows. After a single walk given up at row g, what
  // is left of its count goes over the two walks that follow, so the share never falls.
  void progress(std::size_t rows) const {
    if (!settings_.progress) return;
    if (!given_up_) {
      reported_ = rows;
      return settings_.progress(rows, walks_ * height_);
    }
    settings_.progress(reported_ + (height_ - reported_) * rows / (walks_ * height_), height_);
  }

  // The half windows whose tables are walked, without repeating one. Where the larger of two
  // keeps its window's height of table rows, the smaller one's rows are among them: its
  // tables are not walked again.
  std::vector<std::uint32_t> radii() const {
    const std::uint32_t a = how_.radius[0], b = how_.radius[1];
    if (leveling_.windows == 1 || a == b) return {a};
    const std::uint32_t larger = std::max(a, b);
    if (keeps_window(larger, width_, height_, cursor_count(), settings_.window_table_bytes)) return {larger};
    return {a, b};
  }

  // What a table sums for a row of the plane's values.
  void table_values_of(Table table, const double* values, double* out) const {
    if (table == Table::values) std::copy(values, values + width_, out);
    else
      for (std::size_t x = 0; x < width_; ++x) out[x] = table_value(table, values[x], power_exponent);
  }

  // The cursors a task advances together, [first, first + count) of a set: one table of a
  // plane whose values are looked up in codes, or every table of a plane whose values are
  // computed (the gray, floating-point samples), which computes them once a row for all.
  struct CursorRun {
    std::size_t plane, first, count;
  };
  std::vector<CursorRun> cursor_runs() const {
    std::vector<CursorRun> runs;
    const std::size_t tables = tables_.size();
    for (std::size_t p = 0; p < planes_.count(); ++p) {
      if (!rows_.coded(p, 0).codes) {
        runs.push_back({p, p * tables, tables});
        continue;
      }
      for (std::size_t t = 0; t < tables; ++t) runs.push_back({p, p * tables + t, 1});
    }
    return runs;
  }

  // Runs the cursors of a run up to row `last` over the ring's rows, in step.
  void advance(const std::vector<std::unique_ptr<TableCursor>>& cursors, const CursorRun& run, Row last,
               const InputRing& ring) const {
    if (run.count == 1) return advance(*cursors[run.first], run.first, last, ring);
    thread_local std::vector<double> group;  // the plane's values of a group of rows
    group.resize(table_group * width_);
    while (cursors[run.first]->next() <= last) {
      const Row first = cursors[run.first]->next();
      const Row end = std::min<Row>(last, first + static_cast<Row>(table_group) - 1);
      double* scratch = scratch_rows(3 * width_);
      for (Row t = first; t <= end; ++t)
        rows_.values(ring.row(t), run.plane, group.data() + static_cast<std::size_t>(t - first) * width_, scratch);
      for (std::size_t k = 0; k < run.count; ++k)
        cursors[run.first + k]->advance(end, [&](Row t, double* out, double*) {
          table_values_of(tables_[k], group.data() + static_cast<std::size_t>(t - first) * width_, out);
        });
    }
  }

  // Runs a cursor up to row `last` over the ring's rows.
  void advance(TableCursor& cursor, std::size_t index, Row last, const InputRing& ring) const {
    const std::size_t plane = index / tables_.size(), table = index % tables_.size();
    const PlaneRows::Coded coded = rows_.coded(plane, table);
    const auto rows = [&ring](Row t) { return ring.row(t); };
    if (coded.codes && coded.sample == SampleType::u8)
      return cursor.advance_coded<std::uint8_t>(last, rows, coded.codes, coded.step, coded.first);
    if (coded.codes) return cursor.advance_coded<std::uint16_t>(last, rows, coded.codes, coded.step, coded.first);
    cursor.advance(last, [&](Row t, double* out, double* scratch) {
      rows_.table_values(ring.row(t), plane, table, out, scratch);
    });
  }

  // Whether the page is leveled in one walk: the one-window forms of mean and std, of a
  // picture in memory whose values are a constant times its codes, into integer samples in
  // memory, where the bounds on the totals leave few samples open. The samples open are
  // those whose code differs between the bounds' leveled values; they are kept with what
  // settles them once the walk has reached the totals.
  bool bound_totals_first() {
    const double unit = sink_.part_unit();
    std::ptrdiff_t stride = 0;
    const unsigned char* held = source_.held_rows(stride);
    const bool std_family = how_.family == Family::std;
    if (!settings_.one_walk || unit == 0.0 || !sink_.takes_parts() || !held || planes_.gray ||
        !may_walk_once(leveling_, layout_.sample))
      return false;
    // A window over the whole picture leaves a value where it was, up to rounding, at the
    // border of its code: such samples would be open. The pixels whose clipped window is the
    // whole picture are those within r of both ends of a row and of a column.
    const auto whole = [r = static_cast<unsigned long long>(how_.radius[0])](std::size_t n) {
      return static_cast<double>(std::min<unsigned long long>(n, 2 * r + 2 > n ? 2 * r + 2 - n : 0)) / double(n);
    };
    if (whole(width_) * whole(height_) > 1.0 / 1024) return false;
    const CodeSums sums = code_sums(held, stride, layout_, std_family, settings_.threads);
    if (!bound_totals(layout_, planes_, rows_, tables_, sums, settings_.bounds_slack, bounds_)) return false;
    low_.resize(planes_.count());
    high_.resize(planes_.count());
    for (std::size_t p = 0; p < planes_.count(); ++p) {
      reference_bounds(bounds_.lo[p], bounds_.hi[p], low_[p], high_[p]);
      // The codes between the bounds of a value: about the share of samples left open. The
      // deviation's part is weighed by |v - m| / s, below 4 for nearly every sample.
      const double spread = ((high_[p].mean - low_[p].mean) + 4 * (high_[p].deviation - low_[p].deviation)) * unit;
      if (!(spread <= 0.002)) return false;
    }
    unit_ = unit;
    open_.clear();
    open_full_ = false;
    const std::size_t samples = width_ * height_ * planes_.count();
    open_limit_ = open_limit(samples);
    one_walk_ = true;
    return true;
  }

  // Saves the codes of a stretch's lower bounds lo into `codes` (of the sink's sample type),
  // and keeps the samples whose codes differ between lo and hi, with their value and their
  // window's statistics.
  void code_bounds(Row row, std::size_t plane, std::size_t begin, std::size_t count, const double* in,
                   const double* lo, const double* hi, const double* stats, std::uint16_t* codes) const {
    const std::size_t open = unit_ == 255.0
                                 ? saved_codes_of_bounds(lo, hi, count, unit_, reinterpret_cast<std::uint8_t*>(codes))
                                 : saved_codes_of_bounds(lo, hi, count, unit_, codes);
    if (open == 0) return;
    std::vector<OpenSample> found;
    const bool with_deviation = how_.family == Family::std;
    for (std::size_t x = 0; x < count; ++x)
      if (static_cast<long long>(saved_sample(lo[x], unit_)) != static_cast<long long>(saved_sample(hi[x], unit_)))
        found.push_back(OpenSample{static_cast<std::size_t>(row), begin + x, plane, in[x], stats[x],
                                   with_deviation ? stats[count + x] : 0.0});
    std::lock_guard<std::mutex> lock(open_mutex_);
    if (open_.size() + found.size() > open_limit_) open_full_ = true;
    if (!open_full_) open_.insert(open_.end(), found.begin(), found.end());
  }

  // Columns [begin, end) of row y in a single walk, from each plane's window tables: a
  // stretch of every plane's values looked up at once, leveled at both bounds, and the
  // pixels' codes stored together.
  void level_pixels(std::size_t y, std::size_t begin, std::size_t end, const WindowTables* windows) const {
    std::ptrdiff_t stride = 0;
    const unsigned char* samples = source_.held_rows(stride) + static_cast<std::ptrdiff_t>(y) * stride;
    const std::size_t planes = planes_.count();
    // Each plane's values, the bounds, the statistics and each plane's codes of a stretch.
    double* in = scratch_rows((planes + 8) * stretch_columns + (planes * stretch_columns + 3) / 4);
    double* lo = in + planes * stretch_columns;
    double* hi = lo + stretch_columns;
    double* piece = hi + stretch_columns;  // 6 stretches
    auto* codes = reinterpret_cast<std::uint16_t*>(piece + 6 * stretch_columns);
    thread_local std::vector<const void*> planes_codes;
    planes_codes.resize(planes);
    for (std::size_t plane = 0; plane < planes; ++plane) planes_codes[plane] = codes + plane * stretch_columns;
    for (std::size_t b = begin; b < end; b += stretch_columns) {
      const std::size_t e = std::min(end, b + stretch_columns);
      rows_.coded_planes(samples, planes, b, e, in, stretch_columns);
      for (std::size_t plane = 0; plane < planes; ++plane) {
        const double* values = in + plane * stretch_columns;
        level_row_bounds(how_, values, lo, hi, width_, Columns{b, e}, windows[plane], low_[plane], high_[plane], piece);
        code_bounds(static_cast<Row>(y), plane, b, e - b, values, lo, hi, piece, codes + plane * stretch_columns);
      }
      sink_.write_pixel_codes(y, planes, b, e - b, planes_codes.data());
    }
    // Channels left as they are (alpha).
    for (std::size_t c = planes_.leveled; c < layout_.channels; ++c)
      for (std::size_t b = begin; b < end; b += stretch_columns) {
        const std::size_t e = std::min(end, b + stretch_columns);
        rows_.coded_channel(samples, c, b, e, in);
        sink_.write_part(y, c, b, e - b, in);
      }
  }

  // The single walk of a page held in memory, down strips of columns, a thread down each
  // (see strip_walk.h).
  void level_strips(const StripPlan& plan) {
    const std::size_t tables = tables_.size();
    StripWork work;
    work.fill = [&](std::size_t first, std::size_t count, const StripRows& rows, std::size_t begin, std::size_t end) {
      for (std::size_t p = 0; p < planes_.count(); ++p) {
        if (layout_.sample == SampleType::u8) fill_strip_rows<std::uint8_t>(p, first, count, rows, begin, end);
        else fill_strip_rows<std::uint16_t>(p, first, count, rows, begin, end);
      }
    };
    work.level = [&](std::size_t y, std::size_t begin, std::size_t end, const StripRows& rows) {
      if (open_full_) return false;
      const std::size_t y0 = window_start(y, how_.radius[0]), y1 = window_end(y, how_.radius[0], height_);
      thread_local std::vector<WindowTables> windows;
      windows.resize(planes_.count());
      for (std::size_t plane = 0; plane < planes_.count(); ++plane)
        for (std::size_t t = 0; t < tables; ++t) {
          const std::size_t i = plane * tables + t;
          *table_slot(windows[plane], tables_[t]) =
              WindowRows{rows.row(i, y1), y0 > 0 ? rows.row(i, y0 - 1) : nullptr, static_cast<double>(y1 - y0 + 1)};
        }
      level_pixels(y, begin, end, windows.data());
      return true;
    };
    work.progress = [&](std::size_t rows) { progress(rows / plan.strips()); };
    const std::vector<double> last = walk_strips(plan, cursor_count(), wavefront_threads(settings_.threads), work);
    if (last.empty()) return;
    set_totals([&](std::size_t i) { return last[i]; });
    progress(height_);
  }

  // Rows [first, first + count) of a plane's tables in a strip's columns [begin, end), from
  // the page's held rows of samples T.
  template <class T>
  void fill_strip_rows(std::size_t plane, std::size_t first, std::size_t count, const StripRows& rows, std::size_t begin,
                       std::size_t end) const {
    std::ptrdiff_t stride = 0;
    const unsigned char* held = source_.held_rows(stride);
    const PlaneRows::Coded coded = rows_.coded(plane, 0);
    const std::size_t step = coded.step;
    const T* samples[table_group];
    for (std::size_t k = 0; k < count; ++k)
      samples[k] = reinterpret_cast<const T*>(held + static_cast<std::ptrdiff_t>(first + k) * stride) + coded.first;
    for (std::size_t t = 0; t < tables_.size(); ++t) {
      const std::size_t i = plane * tables_.size() + t;
      double* out[table_group];
      for (std::size_t k = 0; k < count; ++k) out[k] = rows.row(i, first + k);
      const double* codes = rows_.coded(plane, t).codes;
      fill_table_rows_from(
          first > 0 ? rows.row(i, first - 1) : nullptr,
          [&samples, codes, step](std::size_t k, std::size_t x) { return codes[samples[k][x * step]]; }, out, count,
          begin, end);
    }
  }

  // Once the walk has reached the totals: if they are within their bounds, every sample not
  // left open has its code, and the open ones get theirs now. False where the page must be
  // leveled again.
  bool settle_open_samples(LevelingReport& report) const {
    if (open_full_) return false;
    for (std::size_t p = 0; p < planes_.count(); ++p)
      if (!within(totals_[p], bounds_.lo[p], bounds_.hi[p])) return false;
    for (const OpenSample& o : open_) {
      const double v = leveled_pixel(how_, o.v, o.m, o.s, reference_of(totals_[o.plane]));
      sink_.write_part(o.y, o.plane, o.x, 1, &v);
    }
    report.settled_late = open_.size();
    return true;
  }

  // The one-window forms' reference: every table of every plane walked to its last entry,
  // the sum over the whole plane. The rows of the next stretch are read while the cursors go
  // through this one.
  void sum_planes() {
    std::vector<std::unique_ptr<TableCursor>> cursors;
    for (std::size_t i = 0; i < cursor_count(); ++i) cursors.push_back(std::make_unique<TableCursor>(width_));
    const Row step = static_cast<Row>(4 * band_rows), height = static_cast<Row>(height_);
    const std::vector<CursorRun> runs = cursor_runs();
    InputRing ring(source_, static_cast<std::size_t>(2 * step) + source_.chunk_rows());
    ring.fill(0, step - 1);
    for (Row y = 0; y < height; y += step) {
      const Row last = std::min(y + step - 1, height - 1);
      run_tasks(runs.size() + 1, settings_.threads, [&](std::size_t i) {
        if (i == 0) ring.fill(y, last + step);
        else advance(cursors, runs[i - 1], last, ring);
      });
      progress(static_cast<std::size_t>(last + 1));
    }
    set_totals([&](std::size_t i) { return cursors[i]->row(height - 1)[width_ - 1]; });
  }

  // The same where the source holds every row: the groups of rows of all tables go over the
  // threads as a wavefront, a group a block of columns behind the one above it. A group's
  // rows go to a slot of their own, taken again by a later group once no group under way
  // can still read it (the slots outnumber the threads).
  void sum_held_planes() {
    constexpr std::size_t K = table_group;
    std::ptrdiff_t stride = 0;
    const unsigned char* held = source_.held_rows(stride);
    // The threads that can run at once: more asked for would only take memory for slots.
    const unsigned threads = wavefront_threads(settings_.threads);
    const std::size_t groups = (height_ + K - 1) / K, slots = threads + 1, cursors = cursor_count();
    std::vector<double> table_rows(slots * cursors * K * width_);
    const auto row_of = [&](std::size_t g, std::size_t i, std::size_t k) {
      return table_rows.data() + (((g % slots) * cursors + i) * K + k) * width_;
    };
    std::vector<PlaneRows::Coded> coded(cursors);
    bool any_uncoded = false;
    for (std::size_t i = 0; i < cursors; ++i) {
      coded[i] = rows_.coded(i / tables_.size(), i % tables_.size());
      any_uncoded = any_uncoded || !coded[i].codes;
    }
    // The values of the tables that are not looked up, computed a group at a time.
    std::vector<double> values(any_uncoded ? slots * cursors * K * width_ : 0);
    const auto values_of = [&](std::size_t g, std::size_t i, std::size_t k) {
      return values.data() + (((g % slots) * cursors + i) * K + k) * width_;
    };
    const auto rows_in = [&](std::size_t g) { return std::min(K, height_ - g * K); };
    const auto samples_of = [&](std::size_t t) { return held + static_cast<std::ptrdiff_t>(t) * stride; };
    const std::thread::id caller = std::this_thread::get_id();
    run_wavefront(
        groups, width_, threads,
        [&](std::size_t g) {
          if (std::this_thread::get_id() == caller) progress(g * K);
          if (!any_uncoded) return;
          // A plane's values once a row, and from them what each of its tables sums.
          double* scratch = scratch_rows(4 * width_);
          double* plane_values = scratch + 3 * width_;
          for (std::size_t p = 0; p < planes_.count(); ++p) {
            if (coded[p * tables_.size()].codes) continue;
            for (std::size_t k = 0; k < rows_in(g); ++k) {
              rows_.values(samples_of(g * K + k), p, plane_values, scratch);
              for (std::size_t t = 0; t < tables_.size(); ++t)
                table_values_of(tables_[t], plane_values, values_of(g, p * tables_.size() + t, k));
            }
          }
        },
        [&](std::size_t g, std::size_t begin, std::size_t end) {
          for (std::size_t i = 0; i < cursors; ++i) {
            const double* above = g > 0 ? row_of(g - 1, i, K - 1) : nullptr;
            double* out[K];
            const std::size_t count = rows_in(g);
            for (std::size_t k = 0; k < count; ++k) out[k] = row_of(g, i, k);
            const PlaneRows::Coded& c = coded[i];
            if (!c.codes) {
              const double* in[K];
              for (std::size_t k = 0; k < count; ++k) in[k] = values_of(g, i, k);
              fill_table_rows_from(above, [&in](std::size_t k, std::size_t x) { return in[k][x]; }, out, count, begin, end);
              continue;
            }
            // Written out for each sample type: folded into a helper shared by both, this
            // loop ran a tenth slower (the fill keeps two dozen row pointers at hand).
            const unsigned char* rows[K];
            for (std::size_t k = 0; k < count; ++k) rows[k] = samples_of(g * K + k);
            if (c.sample == SampleType::u8) {
              const std::uint8_t* samples[K];
              for (std::size_t k = 0; k < count; ++k) samples[k] = rows[k] + c.first;
              fill_table_rows_from(
                  above, [&samples, &c](std::size_t k, std::size_t x) { return c.codes[samples[k][x * c.step]]; }, out,
                  count, begin, end);
            } else {
              const std::uint16_t* samples[K];
              for (std::size_t k = 0; k < count; ++k) samples[k] = reinterpret_cast<const std::uint16_t*>(rows[k]) + c.first;
              fill_table_rows_from(
                  above, [&samples, &c](std::size_t k, std::size_t x) { return c.codes[samples[k][x * c.step]]; }, out,
                  count, begin, end);
            }
          }
        });
    const std::size_t last = groups - 1;
    set_totals([&](std::size_t i) { return row_of(last, i, rows_in(last) - 1)[width_ - 1]; });
    progress(height_);
  }

  // Every plane's totals: the pixel count, and the sum over the whole plane of each table
  // (`sum(i)` of cursor i, the table's last entry).
  template <class Sum>
  void set_totals(Sum sum_of) {
    const double pixels = static_cast<double>(static_cast<unsigned long long>(width_) * height_);
    for (std::size_t p = 0; p < planes_.count(); ++p) {
      PlaneTotals& totals = totals_[p];
      totals.pixels = pixels;
      for (std::size_t t = 0; t < tables_.size(); ++t) {
        const double sum = sum_of(p * tables_.size() + t);
        switch (tables_[t]) {
          case Table::values: totals.values = sum; break;
          case Table::squares: totals.squares = sum; break;
          case Table::powers: totals.powers = sum; break;
          case Table::complements: totals.complements = sum; break;
        }
      }
    }
  }

  // The leveling walk, as a pipeline of bands: in step s the rows of band s + 1 are read, the
  // cursors reach band s, band s - 1 is leveled and band s - 2 written.
  void level_rows() {
    std::vector<WindowCursors> windows;  // one set per distinct half window
    std::vector<std::uint32_t> shared;   // the half windows whose cursors read the shared ring
    for (std::uint32_t r : radii()) {
      WindowCursors set;
      set.radius = r;
      const bool keep = keeps_window(set.radius, width_, height_, cursor_count(), settings_.window_table_bytes);
      for (std::size_t i = 0; i < cursor_count(); ++i) {
        set.lead.push_back(std::make_unique<TableCursor>(width_, keep ? window_span(set.radius, height_) : two_bands));
        if (!keep) set.trail.push_back(std::make_unique<TableCursor>(width_, two_bands));
      }
      if (reads_again(r, layout_, settings_)) {
        set.lead_source = source_.another();
        if (!keep && set.lead_source) set.trail_source = source_.another();
      }
      if (set.lead_source) set.lead_rows = std::make_unique<InputRing>(*set.lead_source, own_ring_rows(source_.chunk_rows()));
      if (set.trail_source) set.trail_rows = std::make_unique<InputRing>(*set.trail_source, own_ring_rows(source_.chunk_rows()));
      if (!set.lead_source || (!keep && !set.trail_source)) shared.push_back(r);
      windows.push_back(std::move(set));
    }
    // The set of cursors each window reads: its own, or the larger window's.
    const auto set_for = [&](std::uint32_t r) {
      for (std::size_t k = 0; k < windows.size(); ++k)
        if (windows[k].radius == r) return k;
      return std::size_t(0);
    };
    const std::size_t set_of[2] = {set_for(how_.radius[0]), set_for(how_.radius[1])};
    const std::vector<CursorRun> runs = cursor_runs();
    InputRing ring(source_, ring_rows(shared, height_, source_.chunk_rows()));
    std::vector<double> bands[2];
    for (auto& band : bands) band.resize(layout_.channels * band_rows * width_);

    const Row height = static_cast<Row>(height_), B = static_cast<Row>(band_rows);
    const Row count = (height + B - 1) / B;
    const auto first_row = [&](Row band) { return band * B; };
    const auto rows_in = [&](Row band) { return std::min(B, height - band * B); };
    // The rows the cursors of a set reach with a band: the bottom of its windows, the row
    // above their tops.
    const auto lead_to = [&](const WindowCursors& set, Row band) {
      return std::min<Row>(first_row(band) + rows_in(band) - 1 + set.radius, height - 1);
    };
    const auto trail_to = [&](const WindowCursors& set, Row band) {
      return first_row(band) + rows_in(band) - 2 - static_cast<Row>(set.radius);
    };
    // The last row of the shared ring needed for a band.
    const auto last_needed = [&](Row band) {
      Row last = first_row(band) + rows_in(band) - 1;
      for (const WindowCursors& set : windows)
        if (!set.lead_rows) last = std::max(last, lead_to(set, band));
      return last;
    };
    ring.fill(0, last_needed(0));
    // Readers of their own first take their leading cursors to the first band's windows.
    for (WindowCursors& set : windows) {
      if (!set.lead_rows) continue;
      const Row target = lead_to(set, 0), stretch = static_cast<Row>(band_rows);
      for (Row last = std::min(target, stretch - 1); set.lead[0]->next() <= target; last = std::min(target, last + stretch)) {
        set.lead_rows->fill(set.lead[0]->next(), last);
        run_tasks(runs.size(), settings_.threads, [&](std::size_t i) { advance(set.lead, runs[i], last, *set.lead_rows); });
      }
    }
    for (WindowCursors& set : windows)
      if (set.trail_rows) set.trail_rows->fill(0, trail_to(set, 0));
    for (Row step = 0; step < count + 2; ++step) {
      // A single walk that has left too many samples open is given up at once.
      if (one_walk_ && open_full_) return;
      Row keep_from = first_row(std::max<Row>(step - 1, 0));
      for (const WindowCursors& set : windows)
        if (!set.trail.empty() && !set.trail_rows) keep_from = std::min(keep_from, set.trail[0]->next());
      // Writing and reading go first: each is one long task, the rest is many short ones.
      std::vector<std::function<void()>> tasks;
      if (step >= 2) {
        const Row band = step - 2, n = rows_in(band);
        const double* out = bands[band % 2].data();
        if (!sink_.takes_parts()) tasks.push_back([&, band, n, out] {
          sink_.write_rows(static_cast<std::size_t>(first_row(band)), static_cast<std::size_t>(n), out,
                           static_cast<std::size_t>(n) * width_);
        });
      }
      if (step + 1 < count) {
        tasks.push_back([&, step, keep_from] { ring.fill(keep_from, last_needed(step + 1)); });
        // Readers of their own read the rows their cursors reach with the next band.
        for (WindowCursors& set : windows) {
          if (set.lead_rows)
            tasks.push_back([&, step, from = set.lead[0]->next()] { set.lead_rows->fill(from, lead_to(set, step + 1)); });
          if (set.trail_rows)
            tasks.push_back([&, step, from = set.trail[0]->next()] { set.trail_rows->fill(from, trail_to(set, step + 1)); });
        }
      }
      if (step < count) {
        for (WindowCursors& set : windows)
          for (const CursorRun& run : runs) {
            const InputRing& lead_rows = set.lead_rows ? *set.lead_rows : ring;
            tasks.push_back([&, run, to = lead_to(set, step)] { advance(set.lead, run, to, lead_rows); });
            if (set.trail.empty()) continue;
            const InputRing& trail_rows = set.trail_rows ? *set.trail_rows : ring;
            tasks.push_back([&, run, to = trail_to(set, step)] { advance(set.trail, run, to, trail_rows); });
          }
      }
      if (step >= 1 && step - 1 < count) {
        const Row band = step - 1, y = first_row(band), n = rows_in(band);
        double* out = bands[band % 2].data();
        // A row's planes in one task: its interleaved samples are written by one thread,
        // while their cache lines are at hand, never by two at once.
        for (Row r = 0; r < n; ++r)
          tasks.push_back([&, y, r, n, out] {
            if (one_walk_) {
              if (open_full_) return;
              thread_local std::vector<WindowTables> tables;
              tables.resize(planes_.count());
              for (std::size_t plane = 0; plane < planes_.count(); ++plane)
                tables[plane] = window_tables(y + r, plane, 0, windows, set_of);
              return level_pixels(static_cast<std::size_t>(y + r), 0, width_, tables.data());
            }
            for (std::size_t plane = 0; plane < planes_.count(); ++plane)
              level_band_row(y + r, plane, windows, set_of, ring, out + static_cast<std::size_t>(r) * width_,
                             static_cast<std::size_t>(n));
          });
      }
      run_tasks(tasks.size(), settings_.threads, [&](std::size_t t) { tasks[t](); });
      if (step >= 2) progress((walks_ - 1) * height_ + static_cast<std::size_t>(first_row(step - 2) + rows_in(step - 2)));
    }
    // In a single walk, the leading cursors have reached the tables' last entries.
    if (one_walk_) set_totals([&](std::size_t i) { return windows[0].lead[i]->row(height - 1)[width_ - 1]; });
  }

  // The rows of a plane's tables that the windows of row `row` read, for window k (0: the
  // first, 1: the second), from the cursors of its half window.
  WindowTables window_tables(Row row, std::size_t plane, int k, const std::vector<WindowCursors>& windows,
                             const std::size_t set_of[2]) const {
    WindowTables tables;
    const WindowCursors& set = windows[set_of[k]];
    for (std::size_t t = 0; t < tables_.size(); ++t) {
      const std::size_t i = plane * tables_.size() + t;
      const TableCursor& above = set.trail.empty() ? *set.lead[i] : *set.trail[i];
      *table_slot(tables, tables_[t]) = rows_of(*set.lead[i], above, row, how_.radius[k], height_);
    }
    return tables;
  }

  // Row `row` of one plane, a stretch of columns at a time: into the band (channel c of the
  // row at out + c * n * width), or straight into a sink that takes pieces of rows.
  void level_band_row(Row row, std::size_t plane, const std::vector<WindowCursors>& windows, const std::size_t set_of[2],
                      const InputRing& ring, double* out, std::size_t n) const {
    const std::size_t w = width_, stride = n * width_;
    const bool direct = sink_.takes_parts();
    const unsigned char* samples = ring.row(row);
    // The plane's values; for the gray, the colour channels' values it was made of (three
    // rows), and those of further leveled channels (an alpha leveled with them).
    const std::size_t extra = planes_.gray ? planes_.leveled - 3 : 0;
    double* scratch = scratch_rows((4 + extra) * w + 9 * stretch_columns);
    double* in = scratch;
    double* channels = scratch + w;
    double* piece = scratch + (4 + extra) * w;  // 6 for the statistics, then the leveled, then a channel's
    rows_.values(samples, plane, in, channels);
    for (std::size_t c = 3; c < 3 + extra; ++c) rows_.channel(samples, c, channels + c * w);
    WindowTables tables[2];
    for (int k = 0; k < leveling_.windows; ++k) tables[k] = window_tables(row, plane, k, windows, set_of);
    for (std::size_t b = 0; b < w; b += stretch_columns) {
      const Columns columns{b, std::min(w, b + stretch_columns)};
      const std::size_t count = columns.count();
      double* leveled = planes_.gray || direct ? piece + 6 * stretch_columns : out + plane * stride + b;
      level_row(how_, in + b, leveled, w, columns, tables, totals_[plane], piece);
      if (!planes_.gray) {
        if (direct) sink_.write_part(static_cast<std::size_t>(row), plane, b, count, leveled);
        continue;
      }
      for (std::size_t c = 0; c < planes_.leveled; ++c) {
        double* values = direct ? piece + 7 * stretch_columns : out + c * stride + b;
        std::copy(channels + c * w + b, channels + c * w + b + count, values);
        reproject_row(values, in + b, leveled, count);
        if (direct) sink_.write_part(static_cast<std::size_t>(row), c, b, count, values);
      }
    }
    // Channels left as they are (alpha), with the first plane's task.
    if (plane == 0)
      for (std::size_t c = planes_.leveled; c < layout_.channels; ++c) {
        double* values = direct ? channels : out + c * stride;
        rows_.channel(samples, c, values);
        if (direct) sink_.write_part(static_cast<std::size_t>(row), c, 0, w, values);
      }
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
  std::vector<PlaneTotals> totals_;
  std::size_t walks_ = 1;  // walks over the page's rows: two for the one-window forms, or one

  // Leveling in one walk: the bounds of the totals and of each plane's reference, the unit of
  // the sink's codes, and the samples left open.
  struct OpenSample {
    std::size_t y, x, plane;
    double v, m, s;  // the value, its window's mean and deviation
  };
  static_assert(sizeof(OpenSample) <= open_sample_bytes, "the memory estimate counts open samples");
  bool one_walk_ = false;
  bool given_up_ = false;  // a single walk was given up for two
  mutable std::size_t reported_ = 0;  // rows last told of the single walk
  TotalBounds bounds_;
  std::vector<Reference> low_, high_;
  double unit_ = 0.0;
  mutable std::mutex open_mutex_;
  mutable std::vector<OpenSample> open_;
  mutable std::atomic<bool> open_full_{false};
  std::size_t open_limit_ = 0;
};

}  // namespace

bool may_walk_once(const Leveling& leveling, SampleType sample) {
  const Family family = leveling.algorithm->family;
  return leveling.windows == 1 && (family == Family::mean || family == Family::std) &&
         (sample == SampleType::u8 || sample == SampleType::u16);
}

LevelingReport level_page(const Leveling& leveling, RowSource& source, RowSink& sink, const StreamSettings& settings) {
  return PageStream(leveling, source, sink, settings).run();
}

long double stream_bytes(const Leveling& given, const PageLayout& layout, std::size_t chunk_rows,
                         const StreamSettings& settings, bool reads_again_where_tall, bool single_walk) {
  const Leveling leveling = for_picture(given, layout.width, layout.height);
  const long double w = static_cast<long double>(layout.width);
  const Planes planes = planes_of(leveling, layout);
  const std::size_t per_window = planes.count() * tables_list(leveling.algorithm->family).size();
  long double kept = 0;  // table rows the cursors keep
  std::vector<std::uint32_t> shared;
  long double own_rings = 0;
  for (std::uint32_t r : {leveling.window1 >> 1, leveling.window2 >> 1}) {
    const bool keep = keeps_window(r, layout.width, layout.height, per_window, settings.window_table_bytes);
    kept += keep ? per_window * static_cast<long double>(window_span(r, layout.height)) : per_window * 2.0L * two_bands;
    if (reads_again_where_tall && reads_again(r, layout, settings)) own_rings += keep ? 1 : 2;
    else shared.push_back(r);
    if (leveling.windows == 1) break;
  }
  const long double ring = (static_cast<long double>(ring_rows(shared, layout.height, chunk_rows)) +
                            own_rings * own_ring_rows(chunk_rows)) * layout.row_bytes();
  // The one-window forms' first walk, where the rows are held: a slot of a group's table rows
  // and values per thread and one more. It is over before the cursors are made.
  if (leveling.windows == 1)
    kept = std::max(kept, (wavefront_threads(settings.threads) + 1) * 2.0L * per_window * table_group);
  // A cursor holds its rows; a group of values and scratch rows of every thread; the bands
  // of leveled rows; code tables of 16-bit channels.
  const long double rows = kept * w * 8 + settings.threads * (table_group + 15) * w * 8 + 2.0L * layout.channels * band_rows * w * 8;
  const long double codes = layout.sample == SampleType::u16 ? planes.count() * 4.0L * 65536 * 8 : 0.0L;
  // The samples a single walk may leave open, and the strips it may go down instead of the
  // cursors' rows.
  long double walk = 0.0L;
  if (single_walk && may_walk_once(leveling, layout.sample)) {
    const unsigned threads = wavefront_threads(settings.threads);
    const StripPlan strips = plan_strips(layout.width, layout.height, leveling.window1 >> 1, per_window, threads,
                                         settings.strip_columns, settings.window_table_bytes);
    walk = static_cast<long double>(open_limit(layout.pixel_count() * planes.count())) * open_sample_bytes +
           strip_walk_bytes(strips, per_window, threads);
  }
  return ring + rows + codes + walk;
}

int stream_readers(const Leveling& given, const PageLayout& layout, const StreamSettings& settings) {
  const Leveling leveling = for_picture(given, layout.width, layout.height);
  const std::size_t per_window = planes_of(leveling, layout).count() * tables_list(leveling.algorithm->family).size();
  int readers = 1;
  for (std::uint32_t r : {leveling.window1 >> 1, leveling.window2 >> 1}) {
    if (reads_again(r, layout, settings))
      readers += keeps_window(r, layout.width, layout.height, per_window, settings.window_table_bytes) ? 1 : 2;
    if (leveling.windows == 1 || (leveling.window2 >> 1) == (leveling.window1 >> 1)) break;
  }
  return readers;
}

}  // namespace kelvane
