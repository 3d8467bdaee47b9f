#pragma once
// kelvane: levels uneven brightness and contrast in pictures.
//
// Every pixel is moved so that the statistics of the square window around it (local mean,
// standard deviation, soft minimum and maximum) take reference values: those of the whole
// channel (one window) or of a second window around the same pixel (two windows). The
// results are those of the command line `kelvane`, bit for bit: it is a client of this
// library.
//
//   kelvane::Operation op{"std", 31};
//   kelvane::level(kelvane::interleaved(pixels, width, height, 3, kelvane::Sample::u8), op);
//
// Link with kelvane::kelvane (CMake: find_package(kelvane)) or `pkg-config --libs kelvane`.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

// Symbols of the shared library: the public interface only.
#define KELVANE_API __attribute__((visibility("default")))

namespace kelvane {

// Sample types of pictures in memory. Integer samples of b bits stand for code / (2^b - 1)
// and are written back as value * (2^b - 1), clamped to the codes and truncated, as the
// command line writes files; floating-point samples are taken and given as they are.
enum class Sample { u8, u16, f32, f64 };

KELVANE_API std::size_t sample_size(Sample sample);

// A picture in memory: sample (x, y) of channel c at
// data + y * row_stride + x * pixel_stride + c * channel_stride (strides in bytes, any sign).
struct PictureView {
  void* data = nullptr;
  std::size_t width = 0, height = 0, channels = 0;
  Sample sample = Sample::u8;
  std::ptrdiff_t row_stride = 0, pixel_stride = 0, channel_stride = 0;
  // The channel that holds alpha, kept as it is (unless Operation::level_alpha), or -1.
  int alpha = -1;
};

// Channels interleaved (R G B R G B ...), rows `row_stride` bytes apart (0: packed).
KELVANE_API PictureView interleaved(void* data, std::size_t width, std::size_t height, std::size_t channels, Sample sample,
                        std::ptrdiff_t row_stride = 0);
// One plane of height rows per channel, planes one after the other.
KELVANE_API PictureView planar(void* data, std::size_t width, std::size_t height, std::size_t channels, Sample sample);

// What to do: an algorithm of algorithms(), one window or two, and for the _fn algorithms a
// gray method of gray_methods(). Windows are in pixels; w and w + 1 give the same result
// for even w, and a window of 0 or 1 is the pixel alone.
struct Operation {
  std::string algorithm;
  std::uint32_t window1 = 31;
  std::uint32_t window2 = 0;  // with windows == 2
  int windows = 1;
  std::string method;          // for the _fn algorithms
  bool level_alpha = false;    // level alpha like a colour instead of keeping it
  // A window as a share of the picture's shorter side, in percent (5, 12.5), in place of
  // window1 (window2) where not negative: the odd number of pixels nearest to that share,
  // the larger where two are as near, at least 1, picture by picture. Shares count to a
  // millionth of a percent.
  double window1_percent = -1;
  double window2_percent = -1;
  // std, minmax and range (and their _fn forms) multiply a value's distance from its local
  // reference by (target deviation or soft range / local one); max_gain, at least 1, caps
  // that factor, so that flat regions are not stretched into noise. Infinity: no cap. mean
  // stretches nothing and ignores it.
  double max_gain = std::numeric_limits<double>::infinity();

  Operation() = default;
  Operation(std::string algorithm_, std::uint32_t window, std::string method_ = "")
      : algorithm(std::move(algorithm_)), window1(window), method(std::move(method_)) {}
  Operation(std::string algorithm_, std::uint32_t window1_, std::uint32_t window2_, std::string method_ = "")
      : algorithm(std::move(algorithm_)), window1(window1_), window2(window2_), windows(2), method(std::move(method_)) {}
};

struct Options {
  unsigned threads = 0;                // 0: every core
  unsigned long long memory_limit = 0;  // bytes a call may use; 0: what the system has
  int jpeg_quality = 100;              // file outputs
  int png_compression = 2;
  std::string tiff_compression;        // empty: a TIFF input's own lossless one, else none
  std::string jpeg_subsampling;        // "4:4:4" or "4:2:0"; empty: a JPEG input's own, else by quality
  std::string webp;                    // "lossless" or "lossy"; empty: a WebP input's own, else lossy
};

// What a call did besides leveling.
struct Report {
  // A gray (_fn) algorithm met a picture without red, green and blue and leveled it
  // channel by channel; the command line warns "image does not have 3 channels".
  bool channel_by_channel = false;
};

// The one type of error. The message is the command line's text, without its "Warning: "
// or "Error: " in front.
class KELVANE_API Error : public std::runtime_error {
 public:
  enum class Kind {
    illegal_function,  // not an algorithm
    illegal_method,    // not a gray method
    illegal_window,    // a window (or two) the algorithm does not take
    illegal_gain,      // a gain cap below 1
    picture,           // a picture kelvane cannot level (shape, samples)
    file,              // a file that cannot be read or written
  };
  Error(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
  Kind kind() const { return kind_; }

 private:
  Kind kind_;
};

// The keywords, in the command line's order.
KELVANE_API std::vector<std::string> algorithms();
KELVANE_API std::vector<std::string> gray_methods();

// Throws Error (illegal_function, illegal_method) unless the operation can be done.
KELVANE_API void check(const Operation& operation);

// Levels the picture in place, or from `in` into `out` (same size and channels, any sample
// type and layout; it may be `in`).
KELVANE_API Report level(const PictureView& picture, const Operation& operation, const Options& options = Options());
KELVANE_API Report level(const PictureView& in, const PictureView& out, const Operation& operation,
             const Options& options = Options());

// Whether the file looks like a picture kelvane reads, from its first bytes (from its name
// only for .cimg and .asc): for choosing the files of a folder to level.
KELVANE_API bool is_picture_file(const std::string& path);

// A picture file opened to its headers: every page's size is known before any pixel is read.
class KELVANE_API File {
 public:
  // Throws Error (file). The options' memory limit bounds what a header may announce.
  explicit File(const std::string& path, const Options& options = Options());
  ~File();
  File(File&&) noexcept;
  File& operator=(File&&) noexcept;

  std::size_t pages() const;
  std::size_t width(std::size_t page = 0) const;
  std::size_t height(std::size_t page = 0) const;
  std::size_t channels(std::size_t page = 0) const;

  struct Reader;
  Reader& reader() { return *reader_; }

 private:
  std::unique_ptr<Reader> reader_;
};

// Levels every page of the input file into the output (format by its extension), which an
// existing file makes way for only once the new one is complete. `progress`, when given, is
// told how far the work is (0 to 1). Throws Error.
KELVANE_API Report level_file(File& input, const std::string& output, const Operation& operation,
                  const Options& options = Options(), void (*progress)(double fraction, void* context) = nullptr,
                  void* context = nullptr);
KELVANE_API Report level_file(const std::string& input, const std::string& output, const Operation& operation,
                  const Options& options = Options());

}  // namespace kelvane
