// Internal routines of libcumulex. Each takes every argument by address; the
// exported C entry points copy their by-value scalars and call these. The
// arithmetic is single precision except in the grid routines (double).
#pragma once

namespace convective_index_utils {

// Thermodynamic primitives (pressures in hPa).
void EE(const float* T, float* e);
void qq(const float* p, const float* T, float* q);
void qSt(const float* p, const float* theta, float* q);
void Rs(const float* p, const float* T, float* r);
void CPhysicsChange_St(const float* p, const float* T, float* theta);
void CPhysicsChange_TSt(const float* p, const float* theta, float* T);
void CPhysicsChange_SteA(const float* p, const float* T, float* thse);
void CPhysicsChange_TSteA2(const float* p, const float* thse, float* T);
void CPhysicsChange_Ste(const float* p, const float* T, const float* Td, float* thse);
void CPhysicsChange_Tdqs(const float* p, const float* q, float* Td);
void LCL(const float* p, const float* T, const float* Td, float* plcl, float* tlcl);
void cphysicschange_riset(const float* p, const float* T, const float* Td, const float* pt,
                          float* tp);
void Tv(const float* p, const float* T, const float* Td, float* tv);
void interplate(const float* x, const float* xs, const float* ys, const int* n, float* out,
                const float* miss);
void interplate_h(const float* x, const float* xs, const float* ys, const int* n, float* out,
                  const float* miss);
void interplate_t(const float* x, const float* xs, const float* ys, const int* n, float* out,
                  const float* miss);
void wind_speed_direction(const float* u, const float* v, float* speed, float* dir,
                          const float* miss);
void wind_u_v(const float* dir, const float* speed, float* u, float* v, const float* miss);
void COM_QW(const float* p, const float* T, float* qw);
void TW_DEX(const float* p, const float* T, const float* Td, float* tw);
void EQU_T(const float* p, const float* T, float* thetae);

// Parcel profiles and convective energy (profile pressures in Pa).
bool usable_pressures(const float* p, int n, float miss);
// The first level, from level 1 upward, where both temperature and dew point
// are present; -1 when there is none.
int first_complete_level(const float* t, const float* td, int n, float miss);
void cal_tcl(float* tclp, float* tclt, float* hgt, const float* t, const float* td,
             const float* p, const int* n, const float* miss);
void cal_LFC(float* plfc, float* tlfc, const float* t, const float* td, const float* gh,
             const float* p, const int* n, const float* miss);
void cal_EL(float* pel, float* tel, const float* t, const float* td, const float* gh,
            const float* p, const int* n, const float* miss);
void cal_cape(float* cape, float* gcape, const float* t, const float* td, const float* gh,
              const float* p, const int* n, const float* miss);
void cal_cin(float* cin, const float* t, const float* td, const float* gh, const float* p,
             const int* n, const float* miss);
void cal_dcape(float* dcape, const float* t, const float* td, const float* gh, const float* p,
               const int* n, const float* miss);
void cal_LI(float* li, const float* t, const float* td, const float* p, const int* n,
            const float* miss);

// Level indices.
void cal_thetse(float* thetse, const float* t, const float* td, const float* p,
                const float* miss);
void cal_A(float* a, const float* t850, const float* td850, const float* t700,
           const float* t500, const float* td700, const float* td500, const float* miss);
void cal_si(float* si, const float* t500, const float* t850, const float* td850,
            const float* miss);
void cal_tt(float* tt, const float* t850, const float* td850, const float* t500,
            const float* miss);
void cal_sweat(float* sweat, const float* uwind850, const float* vwind850,
               const float* uwind500, const float* vwind500, const float* t850,
               const float* td850, const float* t500, const float* miss);
void cal_HT(float* h, const float* t0, const float* t, const float* gh, const float* p,
            const int* n, const float* miss);
void cal_k(float* k, const float* t850, const float* t700, const float* t500,
           const float* td850, const float* td700, const float* miss);
void cal_mk(float* mk, const float* t850, const float* td850, const float* t700,
            const float* t500, const float* td700, const float* tsfc, const float* tdsfc,
            const float* miss);
void cal_minus(float* d, const float* a, const float* b, const float* miss);
void cal_rh(float* rh, const float* t, const float* td, const float* p, const float* miss);
void cal_ic(float* ic, const float* ta, const float* tb, const float* tda, const float* tdb,
            const float* pa, const float* pb, const float* miss);
void cal_BI(float* bi, const float* t500, const float* t850, const float* t700,
            const float* miss);
void cal_JI(float* ji, const float* t925, const float* t500, const float* miss);
void cal_mji(float* mji, const float* t700, const float* td700, const float* t925,
             const float* t500, const float* miss);
void cal_teffer(float* te, const float* a1, const float* a2, const float* a3, const float* a4,
                const float* a5, const float* a6, const float* miss);
void cal_Faust(float* fa, const float* a1, const float* a2, const float* a3, const float* a4,
               const float* a5, const float* a6, const float* miss);
void cal_ILC(float* ilc, const float* t500, const float* td500, const float* tsfc,
             const float* tdsfc, const float* psfc, const float* t850, const float* td850,
             const float* miss);
void cal_dt75(float* dt, const float* a1, const float* a2, const float* a3, const float* a4,
              const float* miss);
void cal_dtase85(float* dt, const float* a1, const float* a2, const float* a3, const float* a4,
                 const float* miss);
void CAL_dt03(float* dt, const float* h, const float* t, const int* n, const float* miss);

// Grid routines, double precision (grid.cpp).
void dvrfidf(const double* u, const double* v, const double* latdeg, const double* londeg,
             const int* nlon, const int* nlat, const double* dmiss, const int* edgeopt,
             double* rv, int* status);
void ddvfidf(const double* u, const double* v, const double* latdeg, const double* londeg,
             const int* nlon, const int* nlat, const double* dmiss, const int* edgeopt,
             double* dv, int* status);
void duseave(double* x, const int* n, const double* dmiss);
void dlnextrp(double* x, const int* nlon, const int* nlat, const double* dmiss);
void cal_h0_uv2(const double* h0, const double* hcol, const double* ucol, const double* vcol,
                const int* nz, double* uh, double* vh);
void cal_shr01(const int* nx, const int* ny, const int* nz, const double* h, const double* u,
               const double* v, double* shr, const double* dmiss, const double* dz);

// Profile indices (profile.cpp).
void cal_shr(float* shr, const float* p1, const float* p2, const float* u, const float* v,
             const float* p, const float* h, const int* n, const float* miss);
void cal_DCI(float* dci, const float* t850, const float* td850, const float* t,
             const float* td, const float* p, const int* n, const float* miss);
void cal_pw(float* pw, const float* td, const float* p, const int* n, const float* miss);
void cal_SSI(float* ssi, const float* t, const float* td, const float* u, const float* v,
             const float* gh, const float* p, const int* n, const float* miss);
void cal_swiss(float* swiss00, float* swiss12, const float* t, const float* td, const float* u,
               const float* v, const float* gh, const float* p, const int* n,
               const float* miss);
void cal_ccl(float* pccl, float* tccl, const float* t, const float* td, const float* p,
             const int* n, const float* miss);
void cal_wind_Tg(float* tg, float* tc, const float* t, const float* td, const float* p,
                 const int* n, const float* miss);
void cal_bic(float* bic, const float* t, const float* td, const float* p, const int* n,
             const float* miss);
void cal_mdpi(float* mdpi, const float* t, const float* td, const float* p, const int* n,
              const float* miss);
void cal_mdci(float* mdci, const float* t, const float* td, const float* p, const int* n,
              const float* miss);
void cal_bli(float* bli, const float* t, const float* td, const float* p, const int* n,
             const float* miss);

// The second index set (second.cpp).
void CAL_E(const float* td, const int* n, float* e, const float* miss);
void CAL_ES(const float* t, const int* n, float* es, const float* miss);
void CAL_Q(const float* td, const float* p, const int* n, float* q, const float* miss);
void CAL_QS(const float* t, const float* p, const int* n, float* qs, const float* miss);
void CAL_TE(const float* t, const float* p, const int* n, float* pe, float* te);
void CAL_TDE(const float* td, const float* p, const int* n, float* tde);
void CAL_THSE0(const float* p, const float* t, float* thse, const float* miss);
void CAL_THSE0_1(const float* p, const float* t, float* thse, const float* miss);
void CAL_TA2(const float* t0, const float* p0, const float* tl, const float* plcl,
             const float* pe, float* ta, const float* miss);
void CAL_TA(const float* t0, const float* p0, const float* tl, const float* plcl,
            const float* pt, float* ta, const float* miss);
void CAL_TC_PC(const float* t, const float* td, const float* p, float* tc, float* pc,
               float* thse, const float* miss);
void COM_BLI(const float* te, const float* ta, float* li, float* bli, const float* miss);
void CAL_TE3(const float* p, const float* t, const float* td, const int* n, float* te,
             float* tde);
void CAL_VIR_ENGY(const float* pe, const float* te, const float* tde, const float* ta,
                  const int* kb, const int* kt, float* cape, const float* miss);
void CAL_CAPE_ZBEI(float* cape, const float* t, const float* td, const float* gh,
                   const float* p, const int* n, const float* miss);
void CAL_DCAPE_ZBEI(float* dcape, const float* t, const float* td, const float* p,
                    const int* n, const float* miss);
void CAL_BLI_ZBEI(float* bli, const float* t, const float* td, const float* p, const int* n,
                  const float* miss);
void cal_tds(const float* q, const float* p, float* td, const float* miss);
void CAL_CCL_ZBEI(float* pccl, float* tccl, const float* t, const float* td, const float* p,
                  const int* n, const float* miss);
void CAL_SHR_ZBEI(float* shr, float* sdir, const float* u, const float* v, const float* h,
                  const float* h0, const int* n, const float* miss);
void cal_SRH(float* srh, const float* depth, const float* u, const float* v, const float* h,
             const float* p, const int* n, const float* miss);
void CAL_H0_UV(const float* h0, const float* h, const float* u, const float* v, const int* n,
               float* uh, float* vh);
void CAL_H0_UVPT(const float* h0, const float* h, const float* p, const float* t,
                 const float* td, const float* u, const float* v, const int* n, float* ph,
                 float* th, float* tdh, float* uh, float* vh);
void CAL_BRN(float* brn, const float* p, const float* gh, const float* t, const float* td,
             const float* u, const float* v, const int* n, const float* miss);
void INTSP2(const float* x, const float* y, const int* n, const float* xo, float* yo,
            const int* no, float* b, float* c, float* d, const float* miss);
void INTPS(const float* p, const float* x, const int* n, float* xo);
void ddewtemp(const double* tk, const double* rh, double* tdk, const double* dmiss);

// Work storage from the heap; stops the process with "Out of memory" when
// none can be obtained.
[[noreturn]] void out_of_memory();
void* work_alloc(unsigned long count, unsigned long size);

}  // namespace convective_index_utils
