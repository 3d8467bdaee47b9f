// The public interface as a caller meets it: views of every layout, the checks that refuse
// what describes no picture, windows, cancelling, and the errors with their kinds.
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "files.h"
#include "kelvane/kelvane.h"
#include "pictures.h"

using kelvane::Error;
using kelvane::Operation;
using kelvane::Sample;
using kelvane::Window;

namespace {

std::vector<std::uint8_t> noise(std::size_t count, unsigned seed) {
  std::vector<std::uint8_t> samples(count);
  std::mt19937 rng(seed);
  for (auto& s : samples) s = static_cast<std::uint8_t>(rng());
  return samples;
}

// The kind of the Error a call throws, or nothing.
template <class Call>
std::string failure_of(Call call, Error::Kind* kind = nullptr) {
  try {
    call();
  } catch (const Error& e) {
    if (kind) *kind = e.kind();
    return e.what();
  }
  return "";
}

template <class Call>
Error::Kind kind_of(Call call) {
  Error::Kind kind = Error::Kind::picture;
  EXPECT_NE("", failure_of(call, &kind));
  return kind;
}

// Interleaved 8-bit samples leveled into a new buffer.
std::vector<std::uint8_t> leveled(std::vector<std::uint8_t> samples, std::size_t width, std::size_t height,
                                  std::size_t channels, const Operation& operation) {
  kelvane::level(kelvane::interleaved(samples.data(), width, height, channels, Sample::u8), operation);
  return samples;
}

}  // namespace

TEST(Library, VersionMacrosAreTheLibrarysVersion) {
  EXPECT_EQ(std::to_string(KELVANE_VERSION_MAJOR) + "." + std::to_string(KELVANE_VERSION_MINOR) + "." +
                std::to_string(KELVANE_VERSION_PATCH),
            kelvane::version());
}

TEST(Library, EveryLayoutLevelsTheSameValues) {
  const std::size_t w = 37, h = 23, c = 3;
  const std::vector<std::uint8_t> samples = noise(w * h * c, 1);
  const Operation operation("range_fn", 9, 21, "y709");
  const std::vector<std::uint8_t> expected = leveled(samples, w, h, c, operation);

  // Planes one after the other: a plane is h rows, not one.
  std::vector<std::uint8_t> planes(w * h * c), planes_out(w * h * c);
  for (std::size_t i = 0; i < w * h; ++i)
    for (std::size_t k = 0; k < c; ++k) planes[k * w * h + i] = samples[i * c + k];
  kelvane::level(kelvane::planar(planes.data(), w, h, c, Sample::u8),
                 kelvane::planar(planes_out.data(), w, h, c, Sample::u8), operation);
  for (std::size_t i = 0; i < w * h; ++i)
    for (std::size_t k = 0; k < c; ++k) ASSERT_EQ(expected[i * c + k], planes_out[k * w * h + i]) << i << " " << k;

  // Rows padded, bottom row first (a negative stride), into 16 bits.
  const std::size_t padded = w * c + 5;
  std::vector<std::uint8_t> rows(padded * h);
  for (std::size_t y = 0; y < h; ++y) std::memcpy(&rows[(h - 1 - y) * padded], &samples[y * w * c], w * c);
  kelvane::PictureView flipped = kelvane::interleaved(&rows[(h - 1) * padded], w, h, c, Sample::u8);
  flipped.row_stride = -static_cast<std::ptrdiff_t>(padded);
  std::vector<std::uint16_t> deep(w * h * c);
  kelvane::level(flipped, kelvane::interleaved(deep.data(), w, h, c, Sample::u16), operation);
  std::vector<std::uint16_t> widened(samples.begin(), samples.end());
  for (auto& s : widened) s = static_cast<std::uint16_t>(s * 257);
  kelvane::level(kelvane::interleaved(widened.data(), w, h, c, Sample::u16), operation);
  EXPECT_EQ(widened, deep);

  // Floats that are not aligned to their size.
  std::vector<unsigned char> bytes(w * h * c * sizeof(float) + 1);
  for (std::size_t i = 0; i < w * h * c; ++i) {
    const float v = static_cast<float>(samples[i] / 255.0);
    std::memcpy(&bytes[1 + i * sizeof(float)], &v, sizeof v);
  }
  std::vector<float> aligned(w * h * c), out(w * h * c), out_unaligned(w * h * c);
  std::memcpy(aligned.data(), &bytes[1], aligned.size() * sizeof(float));
  kelvane::level(kelvane::interleaved(aligned.data(), w, h, c, Sample::f32),
                 kelvane::interleaved(out.data(), w, h, c, Sample::f32), operation);
  kelvane::level(kelvane::interleaved(&bytes[1], w, h, c, Sample::f32),
                 kelvane::interleaved(out_unaligned.data(), w, h, c, Sample::f32), operation);
  EXPECT_EQ(0, std::memcmp(out.data(), out_unaligned.data(), out.size() * sizeof(float)));
}

