// The Python module: kelvane's leveling on numpy arrays, and on files as the command line
// does it. Arrays go to the library as they are (any strides, no copy); the result is a new
// array of the input's shape and type.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <sys/mman.h>

#include <cstdint>
#include <new>
#include <string>

#include "kelvane/kelvane.h"
#include "leveling/algorithms.h"
#include "leveling/window_arg.h"

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
  if (type.is(py::dtype::of<std::uint8_t>())) return kelvane::Sample::u8;
  if (type.is(py::dtype::of<std::uint16_t>())) return kelvane::Sample::u16;
  if (type.is(py::dtype::of<float>())) return kelvane::Sample::f32;
  if (type.is(py::dtype::of<double>())) return kelvane::Sample::f64;
  throw py::type_error("kelvane levels arrays of uint8, uint16, float32 or float64, not " +
                       std::string(py::str(static_cast<const py::handle&>(type))));
}

// Window `which` (0 or 1) of the operation: a whole number of pixels as the command line
// takes it (a negative one wraps to a window over the whole picture), or the command line's
// text of one, or of a share of the shorter side ("5%").
void set_window(kelvane::Operation& operation, int which, const py::handle& value) {
  if (py::isinstance<py::bool_>(value) ||
      !(py::isinstance<py::int_>(value) || py::isinstance<py::str>(value) || py::hasattr(value, "__index__")))
    throw py::type_error("a window is a whole number of pixels or a text such as \"5%\", not " +
                         std::string(py::str(value.get_type().attr("__name__"))));
  const std::string text =
      py::isinstance<py::str>(value) ? value.cast<std::string>() : std::string(py::str(value.attr("__index__")()));
  kelvane::WindowShare share = kelvane::no_share;
  std::uint32_t& pixels = which == 0 ? operation.window1 : operation.window2;
  if (kelvane::parse_window_share(text.c_str(), share))
    (which == 0 ? operation.window1_percent : operation.window2_percent) = kelvane::percent_of(share);
  else if (!kelvane::parse_window(text.c_str(), pixels))
    throw py::value_error("Illegal window: {" + text + "}. Try {31}.");
}

kelvane::Options options_of(const py::object& threads) {
  kelvane::Options options;
  if (!threads.is_none()) {
    const long n = threads.cast<long>();
    if (n < 1) throw py::value_error("threads must be at least 1");
    options.threads = static_cast<unsigned>(n);
  }
  return options;
}

py::array level(const py::array& image, const std::string& algorithm, const py::object& window,
                const py::object& window2, const py::object& method, const py::object& threads,
                const py::object& alpha, const py::object& max_gain) {
  const kelvane::Sample sample = sample_of(image);
  if (image.ndim() != 2 && image.ndim() != 3)
    throw py::type_error("kelvane levels arrays of height x width or height x width x channels, not of " +
                         std::to_string(image.ndim()) + " dimensions");
  kelvane::Operation operation;
  operation.algorithm = algorithm;
  set_window(operation, 0, window);
  if (!window2.is_none()) {
    set_window(operation, 1, window2);
    operation.windows = 2;
  }
  if (!max_gain.is_none()) operation.max_gain = max_gain.cast<double>();
  if (!method.is_none()) operation.method = method.cast<std::string>();
  const kelvane::Algorithm* known = kelvane::find_algorithm(algorithm.c_str());
  if (known && known->takes_method && method.is_none())
    throw py::value_error("Function {" + algorithm + "} needs a gray method, one of kelvane.GRAY_METHODS.");
  kelvane::check(operation);
  const kelvane::Options options = options_of(threads);

  const std::size_t channels = image.ndim() == 3 ? static_cast<std::size_t>(image.shape(2)) : 1;
  kelvane::PictureView in;
  in.data = const_cast<void*>(image.data());
  in.height = static_cast<std::size_t>(image.shape(0));
  in.width = static_cast<std::size_t>(image.shape(1));
  in.channels = channels;
  in.sample = sample;
  in.row_stride = image.strides(0);
  in.pixel_stride = image.strides(1);
  in.channel_stride = image.ndim() == 3 ? image.strides(2) : 0;
  // Alpha: by default the last of 2 or 4 channels, as in PNG files; False for none.
  if (alpha.is_none()) in.alpha = channels == 2 || channels == 4 ? static_cast<int>(channels) - 1 : -1;
  else if (py::isinstance<py::bool_>(alpha)) in.alpha = alpha.cast<bool>() ? static_cast<int>(channels) - 1 : -1;
  else in.alpha = alpha.cast<int>();
  if (in.alpha < -1 || in.alpha >= static_cast<int>(channels))
    throw py::value_error("alpha names no channel of an array of " + std::to_string(channels));

  py::array result = new_array(image.dtype(), std::vector<py::ssize_t>(image.shape(), image.shape() + image.ndim()));
  kelvane::PictureView out = in;
  out.data = result.mutable_data();
  out.row_stride = result.strides(0);
  out.pixel_stride = result.strides(1);
  out.channel_stride = result.ndim() == 3 ? result.strides(2) : 0;
  {
    py::gil_scoped_release unlocked;
    kelvane::level(in, out, operation, options);
  }
  return result;
}

