// The extension under the Python package kelvane: the library's leveling of arrays and files,
// its keywords and its checks. The package checks and shapes the arguments by numpy's
// conventions; here arrays arrive with their channels last, in native byte order, and go to
// the library as they are (any strides, no copy).
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <sys/mman.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "kelvane/kelvane.h"

namespace py = pybind11;

namespace {

// A new array of that shape and type. A large one lies on transparent huge pages: the
// kernel then maps it 2 MiB at a time, where faulting in 4 KiB pages one by one costs more
// than leveling into them.
py::array new_array(const py::dtype& type, const std::vector<py::ssize_t>& shape) {
  std::size_t bytes = static_cast<std::size_t>(type.itemsize());
  for (py::ssize_t n : shape) bytes *= static_cast<std::size_t>(n);
  constexpr std::size_t huge_page = std::size_t(2) << 20;
  if (bytes < 2 * huge_page) return py::array(type, shape);
  const std::size_t mapped = (bytes + huge_page - 1) / huge_page * huge_page + huge_page;
  void* raw = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) throw std::bad_alloc();
  const auto start = reinterpret_cast<std::uintptr_t>(raw);
  void* aligned = reinterpret_cast<void*>((start + huge_page - 1) / huge_page * huge_page);
  ::madvise(aligned, mapped - huge_page, MADV_HUGEPAGE);
  struct Mapping {
    void* raw;
    std::size_t size;
  };
  py::capsule owner(new Mapping{raw, mapped}, [](void* p) {
    const Mapping* mapping = static_cast<Mapping*>(p);
    ::munmap(mapping->raw, mapping->size);
    delete mapping;
  });
  return py::array(type, shape, aligned, owner);
}

kelvane::Sample sample_of(const py::array& image) {
  const py::dtype type = image.dtype();
  if (type.equal(py::dtype::of<std::uint8_t>())) return kelvane::Sample::u8;
  if (type.equal(py::dtype::of<std::uint16_t>())) return kelvane::Sample::u16;
  if (type.equal(py::dtype::of<float>())) return kelvane::Sample::f32;
  if (type.equal(py::dtype::of<double>())) return kelvane::Sample::f64;
  throw py::type_error("kelvane levels arrays of uint8, uint16, float32 or float64, not " +
                       std::string(py::str(static_cast<const py::handle&>(type))));
}

kelvane::PictureView view_of(const py::array& array) {
  kelvane::PictureView view;
  view.data = const_cast<void*>(array.data());
  view.height = static_cast<std::size_t>(array.shape(0));
  view.width = static_cast<std::size_t>(array.shape(1));
  view.channels = array.ndim() == 3 ? static_cast<std::size_t>(array.shape(2)) : 1;
  view.sample = sample_of(array);
  view.row_stride = array.strides(0);
  view.pixel_stride = array.strides(1);
  view.channel_stride = array.ndim() == 3 ? array.strides(2) : 0;
  return view;
}

// The operation from the package's checked arguments: windows as the command line's texts.
kelvane::Operation operation_of(const std::string& algorithm, const std::string& window, const py::object& window2,
                                const std::string& method, bool level_alpha, double max_gain) {
  kelvane::Operation operation(algorithm, kelvane::Window::parse(window), method);
  if (!window2.is_none()) operation.window2 = kelvane::Window::parse(window2.cast<std::string>());
  operation.level_alpha = level_alpha;
  operation.max_gain = max_gain;
  return operation;
}

// A flag that stops the calls it is given, from any thread: for a batch's workers, which
// Python's own Ctrl-C does not reach.
struct StopFlag {
  std::atomic<bool> raised{false};
};

// Ctrl-C while the library works: Python's handler only sets a flag, which is looked at
// here a few times a second, in the main thread (where Python runs its signal handlers).
// A KeyboardInterrupt cancels the call and is raised once the library has let go.
class Interruption {
 public:
  explicit Interruption(const StopFlag* stop = nullptr) : stop_(stop) {
    const py::module_ threading = py::module_::import("threading");
    const py::object main_ident = threading.attr("main_thread")().attr("ident");
    main_thread_ = main_ident.equal(threading.attr("get_ident")());
  }

  std::function<bool(double)> progress() {
    if (!main_thread_ && !stop_) return nullptr;
    return [this](double) {
      if (stop_ && stop_->raised.load()) return false;
      if (!main_thread_) return true;
      const auto now = std::chrono::steady_clock::now();
      if (now - last_ < std::chrono::milliseconds(50)) return true;
      last_ = now;
      py::gil_scoped_acquire locked;
      if (PyErr_CheckSignals() == 0) return true;
      raised_ = true;
      return false;
    };
  }

  // Calls `call`, the lock let go; a pending exception of Python's own goes first.
  template <class Call>
  auto run(Call call) -> decltype(call()) {
    try {
      py::gil_scoped_release unlocked;
      return call();
    } catch (const kelvane::Error& e) {
      if (raised_ && e.kind() == kelvane::Error::Kind::cancelled) throw py::error_already_set();
      throw;
    }
  }

