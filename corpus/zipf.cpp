#include "corpus/zipf.hpp"

#include <cmath>

// log1p(x) / x and expm1(x) / x, with their limits near 0.
static double log1pratio(double x)
{
    return std::fabs(x) > 1e-8 ? std::log1p(x) / x : 1.0 - x * (0.5 - x * (1.0 / 3.0 - 0.25 * x));
}
static double expm1ratio(double x)
{
    return std::fabs(x) > 1e-8 ? std::expm1(x) / x : 1.0 + x * 0.5 * (1.0 + x / 3.0 * (1.0 + 0.25 * x));
}

// H(x), an antiderivative of x^-s, and its inverse.
static double zipfh(const zipflaw &z, double x)
{
    double logx = std::log(x);
    return expm1ratio((1.0 - z.s) * logx) * logx;
}
static double zipfhinverse(const zipflaw &z, double x)
{
    double t = x * (1.0 - z.s);
    if (t < -1.0)
        t = -1.0;
    return std::exp(log1pratio(t) * x);
}
static double zipfdensity(const zipflaw &z, double x) { return std::exp(-z.s * std::log(x)); }

zipflaw zipfcreate(std::uint32_t n, double s)
{
    zipflaw z{s, 0, 0, 0, n};
    z.hx1 = zipfh(z, 1.5) - 1.0;
    z.hn = zipfh(z, n + 0.5);
    z.knee = 2.0 - zipfhinverse(z, zipfh(z, 2.5) - zipfdensity(z, 2.0));
    return z;
}

std::uint32_t zipfdraw(const zipflaw &z, rng &r)
{
    for (;;) {
        double u = z.hn + rngunit(r) * (z.hx1 - z.hn);
        double x = zipfhinverse(z, u);
        double k = std::floor(x + 0.5);
        if (k < 1.0)
            k = 1.0;
        else if (k > z.n)
            k = z.n;
        if (k - x <= z.knee || u >= zipfh(z, k + 0.5) - zipfdensity(z, k))
            return static_cast<std::uint32_t>(k);
    }
}
