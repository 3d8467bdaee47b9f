#include "stream_support.h"

#include <cstring>

#include <gtest/gtest.h>

#include "stream/memory_rows.h"

using namespace kelvane;

namespace {

// The codes of the values, planar, as samples of the type.
template <class T>
std::vector<unsigned char> codes_of(const literal::Img& input, double unit) {
  std::vector<unsigned char> bytes(input.v.size() * sizeof(T));
  for (std::size_t i = 0; i < input.v.size(); ++i) {
    const T code = static_cast<T>(input.v[i] * unit + 0.5);
    std::memcpy(bytes.data() + i * sizeof(T), &code, sizeof(T));
  }
  return bytes;
}

// A source that hands out rows as a file's reader does: read into a ring, never held, and
// read again by second readers of their own.
class ReadOnly final : public RowSource {
 public:
  explicit ReadOnly(RowSource& source) : source_(source) {}
  const PageLayout& layout() const override { return source_.layout(); }
  void read_rows(std::size_t y, std::size_t count, void* rows) override {
    // Rows come in order, or from the top again.
    EXPECT_TRUE(y == next_ || y == 0) << y << " after " << next_;
    source_.read_rows(y, count, rows);
    next_ = y + count;
  }
  std::unique_ptr<RowSource> another() override { return std::make_unique<ReadOnly>(source_); }

 private:
  RowSource& source_;
  std::size_t next_ = 0;
};

// A sink that takes whole rows in order only, as a file's writer does.
class RowsOnly final : public RowSink {
 public:
  explicit RowsOnly(RowSink& sink) : sink_(sink) {}
  void write_rows(std::size_t y, std::size_t count, const double* values, std::size_t channel_stride) override {
    EXPECT_EQ(next_, y);
    sink_.write_rows(y, count, values, channel_stride);
    next_ = y + count;
  }

 private:
  RowSink& sink_;
  std::size_t next_ = 0;
};

std::vector<double> run_stream(const literal::Img& input, const Leveling& leveling, const StreamSettings& settings,
                               LevelingReport* report, SampleType sample, bool held = false) {
  const std::size_t bytes = sample_bytes(sample);
  PageLayout layout = integer_layout(input.w, input.h, input.s, sample, static_cast<unsigned>(8 * bytes));
  if (sample == SampleType::f64)
    for (auto& coding : layout.coding) coding.unit = 1.0;
  const std::vector<unsigned char> codes = sample == SampleType::u8 ? codes_of<std::uint8_t>(input, 255.0)
                                           : sample == SampleType::u16 ? codes_of<std::uint16_t>(input, 65535.0)
                                                                      : std::vector<unsigned char>();
  const unsigned char* samples = sample == SampleType::f64 ? reinterpret_cast<const unsigned char*>(input.v.data())
                                                            : codes.data();
  const std::ptrdiff_t row = std::ptrdiff_t(input.w) * std::ptrdiff_t(bytes), plane = row * input.h;
  MemorySource planar(layout, MemoryPicture{samples, row, std::ptrdiff_t(bytes), plane});
  // Held rows are interleaved samples, as a source holds them.
  std::vector<unsigned char> interleaved(held ? layout.row_bytes() * input.h : 0);
  if (held) planar.read_rows(0, input.h, interleaved.data());
  const std::ptrdiff_t pixel = std::ptrdiff_t(bytes) * input.s;
  MemorySource held_rows(layout, MemoryPicture{interleaved.data(), pixel * input.w, pixel, std::ptrdiff_t(bytes)});
  MemorySource& source = held ? held_rows : planar;
  std::ptrdiff_t stride = 0;
  EXPECT_EQ(held, source.held_rows(stride) != nullptr);
  // The leveled values as they are: doubles out, whatever came in.
  PageLayout values_layout = layout;
  values_layout.sample = SampleType::f64;
  std::vector<double> out(input.v.size());
  MemorySink sink(values_layout, out.data(), std::ptrdiff_t(input.w) * 8, 8, std::ptrdiff_t(input.w) * 8 * input.h);
  // Rows held in memory go to memory a piece at a time; others as to a file.
  ReadOnly read(source);
  RowsOnly rows_only(sink);
  const LevelingReport done = level_page(leveling, held ? static_cast<RowSource&>(source) : read,
                                         held ? static_cast<RowSink&>(sink) : rows_only, settings);
  if (report) *report = done;
  return out;
}

}  // namespace

std::vector<double> level_stream(const literal::Img& input, const Algorithm& algorithm, int windows, std::uint32_t w1,
                                 std::uint32_t w2, GrayMethod method, unsigned threads, LevelingReport* report,
                                 SampleType sample, Walk walk) {
  Leveling leveling;
  leveling.algorithm = &algorithm;
  leveling.windows = windows;
  leveling.window1 = w1;
  leveling.window2 = w2;
  leveling.method = method;
  StreamSettings settings;
  settings.threads = threads;
  if (walk == Walk::trailing_cursors) settings.window_table_bytes = 0;
  if (walk == Walk::read_again) settings.window_row_bytes = 0;
  return run_stream(input, leveling, settings, report, sample, walk == Walk::held_rows);
}

std::vector<double> level_stream(const literal::Img& input, const Leveling& leveling, unsigned threads) {
  StreamSettings settings;
  settings.threads = threads;
  return run_stream(input, leveling, settings, nullptr, SampleType::f64);
}
