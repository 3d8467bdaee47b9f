// Benchmark: every leveling operation on a deterministic picture in memory, the window sweep,
// then whole command-line runs on picture files with their peak resident memory, beside the
// peers. Not a test: run it with scripts/bench.
//
//   kelvane_bench [width height [tool]]     (default 6000 4000 build/kelvane)
//   kelvane_bench --leveling [width height]  the first table only
//   kelvane_bench --files [width height [tool]] whole runs and the peers only
//   kelvane_bench --gigapixel [tool]         one-window runs on a 40000 x 25000 gray PNG
//   kelvane_bench --python                   the module beside the library and an OpenCV recipe
//   kelvane_bench --startup build [build...] what a start costs: --version, a small PNG,
//                                            `import kelvane`, ulimit -v; a column per build
//                                            folder (its kelvane and python/ are run)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "files/output_format.h"
#include "kelvane/kelvane.h"
#include "files/picture_writer.h"
#include "image/thread_pool.h"
#include "leveling/algorithms.h"
#include "stream/level_page.h"
#include "stream/memory_rows.h"

using namespace kelvane;

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Rows [y0, y0 + rows) of a picture `width` wide: a smooth illumination gradient times a fine
// texture, 8-bit samples, interleaved. The height enters the gradient as the width does.
std::vector<unsigned char> synthetic_rows(std::size_t width, std::size_t y0, std::size_t rows, std::size_t channels) {
  std::vector<unsigned char> samples(width * rows * channels);
  for (std::size_t y = y0; y < y0 + rows; ++y)
    for (std::size_t x = 0; x < width; ++x)
      for (std::size_t c = 0; c < channels; ++c) {
        const double light = 0.35 + 0.6 * double(x + y) / double(2 * width);
        const double texture = 0.5 + 0.45 * std::sin(0.013 * double(x * (c + 3)) + 0.021 * double(y * (5 - c)));
        const unsigned code = unsigned(255.0 * light * texture + 0.5) ^ unsigned((x * 7 + y * 13) & 7);
        samples[((y - y0) * width + x) * channels + c] = static_cast<unsigned char>(code & 255);
      }
  return samples;
}

struct Picture {
  PageLayout layout;
  std::vector<unsigned char> samples;
};

Picture synthetic_picture(std::size_t width, std::size_t height, std::size_t channels) {
  return Picture{integer_layout(width, height, channels, SampleType::u8, 8), synthetic_rows(width, 0, height, channels)};
}

// Seconds to level the picture in memory into a new one through the library's interface, 8-bit
// samples in and out (the new one's memory is taken inside the time, as a caller would: its
// pages are mapped as they are first written, about 30 ms for 72 MB here); or into `into`,
// a picture of the same size written before.
double time_leveling(const Picture& picture, const Algorithm& algorithm, int windows, std::uint32_t w1, std::uint32_t w2,
                     unsigned char* into = nullptr) {
  const PageLayout& l = picture.layout;
  const auto start = Clock::now();
  std::unique_ptr<unsigned char[]> fresh(into ? nullptr : new unsigned char[picture.samples.size()]);
  unsigned char* out = into ? into : fresh.get();
  const std::string method = algorithm.takes_method ? "y709" : "";
  const kelvane::Operation operation = windows == 2 ? kelvane::Operation(algorithm.keyword, w1, w2, method)
                                                    : kelvane::Operation(algorithm.keyword, w1, method);
  kelvane::level(kelvane::interleaved(const_cast<unsigned char*>(picture.samples.data()), l.width, l.height, l.channels,
                                      kelvane::Sample::u8),
                 kelvane::interleaved(out, l.width, l.height, l.channels, kelvane::Sample::u8), operation);
  return seconds_since(start);
}

double best_leveling(const Picture& picture, const Algorithm& algorithm, int windows, std::uint32_t w1, std::uint32_t w2) {
  double best = 1e300;
  for (int run = 0; run < 2; ++run) best = std::min(best, time_leveling(picture, algorithm, windows, w1, w2));
  return best;
}

