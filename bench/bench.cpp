// Benchmark: every leveling operation on a deterministic picture, the window sweep, and the
// file paths; prints one table. Not a test: run it with scripts/bench.
//
//   kelvane_bench [width height]      (default 6000 4000)
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "image/parallel.h"
#include "leveling/leveling.h"
#include "files/page_values.h"
#include "files/picture_reader.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// A smooth illumination gradient times a fine texture, in 8-bit steps as loaded from a file.
Image synthetic_picture(std::size_t width, std::size_t height, std::size_t spectrum) {
  Image image = make_image(width, height, 1, spectrum);
  double* v = image.values.get();
  for (std::size_t c = 0; c < spectrum; ++c)
    for (std::size_t y = 0; y < height; ++y)
      for (std::size_t x = 0; x < width; ++x) {
        const double light = 0.35 + 0.6 * double(x + y) / double(width + height);
        const double texture = 0.5 + 0.45 * std::sin(0.013 * double(x * (c + 3)) + 0.021 * double(y * (5 - c)));
        const unsigned code = unsigned(255.0 * light * texture + 0.5) ^ unsigned((x * 7 + y * 13) & 7);
        v[x + width * (y + height * c)] = double(code & 255) / 255.0;
      }
  return image;
}

struct Operation {
  const char* name;
  std::function<void(Picture&, std::uint32_t, std::uint32_t)> run;
  bool two;
};

std::vector<Operation> operations() {
  const GrayMethod y709 = find_gray_method("y709");
  using u = std::uint32_t;
  const double p = 10.0;
  return {
      {"mean", [](Picture& i, u a, u) { level_mean(i, a); }, false},
      {"mean2", [](Picture& i, u a, u b) { level_mean2(i, a, b); }, true},
      {"mean_fn", [=](Picture& i, u a, u) { level_mean_fn(i, a, y709); }, false},
      {"mean_fn2", [=](Picture& i, u a, u b) { level_mean_fn2(i, a, b, y709); }, true},
      {"std", [](Picture& i, u a, u) { level_std(i, a); }, false},
      {"std2", [](Picture& i, u a, u b) { level_std2(i, a, b); }, true},
      {"std_fn", [=](Picture& i, u a, u) { level_std_fn(i, a, y709); }, false},
      {"std_fn2", [=](Picture& i, u a, u b) { level_std_fn2(i, a, b, y709); }, true},
      {"minmax", [=](Picture& i, u a, u) { level_minmax(i, a, p); }, false},
      {"minmax2", [=](Picture& i, u a, u b) { level_minmax2(i, a, b, p); }, true},
      {"minmax_fn", [=](Picture& i, u a, u) { level_minmax_fn(i, a, y709, p); }, false},
      {"minmax_fn2", [=](Picture& i, u a, u b) { level_minmax_fn2(i, a, b, y709, p); }, true},
      {"range", [=](Picture& i, u a, u) { level_range(i, a, p); }, false},
      {"range2", [=](Picture& i, u a, u b) { level_range2(i, a, b, p); }, true},
      {"range_fn", [=](Picture& i, u a, u) { level_range_fn(i, a, y709, p); }, false},
      {"range_fn2", [=](Picture& i, u a, u b) { level_range_fn2(i, a, b, y709, p); }, true},
  };
}

// Seconds for one run of the operation on a fresh copy (the copy is not timed).
double time_operation(const Operation& op, const Image& source, std::uint32_t w1, std::uint32_t w2) {
  Image copy = make_image(source.width, source.height, 1, source.spectrum);
  std::copy(source.values.get(), source.values.get() + source.size(), copy.values.get());
  Picture picture = copy.picture();
  // The gray forms warn about a gray picture once per run; the table has no room for it.
  std::streambuf* console = std::cout.rdbuf(nullptr);
  const auto start = Clock::now();
  op.run(picture, w1, w2);
  const double seconds = seconds_since(start);
  std::cout.rdbuf(console);
  std::cout.clear();
  return seconds;
}

// The best of a few runs: the machine's other work only ever adds time.
double best_time(const Operation& op, const Image& source, std::uint32_t w1, std::uint32_t w2, int runs) {
  double best = 1e300;
  for (int i = 0; i < runs; ++i) best = std::min(best, time_operation(op, source, w1, w2));
  return best;
}

