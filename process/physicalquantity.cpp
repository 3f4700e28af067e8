#include "process/physicalquantity.h"

#include "logging/programdir.h"

#include <QFile>

#include <cmath>
#include <cstdio>
#include <dlfcn.h>
#include <vector>

namespace {

constexpr float kT0 = 273.15f;
constexpr double kD = 3.1415926 / 180.0;  // one degree in radians
constexpr double kR = 6371000.0;

template <typename T>
void bindSymbol(void* handle, const char* name, T& slot)
{
    slot = reinterpret_cast<T>(dlsym(handle, name));
}

}  // namespace

physicalQuantity::physicalQuantity()
{
    bind(programDirectory() + "/libcumulex.so");
}

physicalQuantity::physicalQuantity(const QString& path)
{
    bind(path);
}

void physicalQuantity::bind(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    std::printf("load:%s\n", name.constData());
    void* handle = dlopen(name.constData(), RTLD_LAZY);
    std::printf("%s\n", name.constData());
    if (!handle) {
        std::printf("can not load libcumulex.so (tried %s)\n", name.constData());
        std::fflush(stdout);
        return;
    }
    bindSymbol(handle, "cal_cin", cal_cin);
    bindSymbol(handle, "cal_A", cal_A);
    bindSymbol(handle, "cal_si", cal_si);
    bindSymbol(handle, "cal_rv", cal_rv);
    bindSymbol(handle, "cal_sweat", cal_sweat);
    bindSymbol(handle, "cal_LI", cal_li);
    bindSymbol(handle, "cal_HT", cal_HT);
    bindSymbol(handle, "cal_thetse", cal_thetse);
    bindSymbol(handle, "cal_shr01", cal_shr01);
    bindSymbol(handle, "cal_rv", cal_edi);
    bindSymbol(handle, "cal_cape", cal_cape);
    bindSymbol(handle, "cal_dcape", cal_dcape);
    bindSymbol(handle, "cal_tcl", cal_tcl);
    m_bound = true;
    std::fflush(stdout);
}

double physicalQuantity::ee(float t)
{
    return 6.112 * std::exp(17.678 * t / (t + 243.5));
}

double physicalQuantity::ee_pl(float t)
{
    if (t >= 0)
        return 6.112 * std::pow(10.0, 7.5 * t / (t + 237.3));
    return 6.112 * std::pow(10.0, 9.5 * t / (t + 265.5));
}

float physicalQuantity::cal_TD(float t, float rh)
{
    const double c = static_cast<double>(t) - 273.15;
    const float fraction = rh / 100.0f;
    const double b = std::log(fraction * std::exp(17.678 * c / (c + 243.5)));
    return static_cast<float>(243.5 * b / (17.678 - b) + 273.15);
}

float physicalQuantity::cal_RH(float t, float td)
{
    return static_cast<float>(ee(td - kT0) / ee(t - kT0) * 100.0);
}

float physicalQuantity::cal_W(float omega, float t, float p)
{
    return -omega * 2870.4f * t / (p * 980.655f) / 1000.0f;
}

void physicalQuantity::cal_PT(double* pt, const double* t, int n, int p, float missing)
{
    // The pressure ratio in floating point: 1000 / 850 is not 1.
    const double factor = std::pow(1000.0 / static_cast<double>(p), 0.286);
    for (int i = 0; i < n; ++i) {
        pt[i] = t[i] * factor;
        if (std::isnan(pt[i]))
            pt[i] = missing;
    }
}

float physicalQuantity::cal_TT(float t500, float t850, float rh850)
{
    const float td850 = cal_TD(t850, rh850);
    const float a = t850 - kT0, b = td850 - kT0, c = t500 - kT0;
    return a + b - 2.0f * c;
}

float physicalQuantity::cal_KI(float t500, float t700, float t850, float rh700, float rh850)
{
    const float td850 = cal_TD(t850, rh850);
    const float td700 = cal_TD(t700, rh700);
    const float a = t850 - kT0, b = t500 - kT0, c = td850 - kT0, d = t700 - kT0, e = td700 - kT0;
    return a - b + c - (d - e);
}

