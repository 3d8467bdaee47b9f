#pragma once
// One input of the fuzzer: any bytes, taken as a picture file of any format the tool reads,
// go through reading, one leveling operation and writing, as a command-line run would. The
// fuzz target calls it, and so do the tests, for every input in fuzz/regressions.
#include <cstddef>
#include <cstdint>

// The first byte picks the operation and the output format; the rest is the file. Files
// that are refused are fine; a crash, a leak or undefined behaviour is a finding. Returns
// whether the file was refused (with an error of the file).
bool level_fuzz_input(const std::uint8_t* data, std::size_t size);