struct Measured {
  double seconds = -1;  // -1: the command failed (a peer not installed)
  double peak_mb = 0;   // peak resident memory
  double cpu = 0;       // seconds of CPU, user and system
};

// Runs a command (through the shell) and measures its time and peak resident memory.
Measured run_here(const std::string& command) {
  const auto start = Clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execl("/bin/sh", "sh", "-c", (command + " >/dev/null 2>&1").c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  Measured m;
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) m.seconds = seconds_since(start);
  m.peak_mb = static_cast<double>(usage.ru_maxrss) / 1024.0;
  m.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
          static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  return m;
}

// A forked child starts its peak at its parent's resident size, which the pictures held
// here would fill. Commands are therefore started by a small process forked before any
// picture is made, over two pipes: a command line down, "seconds peak" back.
struct Launcher {
  std::FILE* down = nullptr;
  std::FILE* up = nullptr;
};
Launcher launcher;

void start_launcher() {
  int down[2], up[2];
  if (::pipe(down) != 0 || ::pipe(up) != 0) return;
  if (::fork() == 0) {
    ::close(down[1]);
    ::close(up[0]);
    std::FILE* in = ::fdopen(down[0], "r");
    std::FILE* out = ::fdopen(up[1], "w");
    char line[16384];
    while (std::fgets(line, sizeof line, in)) {
      line[std::strcspn(line, "\n")] = '\0';
      const Measured m = run_here(line);
      std::fprintf(out, "%.17g %.17g %.17g\n", m.seconds, m.peak_mb, m.cpu);
      std::fflush(out);
    }
    ::_exit(0);
  }
  ::close(down[0]);
  ::close(up[1]);
  launcher.down = ::fdopen(down[1], "w");
  launcher.up = ::fdopen(up[0], "r");
}

Measured run_measured(const std::string& command) {
  if (!launcher.down) return run_here(command);
  std::fprintf(launcher.down, "%s\n", command.c_str());
  std::fflush(launcher.down);
  Measured m;
  if (std::fscanf(launcher.up, "%lf %lf %lf", &m.seconds, &m.peak_mb, &m.cpu) != 3) m.seconds = -1;
  return m;
}

Measured best_of_two(const std::string& command) {
  Measured best = run_measured(command);
  const Measured again = run_measured(command);
  if (again.seconds >= 0 && (best.seconds < 0 || again.seconds < best.seconds)) best.seconds = again.seconds;
  best.peak_mb = std::max(best.peak_mb, again.peak_mb);
  return best;
}

// Writes the synthetic picture a band of rows at a time, so that even a gigapixel one needs
// no more than its samples.
void write_synthetic(std::size_t width, std::size_t height, std::size_t channels, const std::string& path,
                     int png_compression = 6) {
  const PageLayout layout = integer_layout(width, height, channels, SampleType::u8, 8);
  const std::vector<PageInfo> pages = {PageInfo{layout, nullptr, "", 16, 0}};
  const OutputFormat& format = output_format(path);
  EncodingChoices choices;
  choices.png_compression = png_compression;
  std::unique_ptr<PictureWriter> writer = create_picture(path, format, plan_output(format, path, pages), pages, choices);
  const std::size_t band = 64;
  std::vector<double> values(channels * band * width);
  for (std::size_t y = 0; y < height; y += band) {
    const std::size_t n = std::min(band, height - y);
    const std::vector<unsigned char> rows = synthetic_rows(width, y, n, channels);
    for (std::size_t i = 0; i < n * width; ++i)
      for (std::size_t c = 0; c < channels; ++c) values[c * n * width + i] = rows[i * channels + c] / 255.0;
    writer->write_rows(0, y, n, values.data(), n * width);
  }
  writer->commit();
}

std::string arguments_of(const Algorithm& a, int windows, std::uint32_t w1, std::uint32_t w2) {
  std::string args = std::to_string(w1) + (windows == 2 ? " " + std::to_string(w2) : "");
  return a.takes_method ? args + " y709" : args;
}