float physicalQuantity::cal_LI(float t500, float t1000)
{
    const float a = t500 - kT0, b = t1000 - kT0;
    return a - b * 0.8304700240908941f;
}

float physicalQuantity::cal_VOR(float vb, float ve, float uc, float ud, float slon, float slat)
{
    if (slon == 0.0f || slat == 0.0f)
        return 0.0f;
    return (vb - ve) / slon - (ud - uc) / slat;
}

void physicalQuantity::cal_pw(float* pw, const float* td, const float* p, int nz, float missing)
{
    std::vector<float> ph(static_cast<size_t>(nz > 0 ? nz : 0)), q(ph.size());
    for (int i = 0; i < nz; ++i) {
        ph[i] = p[i] / 100.0f;
        const float h = ph[i];
        if (td[i] != missing && !std::isnan(td[i]) && h != 1.0f && h != 2.0f && h != 3.0f && h != 5.0f &&
            h != 7.0f) {
            const double e = ee_pl(td[i]);
            q[i] = static_cast<float>(622.0 * e / (h - 0.378 * e));
        } else {
            q[i] = missing;
        }
    }
    float sum = 0.0f;
    for (int i = 0; i + 1 < nz; ++i) {
        if (q[i] == missing || q[i + 1] == missing)
            continue;
        sum = sum + (ph[i] - ph[i + 1]) * (q[i] + q[i + 1]) / 2.0f / (100.0f * 9.81f) * 10.0f;
        if (sum < 0.0f)
            sum = 0.0f;
    }
    *pw = sum;
}

void physicalQuantity::cal_tmpa(double* tmpa, const double* u, const double* v, const double* t, const double* lon,
                                const double* lat, float missing, int nlon, int nlat)
{
    for (int r = 0; r < nlat; ++r) {
        for (int c = 0; c < nlon; ++c) {
            const int i = r * nlon + c;
            if (r == 0 || r == nlat - 1 || c == 0 || c == nlon - 1) {
                tmpa[i] = missing;
                continue;
            }
            const double phi = lat[r] * kD;
            const double dx = std::cos(phi) * kR * (lon[c + 1] - lon[c - 1]) * kD;
            const double dy = kR * (lat[r + 1] - lat[r - 1]) * kD;
            tmpa[i] = u[i] * (t[i + 1] - t[i - 1]) / dx + v[i] * (t[i + nlon] - t[i - nlon]) / dy;
        }
    }
}

void physicalQuantity::cal_vora(double* vora, const double* u, const double* v, const double*, const double* lon,
                                const double* lat, float missing, int nlon, int nlat)
{
    const size_t n = nlon > 0 && nlat > 0 ? static_cast<size_t>(nlon) * static_cast<size_t>(nlat) : 0;
    // The wind's relative vorticity.
    std::vector<double> z(n, missing);
    for (int r = 1; r + 1 < nlat; ++r) {
        for (int c = 1; c + 1 < nlon; ++c) {
            const int i = r * nlon + c;
            const double phi = lat[r] * kD;
            const double dlon = (lon[c + 1] - lon[c - 1]) * kD;
            const double dlat = (lat[r + 1] - lat[r - 1]) * kD;
            z[i] = 2.0 * ((v[i + 1] - v[i - 1]) / (std::cos(phi) * dlon) - (u[i + nlon] - u[i - nlon]) / dlat) /
                       (2.0 * kR) +
                   2.0 * u[i] * std::tan(phi) / (2.0 * kR);
        }
    }
    for (int r = 0; r < nlat; ++r) {
        for (int c = 0; c < nlon; ++c) {
            const int i = r * nlon + c;
            if (r < 2 || r > nlat - 3 || c < 2 || c > nlon - 3) {
                vora[i] = missing;
                continue;
            }
            const double phi = lat[r] * kD;
            const double dx = std::cos(phi) * kR * (lon[c + 1] - lon[c - 1]) * kD;
            const double dy = kR * (lat[r + 1] - lat[r - 1]) * kD;
            vora[i] = u[i] * (z[i + 1] - z[i - 1]) / dx + v[i] * (z[i + nlon] - z[i - nlon]) / dy;
        }
    }
}
