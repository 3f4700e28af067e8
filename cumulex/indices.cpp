// Stability indices from the values of one column at a few standard levels,
// the equivalent potential temperature of a point and the height at which a
// temperature profile first reaches a given temperature. Temperatures and dew
// points in degC; an index whose inputs are missing is the missing value.
#include "cumulex/internal.h"

#include <math.h>

namespace convective_index_utils {

namespace {

const float kPi = 3.1415925f;
const float kP925 = 925.0f;
const float kP850 = 850.0f;
const float kP700 = 700.0f;
const float kP500 = 500.0f;

// True when any of the values equals the missing value.
template <typename... Values>
bool any_missing(float miss, const Values*... values)
{
    return ((*values == miss) || ...);
}

float saturated_thse(float p, float T)
{
    float s;
    CPhysicsChange_SteA(&p, &T, &s);
    return s;
}

float equivalent_thse(float p, float T, float Td)
{
    float s;
    CPhysicsChange_Ste(&p, &T, &Td, &s);
    return s;
}

// Temperature at 500 hPa of the parcel (T, Td) lifted from 850 hPa.
float parcel_850_to_500(float T, float Td)
{
    float tp;
    cphysicschange_riset(&kP850, &T, &Td, &kP500, &tp);
    return tp;
}

}  // namespace

// Equivalent potential temperature in kelvin; p in Pa.
void cal_thetse(float* thetse, const float* t, const float* td, const float* p,
                const float* miss)
{
    if (any_missing(*miss, t, td)) {
        *thetse = *miss;
        return;
    }
    const float ph = *p / 100.0f;
    const float x = 17.26f * *td / ((273.16f + *td) - 35.86f);
    const float ex = expf(x);
    const float q = 3800.4202f * ex / (ph - 0.378f * ex);
    const float tl = 338.52f - 0.24f * (*t + 273.15f) + 1.24f * *td;
    *thetse = (*t + 273.15f) * expf(0.28586f * logf(1000.0f / ph) + 2.5f * q / tl);
}

void cal_A(float* a, const float* t850, const float* td850, const float* t700,
           const float* t500, const float* td700, const float* td500, const float* miss)
{
    if (any_missing(*miss, t850, td850, t700, t500, td700, td500)) {
        *a = *miss;
        return;
    }
    *a = (*t850 - *t500) + (*td850 - *t850) - *t700 + *td700 + *td500 - *t500;
}

void cal_si(float* si, const float* t500, const float* t850, const float* td850,
            const float* miss)
{
    if (any_missing(*miss, t500, t850, td850)) {
        *si = *miss;
        return;
    }
    *si = *t500 - parcel_850_to_500(*t850, *td850);
}

void cal_tt(float* tt, const float* t850, const float* td850, const float* t500,
            const float* miss)
{
    if (any_missing(*miss, t850, td850, t500)) {
        *tt = *miss;
        return;
    }
    *tt = (*t850 + *td850) - 2.0f * *t500;
}

void cal_sweat(float* sweat, const float* uwind850, const float* vwind850,
               const float* uwind500, const float* vwind500, const float* t850,
               const float* td850, const float* t500, const float* miss)
{
    const float M = *miss;
    float tt;
    cal_tt(&tt, t850, td850, t500, miss);
    // Without the total totals the index has no value: a missing tt would
    // otherwise enter the sum as the number 9999.
    if (tt == M || any_missing(M, td850, uwind850, vwind850, uwind500, vwind500)) {
        *sweat = M;
        return;
    }
    float x = tt - 49.0f;
    if (x < 0.0f)
        x = 0.0f;
    float f850, d850, f500, d500;
    wind_speed_direction(uwind850, vwind850, &f850, &d850, miss);
    wind_speed_direction(uwind500, vwind500, &f500, &d500, miss);
    float d = *td850;
    if (d < 0.0f)
        d = 0.0f;
    float s = 12.0f * d + 20.0f * x + 4.0f * f850 + 2.0f * f500;
    if (130.0f <= d850 && d850 <= 250.0f && 210.0f <= d500 && d500 <= 310.0f && f850 >= 7.5f &&
        f500 >= 7.5f && d500 - d850 > 0.0f)
        s = s + 125.0f * (sinf((d500 - d850) * kPi / 180.0f) + 0.2f);
    *sweat = s;
}

// Height of the first downward crossing of t0 from the ground, interpolated
// linearly in ln p, with the hypsometric thickness above the level below it.
void cal_HT(float* h, const float* t0, const float* t, const float* gh, const float* p,
            const int* n, const float* miss)
{
    const float M = *miss;
    const float T0 = *t0;
    *h = M;
    if (!usable_pressures(p, *n, M))
        return;
    if (T0 < t[0]) {
        for (int i = 0; i + 1 < *n; ++i) {
            const float ta = t[i];
            const float tb = t[i + 1];
            if (fabsf(ta - tb) >= 1e-6f && tb < T0 && ta != M && tb != M) {
                if (gh[i] == M)
                    return;
                const float lnpx =
                    (ta * logf(p[i + 1]) - tb * logf(p[i]) - T0 * logf(p[i + 1] / p[i])) /
                    (ta - tb);
                const float px = expf(lnpx);
                *h = gh[i] + (287.04f * (ta + 546.3f + T0) / 2.0f / 9.8f) * logf(p[i] / px);
                return;
            }
        }
    } else if (fabsf(t[0] - T0) < 1e-6f) {
        *h = gh[0];
    }
}

void cal_k(float* k, const float* t850, const float* t700, const float* t500,
           const float* td850, const float* td700, const float* miss)
{
    if (any_missing(*miss, t850, t700, t500, td850, td700)) {
        *k = *miss;
        return;
    }
    *k = (*t850 - *t500) + *td850 - (*t700 - *td700);
}

void cal_mk(float* mk, const float* t850, const float* td850, const float* t700,
            const float* t500, const float* td700, const float* tsfc, const float* tdsfc,
            const float* miss)
{
    if (any_missing(*miss, t850, td850, t700, t500, td700, tsfc, tdsfc)) {
        *mk = *miss;
        return;
    }
    *mk = (*tdsfc + *td850) / 2.0f + ((*tsfc + *t850) / 2.0f - *t500) - (*t700 - *td700);
}

void cal_minus(float* d, const float* a, const float* b, const float* miss)
{
    if (any_missing(*miss, a, b)) {
        *d = *miss;
        return;
    }
    *d = *a - *b;
}

// Relative humidity in percent from the specific humidities at the dew point
// and at the temperature, at most 100.
void cal_rh(float* rh, const float* t, const float* td, const float* p, const float* miss)
{
    const float M = *miss;
    *rh = M;
    if (any_missing(M, t, td))
        return;
    float qd, qs;
    qq(p, td, &qd);
    qq(p, t, &qs);
    if (qd == M || qs == M || qs == 0.0f)
        return;
    float r = 100.0f * qd / qs;
    if (r > 100.0f)
        r = 100.0f;
    *rh = r;
}

// Difference of the equivalent potential temperatures of two levels (b - a);
// pressures in Pa.
void cal_ic(float* ic, const float* ta, const float* tb, const float* tda, const float* tdb,
            const float* pa, const float* pb, const float* miss)
{
    float sa, sb;
    cal_thetse(&sa, ta, tda, pa, miss);
    cal_thetse(&sb, tb, tdb, pb, miss);
    if (sa == *miss || sb == *miss) {
        *ic = *miss;
        return;
    }
    *ic = sb - sa;
}

// Saturated equivalent potential temperature at 500 hPa minus that at 700 hPa,
// or at 850 hPa when the 700-hPa temperature is missing; not written when both
// are missing.
void cal_BI(float* bi, const float* t500, const float* t850, const float* t700,
            const float* miss)
{
    const float M = *miss;
    if (*t700 == M && *t850 == M)
        return;
    if (*t500 == M) {
        *bi = M;
        return;
    }
    const float s500 = saturated_thse(kP500, *t500);
    if (*t700 != M)
        *bi = s500 - saturated_thse(kP700, *t700);
    else
        *bi = s500 - saturated_thse(kP850, *t850);
}

void cal_JI(float* ji, const float* t925, const float* t500, const float* miss)
{
    if (any_missing(*miss, t925, t500)) {
        *ji = *miss;
        return;
    }
    *ji = 1.6f * saturated_thse(kP925, *t925) - *t500 - 11.0f;
}

void cal_mji(float* mji, const float* t700, const float* td700, const float* t925,
             const float* t500, const float* miss)
{
    if (any_missing(*miss, t700, td700, t925, t500)) {
        *mji = *miss;
        return;
    }
    float ji;
    cal_JI(&ji, t925, t500, miss);
    *mji = ji - 0.5f * (*t700 - *td700) + 3.0f;
}

void cal_teffer(float* te, const float* a1, const float* a2, const float* a3, const float* a4,
                const float* a5, const float* a6, const float* miss)
{
    if (any_missing(*miss, a1, a2, a3, a4, a5, a6)) {
        *te = *miss;
        return;
    }
    *te = (*a2 - *a3) + (*a4 - *a5) + *a6 - *a1;
}

// Temperature at 500 hPa of the parcel lifted from 850 hPa with temperature a3
// and the mean of a4, a5, a6 as dew point.
void cal_Faust(float* fa, const float* a1, const float* a2, const float* a3, const float* a4,
               const float* a5, const float* a6, const float* miss)
{
    if (any_missing(*miss, a1, a2, a3, a4, a5, a6)) {
        *fa = *miss;
        return;
    }
    *fa = parcel_850_to_500(*a3, 0.3333f * (*a4 + *a5 + *a6));
}

// Not written when an input, or one of its four equivalent potential
// temperatures, is missing. psfc in Pa.
void cal_ILC(float* ilc, const float* t500, const float* td500, const float* tsfc,
             const float* tdsfc, const float* psfc, const float* t850, const float* td850,
             const float* miss)
{
    const float M = *miss;
    if (any_missing(M, t500, td500, tsfc, tdsfc, psfc, t850, td850))
        return;
    const float s1 = saturated_thse(kP500, *t500);
    const float s2 = equivalent_thse(*psfc / 100.0f, *tsfc, *tdsfc);
    const float s3 = equivalent_thse(kP500, *t500, *td500);
    const float s4 = equivalent_thse(kP850, *t850, *td850);
    if (s1 == M || s2 == M || s3 == M || s4 == M)
        return;
    *ilc = s1 - s2 + s3 - s4;
}

// Lapse rate in K/km from two temperatures (a1, a2) and two heights (a3, a4).
void cal_dt75(float* dt, const float* a1, const float* a2, const float* a3, const float* a4,
              const float* miss)
{
    if (any_missing(*miss, a1, a2, a3, a4) || *a3 - *a4 == 0.0f) {
        *dt = *miss;
        return;
    }
    *dt = 1000.0f * (*a1 - *a2) / (*a3 - *a4);
}

void cal_dtase85(float* dt, const float* a1, const float* a2, const float* a3, const float* a4,
                 const float* miss)
{
    if (any_missing(*miss, a1, a2, a3, a4) || *a1 - *a2 == 0.0f) {
        *dt = *miss;
        return;
    }
    *dt = 1000.0f * (*a4 - *a3) / (*a1 - *a2);
}

// Lapse rate in K/km from the lowest level to 3000 m, the temperature at 3000 m
// interpolated linearly in height between the last pair of levels with values
// that brackets it; not written when no pair does.
void CAL_dt03(float* dt, const float* h, const float* t, const int* n, const float* miss)
{
    const float M = *miss;
    const int N = *n;
    if (N < 2 || t[0] == M || h[0] == M) {
        *dt = M;
        return;
    }
    int k = -1;
    for (int i = 0; i + 1 < N; ++i) {
        if (h[i] != M && h[i + 1] != M && t[i] != M && t[i + 1] != M && h[i] <= 3000.0f &&
            3000.0f < h[i + 1])
            k = i;
    }
    if (k < 0)
        return;
    if (3000.0f - h[0] == 0.0f) {
        *dt = M;
        return;
    }
    const float t3000 = t[k] + (3000.0f - h[k]) * (t[k + 1] - t[k]) / (h[k + 1] - h[k]);
    *dt = 1000.0f * (t3000 - t[0]) / (3000.0f - h[0]);
}

}  // namespace convective_index_utils