std::string name_of(const Algorithm& a, int windows) { return std::string(a.keyword) + (windows == 2 ? "2" : ""); }

// One-window runs on a 1-gigapixel gray PNG beside the same runs on a 24-megapixel one:
// megapixels a second and peak resident memory.
void gigapixel(const std::string& tool) {
  const std::string folder = "/tmp/kelvane-bench";
  std::system(("mkdir -p " + folder).c_str());
  std::printf("8-bit gray PNG, one window, PNG output at level 1\n");
  std::printf("%-11s %8s %14s %10s %14s %10s %8s\n", "operation", "window", "24 MP: MP/s", "peak MB", "1 GP: MP/s",
              "peak MB", "ratio");
  write_synthetic(6000, 4000, 1, folder + "/small.png", 1);
  write_synthetic(40000, 25000, 1, folder + "/giga.png", 1);
  for (const Algorithm& a : algorithm_table)
    for (std::uint32_t window : {31u, 30001u}) {
      const std::string args = " " + arguments_of(a, 1, window, 0);
      const std::string run = tool + " --png-compression 1 " + a.keyword + " ";
      const Measured small = run_measured(run + folder + "/small.png " + folder + "/small-out.png" + args);
      const Measured giga = run_measured(run + folder + "/giga.png " + folder + "/giga-out.png" + args);
      const double small_rate = 24.0 / small.seconds, giga_rate = 1000.0 / giga.seconds;
      std::printf("%-11s %8u %14.1f %10.0f %14.1f %10.0f %8.2f\n", a.keyword, window, small_rate, small.peak_mb,
                  giga_rate, giga.peak_mb, small_rate / giga_rate);
      std::fflush(stdout);
    }
}

// The least CPU time and the highest peak of five runs.
Measured best_of_five(const std::string& command) {
  Measured best = run_measured(command);
  for (int run = 1; run < 5; ++run) {
    const Measured m = run_measured(command);
    if (m.seconds < 0) best.seconds = -1;
    best.cpu = std::min(best.cpu, m.cpu);
    best.peak_mb = std::max(best.peak_mb, m.peak_mb);
  }
  return best;
}

// What a start costs, for each build folder: its kelvane and its Python module.
void startup(const std::vector<std::string>& builds) {
  const std::string folder = "/tmp/kelvane-bench";
  std::system(("mkdir -p " + folder).c_str());
  write_synthetic(1600, 1200, 3, folder + "/small.png");
  write_synthetic(1000, 1000, 3, folder + "/one.png");
  // Rows of 200000 pixels: a window of 2001 of them needs more than 300 MB to level.
  write_synthetic(200000, 2100, 1, folder + "/wide.png");
  std::printf("What a start costs: CPU seconds (least of 5) and peak resident MB (highest of 5)\n");
  std::printf("%-44s", "");
  for (const std::string& b : builds) std::printf(" %24s", b.substr(0, 24).c_str());
  std::printf("\n");
  const auto row = [&](const char* what, const std::string& command) {
    std::printf("%-44s", what);
    for (const std::string& b : builds) {
      const std::string c = "cd " + b + " && " + command;
      const Measured m = best_of_five(c);
      if (m.seconds < 0) std::printf(" %24s", "failed");
      else std::printf(" %12.3f s %7.0f MB", m.cpu, m.peak_mb);
    }
    std::printf("\n");
    std::fflush(stdout);
  };
  row("kelvane --version", "./kelvane --version");
  row("kelvane meanx (a misspelt keyword)", "! ./kelvane meanx " + folder + "/small.png " + folder + "/o.png 31");
  row("kelvane mean, 1600 x 1200 RGB PNG, 31", "./kelvane mean " + folder + "/small.png " + folder + "/o.png 31");
  row("python3 -c 'import kelvane'", "PYTHONPATH=python /usr/bin/python3 -c 'import kelvane'");
  row("python3 -c 'import numpy' (for scale)", "/usr/bin/python3 -c 'import numpy'");
  row("ulimit -v 300000; mean, 1000 x 1000 PNG", "ulimit -v 300000 && ./kelvane mean " + folder + "/one.png " + folder + "/o.png 31");
  std::printf("%-44s", "ulimit -v 300000; mean 2001, 200000 x 2100");
  for (const std::string& b : builds) {
    const std::string c = "cd " + b + " && (ulimit -v 300000; ./kelvane mean " + folder + "/wide.png " + folder +
                          "/o.png 2001 2>&1 | grep -q 'MiB available')";
    std::printf(" %24s", run_measured(c).seconds >= 0 ? "memory message" : "other");
  }
  std::printf("\n");
}

