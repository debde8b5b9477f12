// The values of the number texts the SDL scanner reads. Both the token
// scanner and the scanner of list runs (list_runs.h) call these, so a number
// has one value however it was read.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sky {

// Digits only (signs are operators): as atoi, that is (int)strtol on a 64-bit
// long. A value beyond the long range saturates, and the narrowing keeps the
// low 32 bits.
std::int32_t integer_text_value(const char* text, std::size_t length);

// A real as the scanner matches one (digits with a point, an exponent or
// both; no sign): converted at double precision, then narrowed, so the float
// a scene gets for "0.1" is the one the renderer has always read. Beyond the
// double range it is the infinity or the underflowed value strtod gives.
float real_text_value(const char* text, std::size_t length);

// Round-to-nearest narrowing that stays defined for values beyond the float
// range: they become the largest float or infinity, as the hardware would.
float narrow_to_float(double value);

}  // namespace sky