 private:
  const StopFlag* stop_;
  bool main_thread_ = false;
  bool raised_ = false;
  std::chrono::steady_clock::time_point last_;
};

// Levels `image` into `out` (None: a new array of its shape and type). Returns the output and
// whether a gray algorithm leveled channel by channel.
py::tuple level_array(const py::array& image, py::object out, const std::string& algorithm, const std::string& window,
                      const py::object& window2, const std::string& method, bool level_alpha, double max_gain,
                      unsigned threads, const StopFlag* stop) {
  if (image.ndim() != 2 && image.ndim() != 3)
    throw py::value_error("kelvane levels arrays of 2 or 3 dimensions, not " + std::to_string(image.ndim()));
  const kelvane::Operation operation = operation_of(algorithm, window, window2, method, level_alpha, max_gain);
  kelvane::PictureView in = view_of(image);
  // Alpha: the last of 2 or 4 channels, as in PNG files.
  in.alpha = in.channels == 2 || in.channels == 4 ? static_cast<int>(in.channels) - 1 : -1;
  py::array result = out.is_none() ? new_array(image.dtype(), std::vector<py::ssize_t>(image.shape(), image.shape() + image.ndim()))
                                   : out.cast<py::array>();
  if (!result.writeable()) throw py::value_error("out is a read-only array");
  kelvane::PictureView leveled = view_of(result);
  leveled.data = result.mutable_data();
  kelvane::Options options;
  options.threads = threads;
  Interruption interruption(stop);
  options.progress = interruption.progress();
  const kelvane::Report report = interruption.run([&] { return kelvane::level(in, leveled, operation, options); });
  return py::make_tuple(result, report.channel_by_channel);
}

// Levels a file into another; paths as the file system's bytes. Returns the notes on the
// operation (on the file's page sizes) and whether a gray algorithm leveled channel by channel.
py::tuple level_file(const py::bytes& input, const py::bytes& output, const std::string& algorithm,
                     const std::string& window, const py::object& window2, const std::string& method, bool level_alpha,
                     double max_gain, unsigned threads, int jpeg_quality, int png_compression,
                     const std::string& tiff_compression, const std::string& jpeg_subsampling, const std::string& webp,
                     const StopFlag* stop) {
  const kelvane::Operation operation = operation_of(algorithm, window, window2, method, level_alpha, max_gain);
  kelvane::Options options;
  options.threads = threads;
  options.jpeg_quality = jpeg_quality;
  options.png_compression = png_compression;
  options.tiff_compression = tiff_compression;
  options.jpeg_subsampling = jpeg_subsampling;
  options.webp = webp;
  const std::string from = input, to = output;
  Interruption interruption(stop);
  options.progress = interruption.progress();
  std::vector<std::string> notes;
  const kelvane::Report report = interruption.run([&] {
    kelvane::File file(from, options);
    std::vector<std::pair<std::size_t, std::size_t>> sizes;
    for (std::size_t page = 0; page < file.pages(); ++page) sizes.emplace_back(file.width(page), file.height(page));
    notes = kelvane::notes_on(operation, sizes);
    return kelvane::level_file(file, to, operation, options);
  });
  return py::make_tuple(notes, report.channel_by_channel);
}

// The first page of a picture file as an array of height x width (x channels, alpha last) in
// the sample type that holds its values whole, and whether it has alpha.
py::tuple read_picture(const py::bytes& path) {
  const std::string name = path;
  std::unique_ptr<kelvane::File> file;
  kelvane::Sample sample = kelvane::Sample::u8;
  std::vector<py::ssize_t> shape;
  {
    py::gil_scoped_release unlocked;
    file = std::make_unique<kelvane::File>(name);
    sample = file->sample(0);
  }
  shape = {static_cast<py::ssize_t>(file->height()), static_cast<py::ssize_t>(file->width())};
  if (file->channels() > 1) shape.push_back(static_cast<py::ssize_t>(file->channels()));
  const py::dtype type = sample == kelvane::Sample::u8    ? py::dtype::of<std::uint8_t>()
                         : sample == kelvane::Sample::u16 ? py::dtype::of<std::uint16_t>()
                         : sample == kelvane::Sample::f32 ? py::dtype::of<float>()
                                                          : py::dtype::of<double>();
  py::array pixels = new_array(type, shape);
  kelvane::PictureView view = view_of(pixels);
  view.data = pixels.mutable_data();
  {
    py::gil_scoped_release unlocked;
    file->read(0, view);
  }
  return py::make_tuple(pixels, file->has_alpha());
}

// The library's errors in Python's terms. A file the system refused raises the OSError of its
// errno (FileNotFoundError, PermissionError...), with the file's name.
void raise_as_python(const kelvane::Error& e) {
  using Kind = kelvane::Error::Kind;
  switch (e.kind()) {
    case Kind::file: {
      if (e.error_number() == 0) {
        PyErr_SetString(PyExc_OSError, e.what());
        return;
      }
      py::object name = py::reinterpret_steal<py::object>(PyUnicode_DecodeFSDefault(e.path().c_str()));
      if (!name) throw py::error_already_set();
      PyErr_SetObject(PyExc_OSError, py::make_tuple(e.error_number(), e.what(), name).ptr());
      return;
    }
    case Kind::memory: PyErr_SetString(PyExc_MemoryError, e.what()); return;
    case Kind::cancelled: PyErr_SetString(PyExc_KeyboardInterrupt, e.what()); return;
    default: PyErr_SetString(PyExc_ValueError, e.what()); return;
  }
}

}  // namespace