void leveling_table(const Picture& rgb, const Picture& gray) {
  const double megapixels = double(rgb.layout.pixel_count()) / 1e6;
  std::printf("Leveling alone, in memory, window 31 (two windows: 31 and 301), best of 2\n");
  std::printf("%-11s %10s %8s %10s %8s\n", "operation", "RGB ms", "MP/s", "gray ms", "MP/s");
  for (const Algorithm& a : algorithm_table)
    for (int windows : {1, 2}) {
      const double t_rgb = best_leveling(rgb, a, windows, 31, 301), t_gray = best_leveling(gray, a, windows, 31, 301);
      std::printf("%-11s %10.0f %8.0f %10.0f %8.0f\n", name_of(a, windows).c_str(), t_rgb * 1e3, megapixels / t_rgb,
                  t_gray * 1e3, megapixels / t_gray);
      std::fflush(stdout);
    }
}

void python_table() {
  // The Python module on the same picture as a numpy array, beside the library and beside
  // the OpenCV recipe a Python user would write (float32 box filters of the values and their
  // squares), timed in the same process.
  std::printf("\nThe Python module on a 6000 x 4000 uint8 RGB array, window 31, best of 7, ms\n");
  std::printf("%-11s %10s %10s %10s %8s %10s %8s\n", "operation", "C++ reused", "C++", "Python", "ratio", "OpenCV",
              "ratio");
  const Picture big = synthetic_picture(6000, 4000, 3);
  const std::string raw = "/tmp/kelvane-bench-rgb.raw";
  if (std::FILE* f = std::fopen(raw.c_str(), "wb")) {
    std::fwrite(big.samples.data(), 1, big.samples.size(), f);
    std::fclose(f);
  }
  for (const char* keyword : {"mean", "std"}) {
    double cpp = 1e300;
    for (int run = 0; run < 7; ++run) cpp = std::min(cpp, time_leveling(big, *find_algorithm(keyword), 1, 31, 0));
    // Into an output written before: the leveling alone, without mapping the output's pages.
    std::vector<unsigned char> reused(big.samples.size(), 0);
    double cpp_reused = 1e300;
    for (int run = 0; run < 7; ++run)
      cpp_reused = std::min(cpp_reused, time_leveling(big, *find_algorithm(keyword), 1, 31, 0, reused.data()));
    const std::string script =
        "import sys, time, numpy, cv2; sys.path.insert(0, 'build/python'); import kelvane\n"
        "image = numpy.fromfile('" + raw + "', numpy.uint8).reshape(4000, 6000, 3)\n"
        "def recipe(image, keyword):\n"
        "    f = image.astype(numpy.float32) * numpy.float32(1 / 255)\n"
        "    mean = cv2.boxFilter(f, -1, (31, 31))\n"
        "    if keyword == 'mean':\n"
        "        out = f - mean + f.mean(axis=(0, 1))\n"
        "    else:\n"
        "        deviation = numpy.sqrt(numpy.maximum(cv2.boxFilter(f * f, -1, (31, 31)) - mean * mean, 0))\n"
        "        out = (f - mean) * (f.std(axis=(0, 1)) / (deviation + 1e-6)) + f.mean(axis=(0, 1))\n"
        "    return numpy.clip(out * 255, 0, 255).astype(numpy.uint8)\n"
        "def best(call):\n"
        "    times = []\n"
        "    for run in range(7):\n"
        "        start = time.perf_counter(); call(); times.append(time.perf_counter() - start)\n"
        "    return min(times)\n"
        "cv2.setNumThreads(2)\n"
        "print(best(lambda: kelvane.level(image, '" + std::string(keyword) + "', 31, threads=2)), "
        "best(lambda: recipe(image, '" + std::string(keyword) + "')))\n";
    const std::string script_path = "/tmp/kelvane-bench-python.py";
    if (std::FILE* f = std::fopen(script_path.c_str(), "w")) {
      std::fputs(script.c_str(), f);
      std::fclose(f);
    }
    std::FILE* python = ::popen(("/usr/bin/python3 " + script_path).c_str(), "r");
    double seconds = -1, opencv = -1;
    if (python) {
      if (std::fscanf(python, "%lf %lf", &seconds, &opencv) != 2) seconds = opencv = -1;
      ::pclose(python);
    }
    std::printf("%-11s %10.0f %10.0f %10.0f %8.2f %10.0f %8.2f\n", keyword, cpp_reused * 1e3, cpp * 1e3, seconds * 1e3,
                seconds / cpp, opencv * 1e3, seconds / opencv);
    std::fflush(stdout);
  }
  std::remove(raw.c_str());
}

