#include "stream_support.h"

#include "stream/memory_rows.h"

std::vector<double> level_stream(const literal::Img& input, const Algorithm& algorithm, int windows, std::uint32_t w1,
                                 std::uint32_t w2, GrayMethod method, unsigned threads, LevelingReport* report) {
  PageLayout layout = integer_layout(input.w, input.h, input.s, SampleType::f64, 64);
  for (auto& coding : layout.coding) coding.unit = 1.0;
  const std::ptrdiff_t row = std::ptrdiff_t(input.w) * 8, plane = row * input.h;
  MemorySource source(layout, MemoryPicture{input.v.data(), row, 8, plane});
  std::vector<double> out(input.v.size());
  MemorySink sink(layout, out.data(), row, 8, plane);
  Leveling leveling;
  leveling.algorithm = &algorithm;
  leveling.windows = windows;
  leveling.window1 = w1;
  leveling.window2 = w2;
  leveling.method = method;
  StreamSettings settings;
  settings.threads = threads;
  const LevelingReport done = level_page(leveling, source, sink, settings);
  if (report) *report = done;
  return out;
}