PYBIND11_MODULE(_kelvane, module) {
  module.doc() = "kelvane's leveling of uneven brightness and contrast (see the package kelvane)";
  py::register_exception_translator([](std::exception_ptr failure) {
    try {
      if (failure) std::rethrow_exception(failure);
    } catch (const kelvane::Error& e) {
      raise_as_python(e);
    }
  });
  module.def("level_array", &level_array, py::arg("image"), py::arg("out"), py::arg("algorithm"), py::arg("window"),
             py::arg("window2"), py::arg("method"), py::arg("level_alpha"), py::arg("max_gain"), py::arg("threads"),
             py::arg("stop") = nullptr);
  module.def("read_picture", &read_picture);
  py::class_<StopFlag>(module, "StopFlag").def(py::init<>()).def("set", [](StopFlag& flag) { flag.raised = true; });
  module.def("level_file", &level_file, py::arg("input"), py::arg("output"), py::arg("algorithm"), py::arg("window"),
             py::arg("window2"), py::arg("method"), py::arg("level_alpha"), py::arg("max_gain"), py::arg("threads"),
             py::arg("jpeg_quality"), py::arg("png_compression"), py::arg("tiff_compression"),
             py::arg("jpeg_subsampling"), py::arg("webp"), py::arg("stop") = nullptr);
  module.def("plan_folder", [](const py::bytes& input, const py::bytes& output, const std::string& format) {
    const kelvane::FolderPlan plan = kelvane::plan_folder(input, output, format);
    py::list jobs, collisions;
    for (const kelvane::FolderJob& job : plan.jobs) jobs.append(py::make_tuple(py::bytes(job.input), py::bytes(job.output)));
    for (const auto& pair : plan.collisions)
      collisions.append(py::make_tuple(py::bytes(pair.first.input), py::bytes(pair.second.input), py::bytes(pair.second.output)));
    return py::make_tuple(jobs, plan.not_pictures, collisions);
  });
  module.def("colliding_outputs", [](const std::vector<std::pair<py::bytes, py::bytes>>& pairs, const py::bytes& output) {
    std::vector<kelvane::FolderJob> jobs;
    for (const auto& pair : pairs) jobs.push_back({pair.first, pair.second});
    py::list collisions;
    for (const auto& pair : kelvane::colliding_outputs(jobs, output))
      collisions.append(py::make_tuple(py::bytes(pair.first.input), py::bytes(pair.second.input), py::bytes(pair.second.output)));
    return collisions;
  });
  module.def("is_picture_file", [](const py::bytes& path) { return kelvane::is_picture_file(path); });
  module.def("window_text", [](const std::string& text) { return kelvane::Window::parse(text).text(); });
  module.def("window_pixels", [](const std::string& text, std::size_t width, std::size_t height) {
    return kelvane::Window::parse(text).pixels_for(width, height);
  });
  module.def("notes_on", [](const std::string& algorithm, const std::string& window, const py::object& window2,
                            const std::string& method, std::size_t width, std::size_t height) {
    std::vector<std::pair<std::size_t, std::size_t>> sizes;
    if (width > 0 && height > 0) sizes.emplace_back(width, height);
    return kelvane::notes_on(operation_of(algorithm, window, window2, method, false, 1.0), sizes);
  });
  py::list algorithms;
  for (const kelvane::AlgorithmInfo& a : kelvane::algorithm_info())
    algorithms.append(py::make_tuple(a.name, a.matches, a.takes_method, a.stretches));
  py::list methods;
  for (const kelvane::GrayMethodInfo& m : kelvane::gray_method_info()) methods.append(py::make_tuple(m.name, m.description));
  py::list presets;
  for (const kelvane::Preset& p : kelvane::presets()) {
    py::dict settings;
    settings["algorithm"] = p.operation.algorithm;
    settings["window"] = p.operation.window.text();
    settings["window2"] = p.operation.window2 ? py::cast(p.operation.window2->text()) : py::none();
    settings["method"] = p.operation.method.empty() ? py::none() : py::cast(p.operation.method);
    settings["max_gain"] = std::isinf(p.operation.max_gain) ? py::none() : py::cast(p.operation.max_gain);
    presets.append(py::make_tuple(p.name, p.description, settings));
  }
  module.attr("presets") = py::tuple(presets);
  module.attr("algorithm_info") = py::tuple(algorithms);
  module.attr("gray_method_info") = py::tuple(methods);
  module.attr("writable_extensions") = py::tuple(py::cast(kelvane::writable_extensions()));
  module.attr("readable_formats") = kelvane::readable_formats();
  module.attr("version") = kelvane::version();
}
