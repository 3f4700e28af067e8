// The second index set: CAPE, downdraft CAPE, a best lifted index, the
// convective condensation level, shear, storm-relative helicity and the bulk
// Richardson number, with the building blocks they share.
//
// Profiles are resampled onto 120 pressure slots every 1000 Pa (10 hPa) from
// the surface pressure truncated down to a whole 1000 Pa, or (INTPS) onto the
// 39 pressures 1000, 975, ..., 50 hPa. Single precision; profile pressures in
// Pa, the equivalent potential temperatures take hPa.
#include "cumulex/internal.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>

namespace convective_index_utils {

namespace {

const int kSlots = 120;        // slots of the 1000-Pa grid
const float kSlot = 1000.0f;   // Pa
const float kRd = 287.04f;     // J/(kg K)
const float kCp = 1005.0f;     // J/(kg K)
const float kPi = 3.1415925f;
const float kUnset = 9999.0f;  // INTPS levels outside the profile (it has no miss argument)

const int kLevels = 39;
const int k500 = 20;  // index of 500 hPa in pl
const float pl[kLevels] = {1000.0f, 975.0f, 950.0f, 925.0f, 900.0f, 875.0f, 850.0f, 825.0f,
                           800.0f,  775.0f, 750.0f, 725.0f, 700.0f, 675.0f, 650.0f, 625.0f,
                           600.0f,  575.0f, 550.0f, 525.0f, 500.0f, 475.0f, 450.0f, 425.0f,
                           400.0f,  375.0f, 350.0f, 325.0f, 300.0f, 275.0f, 250.0f, 225.0f,
                           200.0f,  175.0f, 150.0f, 125.0f, 100.0f, 75.0f,  50.0f};

// Saturation vapour pressure (hPa) as EE, missing outside -150 .. 60 degC.
float es2(float T, float miss)
{
    if (T == miss || T <= -150.0f || T >= 60.0f)
        return miss;
    float e;
    EE(&T, &e);
    return e;
}

// Specific humidity (kg/kg) for vapour pressure e at p hPa.
float q2(float e, float p, float miss)
{
    if (e == miss || p == miss || e >= 100.0f)
        return miss;
    const float d = p - 0.378f * e;
    if (d == 0.0f)
        return miss;
    return 0.622f * e / d;
}

// Equivalent potential temperature (K) of saturated air at p hPa.
float thse_saturated(float p, float T, float miss)
{
    const float e = es2(T, miss);
    if (e == miss || p == miss || !(p - e > 0.0f))
        return miss;
    return (T + 273.15f) * powf(1000.0f / (p - e), 0.2856f) *
           expf((2.501e6f - 2370.0f * T) * 0.622f * e / ((T + 273.15f) * 1005.0f * (p - e)));
}

float virtual_temperature(float T, float q)
{
    return (T + 273.15f) * (1.0f + 0.608f * q);
}

// An equivalent potential temperature of (p hPa, T degC) in kelvin.
typedef float (*ThetaE)(float p, float T, float miss);

float thse0(float p, float T, float miss)
{
    float s;
    CAL_THSE0(&p, &T, &s, &miss);
    return s;
}

float thse0_1(float p, float T, float miss)
{
    float s;
    CAL_THSE0_1(&p, &T, &s, &miss);
    return s;
}

float equ_t(float p, float T, float)
{
    float s;
    EQU_T(&p, &T, &s);
    return s;
}

// The temperature at p hPa whose equivalent potential temperature is
// `target`: secant steps from `guess`, the slope from a 0.1 K perturbation,
// until a step is below 0.01 K. Missing when the function has no value on the
// way, is flat, or the steps do not settle.
float moist_temperature(ThetaE f, float p, float target, float guess, float miss)
{
    float T = guess;
    for (int i = 0; i < 50; ++i) {
        const float f0 = f(p, T, miss);
        const float f1 = f(p, T + 0.1f, miss);
        if (f0 == miss || f1 == miss)
            return miss;
        const float slope = (f1 - f0) / 0.1f;
        if (slope == 0.0f)
            return miss;
        const float step = (f0 - target) / slope;
        T = T - step;
        if (fabsf(step) < 0.01f)
            return T;
    }
    return miss;
}

// Temperature at pt (Pa) of the parcel (t0, p0) with condensation level
// (tl, pl): dry adiabat below the condensation level, the moist adiabat of
// `f` through it above; `guess` starts the moist solution.
float parcel_temperature(float t0, float p0, float tl, float plcl, float pt, float guess,
                         ThetaE f, float miss)
{
    if (pt >= plcl) {
        const float kappa = kRd / kCp;
        const float theta = (t0 + 273.15f) / powf(p0 / 100000.0f, kappa);
        return theta * powf(pt / 100000.0f, kappa) - 273.15f;
    }
    const float target = f(plcl / 100.0f, tl, miss);
    if (target == miss)
        return miss;
    return moist_temperature(f, pt / 100.0f, target, guess, miss);
}

// The 1000-Pa grid of a profile and a quantity resampled onto it, linear in
// ln p between levels; a top level exactly on the grid is copied and slots
// outside the profile hold `fill`.
void resample(const float* y, const float* p, int n, float fill, float* pe, float* out)
{
    const float p0 = n > 0 ? truncf(p[0] / kSlot) * kSlot : 0.0f;
    for (int k = 0; k < kSlots; ++k) {
        const float pg = p0 - kSlot * static_cast<float>(k);
        pe[k] = pg;
        out[k] = fill;
        if (n < 1)
            continue;
        for (int i = 0; i + 1 < n; ++i) {
            if (p[i] >= pg && pg > p[i + 1]) {
                const float span = logf(p[i]) - logf(p[i + 1]);
                if (span != 0.0f)
                    out[k] = y[i] + (y[i + 1] - y[i]) * (logf(p[i]) - logf(pg)) / span;
                break;
            }
        }
        if (pg == p[n - 1])
            out[k] = y[n - 1];
    }
}

// Of the levels from `from` upward, those where y is present: their pressures
// and values, front-packed; returns their count.
int present_levels(const float* y, const float* p, int from, int n, float miss, float* pk,
                   float* yk)
{
    int m = 0;
    for (int i = from; i < n; ++i) {
        if (y[i] != miss) {
            pk[m] = p[i];
            yk[m] = y[i];
            ++m;
        }
    }
    return m;
}

// A sounding on the 1000-Pa grid from its starting level (the first level with
// both temperature and dew point): temperature (CAL_TE) and dew point
// (CAL_TDE) of the levels where each is present, and the lowest pressure that
// both still cover.
struct Gridded {
    int start;
    float pe[kSlots];
    float te[kSlots];
    float tde[kSlots];
    float top;
};

bool grid_sounding(Gridded* g, const float* t, const float* td, const float* p, int n,
                   float miss)
{
    if (!usable_pressures(p, n, miss))
        return false;
    g->start = first_complete_level(t, td, n, miss);
    if (g->start < 0)
        return false;
    float* work = static_cast<float*>(work_alloc(4ul * n, sizeof(float)));
    float* pt = work;
    float* tt = work + n;
    float* pd = work + 2 * n;
    float* dd = work + 3 * n;
    int nt = present_levels(t, p, g->start, n, miss, pt, tt);
    int nd = present_levels(td, p, g->start, n, miss, pd, dd);
    CAL_TE(tt, pt, &nt, g->pe, g->te);
    CAL_TDE(dd, pd, &nd, g->tde);
    g->top = pt[nt - 1] > pd[nd - 1] ? pt[nt - 1] : pd[nd - 1];
    free(work);
    return true;
}

// Lower level of the last pair of adjacent levels with h(k) <= h0 < h(k+1);
// -1 when no pair brackets h0.
int last_bracket(float h0, const float* h, int n)
{
    int k = -1;
    for (int i = 0; i + 1 < n; ++i) {
        if (h[i] <= h0 && h0 < h[i + 1])
            k = i;
    }
    return k;
}

float between(float lower, float upper, float w)
{
    return (lower - upper) * w + upper;
}

}  // namespace

void CAL_E(const float* td, const int* n, float* e, const float* miss)
{
    for (int i = 0; i < *n; ++i)
        e[i] = es2(td[i], *miss);
}

void CAL_ES(const float* t, const int* n, float* es, const float* miss)
{
    CAL_E(t, n, es, miss);
}

void CAL_Q(const float* td, const float* p, const int* n, float* q, const float* miss)
{
    for (int i = 0; i < *n; ++i)
        q[i] = q2(es2(td[i], *miss), p[i], *miss);
}

void CAL_QS(const float* t, const float* p, const int* n, float* qs, const float* miss)
{
    CAL_Q(t, p, n, qs, miss);
}

void CAL_TE(const float* t, const float* p, const int* n, float* pe, float* te)
{
    resample(t, p, *n, -60.0f, pe, te);
}

void CAL_TDE(const float* td, const float* p, const int* n, float* tde)
{
    float pe[kSlots];
    resample(td, p, *n, -120.0f, pe, tde);
}

void CAL_THSE0(const float* p, const float* t, float* thse, const float* miss)
{
    if (*p == *miss || *t == *miss || *t < -120.0f) {
        *thse = *miss;
        return;
    }
    *thse = thse_saturated(*p, *t, *miss);
}

void CAL_THSE0_1(const float* p, const float* t, float* thse, const float* miss)
{
    if (*t < -100.0f) {
        *thse = -100.0f;
        return;
    }
    *thse = thse_saturated(*p, *t, *miss);
}

// Parcel temperatures on the 1000-Pa grid pe for the surface parcel (t0, p0)
// with condensation level (tl, pl): the dry adiabat down to the condensation
// level, above it the moist adiabat of CAL_THSE0 up to 9000 Pa; missing above.
void CAL_TA2(const float* t0, const float* p0, const float* tl, const float* plcl,
             const float* pe, float* ta, const float* miss)
{
    const float M = *miss;
    const bool usable = *t0 != M && *p0 != M && *tl != M && *plcl != M;
    float guess = *tl;
    for (int k = 0; k < kSlots; ++k) {
        ta[k] = M;
        if (!usable || pe[k] < 9000.0f)
            continue;
        ta[k] = parcel_temperature(*t0, *p0, *tl, *plcl, pe[k], guess, thse0, M);
        if (ta[k] != M && pe[k] < *plcl)
            guess = ta[k];
    }
}

// Temperature at pt (Pa) of the parcel (t0, p0) with condensation level
// (tl, pl), the moist part on CAL_THSE0_1.
void CAL_TA(const float* t0, const float* p0, const float* tl, const float* plcl,
            const float* pt, float* ta, const float* miss)
{
    const float M = *miss;
    if (*t0 == M || *p0 == M || *tl == M || *plcl == M || *pt == M) {
        *ta = M;
        return;
    }
    *ta = parcel_temperature(*t0, *p0, *tl, *plcl, *pt, *tl, thse0_1, M);
}

// Condensation level of the parcel (t, td, p Pa): temperature tc (degC),
// pressure pc (Pa) and its saturated equivalent potential temperature (K).
void CAL_TC_PC(const float* t, const float* td, const float* p, float* tc, float* pc,
               float* thse, const float* miss)
{
    const float M = *miss;
    *tc = M;
    *pc = M;
    *thse = M;
    if (*t == M || *td == M || *p == M)
        return;
    const float T = *t;
    const float D = *td;
    const float denom = 0.976f - 0.000833f * ((D + 237.3f) * (D + 237.3f)) / (D + 273.15f);
    if (denom == 0.0f)
        return;
    const float tl = T - 0.976f * (T - D) / denom;
    const float pcl = *p * powf((tl + 273.15f) / (T + 273.15f), 3.5f);
    *tc = tl;
    *pc = pcl;
    const float ph = pcl / 100.0f;
    CAL_THSE0(&ph, &tl, thse, miss);
}

// li = te - ta at 500 hPa; bli is lowered to li (or takes it when missing).
void COM_BLI(const float* te, const float* ta, float* li, float* bli, const float* miss)
{
    const float M = *miss;
    if (*te == M || *ta == M) {
        *li = M;
        return;
    }
    *li = *te - *ta;
    if (*bli == M || *li < *bli)
        *bli = *li;
}

// Environment temperature and dew point on the 39 INTPS levels; p in hPa.
void CAL_TE3(const float* p, const float* t, const float* td, const int* n, float* te,
             float* tde)
{
    INTPS(p, t, n, te);
    INTPS(p, td, n, tde);
}

// CAPE (J/kg) over the slots kb .. kt of the grid: R times the positive part
// of the mean virtual-temperature excess of the saturated parcel (CAL_QS) over
// the environment (humidity from its dew point, CAL_Q) of each layer of two
// slots, times the layer's ln p depth. A dew point above 90 (no value) counts
// as the temperature minus 30.
void CAL_VIR_ENGY(const float* pe, const float* te, const float* tde, const float* ta,
                  const int* kb, const int* kt, float* cape, const float* miss)
{
    const float M = *miss;
    const int K0 = *kb < 0 ? 0 : *kb;
    const int K1 = *kt >= kSlots ? kSlots - 1 : *kt;
    *cape = 0.0f;
    if (K1 <= K0)
        return;
    const int m = K1 - K0 + 1;
    float* work = static_cast<float*>(work_alloc(4ul * m, sizeof(float)));
    float* ph = work;
    float* dew = work + m;
    float* qe = work + 2 * m;
    float* qp = work + 3 * m;
    for (int i = 0; i < m; ++i) {
        ph[i] = pe[K0 + i] / 100.0f;
        dew[i] = tde[K0 + i] > 90.0f ? te[K0 + i] - 30.0f : tde[K0 + i];
    }
    CAL_Q(dew, ph, &m, qe, miss);
    CAL_QS(ta + K0, ph, &m, qp, miss);
    float sum = 0.0f;
    for (int i = 0; i + 1 < m; ++i) {
        const int k = K0 + i;
        if (te[k] == M || te[k + 1] == M || ta[k] == M || ta[k + 1] == M || qe[i] == M ||
            qe[i + 1] == M || qp[i] == M || qp[i + 1] == M || !(ph[i + 1] > 0.0f))
            continue;
        const float b0 = virtual_temperature(ta[k], qp[i]) - virtual_temperature(te[k], qe[i]);
        const float b1 =
            virtual_temperature(ta[k + 1], qp[i + 1]) - virtual_temperature(te[k + 1], qe[i + 1]);
        const float mean = 0.5f * (b0 + b1);
        if (mean > 0.0f)
            sum += mean * logf(ph[i] / ph[i + 1]);
    }
    free(work);
    *cape = kRd * sum;
}

// CAPE of the surface parcel (the first level with temperature and dew point)
// on the 1000-Pa grid, over its saturated ascent; gh is not used. Missing when the condensation level
// lies below the surface or the integral is 0.
void CAL_CAPE_ZBEI(float* cape, const float* t, const float* td, const float*, const float* p,
                   const int* n, const float* miss)
{
    const float M = *miss;
    *cape = M;
    Gridded g;
    if (!grid_sounding(&g, t, td, p, *n, M))
        return;
    const int s = g.start;
    float tl, plcl, thse;
    CAL_TC_PC(&t[s], &td[s], &p[s], &tl, &plcl, &thse, miss);
    if (plcl == M || plcl > p[s])
        return;
    float ta[kSlots];
    CAL_TA2(&t[s], &p[s], &tl, &plcl, g.pe, ta, miss);
    // The saturated ascent, from the first slot at or above the condensation
    // level to the top of the sounding (at most 9000 Pa).
    int kb = -1;
    int kt = -1;
    for (int k = 0; k < kSlots; ++k) {
        if (kb < 0 && g.pe[k] <= plcl)
            kb = k;
        if (g.pe[k] >= g.top && g.pe[k] >= 9000.0f)
            kt = k;
    }
    if (kb < 0)
        return;
    float e;
    CAL_VIR_ENGY(g.pe, g.te, g.tde, ta, &kb, &kt, &e, miss);
    if (e != 0.0f)
        *cape = e;
}

// Downdraft energy (J/kg): the slot between 600 and 500 hPa with the lowest
// equivalent potential temperature (EQU_T) of its wet-bulb temperature
// (TW_DEX) starts a saturated parcel that descends along that value to the
// surface slot; 143.5 (R / 2) times the trapezoid sum of environment minus
// parcel temperature over ln p, at least 0. Missing when the surface lies
// above 800 hPa or no source slot has a value.
void CAL_DCAPE_ZBEI(float* dcape, const float* t, const float* td, const float* p,
                    const int* n, const float* miss)
{
    const float M = *miss;
    *dcape = M;
    Gridded g;
    if (!grid_sounding(&g, t, td, p, *n, M) || p[g.start] < 80000.0f)
        return;
    int src = -1;
    float thmin = 0.0f;
    float twsrc = 0.0f;
    for (int k = 0; k < kSlots; ++k) {
        if (g.pe[k] > 60000.0f || g.pe[k] < 50000.0f || g.pe[k] < g.top)
            continue;
        const float ph = g.pe[k] / 100.0f;
        float tw, th;
        TW_DEX(&ph, &g.te[k], &g.tde[k], &tw);
        EQU_T(&ph, &tw, &th);
        if (src < 0 || th < thmin) {
            src = k;
            thmin = th;
            twsrc = tw;
        }
    }
    if (src < 0)
        return;
    float sum = 0.0f;
    float upper = twsrc;
    for (int k = src; k > 0; --k) {
        const float lower =
            moist_temperature(equ_t, g.pe[k - 1] / 100.0f, thmin, upper, M);
        if (lower == M)
            return;
        sum += ((g.te[k] - upper) + (g.te[k - 1] - lower)) * logf(g.pe[k - 1] / g.pe[k]);
        upper = lower;
    }
    *dcape = sum > 0.0f ? 143.5f * sum : 0.0f;
}

// Best lifted index on the INTPS levels: the lowest difference at 500 hPa
// between the environment and parcels (condensation level CAL_TC_PC, ascent
// CAL_TA) starting from each level of the lowest 100 hPa above the surface,
// but not above 700 hPa.
void CAL_BLI_ZBEI(float* bli, const float* t, const float* td, const float* p, const int* n,
                  const float* miss)
{
    const float M = *miss;
    const int N = *n;
    *bli = M;
    if (!usable_pressures(p, N, M))
        return;
    float* work = static_cast<float*>(work_alloc(3ul * N, sizeof(float)));
    float* ph = work;
    float* tt = work + N;
    float* dd = work + 2 * N;
    int m = 0;
    for (int i = 0; i < N; ++i) {
        if (t[i] != M && td[i] != M) {
            ph[m] = p[i] / 100.0f;
            tt[m] = t[i];
            dd[m] = td[i];
            ++m;
        }
    }
    float te[kLevels], tde[kLevels];
    if (m >= 2)
        CAL_TE3(ph, tt, dd, &m, te, tde);
    const float psfc = m >= 2 ? ph[0] : 0.0f;
    free(work);
    if (m < 2 || te[k500] == kUnset)
        return;
    const float lowest = psfc - 100.0f > 700.0f ? psfc - 100.0f : 700.0f;
    const float p500 = 50000.0f;
    for (int k = 0; k < kLevels; ++k) {
        if (pl[k] > psfc || pl[k] < lowest || te[k] == kUnset || tde[k] == kUnset)
            continue;
        const float pk = pl[k] * 100.0f;
        float tl, pc, thse, ta, li;
        CAL_TC_PC(&te[k], &tde[k], &pk, &tl, &pc, &thse, miss);
        CAL_TA(&te[k], &pk, &tl, &pc, &p500, &ta, miss);
        COM_BLI(&te[k500], &ta, &li, bli, miss);
    }
}

// Dew point (degC) of specific humidity q (kg/kg) at p hPa: the inverse of the
// saturation vapour pressure of the set, over water from 0 degC, ice below.
void cal_tds(const float* q, const float* p, float* td, const float* miss)
{
    const float M = *miss;
    *td = M;
    if (*q == M || *p == M)
        return;
    const float e = *q * *p / (0.622f + 0.378f * *q);
    if (!(e > 0.0f))
        return;
    const float x = log10f(e / 6.112f);
    if (7.5f - x == 0.0f || 9.5f - x == 0.0f)
        return;
    const float water = 237.3f * x / (7.5f - x);
    *td = water >= 0.0f ? water : 265.5f * x / (9.5f - x);
}

// Convective condensation level on the 1000-Pa grid: the first slot from the
// surface at which the dew point (cal_tds) of the starting level's specific
// humidity reaches the environment temperature. pccl in hPa, tccl in degC;
// missing when no slot qualifies.
void CAL_CCL_ZBEI(float* pccl, float* tccl, const float* t, const float* td, const float* p,
                  const int* n, const float* miss)
{
    const float M = *miss;
    *pccl = M;
    *tccl = M;
    Gridded g;
    if (!grid_sounding(&g, t, td, p, *n, M))
        return;
    const int s = g.start;
    const float q = q2(es2(td[s], M), p[s] / 100.0f, M);
    if (q == M)
        return;
    for (int k = 0; k < kSlots && g.pe[k] >= g.top; ++k) {
        const float ph = g.pe[k] / 100.0f;
        float dew;
        cal_tds(&q, &ph, &dew, miss);
        if (dew != M && dew >= g.te[k]) {
            *pccl = ph;
            *tccl = g.te[k];
            return;
        }
    }
}

// Bulk shear (per km) and its direction (degrees, the way the shear vector
// points, clockwise from north) between the first level below h0 with wind
// and the height h0, the wind there linear in height within the first pair of
// levels with all values present that brackets it.
void CAL_SHR_ZBEI(float* shr, float* sdir, const float* u, const float* v, const float* h,
                  const float* h0, const int* n, const float* miss)
{
    const float M = *miss;
    const int N = *n;
    const float H0 = *h0;
    *shr = M;
    *sdir = M;
    if (N < 2 || H0 == M)
        return;
    float ua = M, va = M;
    for (int k = 0; k + 1 < N; ++k) {
        if (h[k] == M || u[k] == M || v[k] == M || h[k + 1] == M || u[k + 1] == M ||
            v[k + 1] == M)
            continue;
        if (h[k] <= H0 && H0 < h[k + 1]) {
            const float w = (h[k + 1] - H0) / (h[k + 1] - h[k]);
            ua = between(u[k], u[k + 1], w);
            va = between(v[k], v[k + 1], w);
            break;
        }
    }
    int k0 = -1;
    for (int k = 0; k < N && k0 < 0; ++k) {
        if (h[k] != M && u[k] != M && v[k] != M && h[k] < H0)
            k0 = k;
    }
    if (ua == M || k0 < 0)
        return;
    const float du = ua - u[k0];
    const float dv = va - v[k0];
    const float dV = sqrtf(du * du + dv * dv);
    *shr = dV / ((H0 - h[k0]) / 1000.0f);
    if (dV == 0.0f)
        return;
    if (du == 0.0f)
        *sdir = dv > 0.0f ? 0.0f : 180.0f;
    else if (dv == 0.0f)
        *sdir = du > 0.0f ? 90.0f : 270.0f;
    else {
        const float a = asinf(fabsf(dv) / dV) * 180.0f / kPi;
        if (du > 0.0f)
            *sdir = dv > 0.0f ? 90.0f - a : 90.0f + a;
        else
            *sdir = dv > 0.0f ? 270.0f + a : 270.0f - a;
    }
}

// Storm-relative helicity (m2/s2) from the ground height h(1) to h(1) + depth.
// Storm motion: 0.75 times the speed of the mean wind of the levels between
// 850 and 400 hPa, its direction turned 40 degrees clockwise. Prints the
// storm motion and the number of levels in the layer.
void cal_SRH(float* srh, const float* depth, const float* u, const float* v, const float* h,
             const float* p, const int* n, const float* miss)
{
    const float M = *miss;
    const int N = *n;
    *srh = M;
    if (!usable_pressures(p, N, M) || h[0] == M || *depth == M)
        return;
    float su = 0.0f, sv = 0.0f;
    int count = 0;
    for (int k = 0; k < N; ++k) {
        if (p[k] <= 85000.0f && p[k] >= 40000.0f && u[k] != M && v[k] != M) {
            su += u[k];
            sv += v[k];
            ++count;
        }
    }
    if (count == 0)
        return;
    const float um = su / static_cast<float>(count);
    const float vm = sv / static_cast<float>(count);
    float speed, dir;
    wind_speed_direction(&um, &vm, &speed, &dir, miss);
    const float sdir = dir + 40.0f;
    const float sspeed = 0.75f * speed;
    float cx, cy;
    wind_u_v(&sdir, &sspeed, &cx, &cy, miss);
    const float top = h[0] + *depth;
    float sum = 0.0f;
    int levels = 1;
    for (int k = 1; k < N; ++k) {
        if (h[k] == M || h[k] > top)
            break;
        ++levels;
        if (u[k - 1] == M || v[k - 1] == M || u[k] == M || v[k] == M)
            continue;
        sum += (v[k - 1] - cy) * (u[k] - cx) - (v[k] - cy) * (u[k - 1] - cx);
    }
    printf("CX:%f CY:%f N:%d\n", cx, cy, levels);
    fflush(stdout);
    *srh = sum;
}

// u and v at height h0 between the bracketing levels h(k) <= h0 < h(k+1), the
// last such pair; not written when none brackets h0.
void CAL_H0_UV(const float* h0, const float* h, const float* u, const float* v, const int* n,
               float* uh, float* vh)
{
    const int k = last_bracket(*h0, h, *n);
    if (k < 0)
        return;
    const float w = (h[k + 1] - *h0) / (h[k + 1] - h[k]);
    *uh = between(u[k], u[k + 1], w);
    *vh = between(v[k], v[k + 1], w);
}

// Pressure, temperature, dew point and wind at height h0 between the
// bracketing levels (as CAL_H0_UV): the pressure hypsometric with the mean
// temperature of each part of the layer, the dew point keeping the upper
// level's depression.
void CAL_H0_UVPT(const float* h0, const float* h, const float* p, const float* t,
                 const float* td, const float* u, const float* v, const int* n, float* ph,
                 float* th, float* tdh, float* uh, float* vh)
{
    const int k = last_bracket(*h0, h, *n);
    if (k < 0)
        return;
    const float w = (h[k + 1] - *h0) / (h[k + 1] - h[k]);
    const float T = between(t[k], t[k + 1], w);
    *th = T;
    *tdh = T - (t[k + 1] - td[k + 1]);
    *ph = p[k + 1] * powf(p[k] / p[k + 1],
                          w * (t[k + 1] + t[k] + 546.3f) / (t[k + 1] + T + 546.3f));
    *uh = between(u[k], u[k + 1], w);
    *vh = between(v[k], v[k + 1], w);
}

// Bulk Richardson number: CAPE over half the square of the difference between
// the density-weighted mean wind speed of the lowest 6000 m and the speed of
// the mean of the winds at the lowest level and 500 m above it (CAPE / 2 when
// that difference is within 1 m/s). Levels without wind, height, pressure or
// temperature are left out.
void CAL_BRN(float* brn, const float* p, const float* gh, const float* t, const float* td,
             const float* u, const float* v, const int* n, const float* miss)
{
    const float M = *miss;
    const int N = *n;
    *brn = M;
    if (!usable_pressures(p, N, M))
        return;
    float cape, gcape;
    cal_cape(&cape, &gcape, t, td, gh, p, n, miss);
    if (cape == M)
        cape = 0.0f;
    float* work = static_cast<float*>(work_alloc(8ul * N, sizeof(float)));
    float* kp = work;
    float* kh = work + N;
    float* kt = work + 2 * N;
    float* kd = work + 3 * N;
    float* ku = work + 4 * N;
    float* kv = work + 5 * N;
    float* ks = work + 6 * N;
    float* rho = work + 7 * N;
    int m = 0;
    for (int k = 0; k < N; ++k) {
        float speed, dir;
        wind_speed_direction(&u[k], &v[k], &speed, &dir, miss);
        if (speed == M || dir == M || gh[k] == M || t[k] == M)
            continue;
        kp[m] = p[k];
        kh[m] = gh[k];
        kt[m] = t[k];
        kd[m] = td[k];
        ku[m] = u[k];
        kv[m] = v[k];
        ks[m] = speed;
        rho[m] = (p[k] / 100.0f) / ((t[k] + 273.15f) * 287.0f);
        ++m;
    }
    float p6 = M, t6 = M, d6 = M, u6 = M, v6 = M, ub = M, vb = M;
    const float h6 = m > 0 ? kh[0] + 6000.0f : 0.0f;
    const float hb = m > 0 ? kh[0] + 500.0f : 0.0f;
    if (m >= 2) {
        CAL_H0_UVPT(&h6, kh, kp, kt, kd, ku, kv, &m, &p6, &t6, &d6, &u6, &v6);
        CAL_H0_UV(&hb, kh, ku, kv, &m, &ub, &vb);
    }
    if (p6 == M || ub == M) {
        free(work);
        return;
    }
    const float rho6 = (p6 / 100.0f) / ((t6 + 273.15f) * 287.0f);
    const float s6 = sqrtf(u6 * u6 + v6 * v6);
    int last = 0;
    for (int k = 0; k < m; ++k) {
        if (kh[k] < h6)
            last = k;
    }
    float num = 0.0f;
    float den = 0.0f;
    for (int k = 1; k <= last; ++k) {
        num += ks[k] * rho[k] * (kh[k] - kh[k - 1]);
        den += rho[k] * (kh[k] - kh[k - 1]);
    }
    num += s6 * rho6 * (h6 - kh[last]);
    den += rho6 * (h6 - kh[last]);
    const float u0 = ku[0];
    const float v0 = kv[0];
    free(work);
    if (den == 0.0f)
        return;
    const float mean = num / den;
    const float ua = (ub + u0) / 2.0f;
    const float va = (vb + v0) / 2.0f;
    const float x = mean - sqrtf(ua * ua + va * va);
    *brn = fabsf(x) <= 1.0f ? cape / 2.0f : cape / (2.0f * x * x);
}

// Cubic Hermite interpolation of (x, y), n points with x monotonic in either
// direction, at the no points xo. Node slopes: the mean of the adjacent
// secant slopes inside, 1.5 times the end secant minus a quarter of the sum of
// the first two secants at each end (a vanishing second derivative there).
// b, c, d (n each) receive the coefficients of y(k) + b s + c s^2 + d s^3,
// s = x - x(k). Points outside the data, or any with a repeated x, get miss.
void INTSP2(const float* x, const float* y, const int* n, const float* xo, float* yo,
            const int* no, float* b, float* c, float* d, const float* miss)
{
    const int N = *n;
    const float M = *miss;
    bool ok = N >= 2;
    for (int k = 0; ok && k + 1 < N; ++k)
        ok = x[k + 1] != x[k];
    if (!ok) {
        for (int j = 0; j < *no; ++j)
            yo[j] = M;
        return;
    }
    // Secant slopes in c for now.
    for (int k = 0; k + 1 < N; ++k)
        c[k] = (y[k + 1] - y[k]) / (x[k + 1] - x[k]);
    if (N == 2) {
        b[0] = c[0];
        b[1] = c[0];
    } else {
        for (int k = 1; k + 1 < N; ++k)
            b[k] = 0.5f * (c[k - 1] + c[k]);
        b[0] = 1.5f * c[0] - 0.25f * (c[0] + c[1]);
        b[N - 1] = 1.5f * c[N - 2] - 0.25f * (c[N - 3] + c[N - 2]);
    }
    for (int k = 0; k + 1 < N; ++k) {
        const float hk = x[k + 1] - x[k];
        const float delta = c[k];
        c[k] = (3.0f * delta - 2.0f * b[k] - b[k + 1]) / hk;
        d[k] = (b[k] + b[k + 1] - 2.0f * delta) / (hk * hk);
    }
    for (int j = 0; j < *no; ++j) {
        const float X = xo[j];
        yo[j] = M;
        for (int k = 0; k + 1 < N; ++k) {
            const bool inside = (x[k] <= X && X <= x[k + 1]) || (x[k] >= X && X >= x[k + 1]);
            if (inside) {
                const float s = X - x[k];
                yo[j] = y[k] + s * (b[k] + s * (c[k] + s * d[k]));
                break;
            }
        }
    }
}

// A profile (p hPa, decreasing) on the 39 pressures of pl, interpolated in
// ln p with INTSP2; levels outside the profile hold 9999.
void INTPS(const float* p, const float* x, const int* n, float* xo)
{
    const int N = *n > 0 ? *n : 0;
    float* work = static_cast<float*>(work_alloc(4ul * N, sizeof(float)));
    float* lnp = work;
    for (int k = 0; k < N; ++k)
        lnp[k] = logf(p[k]);
    float lnpl[kLevels];
    for (int k = 0; k < kLevels; ++k)
        lnpl[k] = logf(pl[k]);
    const int no = kLevels;
    INTSP2(lnp, x, &N, lnpl, xo, &no, work + N, work + 2 * N, work + 3 * N, &kUnset);
    free(work);
}

// Dew point (K) from temperature (K) and relative humidity (%), from the
// Clausius-Clapeyron relation with a temperature-dependent latent heat.
void ddewtemp(const double* tk, const double* rh, double* tdk, const double* dmiss)
{
    const double M = *dmiss;
    *tdk = M;
    if (*tk == M || *rh == M || !(*rh > 0.0) || !(*tk > 0.0))
        return;
    const double L = 2.501e6 - 2370.0 * (*tk - 273.15);
    const double inv = 1.0 / *tk - 461.5 / L * log(*rh / 100.0);
    if (inv > 0.0)
        *tdk = 1.0 / inv;
}

}  // namespace convective_index_utils
