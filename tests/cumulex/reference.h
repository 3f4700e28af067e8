// Double-precision reference relations for checking libcumulex: the Magnus
// saturation vapour pressure, humidity, Poisson's equation, the equivalent
// potential temperature of saturated air and its moist adiabat solved to
// 1e-9 K, virtual temperature, and integrals over ln p on a fine grid.
#pragma once

#include <functional>
#include <vector>

namespace reference {

const double kR = 287.3;  // gas constant of the library's energy integrals

double es(double T);                  // hPa, over water from 0 degC, over ice below
double q(double p, double T);         // specific humidity at saturation, g/kg
double theta(double p, double T);     // potential temperature, degC
double dryT(double p, double theta);  // temperature on the dry adiabat, degC
double thse(double p, double T);      // saturated equivalent potential temperature, degC
double moistT(double p, double thse); // temperature on the moist adiabat, degC
double tv(double p, double T, double Td);

// Bolton's condensation temperature (K in, K out) and the pressure at which
// the dry adiabat from (p, T) reaches it.
double boltonLclT(double Tk, double Tdk);
double boltonLclP(double p, double T, double Td);

// A sounding: level pressures (hPa, decreasing), temperatures and dew points
// (degC), interpolated linearly in ln p between levels and extrapolated from
// the two outermost levels.
struct Sounding {
    std::vector<double> p, t, td;
    double T(double pp) const { return at(t, pp); }
    double Td(double pp) const { return at(td, pp); }
    double Tv(double pp) const { return tv(pp, T(pp), Td(pp)); }
    double at(const std::vector<double>& y, double pp) const;

    // Single-precision arrays for the library, pressures in Pa.
    std::vector<float> tf() const;
    std::vector<float> tdf() const;
    std::vector<float> pPa() const;
    std::vector<float> gh() const;  // heights that the routines ignore
};

// R * integral of |f| over ln p from pLow to pHigh (hPa, pLow < pHigh).
double energy(const std::function<double(double)>& f, double pLow, double pHigh);

// Pressures (hPa) between pTop and pBottom where f changes sign, from the
// bottom up, found on a 0.01-hPa grid.
std::vector<double> crossings(const std::function<double(double)>& f, double pBottom,
                              double pTop);

}  // namespace reference