TEST(Library, InPlaceLevelingReadsEveryRowBeforeItIsWritten) {
  // A window whose tables are too tall to keep: its rows are walked twice.
  const std::size_t w = 1500, h = 700, c = 3;
  const std::vector<std::uint8_t> samples = noise(w * h * c, 2);
  for (const Operation& operation : {Operation("std", 601), Operation("range", 31, 651), Operation("mean", 9)}) {
    std::vector<std::uint8_t> in = samples, out(samples.size()), in_place = samples;
    kelvane::level(kelvane::interleaved(in.data(), w, h, c, Sample::u8),
                   kelvane::interleaved(out.data(), w, h, c, Sample::u8), operation);
    kelvane::level(kelvane::interleaved(in_place.data(), w, h, c, Sample::u8), operation);
    EXPECT_EQ(out, in_place) << operation.algorithm;
  }
}

TEST(Library, ViewsThatDescribeNoPictureAreRefused) {
  std::vector<std::uint8_t> a(64 * 48 * 3), b(64 * 48 * 3 + 8);
  const Operation mean("mean", 5);
  const auto view = [](void* data) { return kelvane::interleaved(data, 64, 48, 3, Sample::u8); };
  EXPECT_EQ(Error::Kind::illegal_view, kind_of([&] { kelvane::level(view(nullptr), mean); }));
  EXPECT_EQ(Error::Kind::illegal_view, kind_of([&] { kelvane::level(view(a.data()), view(nullptr), mean); }));
  EXPECT_NO_THROW(kelvane::level(kelvane::interleaved(nullptr, 0, 48, 3, Sample::u8), mean));
  for (int alpha : {3, 7, -2}) {
    kelvane::PictureView with_alpha = view(a.data());
    with_alpha.alpha = alpha;
    EXPECT_EQ(Error::Kind::illegal_view, kind_of([&] { kelvane::level(with_alpha, mean); })) << alpha;
  }
  // Channels one byte apart, pixels one or two bytes apart: two samples at one address.
  for (std::ptrdiff_t pixel : {1, 2}) {
    kelvane::PictureView crowded = view(b.data());
    crowded.pixel_stride = pixel;
    EXPECT_EQ(Error::Kind::illegal_view, kind_of([&] { kelvane::level(view(a.data()), crowded, mean); })) << pixel;
  }
  // The same bytes read as other samples are no picture leveled in place.
  std::vector<std::uint16_t> deep(64 * 48);
  kelvane::PictureView as_bytes = kelvane::interleaved(deep.data(), 64, 48, 1, Sample::u8);
  as_bytes.pixel_stride = 2;
  as_bytes.row_stride = 128;
  kelvane::PictureView as_words = kelvane::interleaved(deep.data(), 64, 48, 1, Sample::u16);
  EXPECT_EQ(Error::Kind::illegal_view, kind_of([&] { kelvane::level(as_bytes, as_words, mean); }));
  // A copy one pixel along overlaps its input without being it, either way; the input itself
  // is fine.
  EXPECT_EQ(Error::Kind::illegal_view, kind_of([&] { kelvane::level(view(b.data()), view(b.data() + 3), mean); }));
  EXPECT_EQ(Error::Kind::illegal_view, kind_of([&] { kelvane::level(view(b.data() + 3), view(b.data()), mean); }));
  EXPECT_NO_THROW(kelvane::level(view(a.data()), view(a.data()), mean));
  const std::string sizes = failure_of([&] {
    kelvane::level(view(a.data()), kelvane::interleaved(b.data(), 64, 47, 3, Sample::u8), mean);
  });
  EXPECT_NE(std::string::npos, sizes.find("64 x 48 x 3 into 64 x 47 x 3")) << sizes;
  // Broadcast inputs (a stride of 0) are read fine.
  double gray = 0.25;
  std::vector<double> out(64 * 48);
  kelvane::PictureView flat = kelvane::interleaved(&gray, 64, 48, 1, Sample::f64);
  flat.row_stride = flat.pixel_stride = 0;
  kelvane::level(flat, kelvane::interleaved(out.data(), 64, 48, 1, Sample::f64), mean);
  EXPECT_EQ(std::vector<double>(64 * 48, 0.25), out);
}

