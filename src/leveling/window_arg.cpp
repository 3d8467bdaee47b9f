#include "leveling/window_arg.h"

#include <cctype>

namespace kelvane {

bool parse_window(const char* text, std::uint32_t& window) {
  const char* digit = text;
  const bool negative = *digit == '-';
  if (*digit == '-' || *digit == '+') ++digit;
  if (*digit == '\0') return false;
  // Saturates past 2^32 so that long numbers cannot overflow.
  unsigned long long magnitude = 0;
  for (; *digit != '\0'; ++digit) {
    if (!std::isdigit(static_cast<unsigned char>(*digit))) return false;
    if (magnitude <= 0xFFFFFFFFull) magnitude = magnitude * 10 + static_cast<unsigned>(*digit - '0');
  }
  constexpr unsigned long long two_to_31 = 0x80000000ull, largest = 0xFFFFFFFFull;
  if (negative)
    window = magnitude > two_to_31 ? static_cast<std::uint32_t>(largest)
                                   : static_cast<std::uint32_t>((largest + 1 - magnitude) & largest);
  else
    window = static_cast<std::uint32_t>(magnitude > largest ? largest : magnitude);
  return true;
}

}  // namespace kelvane
