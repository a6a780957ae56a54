// Sine, cosine and tangent of the program's own: the argument reduced by pi/2 in three parts
// (Cody and Waite), then the classic minimax kernels on [-pi/4, pi/4], all in double
// precision with the same operations on every system.
#include "geometry/functions.h"

#include <cmath>

namespace {

// pi/2 as a 33-bit head, whose products with a reduction count up to 2^20 are exact, and the
// two following pieces.
constexpr double PIO2_1 = 1.57079632673412561417e+00;
constexpr double PIO2_2 = 6.07710050630396597660e-11;
constexpr double PIO2_3 = 2.02226624871116645580e-21;
constexpr double TWO_OVER_PI = 6.36619772367581382433e-01;

// The reduced argument as a sum hi + lo: the one rounding of the subtraction is carried in lo
// and fed to the kernels, which keeps the result within one unit in the last place.
struct Reduced {
    double hi, lo;
    int quadrant;   // k modulo 4
};

// sin(hi + lo) for |hi| <= about pi/4.
double kernelSine(double x, double y) {
    constexpr double S1 = -1.66666666666666324348e-01, S2 = 8.33333333332248946124e-03,
                     S3 = -1.98412698298579493134e-04, S4 = 2.75573137070700676789e-06,
                     S5 = -2.50507602534068634195e-08, S6 = 1.58969099521155010221e-10;
    const double z = x * x;
    const double v = z * x;
    const double r = S2 + z * (S3 + z * (S4 + z * (S5 + z * S6)));
    return x - ((z * (0.5 * y - v * r) - y) - v * S1);
}

// cos(hi + lo) for |hi| <= about pi/4.
double kernelCosine(double x, double y) {
    constexpr double C1 = 4.16666666666666019037e-02, C2 = -1.38888888888741095749e-03,
                     C3 = 2.48015872894767294178e-05, C4 = -2.75573143513906633035e-07,
                     C5 = 2.08757232129817482790e-09, C6 = -1.13596475577881948265e-11;
    const double z = x * x;
    const double w = z * z;
    const double r = z * (C1 + z * (C2 + z * C3)) + w * w * (C4 + z * (C5 + z * C6));
    const double half = 0.5 * z;
    const double a = 1.0 - half;
    // 1 - z/2 + z r - x y, with the rounding of 1 - z/2 put back.
    return a + (((1.0 - a) - half) + (z * r - x * y));
}

// x = k pi/2 + (hi + lo) with |hi| <= about pi/4.
Reduced reduce(double x) {
    const double k = std::floor(x * TWO_OVER_PI + 0.5);
    const double head = x - k * PIO2_1;
    const double tail = k * PIO2_2 + k * PIO2_3;
    Reduced out;
    out.hi = head - tail;
    out.lo = (head - out.hi) - tail;
    out.quadrant = static_cast<int>(k - 4.0 * std::floor(k * 0.25));
    return out;
}

}  // namespace

double sine(double x) {
    if (!std::isfinite(x)) return x - x;   // NaN for NaN and the infinities
    const Reduced r = reduce(x);
    switch (r.quadrant) {
    case 0: return kernelSine(r.hi, r.lo);
    case 1: return kernelCosine(r.hi, r.lo);
    case 2: return -kernelSine(r.hi, r.lo);
    default: return -kernelCosine(r.hi, r.lo);
    }
}

double cosine(double x) {
    if (!std::isfinite(x)) return x - x;
    const Reduced r = reduce(x);
    switch (r.quadrant) {
    case 0: return kernelCosine(r.hi, r.lo);
    case 1: return -kernelSine(r.hi, r.lo);
    case 2: return -kernelCosine(r.hi, r.lo);
    default: return kernelSine(r.hi, r.lo);
    }
}

float sine(float x) { return static_cast<float>(sine(static_cast<double>(x))); }

float cosine(float x) { return static_cast<float>(cosine(static_cast<double>(x))); }

float tangent(float x) {
    const double d = static_cast<double>(x);
    return static_cast<float>(sine(d) / cosine(d));
}