TEST(Library, OperationsAreCheckedWithTheirKinds) {
  EXPECT_EQ(Error::Kind::illegal_function, kind_of([] { kelvane::check(Operation("meen", 3)); }));
  EXPECT_EQ(Error::Kind::illegal_method, kind_of([] { kelvane::check(Operation("std_fn", 3)); }));
  EXPECT_EQ(Error::Kind::illegal_method, kind_of([] { kelvane::check(Operation("std_fn", 3, "Y709")); }));
  EXPECT_EQ(Error::Kind::illegal_method, kind_of([] { kelvane::check(Operation("std", 3, "y709")); }));
  for (double gain : {0.5, -1.0, std::nan("")}) {
    Operation capped("std", 3);
    capped.max_gain = gain;
    EXPECT_EQ(Error::Kind::illegal_gain, kind_of([&] { kelvane::check(capped); })) << gain;
  }
  kelvane::Options options;
  options.png_compression = 0;  // the ends of the ranges are values
  options.jpeg_quality = 1;
  EXPECT_EQ(Error::Kind::file, kind_of([&] { kelvane::level_file("missing.png", "out.png", Operation("mean", 3), options); }));
  options.jpeg_quality = 0;
  EXPECT_EQ(Error::Kind::illegal_option,
            kind_of([&] { kelvane::level_file("in.png", "out.jpg", Operation("mean", 3), options); }));
  options = kelvane::Options();
  options.tiff_compression = "jpeg";
  EXPECT_EQ(Error::Kind::illegal_option,
            kind_of([&] { kelvane::level_file("in.png", "out.tif", Operation("mean", 3), options); }));
  // The command line's words.
  EXPECT_EQ("Illegal function: {meen}. Try {mean}.", failure_of([] { kelvane::check(Operation("meen", 3)); }));
}

TEST(Library, WindowsReadAsTheCommandLineReadsThem) {
  EXPECT_EQ(31u, Window::parse("31").pixels());
  EXPECT_EQ(0xFFFFFFFFu, Window::parse("-1").pixels());
  EXPECT_EQ(0xFFFFFFFFu, Window(-1).pixels());
  EXPECT_EQ(0xFFFFFFFFu, Window(1LL << 40).pixels());
  EXPECT_EQ(0xFFFFFFFEu, Window(-2).pixels());
  const Window share = Window::parse("12.5%");
  EXPECT_TRUE(share.is_share());
  EXPECT_EQ(12.5, share.percent());
  EXPECT_EQ("12.5%", share.text());
  EXPECT_EQ("0.000001%", Window::parse("0.0000015%").text());
  EXPECT_EQ(share, Window::share(12.5));
  // 12.5% of 200 pixels is 25; of 100, 12.5, whose nearest odd number is 13.
  EXPECT_EQ(25u, share.pixels_for(300, 200));
  EXPECT_EQ(13u, share.pixels_for(100, 400));
  EXPECT_EQ(7u, Window(7).pixels_for(1, 1));
  for (const char* text : {"", "3x", "5%%", "-5%", ".5%", "1e3", " 3"})
    EXPECT_EQ(Error::Kind::illegal_window, kind_of([&] { Window::parse(text); })) << text;
  EXPECT_EQ(Error::Kind::illegal_window, kind_of([] { Window::share(std::nan("")); }));
  EXPECT_EQ(Error::Kind::illegal_window, kind_of([] { Window::share(-1); }));
  // Notes on windows of one pixel, on the sizes given.
  EXPECT_EQ(1u, kelvane::notes_on(Operation("std", 1)).size());
  EXPECT_EQ(0u, kelvane::notes_on(Operation("std", Window::parse("1%"))).size());
  EXPECT_EQ(1u, kelvane::notes_on(Operation("std", Window::parse("1%")), {{1000, 1000}, {50, 50}}).size());
}