void window_sweep(const Picture& rgb) {
  std::printf("\nWindow sweep on RGB (two windows: w and 2w+1), ms\n");
  std::printf("%-11s %8s %8s %8s %8s %12s\n", "operation", "3", "31", "301", "3001", "3001 / 3");
  for (const Algorithm& a : algorithm_table)
    for (int windows : {1, 2}) {
      double t[4];
      const std::uint32_t sizes[4] = {3, 31, 301, 3001};
      for (int i = 0; i < 4; ++i) t[i] = best_leveling(rgb, a, windows, sizes[i], 2 * sizes[i] + 1);
      std::printf("%-11s %8.0f %8.0f %8.0f %8.0f %12.3f\n", name_of(a, windows).c_str(), t[0] * 1e3, t[1] * 1e3,
                  t[2] * 1e3, t[3] * 1e3, t[3] / t[0]);
    }
}

void whole_runs(const Picture& rgb, const std::string& tool) {
  const std::size_t width = rgb.layout.width, height = rgb.layout.height;
  // Files: whole command-line runs, time and peak resident memory.
  const std::string folder = "/tmp/kelvane-bench";
  std::system(("mkdir -p " + folder).c_str());
  const std::string ppm = folder + "/in.ppm", png = folder + "/in.png";
  write_synthetic(width, height, 3, ppm);
  write_synthetic(width, height, 3, png);
  const double samples_mb = double(rgb.samples.size()) / 1e6;
  const Measured idle = run_measured(tool + " --version");
  std::printf("\nWhole runs on the RGB picture (%.0f MB of 8-bit samples); the tool alone, before any picture, "
              "peaks at %.0f MB\n", samples_mb, idle.peak_mb);
  std::printf("%-11s %-10s %8s %8s %10s %10s\n", "operation", "windows", "PPM s", "PNG s", "peak MB", "above idle");
  for (const Algorithm& a : algorithm_table)
    for (int windows : {1, 2})
      for (std::uint32_t w : {31u, 3001u}) {
        if (windows == 2 && w == 3001) continue;
        const std::uint32_t w2 = windows == 2 ? 301 : 0;
        const std::string args = arguments_of(a, windows, w, w2);
        const Measured p = best_of_two(tool + " " + a.keyword + " " + ppm + " " + folder + "/out.ppm " + args);
        const Measured n = best_of_two(tool + " " + a.keyword + " " + png + " " + folder + "/out.png " + args);
        const double peak = std::max(p.peak_mb, n.peak_mb);
        std::printf("%-11s %-10s %8.2f %8.2f %10.0f %10.0f\n", name_of(a, windows).c_str(),
                    (std::to_string(w) + (windows == 2 ? " " + std::to_string(w2) : "")).c_str(), p.seconds,
                    n.seconds, peak, peak - idle.peak_mb);
      }

}

