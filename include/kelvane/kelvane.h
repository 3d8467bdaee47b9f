#pragma once
// kelvane: levels uneven brightness and contrast in pictures.
//
// Every pixel is moved so that the statistics of the square window around it (local mean,
// standard deviation, soft minimum and maximum) take reference values: those of the whole
// channel (one window) or of a second window around the same pixel (two windows). The
// results are those of the command line `kelvane`, bit for bit: it is a client of this
// header and of nothing else.
//
//   kelvane::Operation op{"std", 31};
//   kelvane::level(kelvane::interleaved(pixels, width, height, 3, kelvane::Sample::u8), op);
//
// Link with kelvane::kelvane (CMake: find_package(kelvane)) or `pkg-config --libs kelvane`.
//
// Errors: every function that can fail throws kelvane::Error, whose kind() says what failed;
// none returns an error code. A call that throws has changed nothing a caller can see, except
// the output pixels of level() (left partly written) and never an output file.
//
// Threads: every function may be called from several threads at once. Calls may share an
// input picture (it is only read) but not an output picture, and not a File. Each call
// levels with up to Options::threads threads of its own.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

// The version of this header; version() gives the library's, which should be the same.
#define KELVANE_VERSION_MAJOR 0
#define KELVANE_VERSION_MINOR 3
#define KELVANE_VERSION_PATCH 0

// Symbols of the shared library: the public interface only, where the compiler knows how
// to say so.
#if defined(__GNUC__) || defined(__clang__)
#define KELVANE_API __attribute__((visibility("default")))
#else
#define KELVANE_API
#endif

namespace kelvane {

// "MAJOR.MINOR.PATCH" of the library linked in.
KELVANE_API std::string version();

// The one type of error. The message is the command line's text, without its "Warning: "
// or "Error: " in front.
class KELVANE_API Error : public std::runtime_error {
 public:
  enum class Kind {
    illegal_function,  // not an algorithm
    illegal_method,    // not a gray method, or none for an algorithm that needs one
    illegal_window,    // a window that is no window: not a number, a negative share
    illegal_gain,      // a gain cap below 1, or NaN
    illegal_option,    // an Options value out of its range
    illegal_view,      // a PictureView that describes no picture (null data, alpha, strides)
    picture,           // a picture kelvane cannot level (sizes, non-finite samples)
    memory,            // more memory than the limit or the system allows
    file,              // a file that cannot be read or written: path(), error_number()
    cancelled,         // the progress callback asked to stop
  };
  Error(Kind kind, const std::string& message, std::string path = "", int error_number = 0)
      : std::runtime_error(message), kind_(kind), path_(std::move(path)), error_number_(error_number) {}
  Kind kind() const { return kind_; }
  // For file errors: the file, and the system's error number (errno) where the system
  // refused it, else 0 (a damaged picture, say).
  const std::string& path() const { return path_; }
  int error_number() const { return error_number_; }

 private:
  Kind kind_;
  std::string path_;
  int error_number_;
};

// Sample types of pictures in memory. Integer samples of b bits stand for code / (2^b - 1)
// and are written back as value * (2^b - 1), clamped to the codes and truncated, as the
// command line writes files; floating-point samples are taken and given as they are.
enum class Sample { u8, u16, f32, f64 };

KELVANE_API std::size_t sample_size(Sample sample);

// A picture in memory: sample (x, y) of channel c at
// data + y * row_stride + x * pixel_stride + c * channel_stride (strides in bytes, any sign).
// Samples need no alignment. An output's samples must all lie at distinct addresses.
struct PictureView {
  void* data = nullptr;
  std::size_t width = 0, height = 0, channels = 0;
  Sample sample = Sample::u8;
  std::ptrdiff_t row_stride = 0, pixel_stride = 0, channel_stride = 0;
  // The channel that holds alpha, kept as it is (unless Operation::level_alpha), or -1.
  int alpha = -1;
};

// Channels interleaved (R G B R G B ...), rows `row_stride` bytes apart (0: packed).
KELVANE_API PictureView interleaved(void* data, std::size_t width, std::size_t height, std::size_t channels,
                                    Sample sample, std::ptrdiff_t row_stride = 0);
// One plane of height rows per channel, planes one after the other.
KELVANE_API PictureView planar(void* data, std::size_t width, std::size_t height, std::size_t channels,
                               Sample sample);

// A window: a number of pixels, or a share of the picture's shorter side. A window of w
// pixels spans w / 2 pixels on each side of a pixel, so w and w + 1 give the same result for
// even w, and 0 or 1 is the pixel alone. A share becomes the odd number of pixels nearest to
// it, the larger where two are as near, at least 1, picture by picture; shares count to a
// millionth of a percent.
class KELVANE_API Window {
 public:
  // As the command line takes a number: a negative one wraps to 2^32 + n (-1: a window over
  // any picture), one beyond 32 bits is the largest window, 2^32 - 1.
  Window(long long pixels = 31);
  // A share of the shorter side in percent (5, 12.5). Throws Error (illegal_window) for a
  // negative or non-finite share.
  static Window share(double percent);
  // The command line's text of a window: "31", "-1", "5%", "12.5%". Throws Error
  // (illegal_window) for any other text.
  static Window parse(const std::string& text);

