// The shortest decimal text of a float that reads back as the same float, written as
// std::to_chars writes it (fixed or scientific notation, whichever is shorter, fixed on a tie):
// for standard libraries without the floating-point std::to_chars (the browser build's), so
// that what the program writes reads the same there.
#pragma once

// Characters shortestFloatText may write, at most ("-1.17549435e-38" and the like).
constexpr int FLOAT_TEXT_MAX = 16;

// Writes `value` at `at` (room for FLOAT_TEXT_MAX characters, no terminator) and returns the
// end of what it wrote.
char* shortestFloatText(char* at, float value);