void beside_the_peers(const std::string& tool) {
  const std::string folder = "/tmp/kelvane-bench";
  std::printf("\nBeside the peers (RGB), seconds\n");
  std::printf("%-6s %10s %10s %10s %10s %10s %10s\n", "format", "mean", "std", "cv mean", "cv std", "gmic mean",
              "gmic std");
  for (const std::string& ext : {std::string("ppm"), std::string("png")}) {
    const std::string in = folder + "/in." + ext, out = folder + "/out." + ext;
    const double mean = best_of_two(tool + " mean " + in + " " + out + " 31").seconds;
    const double std_ = best_of_two(tool + " std " + in + " " + out + " 31").seconds;
    const std::string opencv = "build/bench/opencv_level";
    const double cv_mean = best_of_two(opencv + " mean " + in + " " + out + " 31").seconds;
    const double cv_std = best_of_two(opencv + " std " + in + " " + out + " 31").seconds;
    // G'MIC: its box filter per channel, then (v - local mean) + global mean; for std the same
    // with a box filter of squares.
    const std::string gmic = "gmic -v -1 " + in + " div 255 split c repeat '$!' local['$>'] m='{ia}' ";
    const std::string gmic_end = " endl done append c mul 255 cut 0,255 o " + out;
    const double g_mean = best_of_two(gmic + "+boxfilter 31,0,1 sub[0] [1] rm[1] add '$m'" + gmic_end).seconds;
    const double g_std = best_of_two(
        gmic + "s='{sqrt(iv)}' +boxfilter[0] 31,0,1 +sqr[0] boxfilter[2] 31,0,1 +sqr[1] sub[2] [3] rm[3] " +
        "max[2] 0 sqrt[2] max[2] 1e-6 sub[0] [1] rm[1] div[0] [1] rm[1] mul[0] '$s' add[0] '$m'" + gmic_end).seconds;
    std::printf("%-6s %10.2f %10.2f %10.2f %10.2f %10.2f %10.2f\n", ext.c_str(), mean, std_, cv_mean, cv_std, g_mean,
                g_std);
    if (cv_mean > 0 || g_mean > 0) {
      const double best_mean = cv_mean > 0 && (g_mean < 0 || cv_mean < g_mean) ? cv_mean : g_mean;
      const double best_std = cv_std > 0 && (g_std < 0 || cv_std < g_std) ? cv_std : g_std;
      std::printf("%-6s kelvane / fastest peer: mean %.2f, std %.2f\n", ext.c_str(), mean / best_mean, std_ / best_std);
    }
  }
  std::printf("(-1: peer not installed)\n");
}

}  // namespace

int main(int argc, char** argv) {
  start_launcher();
  const std::string mode = argc > 1 && argv[1][0] == '-' ? argv[1] : "";
  if (!mode.empty()) --argc, ++argv;
  if (mode == "--startup") {
    startup(std::vector<std::string>(argv + 1, argv + argc));
    return 0;
  }
  if (mode == "--gigapixel") {
    gigapixel(argc > 1 ? argv[1] : "build/kelvane");
    return 0;
  }
  if (mode == "--python") {
    python_table();
    return 0;
  }
  const std::size_t width = argc > 2 ? std::strtoul(argv[1], nullptr, 10) : 6000;
  const std::size_t height = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 4000;
  const std::string tool = argc > 3 ? argv[3] : "build/kelvane";
  std::printf("picture %zu x %zu (%.0f megapixels), %u threads\n\n", width, height, double(width * height) / 1e6,
              default_threads());
  const Picture rgb = synthetic_picture(width, height, 3), gray = synthetic_picture(width, height, 1);
  if (mode != "--files") leveling_table(rgb, gray);
  if (mode == "--leveling") return 0;
  if (mode != "--files") {
    python_table();
    window_sweep(rgb);
  }
  whole_runs(rgb, tool);
  beside_the_peers(tool);
  return 0;
}
