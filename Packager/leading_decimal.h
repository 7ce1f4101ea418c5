// The number at the start of a text, as the runtime's atoi reads it.
#pragma once

#include <climits>
#include <cstddef>

namespace qnvpd {

// Leading blanks (as isBlank tells them) skipped, an optional sign, then the
// digits up to the first non-digit; 0 without digits. Values beyond the int
// range saturate instead of wrapping.
template <typename Char, typename IsBlank>
int ParseLeadingNumber(const Char* text, size_t length, IsBlank isBlank) {
  size_t at = 0;
  while (at < length && isBlank(text[at])) ++at;
  bool negative = false;
  if (at < length && (text[at] == Char('+') || text[at] == Char('-'))) {
    negative = text[at] == Char('-');
    ++at;
  }
  long long magnitude = 0;
  for (; at < length && text[at] >= Char('0') && text[at] <= Char('9'); ++at) {
    if (magnitude <= static_cast<long long>(INT_MAX) + 1) {
      magnitude = magnitude * 10 + (text[at] - Char('0'));
    }
  }
  const long long number = negative ? -magnitude : magnitude;
  if (number > INT_MAX) return INT_MAX;
  if (number < INT_MIN) return INT_MIN;
  return static_cast<int>(number);
}

}  // namespace qnvpd
