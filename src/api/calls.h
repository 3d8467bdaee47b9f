#pragma once
// What every call of the public interface shares: the operation and options as the layers
// below take them, and their failures turned into kelvane::Error.
#include <cerrno>
#include <new>

#include "files/file_error.h"
#include "kelvane/kelvane.h"
#include "leveling/algorithms.h"
#include "stream/level_page.h"

namespace kelvane {

// The operation as the stream takes it; throws Error for what cannot be done.
Leveling leveling_of(const Operation& operation);

// Throws Error (illegal_option) for an encoding option out of its range.
void check_options(const Options& options);

// Threads, memory and progress as the stream takes them. The options' progress, asked to
// stop, throws Cancelled from the calling thread.
StreamSettings settings_of(const Options& options);

struct Cancelled {};

// The layout of a picture in memory, as the stream reads and writes it: integer samples stand
// for code / (2^b - 1), floating-point ones for themselves; `alpha` its channel or -1.
PageLayout memory_layout(const PictureView& view, int alpha);

// Runs a call, turning the failures of the layers below into Error.
template <class Call>
auto reported(Call call) -> decltype(call()) {
  try {
    return call();
  } catch (const FileError& e) {
    throw Error(e.error_number == ENOMEM ? Error::Kind::memory : Error::Kind::file, e.what(), e.path, e.error_number);
  } catch (const std::bad_alloc&) {
    throw Error(Error::Kind::memory, "not enough memory to level the picture");
  } catch (const Cancelled&) {
    throw Error(Error::Kind::cancelled, "cancelled");
  }
}

}  // namespace kelvane
