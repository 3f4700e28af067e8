// Internal routines of libcumulex. Each takes every argument by address; the
// exported C entry points copy their by-value scalars and call these. All
// arithmetic is single precision.
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

// Work storage from the heap; stops the process with "Out of memory" when
// none can be obtained.
[[noreturn]] void out_of_memory();
void* work_alloc(unsigned long count, unsigned long size);

}  // namespace convective_index_utils
