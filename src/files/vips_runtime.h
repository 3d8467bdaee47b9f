#pragma once
// The picture library libvips, started on the first picture that needs it and never before:
// help, version and command-line mistakes cost no more than the program itself.
#include <string>

namespace kelvane {

// Starts libvips once for the process (later calls return at once); throws FileError if it
// cannot start. Loaders and savers then run on the calling threads and one worker, nothing
// is cached between files, and the library's warnings are not printed: every failure
// reaches the caller as an error of the file.
void start_vips();

// Takes the library's error text after a failure, so that it does not grow with every
// refused file of a long run.
std::string take_vips_error();

// Whether a failure's text says that memory (or a thread) could not be had: the library then
// failed for want of room, not because the file is damaged.
bool for_want_of_memory(const std::string& error);

}  // namespace kelvane
