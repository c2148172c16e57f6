#pragma once

#include "base/Log.h"
#include "grammar/Range.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ombrel {

// Readers of construction-file attribute values. Every reader is lenient and never fails:
// leading white space is skipped, reading stops at the first character that cannot continue
// the value, and text holding no value reads as 0 (or false). They never consult the C or C++
// locale, so a comma-decimal locale reads "2.5" as 2.5 all the same.

// A decimal integer: optional "+" or "-", then digits, accumulated modulo 2^32 (so "-1" and
// "4294967295" give the same bits). No digits: 0. The whole text is read, however long.
std::int32_t readInt(std::string_view text);
std::uint32_t readUnsigned(std::string_view text);
std::uint32_t readUnsigned(std::u16string_view text);

// A decimal number: optional sign, digits with an optional ".", an optional exponent ("e" or
// "E", optional sign, digits). Only these characters count: "nan", "inf" and hexadecimal
// floats read as 0. Rounded to the nearest 32-bit float; magnitudes beyond the float range
// give the largest finite float of that sign.
float readFloat(std::string_view text);
float readFloat(std::u16string_view text);

// True only for exactly "true".
bool readBool(std::u16string_view text);

// A hexadecimal number with an optional "0x" or "0X" prefix, after optional white space and
// sign; digits beyond 32 bits keep the low 32 bits. None when the text holds no hexadecimal
// digit.
std::optional<std::uint32_t> readSeed(std::u16string_view text);

// "[lower,upper]" or a single number (both bounds). With a comma, the first character is
// skipped whatever it is and the lower bound is read from the text up to the comma, the upper
// from the text after it. Bounds in the wrong order are swapped with a warning at `place`:
// "Float range [5,2] is in wrong order, flipping".
FloatRange readFloatRange(std::string_view text, const SourcePlace& place = SourcePlace());
// As readFloatRange with unsigned bounds ("-1" is 4294967295); the warning starts "UINT range [".
UintRange readUintRange(std::string_view text, const SourcePlace& place = SourcePlace());
// The bounds as the two readers above read them, before any swap, without a warning.
FloatRange readFloatBounds(std::string_view text);
UintRange readUintBounds(std::string_view text);

// Whether a text is exactly one value of its kind, so that the reader above repairs nothing:
// the value with nothing around it but white space. A range is a single number, or "[", a
// number, ",", a number and "]" with the bracket as the first character (reading skips the
// first character, whatever it is), white space allowed around the numbers. A boolean is "true"
// or "false"; a seed an optional sign, an optional "0x" and hexadecimal digits. Numbers too
// large for their type are plain all the same.
bool isPlainInt(std::string_view text);
bool isPlainFloat(std::string_view text);
bool isPlainBool(std::u16string_view text);
bool isPlainSeed(std::u16string_view text);
bool isPlainFloatRange(std::string_view text);
bool isPlainUintRange(std::string_view text);

} // namespace ombrel