  bool is_share() const { return is_share_; }
  std::uint32_t pixels() const { return pixels_; }  // for a window in pixels
  double percent() const;                           // for a share
  // The window in pixels on a picture of that size.
  std::uint32_t pixels_for(std::size_t width, std::size_t height) const;
  // As parse() reads it back.
  std::string text() const;

  bool operator==(const Window& other) const {
    return is_share_ == other.is_share_ && pixels_ == other.pixels_ && millionths_ == other.millionths_;
  }
  bool operator!=(const Window& other) const { return !(*this == other); }

 private:
  bool is_share_ = false;
  std::uint32_t pixels_ = 31;
  std::uint64_t millionths_ = 0;  // of a percent, for a share
};

// What to do: an algorithm of algorithms(), one window or two, and for the _fn algorithms
// a gray method of gray_methods(). With one window the statistics of the window are replaced
// by those of the whole channel; with two, by those of `window2` around the same pixel.
struct Operation {
  std::string algorithm;
  Window window;
  std::optional<Window> window2;
  std::string method;        // for the _fn algorithms only
  bool level_alpha = false;  // level alpha like a colour instead of keeping it
  // std, minmax and range (and their _fn forms) multiply a value's distance from its local
  // reference by (target deviation or soft range / local one); max_gain, at least 1, caps
  // that factor, so that flat regions are not stretched into noise. Infinity: no cap. mean
  // stretches nothing and ignores it.
  double max_gain = std::numeric_limits<double>::infinity();

  Operation() = default;
  Operation(std::string algorithm_, Window window_, std::string method_ = "")
      : algorithm(std::move(algorithm_)), window(window_), method(std::move(method_)) {}
  Operation(std::string algorithm_, Window window1_, Window window2_, std::string method_ = "")
      : algorithm(std::move(algorithm_)), window(window1_), window2(window2_), method(std::move(method_)) {}
};

struct Options {
  unsigned threads = 0;                 // 0: every core
  unsigned long long memory_limit = 0;  // bytes a call may use; 0: what the system has
  // For file outputs; level_file() throws Error (illegal_option) for a value out of range.
  int jpeg_quality = 100;               // 1 to 100 (and lossy WebP and HEIF)
  int png_compression = 2;              // zlib level, 0 to 9
  std::string tiff_compression;         // none, lzw, zip, packbits; empty: a TIFF input's own, else none
  std::string jpeg_subsampling;         // "4:4:4" or "4:2:0"; empty: a JPEG input's own, else by quality
  std::string webp;                     // "lossless" or "lossy"; empty: a WebP input's own, else lossy
  // Told how far the call is (0 to 1), from the calling thread, a few times a second at most
  // on large pictures. Returning false cancels the call: it throws Error (cancelled), and a
  // file's output is left as it was.
  std::function<bool(double fraction)> progress;
};

// What a call did besides leveling.
struct Report {
  // A gray (_fn) algorithm met a picture without red, green and blue and leveled it
  // channel by channel; the command line warns "image does not have 3 channels".
  bool channel_by_channel = false;
};

// The keywords, in the command line's order, and what they mean.
struct AlgorithmInfo {
  std::string name;
  std::string matches;    // what the algorithm matches to the reference, for help texts
  bool takes_method;      // the _fn algorithms: a gray method follows the windows
  bool stretches;         // it multiplies distances (std, minmax, range): max_gain applies
};
struct GrayMethodInfo {
  std::string name;
  std::string description;
};
KELVANE_API std::vector<AlgorithmInfo> algorithm_info();
KELVANE_API std::vector<GrayMethodInfo> gray_method_info();
KELVANE_API std::vector<std::string> algorithms();    // the names only
KELVANE_API std::vector<std::string> gray_methods();  // the names only

// Settings that the quality benchmark (scripts/bench --quality; the README gives its figures)
// found to serve a kind of picture best, by name: `kelvane --preset document in.png out.png`.
struct Preset {
  std::string name;
  std::string description;
  Operation operation;
};
KELVANE_API std::vector<Preset> presets();

// Picture formats: the readable ones in words, for help texts, and the extensions an output
// may have (lower case, without the dot).
KELVANE_API std::string readable_formats();
KELVANE_API std::vector<std::string> writable_extensions();
KELVANE_API bool writes_extension(const std::string& extension);

// Throws Error (illegal_function, illegal_method, illegal_gain) unless the operation can be
// done on some picture. Its windows are always windows.
KELVANE_API void check(const Operation& operation);

// What is legal but rarely meant: a window of one pixel, whose statistics are the pixel's
// own (for a share of the shorter side, on any picture of these sizes, width by height).
// The command line's notes, without its "Note: ". Throws Error as check() does.
KELVANE_API std::vector<std::string> notes_on(const Operation& operation,
                                              const std::vector<std::pair<std::size_t, std::size_t>>& sizes = {});

// Levels the picture in place, or from `in` into `out` (same size and channels, any sample
// type and layout). `out` may be `in` itself (the same data, strides and samples); any other
// overlap of their samples is refused, as are null data for a picture with samples, an alpha
// outside [-1, channels) and output strides that put two samples at one address. Throws
// Error: illegal_* for the operation or the views, picture (non-finite float samples, which
// are counted), memory, cancelled.
KELVANE_API Report level(const PictureView& picture, const Operation& operation, const Options& options = Options());
KELVANE_API Report level(const PictureView& in, const PictureView& out, const Operation& operation,
                         const Options& options = Options());

// Whether a file of a folder counts as a picture: its first bytes or its extension are those
// of a format kelvane reads. A damaged, empty or unreadable file named as a picture counts
// (and fails when it is leveled), so that it is reported rather than passed over.
KELVANE_API bool is_picture_file(const std::string& path);

class File;

// Levels every page of the input file into the output (format by its extension), which an
// existing file makes way for only once the new one is complete: a failure or a cancel
// leaves it as it was. The output may name the input. Throws Error.
KELVANE_API Report level_file(File& input, const std::string& output, const Operation& operation,
                              const Options& options = Options());
KELVANE_API Report level_file(const std::string& input, const std::string& output, const Operation& operation,
                              const Options& options = Options());

// A picture file opened to its headers: every page's size is known before any pixel is read.
// A File is used by one thread at a time.
class KELVANE_API File {
 public:
  // Throws Error (file, memory). The options' memory limit bounds what a header may announce.
  explicit File(const std::string& path, const Options& options = Options());
  ~File();
  File(File&&) noexcept;
  File& operator=(File&&) noexcept;