TEST(Library, NonFiniteSamplesAreAllCounted) {
  std::vector<float> samples(40 * 30, 0.5f);
  samples[0] = NAN;
  samples[17 * 40 + 3] = INFINITY;
  samples.back() = -INFINITY;
  const std::string message = failure_of([&] {
    kelvane::level(kelvane::interleaved(samples.data(), 40, 30, 1, Sample::f32), Operation("mean", 5));
  });
  EXPECT_EQ(0u, message.find("3 samples are not a finite number")) << message;
}

TEST(Library, AProgressThatSaysStopCancelsAndLeavesNoOutput) {
  ScratchFolder dir;
  const std::size_t w = 600, h = 500;
  std::vector<std::uint8_t> samples = noise(w * h, 3);
  const std::vector<std::uint8_t> before = samples;
  kelvane::Options options;
  int calls = 0;
  options.progress = [&](double fraction) {
    EXPECT_TRUE(fraction >= 0 && fraction <= 1);
    return ++calls < 2;
  };
  EXPECT_EQ(Error::Kind::cancelled, kind_of([&] {
              kelvane::level(kelvane::interleaved(samples.data(), w, h, 1, Sample::u8), Operation("range", 15, 45),
                             options);
            }));
  EXPECT_EQ(2, calls);
  // A one-window form first sums rows held in memory over the threads; asked for more threads
  // than there are cores, it stops as soon as told, and is not asked again.
  options.threads = 8;
  calls = 0;
  EXPECT_EQ(Error::Kind::cancelled, kind_of([&] {
              kelvane::level(kelvane::interleaved(samples.data(), w, h, 1, Sample::u8), Operation("std", 31), options);
            }));
  EXPECT_EQ(2, calls);
  options.threads = 0;
  write_picture(dir / "in.png", {test_page(w, h, 1, before)});
  write_file(dir / "out.png", "old");
  for (const char* output : {"out.png", "new.fits", "new.png"}) {
    calls = 0;
    EXPECT_EQ(Error::Kind::cancelled,
              kind_of([&] { kelvane::level_file(dir / "in.png", dir / output, Operation("std", 31), options); }))
        << output;
  }
  EXPECT_EQ("old", read_file(dir / "out.png"));
  std::vector<std::string> left = dir.entries();
  std::sort(left.begin(), left.end());
  EXPECT_EQ((std::vector<std::string>{"in.png", "out.png"}), left);
  // Told to go on, every call ends at 1.
  double last = 0;
  options.progress = [&](double fraction) {
    EXPECT_GE(fraction, last);
    last = fraction;
    return true;
  };
  kelvane::level_file(dir / "in.png", dir / "out.png", Operation("std", 31), options);
  EXPECT_EQ(1.0, last);
}

TEST(Library, FileErrorsSayWhichFileAndWhy) {
  ScratchFolder dir;
  Error::Kind kind;
  try {
    kelvane::File missing(dir / "missing.png");
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(Error::Kind::file, e.kind());
    EXPECT_EQ(ENOENT, e.error_number());
    EXPECT_EQ(dir / "missing.png", e.path());
  }
  write_picture(dir / "in.png", {test_page(64, 48, 1, noise(64 * 48, 4))});
  try {
    kelvane::level_file(dir / "in.png", dir / "no-folder/out.png", Operation("mean", 3));
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(ENOENT, e.error_number());
    EXPECT_EQ(dir / "no-folder/out.png", e.path());
  }
  ::mkdir((dir / "folder.png").c_str(), 0755);
  try {
    kelvane::level_file(dir / "in.png", dir / "folder.png", Operation("mean", 3));
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(EISDIR, e.error_number());
  }
  write_file(dir / "damaged.png", read_file(dir / "in.png").substr(0, 60));
  EXPECT_EQ(Error::Kind::file, kind_of([&] { kelvane::level_file(dir / "damaged.png", dir / "o.png", Operation("mean", 3)); }));
  // Memory: a limit that the stream fits and a whole output of doubles does not.
  kelvane::Options tight;
  tight.memory_limit = 2 << 20;
  write_picture(dir / "wide.png", {test_page(800, 600, 1, noise(800 * 600, 5))});
  EXPECT_NO_THROW(kelvane::level_file(dir / "wide.png", dir / "o.png", Operation("mean", 3), tight));
  const std::string message =
      failure_of([&] { kelvane::level_file(dir / "wide.png", dir / "o.cimg", Operation("mean", 3), tight); }, &kind);
  EXPECT_EQ(Error::Kind::memory, kind) << message;
  EXPECT_FALSE(exists(dir / "o.cimg"));
  tight.memory_limit = 1 << 20;
  std::vector<std::uint8_t> big(3000 * 2000);
  EXPECT_EQ(Error::Kind::memory, kind_of([&] {
              kelvane::level(kelvane::interleaved(big.data(), 3000, 2000, 1, Sample::u8), Operation("std", 1001, 5),
                             tight);
            }));
}

