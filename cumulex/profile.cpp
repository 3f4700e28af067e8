// Indices over a whole sounding built on the parcel and interpolation
// routines: shear between two pressure levels, the DCI, precipitable water,
// the SSI and swiss indices, the convective condensation level and the
// convective temperature, the BIC, and the unexported MDPI, MDCI and best
// lifted index. Single precision; profile pressures in Pa, level 1 the lowest.
// A profile whose pressures are not usable (fewer than two levels, a missing,
// non-positive or non-decreasing pressure) gives the missing value.
#include "cumulex/internal.h"

#include <math.h>
#include <stdlib.h>

namespace convective_index_utils {

namespace {

// The profile pressures in hPa, from the heap.
float* hpa_copy(const float* p, int n)
{
    float* ph = static_cast<float*>(work_alloc(n, sizeof(float)));
    for (int i = 0; i < n; ++i)
        ph[i] = p[i] / 100.0f;
    return ph;
}

// The last level whose pressure is exactly `pa`; -1 when none is.
int level_at(const float* p, int n, float pa)
{
    int found = -1;
    for (int i = 0; i < n; ++i) {
        if (p[i] == pa)
            found = i;
    }
    return found;
}

// The first level with height and both wind components present; -1 when none.
int first_wind_level(const float* u, const float* v, const float* gh, int n, float miss)
{
    for (int i = 0; i < n; ++i) {
        if (gh[i] != miss && u[i] != miss && v[i] != miss)
            return i;
    }
    return -1;
}

float wind_difference(float ua, float va, float ub, float vb)
{
    return sqrtf((ua - ub) * (ua - ub) + (va - vb) * (va - vb));
}

// Equivalent potential temperature (K, cal_thetse) extremes of two layers:
// *lowmax is raised by the levels within `depth` hPa above level 1, *midmin
// lowered by the levels between 650 and 500 hPa. Returns whether each layer
// had a level with a value.
void thetae_layers(const float* t, const float* td, const float* p, int n, float miss,
                   float depth, float* lowmax, float* midmin, bool* low, bool* mid)
{
    *low = false;
    *mid = false;
    const float ph1 = p[0] / 100.0f;
    for (int k = 0; k < n; ++k) {
        const float ph = p[k] / 100.0f;
        float s;
        cal_thetse(&s, &t[k], &td[k], &p[k], &miss);
        if (s == miss)
            continue;
        if (ph1 - ph <= depth) {
            *low = true;
            if (s > *lowmax)
                *lowmax = s;
        }
        if (500.0f <= ph && ph <= 650.0f) {
            *mid = true;
            if (s < *midmin)
                *midmin = s;
        }
    }
}

}  // namespace

// Bulk shear (1/s) between pressures p1 and p2 (the unit of p): the wind
// difference over the height difference, all three interpolated in ln p.
void cal_shr(float* shr, const float* p1, const float* p2, const float* u, const float* v,
             const float* p, const float* h, const int* n, const float* miss)
{
    const float M = *miss;
    *shr = M;
    if (!usable_pressures(p, *n, M))
        return;
    float u1, v1, h1, u2, v2, h2;
    interplate(p1, p, u, n, &u1, miss);
    interplate(p1, p, v, n, &v1, miss);
    interplate(p1, p, h, n, &h1, miss);
    interplate(p2, p, u, n, &u2, miss);
    interplate(p2, p, v, n, &v2, miss);
    interplate(p2, p, h, n, &h2, miss);
    if (u1 == M || v1 == M || h1 == M || u2 == M || v2 == M || h2 == M || h1 == h2)
        return;
    *shr = wind_difference(u1, v1, u2, v2) / fabsf(h1 - h2);
}

// t850 + td850 minus the lifted index of the profile.
void cal_DCI(float* dci, const float* t850, const float* td850, const float* t,
             const float* td, const float* p, const int* n, const float* miss)
{
    const float M = *miss;
    *dci = M;
    if (*t850 == M || *td850 == M)
        return;
    float li = M;
    cal_LI(&li, t, td, p, n, miss);
    if (li == M)
        return;
    *dci = *t850 + *td850 - li;
}

// Precipitable water in mm: the specific humidity at the dew point, averaged
// over each layer of two present levels, times its pressure depth over g.
void cal_pw(float* pw, const float* td, const float* p, const int* n, const float* miss)
{
    const float M = *miss;
    const int N = *n;
    *pw = M;
    if (!usable_pressures(p, N, M))
        return;
    float* q = static_cast<float*>(work_alloc(N, sizeof(float)));
    for (int k = 0; k < N; ++k) {
        if (td[k] == M) {
            q[k] = M;
        } else {
            const float ph = p[k] / 100.0f;
            qq(&ph, &td[k], &q[k]);
        }
    }
    float sum = 0.0f;
    for (int k = 0; k + 1 < N; ++k) {
        if (q[k] == M || q[k + 1] == M)
            continue;
        sum += ((q[k] + q[k + 1]) / 2.0f * (p[k] - p[k + 1]) / 100.0f) / (9.81f * 100.0f) * 10.0f;
    }
    free(q);
    *pw = sum;
}

// Severe storm index from the shear between the first level with wind and the
// height 3600 m, and the CAPE of the profile.
void cal_SSI(float* ssi, const float* t, const float* td, const float* u, const float* v,
             const float* gh, const float* p, const int* n, const float* miss)
{
    const float M = *miss;
    *ssi = M;
    if (!usable_pressures(p, *n, M))
        return;
    float cape, gcape;
    cal_cape(&cape, &gcape, t, td, gh, p, n, miss);
    const int k0 = first_wind_level(u, v, gh, *n, M);
    if (k0 < 0)
        return;
    const float h = 3600.0f;
    float ua, va;
    interplate_h(&h, gh, u, n, &ua, miss);
    interplate_h(&h, gh, v, n, &va, miss);
    if (ua == M || va == M || h - gh[k0] == 0.0f)
        return;
    const float shear = wind_difference(ua, va, u[k0], v[k0]) / fabsf(h - gh[k0]);
    if (!(shear > 0.0f))
        return;
    if (cape == M)
        *ssi = 100.0f * (2.0f + 0.276f * logf(shear));
    else
        *ssi = 100.0f * (2.0f + 0.276f * logf(shear) + 2.011e-4f * cape);
}

// Swiss thunderstorm indices from the Showalter index (levels at exactly
// 85000 and 50000 Pa), the dew-point depressions at exactly 60000 and 65000 Pa
// and the wind at 300 m and 600 m above the first level with wind (linear in
// height):
//   swiss00 = si + 0.4 |V(600 m) - V(300 m)| + 0.1 (t - td) at 600 hPa,
//   swiss12 = si - 0.3 |V(300 m) - V(base)| + 0.3 (t - td) at 650 hPa.
// Each is missing when a value it needs is.
void cal_swiss(float* swiss00, float* swiss12, const float* t, const float* td, const float* u,
               const float* v, const float* gh, const float* p, const int* n, const float* miss)
{
    const float M = *miss;
    const int N = *n;
    *swiss00 = M;
    *swiss12 = M;
    if (!usable_pressures(p, N, M))
        return;
    const int i850 = level_at(p, N, 85000.0f);
    const int i500 = level_at(p, N, 50000.0f);
    if (i850 < 0 || i500 < 0)
        return;
    float si;
    cal_si(&si, &t[i500], &t[i850], &td[i850], miss);
    const int k0 = first_wind_level(u, v, gh, N, M);
    if (si == M || k0 < 0)
        return;
    const float h3 = gh[k0] + 300.0f;
    const float h6 = gh[k0] + 600.0f;
    float u3, v3, u6, v6;
    interplate_h(&h3, gh, u, n, &u3, miss);
    interplate_h(&h3, gh, v, n, &v3, miss);
    interplate_h(&h6, gh, u, n, &u6, miss);
    interplate_h(&h6, gh, v, n, &v6, miss);
    const int i600 = level_at(p, N, 60000.0f);
    const int i650 = level_at(p, N, 65000.0f);
    if (u3 != M && v3 != M && u6 != M && v6 != M && i600 >= 0 && t[i600] != M &&
        td[i600] != M)
        *swiss00 = si + 0.4f * wind_difference(u6, v6, u3, v3) + 0.1f * (t[i600] - td[i600]);
    if (u3 != M && v3 != M && i650 >= 0 && t[i650] != M && td[i650] != M)
        *swiss12 = si - 0.3f * wind_difference(u3, v3, u[k0], v[k0]) +
                   0.3f * (t[i650] - td[i650]);
}

// Convective condensation level: the first 5-hPa step above the starting
// level at which the dew point of the starting level's specific humidity
// reaches the environment temperature. pccl in hPa, tccl in degC; not written
// when no step qualifies, missing without a starting level. A step whose dew
// point lies outside what CPhysicsChange_Tdqs resolves (its 9999) is passed
// over rather than taken as warmer than the environment.
void cal_ccl(float* pccl, float* tccl, const float* t, const float* td, const float* p,
             const int* n, const float* miss)
{
    const float M = *miss;
    const int N = *n;
    const int s = usable_pressures(p, N, M) ? first_complete_level(t, td, N, M) : -1;
    if (s < 0) {
        *pccl = M;
        *tccl = M;
        return;
    }
    float* ph = hpa_copy(p, N);
    const float p0 = ph[s];
    float q;
    qq(&p0, &td[s], &q);
    const float top = p[N - 1] / 100.0f;
    float pp = p0;
    while (pp > top) {
        float dew, env;
        CPhysicsChange_Tdqs(&pp, &q, &dew);
        interplate(&pp, ph, t, n, &env, miss);
        if (dew != 9999.0f && env != M && dew >= env) {
            *pccl = pp;
            *tccl = env;
            break;
        }
        const float next = pp - 5.0f;
        if (!(next < pp))
            break;
        pp = next;
    }
    free(ph);
}

// Convective temperature tc (the condensation point of cal_ccl brought down
// the dry adiabat to level 1) and tg = 1.8 (tc - tw), with tw the level-1
// temperature on the saturated adiabat through the 0 degC level.
void cal_wind_Tg(float* tg, float* tc, const float* t, const float* td, const float* p,
                 const int* n, const float* miss)
{
    const float M = *miss;
    *tg = M;
    *tc = M;
    if (!usable_pressures(p, *n, M))
        return;
    float pccl = M, tccl = M;
    cal_ccl(&pccl, &tccl, t, td, p, n, miss);
    float theta = M;
    if (pccl != M && tccl != M)
        CPhysicsChange_St(&pccl, &tccl, &theta);
    float* ph = hpa_copy(p, *n);
    const float zero = 0.0f;
    float p0c;
    interplate_t(&zero, t, ph, n, &p0c, miss);
    const float ps = ph[0];
    free(ph);
    if (theta == M || p0c == M)
        return;
    float c, s, w;
    CPhysicsChange_TSt(&ps, &theta, &c);
    CPhysicsChange_SteA(&p0c, &zero, &s);
    CPhysicsChange_TSteA2(&ps, &s, &w);
    *tc = c;
    *tg = 1.8f * (c - w);
}

// Lowest equivalent potential temperature between 650 and 500 hPa minus the
// highest within 200 hPa above level 1 (K); 800 when neither layer has a value.
void cal_bic(float* bic, const float* t, const float* td, const float* p, const int* n,
             const float* miss)
{
    const float M = *miss;
    *bic = M;
    if (!usable_pressures(p, *n, M) || p[0] / 100.0f < 850.0f)
        return;
    float lowmax = 200.0f;
    float midmin = 1000.0f;
    bool low, mid;
    thetae_layers(t, td, p, *n, M, 200.0f, &lowmax, &midmin, &low, &mid);
    *bic = midmin - lowmax;
}

// Microburst day potential index: the highest equivalent potential
// temperature within 150 hPa above level 1 minus the lowest between 650 and
// 500 hPa, over 30 K.
void cal_mdpi(float* mdpi, const float* t, const float* td, const float* p, const int* n,
              const float* miss)
{
    const float M = *miss;
    *mdpi = M;
    if (!usable_pressures(p, *n, M))
        return;
    float lowmax = 0.0f;
    float midmin = 1.0e9f;
    bool low, mid;
    thetae_layers(t, td, p, *n, M, 150.0f, &lowmax, &midmin, &low, &mid);
    if (low && mid)
        *mdpi = (lowmax - midmin) / 30.0f;
}

// The DCI with the temperature and dew point of the parcel's starting level
// (the first level with both) in place of those at 850 hPa.
void cal_mdci(float* mdci, const float* t, const float* td, const float* p, const int* n,
              const float* miss)
{
    const float M = *miss;
    *mdci = M;
    if (!usable_pressures(p, *n, M))
        return;
    const int s = first_complete_level(t, td, *n, M);
    if (s >= 0)
        cal_DCI(mdci, &t[s], &td[s], t, td, p, n, miss);
}

// Best lifted index: the lowest difference at 500 hPa (the level at exactly
// 50000 Pa) between the environment and a parcel lifted with
// cphysicschange_riset from each level at or below 700 hPa.
void cal_bli(float* bli, const float* t, const float* td, const float* p, const int* n,
             const float* miss)
{
    const float M = *miss;
    const int N = *n;
    *bli = M;
    if (!usable_pressures(p, N, M))
        return;
    const int i500 = level_at(p, N, 50000.0f);
    if (i500 < 0 || t[i500] == M)
        return;
    const float p500 = 500.0f;
    for (int k = 0; k < N; ++k) {
        const float ph = p[k] / 100.0f;
        if (ph < 700.0f)
            break;
        if (t[k] == M || td[k] == M)
            continue;
        float tp, li;
        cphysicschange_riset(&ph, &t[k], &td[k], &p500, &tp);
        COM_BLI(&t[i500], &tp, &li, bli, miss);
    }
}

}  // namespace convective_index_utils