// As the command line: the algorithm's windows and, for the _fn algorithms, the method.
void level_file(const std::string& input, const std::string& output, const std::string& algorithm,
                const py::args& arguments, const py::object& threads, const py::object& max_gain) {
  const kelvane::Algorithm* known = kelvane::find_algorithm(algorithm.c_str());
  kelvane::Operation operation;
  operation.algorithm = algorithm;
  if (!known) kelvane::check(operation);  // the illegal-function error
  const int windows = kelvane::window_count(*known, static_cast<int>(arguments.size()) + 2);
  if (windows == 0)
    throw py::value_error("Function {" + algorithm + "} does not take " + std::to_string(arguments.size() + 2) +
                          " parameters.");
  if (known->takes_method) operation.method = py::str(arguments[arguments.size() - 1]);
  operation.windows = windows;
  set_window(operation, 0, arguments[0]);
  if (windows == 2) set_window(operation, 1, arguments[1]);
  if (!max_gain.is_none()) operation.max_gain = max_gain.cast<double>();
  kelvane::check(operation);
  const kelvane::Options options = options_of(threads);
  py::gil_scoped_release unlocked;
  kelvane::level_file(input, output, operation, options);
}

}  // namespace

PYBIND11_MODULE(_kelvane, module) {
  module.doc() = "kelvane's leveling of uneven brightness and contrast (see the package kelvane)";
  // The library's errors in Python's terms; the words are the command line's.
  py::register_exception_translator([](std::exception_ptr failure) {
    try {
      if (failure) std::rethrow_exception(failure);
    } catch (const kelvane::Error& e) {
      const std::string what = e.what();
      if (e.kind() == kelvane::Error::Kind::file) PyErr_SetString(PyExc_OSError, e.what());
      else if (what.find("MiB available") != std::string::npos) PyErr_SetString(PyExc_MemoryError, e.what());
      else PyErr_SetString(PyExc_ValueError, e.what());
    }
  });
  module.def("level", &level, py::arg("image"), py::arg("algorithm"), py::arg("window"), py::arg("window2") = py::none(),
             py::arg("method") = py::none(), py::arg("threads") = py::none(), py::arg("alpha") = py::none(),
             py::arg("max_gain") = py::none());
  module.def("level_file", &level_file, py::arg("input"), py::arg("output"), py::arg("algorithm"),
             py::arg("threads") = py::none(), py::arg("max_gain") = py::none());
  module.def("is_picture_file", [](const std::string& path) { return kelvane::is_picture_file(path); },
             py::arg("path"), "Whether the file looks like a picture kelvane reads, from its first bytes.");
  py::list algorithms, methods;
  for (const std::string& a : kelvane::algorithms()) algorithms.append(a);
  for (const std::string& m : kelvane::gray_methods()) methods.append(m);
  module.attr("ALGORITHMS") = py::tuple(algorithms);
  module.attr("GRAY_METHODS") = py::tuple(methods);
  module.attr("__version__") = KELVANE_VERSION;
}
