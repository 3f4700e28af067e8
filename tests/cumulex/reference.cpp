#include "reference.h"

#include <cmath>

namespace reference {

double es(double T)
{
    const double a = T >= 0.0 ? 7.5 : 9.5;
    const double b = T >= 0.0 ? 237.3 : 265.5;
    return 6.112 * std::pow(10.0, a * T / (T + b));
}

double q(double p, double T)
{
    const double e = es(T);
    return 622.0 * e / (p - 0.378 * e);
}

double theta(double p, double T)
{
    return (T + 273.16) * std::pow(1000.0 / p, 0.286) - 273.16;
}

double dryT(double p, double th)
{
    return (th + 273.16) * std::pow(p / 1000.0, 0.286) - 273.16;
}

double thse(double p, double T)
{
    const double Tk = T + 273.15;
    const double e = es(T);
    return Tk * std::pow(1000.0 / (p - e), 0.2866) * std::exp(2.490086 * q(p, T) / Tk) - 273.15;
}

double moistT(double p, double target)
{
    double lo = -180.0, hi = 60.0;
    while (hi - lo > 1e-9) {
        const double mid = 0.5 * (lo + hi);
        (thse(p, mid) < target ? lo : hi) = mid;
    }
    return 0.5 * (lo + hi);
}

double tv(double p, double T, double Td)
{
    return (T + 273.15) * (1.0 + 0.608 * q(p, Td) / 1000.0) - 273.15;
}

double boltonLclT(double Tk, double Tdk)
{
    return 1.0 / (1.0 / (Tdk - 56.0) + std::log(Tk / Tdk) / 800.0) + 56.0;
}

double boltonLclP(double p, double T, double Td)
{
    const double Tk = T + 273.15;
    return p * std::pow(boltonLclT(Tk, Td + 273.15) / Tk, 1.0 / 0.286);
}

double Sounding::at(const std::vector<double>& y, double pp) const
{
    const size_t n = p.size();
    size_t i = 0;
    if (pp >= p[0])
        i = 0;
    else if (pp <= p[n - 1])
        i = n - 2;
    else
        while (!(p[i] >= pp && pp >= p[i + 1]))
            ++i;
    const double w = (std::log(p[i]) - std::log(pp)) / (std::log(p[i]) - std::log(p[i + 1]));
    return y[i] + (y[i + 1] - y[i]) * w;
}

static std::vector<float> toFloat(const std::vector<double>& v, double scale)
{
    std::vector<float> out;
    for (double x : v)
        out.push_back(static_cast<float>(x * scale));
    return out;
}

std::vector<float> Sounding::tf() const { return toFloat(t, 1.0); }
std::vector<float> Sounding::tdf() const { return toFloat(td, 1.0); }
std::vector<float> Sounding::pPa() const { return toFloat(p, 100.0); }

std::vector<float> Sounding::gh() const
{
    std::vector<float> h;
    for (double pp : p)
        h.push_back(static_cast<float>(44330.0 * (1.0 - std::pow(pp / 1013.25, 0.1903))));
    return h;
}

double energy(const std::function<double(double)>& f, double pLow, double pHigh)
{
    const int steps = static_cast<int>(std::ceil((pHigh - pLow) / 0.01));
    const double dl = (std::log(pHigh) - std::log(pLow)) / steps;
    double sum = 0.0;
    double prev = std::fabs(f(pLow));
    for (int i = 1; i <= steps; ++i) {
        const double cur = std::fabs(f(std::exp(std::log(pLow) + dl * i)));
        sum += 0.5 * (prev + cur) * dl;
        prev = cur;
    }
    return kR * sum;
}

std::vector<double> crossings(const std::function<double(double)>& f, double pBottom,
                              double pTop)
{
    std::vector<double> out;
    double prevP = pBottom;
    double prev = f(pBottom);
    for (double pp = pBottom - 0.01; pp >= pTop; pp -= 0.01) {
        const double cur = f(pp);
        if ((prev > 0.0) != (cur > 0.0))
            out.push_back(prevP - 0.01 * prev / (prev - cur));
        prev = cur;
        prevP = pp;
    }
    return out;
}

}  // namespace reference
