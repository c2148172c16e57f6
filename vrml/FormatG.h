#pragma once

// printf's "%g" for a float (six significant digits, trailing zeros dropped, exponent form
// outside 1e-4 .. 1e6), the way the writer prints every number. Byte for byte what
// std::to_chars(first, last, double(value), std::chars_format::general, 6) gives, whatever the
// C locale, but several times faster for the values a city holds.

namespace ombrel {

// Space formatG may need; the text is never longer.
inline constexpr int kFormatGMax = 16;

// Writes the text at out (at least kFormatGMax bytes) and returns the end of it.
char* formatG(char* out, float value);

} // namespace ombrel
