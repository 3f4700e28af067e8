/* libcumulex: convective-index and thermodynamic routines with C entry points.
 *
 * The converter does not link the library: it opens libcumulex.so from its
 * own directory with dlopen and looks the entry points up by name with dlsym.
 * This header gives the prototypes of the exported entry points (so that the
 * function type of a looked-up symbol can be written decltype(&cal_cape)) and
 * the pointer types of the converter's binding.
 *
 * Conventions of every entry point: it returns nothing and writes its results
 * through pointers; arrays and outputs are passed by address, input scalars by
 * value. Profiles run from level 1 (the lowest, largest pressure) upward with
 * strictly decreasing pressure in Pa; temperatures and dew points in degC.
 * A result that cannot be computed is set to the missing value passed as the
 * last argument (the converter passes 9999.0).
 */
#ifndef KELVANE_CUMULEX_H
#define KELVANE_CUMULEX_H

#if defined(CUMULEX_BUILDING)
#define CUMULEX_API __attribute__((visibility("default")))
#else
#define CUMULEX_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Thermodynamic primitives: pressures in hPa, humidities in g/kg. */
CUMULEX_API void EE(float T, float* e);
CUMULEX_API void qq(float p, float T, float* q);
CUMULEX_API void qSt(float p, float theta, float* q);
CUMULEX_API void Rs(float p, float T, float* r);
CUMULEX_API void CPhysicsChange_St(float p, float T, float* theta);
CUMULEX_API void CPhysicsChange_TSt(float p, float theta, float* T);
CUMULEX_API void CPhysicsChange_SteA(float p, float T, float* thse);
CUMULEX_API void CPhysicsChange_TSteA2(float p, float thse, float* T);
CUMULEX_API void CPhysicsChange_Ste(float p, float T, float Td, float* thse);
CUMULEX_API void CPhysicsChange_Tdqs(float p, float q, float* Td);
CUMULEX_API void LCL(float* p, float* T, float* Td, float* plcl, float* tlcl);
CUMULEX_API void cphysicschange_riset(float p, float T, float Td, float pt, float* tp);
CUMULEX_API void Tv(float p, float T, float Td, float* tv);
CUMULEX_API void interplate(float x, float* xs, float* ys, int n, float* out, float miss);
CUMULEX_API void interplate_h(float x, float* xs, float* ys, int n, float* out, float miss);
CUMULEX_API void interplate_t(float x, float* xs, float* ys, int n, float* out, float miss);
CUMULEX_API void wind_speed_direction(float u, float v, float* speed, float* dir, float miss);
CUMULEX_API void wind_u_v(float dir, float speed, float* u, float* v, float miss);
CUMULEX_API void COM_QW(float* p, float* T, float* qw);
CUMULEX_API void TW_DEX(float* p, float* T, float* Td, float* tw);
CUMULEX_API void EQU_T(float* p, float* T, float* thetae);

/* Parcel profiles and convective energy of one sounding. */
CUMULEX_API void cal_tcl(float* tclp, float* tclt, float* hgt, float* t, float* td, float* p,
                         int n, float miss);
CUMULEX_API void cal_LFC(float* plfc, float* tlfc, float* t, float* td, float* gh, float* p,
                         int n, float miss);
CUMULEX_API void cal_EL(float* pel, float* tel, float* t, float* td, float* gh, float* p,
                        int n, float miss);
CUMULEX_API void cal_cape(float* cape, float* gcape, float* t, float* td, float* gh, float* p,
                          int n, float miss);
CUMULEX_API void cal_cin(float* cin, float* t, float* td, float* gh, float* p, int n, float miss);
CUMULEX_API void cal_dcape(float* dcape, float* t, float* td, float* gh, float* p, int n,
                           float miss);
CUMULEX_API void cal_LI(float* li, float* t, float* td, float* p, int n, float miss);

/* Level indices, the equivalent potential temperature of a point and the
 * height of a temperature. */
CUMULEX_API void cal_thetse(float* thetse, float t, float td, float p, float miss);
CUMULEX_API void cal_A(float* a, float t850, float td850, float t700, float t500, float td700,
                       float td500, float miss);
CUMULEX_API void cal_si(float* si, float t500, float t850, float td850, float miss);
CUMULEX_API void cal_tt(float* tt, float t850, float td850, float t500, float miss);
CUMULEX_API void cal_sweat(float* sweat, float uwind850, float vwind850, float uwind500,
                           float vwind500, float t850, float td850, float t500, float miss);
CUMULEX_API void cal_HT(float* h, float t0, float* t, float* gh, float* p, int n, float miss);
CUMULEX_API void cal_k(float* k, float t850, float t700, float t500, float td850, float td700,
                       float miss);
CUMULEX_API void cal_mk(float* mk, float t850, float td850, float t700, float t500, float td700,
                        float tsfc, float tdsfc, float miss);
CUMULEX_API void cal_minus(float* d, float a, float b, float miss);
CUMULEX_API void cal_rh(float* rh, float t, float td, float p, float miss);
CUMULEX_API void cal_ic(float* ic, float ta, float tb, float tda, float tdb, float pa, float pb,
                        float miss);
CUMULEX_API void cal_BI(float* bi, float t500, float t850, float t700, float miss);
CUMULEX_API void cal_JI(float* ji, float t925, float t500, float miss);
CUMULEX_API void cal_mji(float* mji, float t700, float td700, float t925, float t500, float miss);
CUMULEX_API void cal_teffer(float* te, float a1, float a2, float a3, float a4, float a5, float a6,
                            float miss);
CUMULEX_API void cal_Faust(float* fa, float a1, float a2, float a3, float a4, float a5, float a6,
                           float miss);
CUMULEX_API void cal_ILC(float* ilc, float t500, float td500, float tsfc, float tdsfc, float psfc,
                         float t850, float td850, float miss);
CUMULEX_API void cal_dt75(float* dt, float a1, float a2, float a3, float a4, float miss);
CUMULEX_API void cal_dtase85(float* dt, float a1, float a2, float a3, float a4, float miss);
CUMULEX_API void CAL_dt03(float* dt, float* h, float* t, int n, float miss);

/* Pointer types of the converter's binding, one per bound entry point. */
typedef void (*PCAL_CIN)(float*, float*, float*, float*, float*, int, float);
typedef void (*PCAL_A)(float*, float, float, float, float, float, float, float);
typedef void (*PCAL_SI)(float*, float, float, float, float);
typedef void (*PCAL_RV)(double*, double*, double*, double*, double*, int, int, int, double);
typedef void (*PCAL_SWEAT)(float*, float, float, float, float, float, float, float, float);
typedef void (*PCAL_LI)(float*, float*, float*, float*, int, float);
typedef void (*PCAL_HT)(float*, float, float*, float*, float*, int, float);
typedef void (*PCAL_THETASE)(float*, float, float, float, float);
typedef void (*PCAL_SHR01)(double*, double*, double*, double*, int, int, int, double, double);
typedef void (*PCAL_EDI)(double*, double*, double*, double*, double*, int, int, int, double);
typedef void (*PCAL_CAPE)(float*, float*, float*, float*, float*, float*, int, float);
typedef void (*PCAL_DCAPE)(float*, float*, float*, float*, float*, int, float);
typedef void (*PCAL_TCL)(float*, float*, float*, float*, float*, float*, int, float);

#ifdef __cplusplus
}
#endif

#endif