// The best of two runs of a shell command, or -1 when it fails (a peer not installed).
double time_command(const std::string& command) {
  double best = 1e300;
  for (int run = 0; run < 2; ++run) {
    const auto start = Clock::now();
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) return -1;
    best = std::min(best, seconds_since(start));
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t width = argc > 2 ? std::strtoul(argv[1], nullptr, 10) : 6000;
  const std::size_t height = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 4000;
  const double megapixels = double(width * height) / 1e6;
  std::printf("picture %zu x %zu (%.0f megapixels), %u threads\n\n", width, height, megapixels, thread_count());

  const Image rgb = synthetic_picture(width, height, 3), gray = synthetic_picture(width, height, 1);
  std::printf("Leveling alone, window 31 (two windows: 31 and 301), best of 2\n");
  std::printf("%-11s %10s %8s %10s %8s\n", "operation", "RGB ms", "MP/s", "gray ms", "MP/s");
  for (const auto& op : operations()) {
    const double t_rgb = best_time(op, rgb, 31, 301, 2), t_gray = best_time(op, gray, 31, 301, 2);
    std::printf("%-11s %10.0f %8.0f %10.0f %8.0f\n", op.name, t_rgb * 1e3, megapixels / t_rgb, t_gray * 1e3,
                megapixels / t_gray);
  }

  std::printf("\nWindow sweep on RGB (two windows: w and 2w+1), ms\n");
  std::printf("%-11s %8s %8s %8s %8s %12s\n", "operation", "3", "31", "301", "3001", "3001 / 3");
  for (const auto& op : operations()) {
    double t[4];
    const std::uint32_t windows[4] = {3, 31, 301, 3001};
    for (int i = 0; i < 4; ++i) t[i] = best_time(op, rgb, windows[i], 2 * windows[i] + 1, 2);
    std::printf("%-11s %8.0f %8.0f %8.0f %8.0f %12.3f\n", op.name, t[0] * 1e3, t[1] * 1e3, t[2] * 1e3,
                t[3] * 1e3, t[3] / t[0]);
  }

  // Files: the tool end to end beside loading and saving alone, and the peers where present.
  const std::string folder = "/tmp/kelvane-bench";
  std::system(("mkdir -p " + folder).c_str());
  const std::string tool = argc > 3 ? argv[3] : "build/kelvane";
  std::printf("\nFiles (RGB), seconds\n");
  std::printf("%-6s %10s %10s %10s %10s %10s %10s %10s\n", "format", "load+save", "mean", "std",
              "cv mean", "cv std", "gmic mean", "gmic std");
  for (const char* ext : {"ppm", "png"}) {
    const std::string in = folder + "/in." + ext, out = folder + "/out." + ext;
    const PageLayout layout = integer_layout(width, height, 3, SampleType::u8, 8);
    write_page_values(in, layout, rgb.values.get());
    const auto start = Clock::now();
    const std::unique_ptr<PictureReader> reader = open_picture(in);
    const Image loaded = read_page_values(*reader, 0);
    write_page_values(out, layout, loaded.values.get());
    const double io = seconds_since(start);
    const double mean = time_command(tool + " mean " + in + " " + out + " 31");
    const double std_ = time_command(tool + " std " + in + " " + out + " 31");
    const std::string opencv = "build/bench/opencv_level";
    const double cv_mean = time_command(opencv + " mean " + in + " " + out + " 31");
    const double cv_std = time_command(opencv + " std " + in + " " + out + " 31");
    // G'MIC: its box filter per channel, then (v - local mean) + global mean; for std the same
    // with a box filter of squares.
    const std::string gmic = "gmic -v -1 " + in + " div 255 split c repeat '$!' local['$>'] m='{ia}' ";
    const std::string gmic_end = " endl done append c mul 255 cut 0,255 o " + out;
    const double g_mean = time_command(gmic + "+boxfilter 31,0,1 sub[0] [1] rm[1] add '$m'" + gmic_end);
    const double g_std = time_command(
        gmic + "s='{sqrt(iv)}' +boxfilter[0] 31,0,1 +sqr[0] boxfilter[2] 31,0,1 +sqr[1] sub[2] [3] rm[3] " +
        "max[2] 0 sqrt[2] max[2] 1e-6 sub[0] [1] rm[1] div[0] [1] rm[1] mul[0] '$s' add[0] '$m'" + gmic_end);
    std::printf("%-6s %10.2f %10.2f %10.2f %10.2f %10.2f %10.2f %10.2f\n", ext, io, mean, std_, cv_mean, cv_std,
                g_mean, g_std);
    if (cv_mean > 0 || g_mean > 0) {
      const double best_mean = cv_mean > 0 && (g_mean < 0 || cv_mean < g_mean) ? cv_mean : g_mean;
      const double best_std = cv_std > 0 && (g_std < 0 || cv_std < g_std) ? cv_std : g_std;
      std::printf("%-6s kelvane / fastest peer: mean %.2f, std %.2f\n", ext, mean / best_mean, std_ / best_std);
    }
  }
  std::printf("(-1: peer not installed)\n");
  return 0;
}
