// Exported C entry points. Each copies its by-value scalars into locals and
// calls the internal routine of the same name with the addresses of all its
// arguments, in the same order.
#include "cumulex/cumulex.h"
#include "cumulex/internal.h"

namespace cx = convective_index_utils;

extern "C" {

void EE(float T, float* e)
{
    float t = T;
    cx::EE(&t, e);
}

void qq(float p, float T, float* q)
{
    float lp = p, lt = T;
    cx::qq(&lp, &lt, q);
}

void qSt(float p, float theta, float* q)
{
    float lp = p, lth = theta;
    cx::qSt(&lp, &lth, q);
}

void Rs(float p, float T, float* r)
{
    float lp = p, lt = T;
    cx::Rs(&lp, &lt, r);
}

void CPhysicsChange_St(float p, float T, float* theta)
{
    float lp = p, lt = T;
    cx::CPhysicsChange_St(&lp, &lt, theta);
}

void CPhysicsChange_TSt(float p, float theta, float* T)
{
    float lp = p, lth = theta;
    cx::CPhysicsChange_TSt(&lp, &lth, T);
}

void CPhysicsChange_SteA(float p, float T, float* thse)
{
    float lp = p, lt = T;
    cx::CPhysicsChange_SteA(&lp, &lt, thse);
}

void CPhysicsChange_TSteA2(float p, float thse, float* T)
{
    float lp = p, ls = thse;
    cx::CPhysicsChange_TSteA2(&lp, &ls, T);
}

void CPhysicsChange_Ste(float p, float T, float Td, float* thse)
{
    float lp = p, lt = T, ltd = Td;
    cx::CPhysicsChange_Ste(&lp, &lt, &ltd, thse);
}

void CPhysicsChange_Tdqs(float p, float q, float* Td)
{
    float lp = p, lq = q;
    cx::CPhysicsChange_Tdqs(&lp, &lq, Td);
}

void LCL(float* p, float* T, float* Td, float* plcl, float* tlcl)
{
    cx::LCL(p, T, Td, plcl, tlcl);
}

void cphysicschange_riset(float p, float T, float Td, float pt, float* tp)
{
    float lp = p, lt = T, ltd = Td, lpt = pt;
    cx::cphysicschange_riset(&lp, &lt, &ltd, &lpt, tp);
}

void Tv(float p, float T, float Td, float* tv)
{
    float lp = p, lt = T, ltd = Td;
    cx::Tv(&lp, &lt, &ltd, tv);
}

void interplate(float x, float* xs, float* ys, int n, float* out, float miss)
{
    float lx = x, lm = miss;
    int ln = n;
    cx::interplate(&lx, xs, ys, &ln, out, &lm);
}

void interplate_h(float x, float* xs, float* ys, int n, float* out, float miss)
{
    float lx = x, lm = miss;
    int ln = n;
    cx::interplate_h(&lx, xs, ys, &ln, out, &lm);
}

void interplate_t(float x, float* xs, float* ys, int n, float* out, float miss)
{
    float lx = x, lm = miss;
    int ln = n;
    cx::interplate_t(&lx, xs, ys, &ln, out, &lm);
}

void wind_speed_direction(float u, float v, float* speed, float* dir, float miss)
{
    float lu = u, lv = v, lm = miss;
    cx::wind_speed_direction(&lu, &lv, speed, dir, &lm);
}

void wind_u_v(float dir, float speed, float* u, float* v, float miss)
{
    float ld = dir, ls = speed, lm = miss;
    cx::wind_u_v(&ld, &ls, u, v, &lm);
}

void COM_QW(float* p, float* T, float* qw)
{
    cx::COM_QW(p, T, qw);
}

void TW_DEX(float* p, float* T, float* Td, float* tw)
{
    cx::TW_DEX(p, T, Td, tw);
}

void EQU_T(float* p, float* T, float* thetae)
{
    cx::EQU_T(p, T, thetae);
}

void cal_tcl(float* tclp, float* tclt, float* hgt, float* t, float* td, float* p, int n,
             float miss)
{
    int ln = n;
    float lm = miss;
    cx::cal_tcl(tclp, tclt, hgt, t, td, p, &ln, &lm);
}

void cal_LFC(float* plfc, float* tlfc, float* t, float* td, float* gh, float* p, int n,
             float miss)
{
    int ln = n;
    float lm = miss;
    cx::cal_LFC(plfc, tlfc, t, td, gh, p, &ln, &lm);
}

void cal_EL(float* pel, float* tel, float* t, float* td, float* gh, float* p, int n, float miss)
{
    int ln = n;
    float lm = miss;
    cx::cal_EL(pel, tel, t, td, gh, p, &ln, &lm);
}

void cal_cape(float* cape, float* gcape, float* t, float* td, float* gh, float* p, int n,
              float miss)
{
    int ln = n;
    float lm = miss;
    cx::cal_cape(cape, gcape, t, td, gh, p, &ln, &lm);
}

void cal_cin(float* cin, float* t, float* td, float* gh, float* p, int n, float miss)
{
    int ln = n;
    float lm = miss;
    cx::cal_cin(cin, t, td, gh, p, &ln, &lm);
}

void cal_dcape(float* dcape, float* t, float* td, float* gh, float* p, int n, float miss)
{
    int ln = n;
    float lm = miss;
    cx::cal_dcape(dcape, t, td, gh, p, &ln, &lm);
}

void cal_LI(float* li, float* t, float* td, float* p, int n, float miss)
{
    int ln = n;
    float lm = miss;
    cx::cal_LI(li, t, td, p, &ln, &lm);
}

void cal_thetse(float* thetse, float t, float td, float p, float miss)
{
    float lt = t, ltd = td, lp = p, lm = miss;
    cx::cal_thetse(thetse, &lt, &ltd, &lp, &lm);
}

void cal_A(float* a, float t850, float td850, float t700, float t500, float td700, float td500,
           float miss)
{
    float l1 = t850, l2 = td850, l3 = t700, l4 = t500, l5 = td700, l6 = td500, lm = miss;
    cx::cal_A(a, &l1, &l2, &l3, &l4, &l5, &l6, &lm);
}

void cal_si(float* si, float t500, float t850, float td850, float miss)
{
    float l1 = t500, l2 = t850, l3 = td850, lm = miss;
    cx::cal_si(si, &l1, &l2, &l3, &lm);
}

void cal_tt(float* tt, float t850, float td850, float t500, float miss)
{
    float l1 = t850, l2 = td850, l3 = t500, lm = miss;
    cx::cal_tt(tt, &l1, &l2, &l3, &lm);
}

void cal_sweat(float* sweat, float uwind850, float vwind850, float uwind500, float vwind500,
               float t850, float td850, float t500, float miss)
{
    float l1 = uwind850, l2 = vwind850, l3 = uwind500, l4 = vwind500, l5 = t850, l6 = td850,
          l7 = t500, lm = miss;
    cx::cal_sweat(sweat, &l1, &l2, &l3, &l4, &l5, &l6, &l7, &lm);
}

void cal_HT(float* h, float t0, float* t, float* gh, float* p, int n, float miss)
{
    float lt0 = t0, lm = miss;
    int ln = n;
    cx::cal_HT(h, &lt0, t, gh, p, &ln, &lm);
}

void cal_k(float* k, float t850, float t700, float t500, float td850, float td700, float miss)
{
    float l1 = t850, l2 = t700, l3 = t500, l4 = td850, l5 = td700, lm = miss;
    cx::cal_k(k, &l1, &l2, &l3, &l4, &l5, &lm);
}

void cal_mk(float* mk, float t850, float td850, float t700, float t500, float td700, float tsfc,
            float tdsfc, float miss)
{
    float l1 = t850, l2 = td850, l3 = t700, l4 = t500, l5 = td700, l6 = tsfc, l7 = tdsfc,
          lm = miss;
    cx::cal_mk(mk, &l1, &l2, &l3, &l4, &l5, &l6, &l7, &lm);
}

void cal_minus(float* d, float a, float b, float miss)
{
    float la = a, lb = b, lm = miss;
    cx::cal_minus(d, &la, &lb, &lm);
}

void cal_rh(float* rh, float t, float td, float p, float miss)
{
    float lt = t, ltd = td, lp = p, lm = miss;
    cx::cal_rh(rh, &lt, &ltd, &lp, &lm);
}

void cal_ic(float* ic, float ta, float tb, float tda, float tdb, float pa, float pb, float miss)
{
    float l1 = ta, l2 = tb, l3 = tda, l4 = tdb, l5 = pa, l6 = pb, lm = miss;
    cx::cal_ic(ic, &l1, &l2, &l3, &l4, &l5, &l6, &lm);
}

void cal_BI(float* bi, float t500, float t850, float t700, float miss)
{
    float l1 = t500, l2 = t850, l3 = t700, lm = miss;
    cx::cal_BI(bi, &l1, &l2, &l3, &lm);
}

void cal_JI(float* ji, float t925, float t500, float miss)
{
    float l1 = t925, l2 = t500, lm = miss;
    cx::cal_JI(ji, &l1, &l2, &lm);
}

void cal_mji(float* mji, float t700, float td700, float t925, float t500, float miss)
{
    float l1 = t700, l2 = td700, l3 = t925, l4 = t500, lm = miss;
    cx::cal_mji(mji, &l1, &l2, &l3, &l4, &lm);
}

void cal_teffer(float* te, float a1, float a2, float a3, float a4, float a5, float a6,
                float miss)
{
    float l1 = a1, l2 = a2, l3 = a3, l4 = a4, l5 = a5, l6 = a6, lm = miss;
    cx::cal_teffer(te, &l1, &l2, &l3, &l4, &l5, &l6, &lm);
}

void cal_Faust(float* fa, float a1, float a2, float a3, float a4, float a5, float a6, float miss)
{
    float l1 = a1, l2 = a2, l3 = a3, l4 = a4, l5 = a5, l6 = a6, lm = miss;
    cx::cal_Faust(fa, &l1, &l2, &l3, &l4, &l5, &l6, &lm);
}

void cal_ILC(float* ilc, float t500, float td500, float tsfc, float tdsfc, float psfc,
             float t850, float td850, float miss)
{
    float l1 = t500, l2 = td500, l3 = tsfc, l4 = tdsfc, l5 = psfc, l6 = t850, l7 = td850,
          lm = miss;
    cx::cal_ILC(ilc, &l1, &l2, &l3, &l4, &l5, &l6, &l7, &lm);
}

void cal_dt75(float* dt, float a1, float a2, float a3, float a4, float miss)
{
    float l1 = a1, l2 = a2, l3 = a3, l4 = a4, lm = miss;
    cx::cal_dt75(dt, &l1, &l2, &l3, &l4, &lm);
}

void cal_dtase85(float* dt, float a1, float a2, float a3, float a4, float miss)
{
    float l1 = a1, l2 = a2, l3 = a3, l4 = a4, lm = miss;
    cx::cal_dtase85(dt, &l1, &l2, &l3, &l4, &lm);
}

void CAL_dt03(float* dt, float* h, float* t, int n, float miss)
{
    int ln = n;
    float lm = miss;
    cx::CAL_dt03(dt, h, t, &ln, &lm);
}

void cal_rv(double* rv, double* u, double* v, double* latdeg, double* londeg, int nlon,
            int nlat, int edgeopt, double dmiss)
{
    int lx = nlon, ly = nlat, lopt = edgeopt;
    double lm = dmiss;
    int status = 0;
    cx::dvrfidf(u, v, latdeg, londeg, &lx, &ly, &lm, &lopt, rv, &status);
}

void cal_shr01(double* shr, double* u, double* v, double* h, int nx, int ny, int nz,
               double dmiss, double dz)
{
    int lx = nx, ly = ny, lz = nz;
    double lm = dmiss, ldz = dz;
    cx::cal_shr01(&lx, &ly, &lz, h, u, v, shr, &lm, &ldz);
}

void cal_shr(float* shr, float p1, float p2, float* u, float* v, float* p, float* h, int n,
             float miss)
{
    float l1 = p1, l2 = p2, lm = miss;
    int ln = n;
    cx::cal_shr(shr, &l1, &l2, u, v, p, h, &ln, &lm);
}

void cal_bic(float* bic, float* t, float* td, float* p, int n, float miss)
{
    int ln = n;
    float lm = miss;
    cx::cal_bic(bic, t, td, p, &ln, &lm);
}

void cal_DCI(float* dci, float t850, float td850, float* t, float* td, float* p, int n,
             float miss)
{
    float l1 = t850, l2 = td850, lm = miss;
    int ln = n;
    cx::cal_DCI(dci, &l1, &l2, t, td, p, &ln, &lm);
}

void cal_SSI(float* ssi, float* t, float* td, float* u, float* v, float* gh, float* p, int n,
             float miss)
{
    int ln = n;
    float lm = miss;
    cx::cal_SSI(ssi, t, td, u, v, gh, p, &ln, &lm);
}

void cal_swiss(float* swiss00, float* swiss12, float* t, float* td, float* u, float* v,
               float* gh, float* p, int n, float miss)
{
    int ln = n;
    float lm = miss;
    cx::cal_swiss(swiss00, swiss12, t, td, u, v, gh, p, &ln, &lm);
}

void cal_ccl(float* pccl, float* tccl, float* t, float* td, float* p, int n, float miss)
{
    int ln = n;
    float lm = miss;
    cx::cal_ccl(pccl, tccl, t, td, p, &ln, &lm);
}

void CAL_CCL_ZBEI(float* pccl, float* tccl, float* t, float* td, float* p, int n, float miss)
{
    int ln = n;
    float lm = miss;
    cx::CAL_CCL_ZBEI(pccl, tccl, t, td, p, &ln, &lm);
}

void cal_wind_Tg(float* tg, float* tc, float* t, float* td, float* p, int n, float miss)
{
    int ln = n;
    float lm = miss;
    cx::cal_wind_Tg(tg, tc, t, td, p, &ln, &lm);
}

void cal_pw(float* pw, float* td, float* p, int n, float miss)
{
    int ln = n;
    float lm = miss;
    cx::cal_pw(pw, td, p, &ln, &lm);
}

void CAL_CAPE_ZBEI(float* cape, float* t, float* td, float* gh, float* p, int n, float miss)
{
    int ln = n;
    float lm = miss;
    cx::CAL_CAPE_ZBEI(cape, t, td, gh, p, &ln, &lm);
}

void CAL_DCAPE_ZBEI(float* dcape, float* t, float* td, float* p, int n, float miss)
{
    int ln = n;
    float lm = miss;
    cx::CAL_DCAPE_ZBEI(dcape, t, td, p, &ln, &lm);
}

void CAL_BLI_ZBEI(float* bli, float* t, float* td, float* p, int n, float miss)
{
    int ln = n;
    float lm = miss;
    cx::CAL_BLI_ZBEI(bli, t, td, p, &ln, &lm);
}

void CAL_SHR_ZBEI(float* shr, float* sdir, float* u, float* v, float* h, float* h0, int n,
                  float miss)
{
    int ln = n;
    float lm = miss;
    cx::CAL_SHR_ZBEI(shr, sdir, u, v, h, h0, &ln, &lm);
}

void cal_SRH(float* srh, float depth, float* u, float* v, float* h, float* p, int n, float miss)
{
    float ld = depth, lm = miss;
    int ln = n;
    cx::cal_SRH(srh, &ld, u, v, h, p, &ln, &lm);
}

void CAL_BRN(float* brn, float* p, float* gh, float* t, float* td, float* u, float* v, int n,
             float miss)
{
    int ln = n;
    float lm = miss;
    cx::CAL_BRN(brn, p, gh, t, td, u, v, &ln, &lm);
}

void CAL_H0_UV(float* h0, float* h, float* u, float* v, int* n, float* uh, float* vh)
{
    cx::CAL_H0_UV(h0, h, u, v, n, uh, vh);
}

void CAL_H0_UVPT(float* h0, float* h, float* p, float* t, float* td, float* u, float* v, int* n,
                 float* ph, float* th, float* tdh, float* uh, float* vh)
{
    cx::CAL_H0_UVPT(h0, h, p, t, td, u, v, n, ph, th, tdh, uh, vh);
}

void CAL_TE(float* t, float* p, int* n, float* pe, float* te)
{
    cx::CAL_TE(t, p, n, pe, te);
}

void CAL_TE3(float* p, float* t, float* td, int* n, float* te, float* tde)
{
    cx::CAL_TE3(p, t, td, n, te, tde);
}

void CAL_TA(float* t0, float* p0, float* tl, float* pl, float* pt, float* ta, float* miss)
{
    cx::CAL_TA(t0, p0, tl, pl, pt, ta, miss);
}

void CAL_TA2(float* t0, float* p0, float* tl, float* pl, float* pe, float* ta, float* miss)
{
    cx::CAL_TA2(t0, p0, tl, pl, pe, ta, miss);
}

void CAL_TC_PC(float* t, float* td, float* p, float* tc, float* pc, float* thse, float* miss)
{
    cx::CAL_TC_PC(t, td, p, tc, pc, thse, miss);
}

void COM_BLI(float* te, float* ta, float* li, float* bli, float* miss)
{
    cx::COM_BLI(te, ta, li, bli, miss);
}

void CAL_VIR_ENGY(float* pe, float* te, float* tde, float* ta, int* kb, int* kt, float* cape,
                  float* miss)
{
    cx::CAL_VIR_ENGY(pe, te, tde, ta, kb, kt, cape, miss);
}

void CAL_THSE0(float* p, float* t, float* thse, float* miss)
{
    cx::CAL_THSE0(p, t, thse, miss);
}

void CAL_THSE0_1(float* p, float* t, float* thse, float* miss)
{
    cx::CAL_THSE0_1(p, t, thse, miss);
}

void CAL_Q(float* td, float* p, int* n, float* q, float* miss)
{
    cx::CAL_Q(td, p, n, q, miss);
}

void CAL_QS(float* t, float* p, int* n, float* qs, float* miss)
{
    cx::CAL_QS(t, p, n, qs, miss);
}

void CAL_E(float* td, int* n, float* e, float* miss)
{
    cx::CAL_E(td, n, e, miss);
}

void CAL_ES(float* t, int* n, float* es, float* miss)
{
    cx::CAL_ES(t, n, es, miss);
}

void CAL_TDE(float* td, float* p, int* n, float* tde)
{
    cx::CAL_TDE(td, p, n, tde);
}

void INTPS(float* p, float* x, int* n, float* xo)
{
    cx::INTPS(p, x, n, xo);
}

void INTSP2(float* x, float* y, int* n, float* xo, float* yo, int* no, float* b, float* c,
            float* d, float* miss)
{
    cx::INTSP2(x, y, n, xo, yo, no, b, c, d, miss);
}

}  // extern "C"