  const std::string& path() const;
  std::size_t pages() const;
  // Of page `page`; throws std::out_of_range past the last page.
  std::size_t width(std::size_t page = 0) const;
  std::size_t height(std::size_t page = 0) const;
  std::size_t channels(std::size_t page = 0) const;
  // Whether the page holds alpha, as its last channel in read().
  bool has_alpha(std::size_t page = 0) const;
  // The sample type that holds the page's values without loss in read(): u8 or u16 for 8-
  // and 16-bit codes (of every channel, colours not stored multiplied by alpha), f32 for
  // single and half floats, f64 for anything else.
  Sample sample(std::size_t page = 0) const;

  // Page `page`'s pixels into a picture in memory of its size and channels, the colour
  // channels first and alpha last, as level_file() reads them: an integer view gets
  // value * (2^b - 1) clamped and truncated (so the file's own codes where it has the same
  // depth), a floating-point one the values. The view's alpha is not read. Throws Error.
  void read(std::size_t page, const PictureView& into);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  friend Report level_file(File& input, const std::string& output, const Operation& operation,
                           const Options& options);
};


// A folder of pictures leveled into another: every file under the input (in its folders
// too) that counts as a picture (is_picture_file), with the same relative path under the
// output folder, its extension replaced by `format` where that is not empty. Hidden files and
// folders (names starting with a dot) are skipped as `ls` skips them, and the output folder,
// should it lie inside the input, is never read. Links to pictures count, dangling ones too
// (they fail when leveled); links to folders are not followed.
struct FolderJob {
  std::string input, output;
};
struct FolderPlan {
  std::vector<FolderJob> jobs;   // sorted by input
  std::size_t not_pictures = 0;  // files that neither name nor hold a picture
  // Pairs of pictures that would be written to one output (see colliding_outputs).
  std::vector<std::pair<FolderJob, FolderJob>> collisions;
};
KELVANE_API FolderPlan plan_folder(const std::string& input, const std::string& output_folder,
                                   const std::string& format = "");
// Pairs of jobs that would write one file: the same output path, or paths that differ only
// in case where the output folder's file system (or that of the nearest folder above it that
// exists) does not tell capitals from small letters.
KELVANE_API std::vector<std::pair<FolderJob, FolderJob>> colliding_outputs(const std::vector<FolderJob>& jobs,
                                                                           const std::string& output_folder);

// Removes the temporary files of outputs being written now, which only exist where the
// file system cannot hold a file without a name. For a program's own handlers of SIGINT,
// SIGTERM and the like, before it ends: it is async-signal-safe. The library installs no
// signal handler of its own.
KELVANE_API void forget_unfinished_outputs();

}  // namespace kelvane