TEST(Library, InstallsNoSignalHandlers) {
  // FITS outputs are made under a hidden name by their encoder: the one case where a signal
  // could leave a file behind, and where the library once took over SIGINT.
  ScratchFolder dir;
  write_picture(dir / "in.png", {test_page(32, 24, 1, noise(32 * 24, 6))});
  const int signals[] = {SIGINT, SIGTERM, SIGHUP};
  struct sigaction before[3];
  for (int i = 0; i < 3; ++i) ASSERT_EQ(0, ::sigaction(signals[i], nullptr, &before[i]));
  kelvane::level_file(dir / "in.png", dir / "out.fits", Operation("mean", 3));
  for (int i = 0; i < 3; ++i) {
    struct sigaction after;
    ASSERT_EQ(0, ::sigaction(signals[i], nullptr, &after));
    EXPECT_EQ(before[i].sa_handler, after.sa_handler) << signals[i];
  }
}

TEST(Library, AFileReadIntoMemoryLevelsAsTheFileDoes) {
  ScratchFolder dir;
  const std::size_t w = 600, h = 70;
  // RGBA 8-bit: the codes come back as they are, alpha last, and leveling them in memory
  // gives the samples level_file writes. Rows wider than 512 pixels are written in stretches.
  TestPage rgba = test_page(w, h, 4, noise(w * h * 4, 7));
  rgba.alpha = true;
  write_picture(dir / "in.png", {rgba});
  kelvane::File file(dir / "in.png");
  EXPECT_TRUE(file.has_alpha());
  EXPECT_EQ(Sample::u8, file.sample());
  std::vector<std::uint8_t> pixels(w * h * 4);
  file.read(0, kelvane::interleaved(pixels.data(), w, h, 4, Sample::u8));
  EXPECT_EQ(rgba.samples, pixels);
  const Operation operation("std_fn", 15, "y709");
  kelvane::PictureView view = kelvane::interleaved(pixels.data(), w, h, 4, Sample::u8);
  view.alpha = 3;
  kelvane::level(view, operation);
  kelvane::level_file(file, dir / "out.png", operation);
  kelvane::File out(dir / "out.png");
  std::vector<std::uint8_t> written(w * h * 4);
  out.read(0, kelvane::interleaved(written.data(), w, h, 4, Sample::u8));
  EXPECT_EQ(pixels, written);
  // 16-bit codes whole; codes of other depths as values.
  std::vector<std::uint16_t> deep(w * h);
  for (std::size_t i = 0; i < deep.size(); ++i) deep[i] = static_cast<std::uint16_t>(i * 7919);
  write_picture(dir / "deep.tif", {test_page(w, h, 1, as_bytes(deep), kelvane::SampleType::u16)});
  kelvane::File deep_file(dir / "deep.tif");
  EXPECT_EQ(Sample::u16, deep_file.sample());
  std::vector<std::uint16_t> back(w * h);
  deep_file.read(0, kelvane::interleaved(back.data(), w, h, 1, Sample::u16));
  EXPECT_EQ(deep, back);
  write_file(dir / "odd.pgm", std::string("P5\n2 1\n1000\n\x00\x00\x03\xe8", 16));
  kelvane::File odd(dir / "odd.pgm");
  EXPECT_EQ(Sample::f64, odd.sample());
  double values[2] = {-1, -1};
  odd.read(0, kelvane::interleaved(values, 2, 1, 1, Sample::f64));
  EXPECT_EQ(0.0, values[0]);
  EXPECT_EQ(1.0, values[1]);
  EXPECT_EQ(Error::Kind::illegal_view, kind_of([&] { odd.read(0, kelvane::interleaved(values, 1, 1, 1, Sample::f64)); }));
}
