// The derivations' toolbox: the convective-index library bound at run time
// from the program directory, and the formulas computed here.
#pragma once

#include "cumulex/cumulex.h"

#include <QString>

class physicalQuantity {
public:
    // Binds libcumulex.so beside the executable; a library that cannot be
    // loaded leaves every pointer null and the run goes on.
    physicalQuantity();
    // Binds the library at `path` (the program uses the program directory).
    explicit physicalQuantity(const QString& path);

    PCAL_CIN cal_cin = nullptr;
    PCAL_A cal_A = nullptr;
    PCAL_SI cal_si = nullptr;
    PCAL_RV cal_rv = nullptr;
    PCAL_SWEAT cal_sweat = nullptr;
    PCAL_LI cal_li = nullptr;
    PCAL_HT cal_HT = nullptr;
    PCAL_THETASE cal_thetse = nullptr;
    PCAL_SHR01 cal_shr01 = nullptr;
    PCAL_EDI cal_edi = nullptr;
    PCAL_CAPE cal_cape = nullptr;
    PCAL_DCAPE cal_dcape = nullptr;
    PCAL_TCL cal_tcl = nullptr;

    bool bound() const { return m_bound; }

    // Saturation vapour pressure (hPa) over water, and over water or ice.
    static double ee(float t);
    static double ee_pl(float t);

    // Dew point (K) from temperature (K) and relative humidity (%).
    static float cal_TD(float t, float rh);
    // Relative humidity (%) from temperature and dew point (K).
    static float cal_RH(float t, float td);
    // Vertical velocity from omega, temperature and pressure.
    static float cal_W(float omega, float t, float p);
    // Potential temperature of n points at pressure p (hPa); a result that is
    // not a number becomes `missing`.
    static void cal_PT(double* pt, const double* t, int n, int p, float missing);
    static float cal_TT(float t500, float t850, float rh850);
    static float cal_KI(float t500, float t700, float t850, float rh700, float rh850);
    static float cal_LI(float t500, float t1000);
    static float cal_VOR(float vb, float ve, float uc, float ud, float slon, float slat);
    // Precipitable water (mm) of a column ordered from the highest pressure.
    static void cal_pw(float* pw, const float* td, const float* p, int nz, float missing);

    // Temperature and vorticity advection on a grid of nlon x nlat points
    // (index = row * nlon + column) with the given axes in degrees. Each
    // point takes its own row's latitude; the derivatives use the axes' own
    // spacing, with its sign. Points without the neighbours a difference
    // needs get `missing`. The vorticity advected is that of the wind, so the
    // height field is not used.
    static void cal_tmpa(double* tmpa, const double* u, const double* v, const double* t, const double* lon,
                         const double* lat, float missing, int nlon, int nlat);
    static void cal_vora(double* vora, const double* u, const double* v, const double* h, const double* lon,
                         const double* lat, float missing, int nlon, int nlat);

private:
    void bind(const QString& path);
    bool m_bound = false;
};
