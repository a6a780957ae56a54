// What Emscripten 3.1's C++ library lacks of C++20 and the program uses, given to every file of
// the browser build on the command line: std::bit_cast, from the compiler's own builtin.
#pragma once

#include <bit>

#if !defined(__cpp_lib_bit_cast)
namespace std {
template <class To, class From>
constexpr To bit_cast(const From& from) noexcept {
    static_assert(sizeof(To) == sizeof(From), "bit_cast between types of one size");
    return __builtin_bit_cast(To, from);
}
}  // namespace std
#endif
