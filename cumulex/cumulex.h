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

/* Relative vorticity (1/s) of a wind on an nlon x nlat latitude-longitude
 * grid and bulk shear (1/s) from the lowest of nz levels to dz metres above
 * it on an nx x ny grid; double precision, first index fastest. */
CUMULEX_API void cal_rv(double* rv, double* u, double* v, double* latdeg, double* londeg,
                        int nlon, int nlat, int edgeopt, double dmiss);
CUMULEX_API void cal_shr01(double* shr, double* u, double* v, double* h, int nx, int ny, int nz,
                           double dmiss, double dz);

/* Indices over a whole sounding (pressures in Pa). */
CUMULEX_API void cal_shr(float* shr, float p1, float p2, float* u, float* v, float* p, float* h,
                         int n, float miss);
CUMULEX_API void cal_bic(float* bic, float* t, float* td, float* p, int n, float miss);
CUMULEX_API void cal_DCI(float* dci, float t850, float td850, float* t, float* td, float* p,
                         int n, float miss);
CUMULEX_API void cal_SSI(float* ssi, float* t, float* td, float* u, float* v, float* gh,
                         float* p, int n, float miss);
CUMULEX_API void cal_swiss(float* swiss00, float* swiss12, float* t, float* td, float* u,
                           float* v, float* gh, float* p, int n, float miss);
CUMULEX_API void cal_ccl(float* pccl, float* tccl, float* t, float* td, float* p, int n,
                         float miss);
CUMULEX_API void CAL_CCL_ZBEI(float* pccl, float* tccl, float* t, float* td, float* p, int n,
                              float miss);
CUMULEX_API void cal_wind_Tg(float* tg, float* tc, float* t, float* td, float* p, int n,
                             float miss);
CUMULEX_API void cal_pw(float* pw, float* td, float* p, int n, float miss);

/* The second index set. Its main routines take the level count, the missing
 * value and the depth of cal_SRH by value; its building blocks take every
 * argument by address. Grid routines work on 120 slots of 1000 Pa from the
 * surface pressure truncated to a whole 1000 Pa; INTPS on the 39 pressures
 * 1000, 975, ..., 50 hPa (9999 where the profile does not reach). */
CUMULEX_API void CAL_CAPE_ZBEI(float* cape, float* t, float* td, float* gh, float* p, int n,
                               float miss);
CUMULEX_API void CAL_DCAPE_ZBEI(float* dcape, float* t, float* td, float* p, int n, float miss);
CUMULEX_API void CAL_BLI_ZBEI(float* bli, float* t, float* td, float* p, int n, float miss);
CUMULEX_API void CAL_SHR_ZBEI(float* shr, float* sdir, float* u, float* v, float* h, float* h0,
                              int n, float miss);
CUMULEX_API void cal_SRH(float* srh, float depth, float* u, float* v, float* h, float* p, int n,
                         float miss);
CUMULEX_API void CAL_BRN(float* brn, float* p, float* gh, float* t, float* td, float* u,
                         float* v, int n, float miss);
CUMULEX_API void CAL_H0_UV(float* h0, float* h, float* u, float* v, int* n, float* uh,
                           float* vh);
CUMULEX_API void CAL_H0_UVPT(float* h0, float* h, float* p, float* t, float* td, float* u,
                             float* v, int* n, float* ph, float* th, float* tdh, float* uh,
                             float* vh);
CUMULEX_API void CAL_TE(float* t, float* p, int* n, float* pe, float* te);
CUMULEX_API void CAL_TE3(float* p, float* t, float* td, int* n, float* te, float* tde);
CUMULEX_API void CAL_TA(float* t0, float* p0, float* tl, float* pl, float* pt, float* ta,
                        float* miss);
CUMULEX_API void CAL_TA2(float* t0, float* p0, float* tl, float* pl, float* pe, float* ta,
                         float* miss);
CUMULEX_API void CAL_TC_PC(float* t, float* td, float* p, float* tc, float* pc, float* thse,
                           float* miss);
CUMULEX_API void COM_BLI(float* te, float* ta, float* li, float* bli, float* miss);
CUMULEX_API void CAL_VIR_ENGY(float* pe, float* te, float* tde, float* ta, int* kb, int* kt,
                              float* cape, float* miss);
CUMULEX_API void CAL_THSE0(float* p, float* t, float* thse, float* miss);
CUMULEX_API void CAL_THSE0_1(float* p, float* t, float* thse, float* miss);
CUMULEX_API void CAL_Q(float* td, float* p, int* n, float* q, float* miss);
CUMULEX_API void CAL_QS(float* t, float* p, int* n, float* qs, float* miss);
CUMULEX_API void CAL_E(float* td, int* n, float* e, float* miss);
CUMULEX_API void CAL_ES(float* t, int* n, float* es, float* miss);
CUMULEX_API void CAL_TDE(float* td, float* p, int* n, float* tde);
CUMULEX_API void INTPS(float* p, float* x, int* n, float* xo);
CUMULEX_API void INTSP2(float* x, float* y, int* n, float* xo, float* yo, int* no, float* b,
                        float* c, float* d, float* miss);

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
