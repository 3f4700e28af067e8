// Parcel profiles of one sounding and the energies and levels built on them:
// condensation level, level of free convection, equilibrium level, CAPE, CIN,
// downdraft CAPE and the lifted index.
//
// The parcel moves on a 2-hPa grid from its starting pressure; at every step
// the environment is interpolated in log-pressure from the sounding. Energies
// are trapezoid sums of |parcel - environment| over ln p, times R.
#include "cumulex/internal.h"

#include <float.h>
#include <math.h>
#include <stdlib.h>

namespace convective_index_utils {

// Level 1 the lowest, pressures present, positive, finite and strictly
// decreasing, at least two levels: the order the stepping and the work-array
// sizes rely on.
bool usable_pressures(const float* p, int n, float miss)
{
    if (n < 2)
        return false;
    for (int i = 0; i < n; ++i) {
        if (p[i] == miss || !(p[i] > 0.0f && p[i] <= FLT_MAX))
            return false;
        if (i > 0 && !(p[i - 1] > p[i]))
            return false;
    }
    return true;
}

int first_complete_level(const float* t, const float* td, int n, float miss)
{
    for (int i = 0; i < n; ++i) {
        if (t[i] != miss && td[i] != miss)
            return i;
    }
    return -1;
}

namespace {

const float R = 287.3f;  // gas constant of every energy integral, J/(kg K)

// The sounding as given, with its pressures also in hPa.
struct Column {
    const float* t;
    const float* td;
    const float* p;  // Pa
    int n;
    float miss;
    float* ph;  // hPa
};

bool column_open(Column* c, const float* t, const float* td, const float* p, int n, float miss)
{
    if (!usable_pressures(p, n, miss))
        return false;
    c->t = t;
    c->td = td;
    c->p = p;
    c->n = n;
    c->miss = miss;
    c->ph = static_cast<float*>(work_alloc(n, sizeof(float)));
    for (int i = 0; i < n; ++i)
        c->ph[i] = p[i] / 100.0f;
    return true;
}

void column_close(Column* c)
{
    free(c->ph);
    c->ph = nullptr;
}

// The parcel's starting level.
int start_level(const Column& c)
{
    return first_complete_level(c.t, c.td, c.n, c.miss);
}

// Condensation level of the parcel from the starting level (hPa, degC) and
// its height above that level for a dry-adiabatic ascent.
bool column_lcl(const Column& c, float* plcl, float* tlcl, float* hgt)
{
    const int i = start_level(c);
    if (i < 0)
        return false;
    const float p0 = c.p[i] / 100.0f;
    const float T0 = c.t[i];
    const float Td0 = c.td[i];
    LCL(&p0, &T0, &Td0, plcl, tlcl);
    *hgt = (T0 - *tlcl) * 1005.0f / 9.81f;
    return true;
}

// Work-array length for `steps` parcel steps, with one spare slot for the
// rounding of the pressure stepping; absurd sizes stop as storage that
// cannot be obtained.
int step_capacity(float steps)
{
    if (!(steps < 1.0e9f))
        out_of_memory();
    return static_cast<int>(steps) + 1;
}

// Upward from the condensation level to within 2 hPa of the top level:
// at most trunc((p(1) - p(n)) / 200) + 1 steps.
int upward_capacity(const Column& c)
{
    return step_capacity(truncf((c.p[0] - c.p[c.n - 1]) / 200.0f) + 1.0f);
}

// From pressure a up to pressure b (hPa, b > a): 1 + ceil((b - a) / 2) steps.
int downward_capacity(float a, float b)
{
    return step_capacity(b > a ? 1.0f + ceilf((b - a) / 2.0f) : 1.0f);
}

enum class Path { Moist, Dry };
enum class Env { None, Plain, Virtual };

// One parcel profile: step pressures (hPa) and parcel temperatures, with the
// environment temperature, dew point and virtual temperature at each step.
struct Walk {
    int cap = 0;
    int K = 0;
    float* p = nullptr;
    float* T = nullptr;
    float* envT = nullptr;
    float* envTd = nullptr;
    float* envV = nullptr;
};

void walk_open(Walk* w, int cap)
{
    float* block = static_cast<float*>(work_alloc(5ul * cap, sizeof(float)));
    w->cap = cap;
    w->K = 0;
    w->p = block;
    w->T = block + cap;
    w->envT = block + 2 * cap;
    w->envTd = block + 3 * cap;
    w->envV = block + 4 * cap;
}

void walk_close(Walk* w)
{
    free(w->p);
    w->p = w->T = w->envT = w->envTd = w->envV = nullptr;
}

void set_environment(Walk* w, int k, const Column& c, Env env)
{
    if (env == Env::None)
        return;
    interplate(&w->p[k], c.ph, c.t, &c.n, &w->envT[k], &c.miss);
    interplate(&w->p[k], c.ph, c.td, &c.n, &w->envTd[k], &c.miss);
    if (env == Env::Virtual) {
        // An environment value that could not be interpolated has no virtual
        // temperature either.
        if (w->envT[k] == c.miss || w->envTd[k] == c.miss)
            w->envV[k] = c.miss;
        else
            Tv(&w->p[k], &w->envT[k], &w->envTd[k], &w->envV[k]);
    }
}

// Steps the parcel from (p0, T0) by 2 hPa, upward (decreasing pressure) while
// the pressure is above `limit`, downward while it is below, along the moist
// adiabat `conserved` (equivalent potential temperature) or the dry adiabat
// `conserved` (potential temperature).
void walk_parcel(Walk* w, const Column& c, float p0, float T0, bool upward, float limit,
                 Path path, float conserved, Env env)
{
    int k = 0;
    float pp = p0;
    w->p[0] = pp;
    w->T[0] = T0;
    set_environment(w, 0, c, env);
    while (k + 1 < w->cap && (upward ? pp > limit : pp < limit)) {
        pp = upward ? pp - 2.0f : pp + 2.0f;
        ++k;
        w->p[k] = pp;
        if (path == Path::Moist)
            CPhysicsChange_TSteA2(&pp, &conserved, &w->T[k]);
        else
            CPhysicsChange_TSt(&pp, &conserved, &w->T[k]);
        set_environment(w, k, c, env);
    }
    w->K = k + 1;
}

// Adds the trapezoids of steps from .. to-1 of |parcel - environment| over
// ln p to *sum, in step order. A trapezoid with an environment value that
// could not be interpolated is left out.
void accumulate(float* sum, const Walk& w, const float* env, int from, int to, bool upward,
                float miss)
{
    for (int k = from; k < to; ++k) {
        if (env[k] == miss || env[k + 1] == miss)
            continue;
        const float dlnp = upward ? logf(w.p[k]) - logf(w.p[k + 1])
                                  : logf(w.p[k + 1]) - logf(w.p[k]);
        *sum += 0.5f * (fabsf(w.T[k] - env[k]) + fabsf(w.T[k + 1] - env[k + 1])) * dlnp;
    }
}

// Positive-area segments of an upward walk: runs of steps where the parcel is
// warmer than the environment, discarded when shorter than 5 steps (10 hPa).
// A segment still open at the top has no end (-1).
struct Segments {
    int count = 0;
    bool inside = false;
    int* start = nullptr;
    int* end = nullptr;
};

void find_segments(Segments* s, const Walk& w, float miss)
{
    s->start = static_cast<int*>(work_alloc(2ul * w.K, sizeof(int)));
    s->end = s->start + w.K;
    s->count = 0;
    s->inside = false;
    for (int k = 0; k + 1 < w.K; ++k) {
        const float tp = w.T[k];
        const float te = w.envT[k];
        if (tp == miss || te == miss)
            continue;
        if (!s->inside) {
            if (te < tp) {
                s->inside = true;
                s->start[s->count] = k;
                s->end[s->count] = -1;
                ++s->count;
            }
        } else if (tp < te) {
            s->inside = false;
            const int last = s->count - 1;
            s->end[last] = k;
            if (k - s->start[last] < 5) {
                s->end[last] = -1;
                --s->count;
            }
        }
    }
}

void segments_close(Segments* s)
{
    free(s->start);
    s->start = s->end = nullptr;
}

// Step index of the level of free convection: the start of the first segment
// with a valid parcel value; -1 when none.
int lfc_step(const Segments& s, const Walk& w, float miss)
{
    for (int i = 0; i < s.count; ++i) {
        const int k = s.start[i];
        if (w.p[k] != miss && w.T[k] != miss)
            return k;
    }
    return -1;
}

// Step index of the equilibrium level: the end of the last closed segment with
// a valid parcel value; none (-1) when the walk ends inside a segment.
int el_step(const Segments& s, const Walk& w, float miss)
{
    if (s.inside)
        return -1;
    for (int i = s.count - 1; i >= 0; --i) {
        const int k = s.end[i];
        if (k >= 0 && w.p[k] != miss && w.T[k] != miss)
            return k;
    }
    return -1;
}

// The surface parcel lifted from its condensation level along the moist
// adiabat, with the environment it meets and its positive-area segments.
struct Ascent {
    Column c;
    Walk w;
    Segments s;
    bool segments = false;
};

bool ascent_open(Ascent* a, const float* t, const float* td, const float* p, int n,
                 float miss, Env env, bool with_segments)
{
    if (!column_open(&a->c, t, td, p, n, miss))
        return false;
    walk_open(&a->w, upward_capacity(a->c));
    float plcl, tlcl, hgt;
    if (!column_lcl(a->c, &plcl, &tlcl, &hgt)) {
        walk_close(&a->w);
        column_close(&a->c);
        return false;
    }
    float thse;
    CPhysicsChange_SteA(&plcl, &tlcl, &thse);
    walk_parcel(&a->w, a->c, plcl, tlcl, true, a->c.ph[n - 1] + 2.0f, Path::Moist, thse, env);
    a->segments = with_segments;
    if (with_segments)
        find_segments(&a->s, a->w, miss);
    return true;
}

void ascent_close(Ascent* a)
{
    if (a->segments)
        segments_close(&a->s);
    walk_close(&a->w);
    column_close(&a->c);
}

}  // namespace

void cal_tcl(float* tclp, float* tclt, float* hgt, const float* t, const float* td,
             const float* p, const int* n, const float* miss)
{
    *tclp = *miss;
    *tclt = *miss;
    *hgt = *miss;
    Column c;
    if (!column_open(&c, t, td, p, *n, *miss))
        return;
    float plcl, tlcl, h;
    if (column_lcl(c, &plcl, &tlcl, &h)) {
        *tclp = plcl;
        *tclt = tlcl;
        *hgt = h;
    }
    column_close(&c);
}

void cal_LFC(float* plfc, float* tlfc, const float* t, const float* td, const float*,
             const float* p, const int* n, const float* miss)
{
    *plfc = *miss;
    *tlfc = *miss;
    Ascent a;
    if (!ascent_open(&a, t, td, p, *n, *miss, Env::Plain, true))
        return;
    const int k = lfc_step(a.s, a.w, *miss);
    if (k >= 0) {
        *plfc = a.w.p[k];
        *tlfc = a.w.T[k];
    }
    ascent_close(&a);
}

void cal_EL(float* pel, float* tel, const float* t, const float* td, const float*,
            const float* p, const int* n, const float* miss)
{
    *pel = *miss;
    *tel = *miss;
    Ascent a;
    if (!ascent_open(&a, t, td, p, *n, *miss, Env::Plain, true))
        return;
    const int k = el_step(a.s, a.w, *miss);
    if (k >= 0) {
        *pel = a.w.p[k];
        *tel = a.w.T[k];
    }
    ascent_close(&a);
}

void cal_cape(float* cape, float* gcape, const float* t, const float* td, const float*,
              const float* p, const int* n, const float* miss)
{
    const float M = *miss;
    *cape = M;
    *gcape = M;
    Ascent a;
    if (!ascent_open(&a, t, td, p, *n, M, Env::Virtual, true))
        return;
    float A = 0.0f;
    float Av = 0.0f;
    for (int i = 0; i < a.s.count; ++i) {
        if (a.s.start[i] < 0 || a.s.end[i] < 0)
            break;
        accumulate(&A, a.w, a.w.envT, a.s.start[i], a.s.end[i], true, M);
        accumulate(&Av, a.w, a.w.envV, a.s.start[i], a.s.end[i], true, M);
    }
    *cape = R * A;
    if (*cape == 0.0f)
        *cape = M;

    const int kl = lfc_step(a.s, a.w, M);
    const int ke = el_step(a.s, a.w, M);
    if (kl >= 0 && ke >= 0) {
        const float plfc_whole = truncf(a.w.p[kl]);
        const float pel = a.w.p[ke];
        if (plfc_whole != M && pel != M && plfc_whole > pel)
            *gcape = R * Av / (plfc_whole - pel);
    }
    ascent_close(&a);
}

void cal_cin(float* cin, const float* t, const float* td, const float*, const float* p,
             const int* n, const float* miss)
{
    const float M = *miss;
    *cin = M;
    Ascent a;
    if (!ascent_open(&a, t, td, p, *n, M, Env::Virtual, true))
        return;
    const int kl = lfc_step(a.s, a.w, M);
    float plcl = a.w.p[0];
    float tlcl = a.w.T[0];
    if (kl < 0 || plcl == M || plcl <= a.w.p[kl]) {
        ascent_close(&a);
        return;
    }

    // Upper part, condensation level to LFC on the moist adiabat: these are
    // the first steps of the ascent itself, environment as virtual temperature.
    float A2 = 0.0f;
    accumulate(&A2, a.w, a.w.envV, 0, kl, true, M);

    // Lower part, condensation level down to the surface on the dry adiabat;
    // the layer directly below the condensation level is not counted.
    const float psfc = a.c.ph[0];
    float theta;
    CPhysicsChange_St(&plcl, &tlcl, &theta);
    Walk lower;
    walk_open(&lower, downward_capacity(plcl, psfc));
    walk_parcel(&lower, a.c, plcl, tlcl, false, psfc, Path::Dry, theta, Env::Virtual);
    float A1 = 0.0f;
    accumulate(&A1, lower, lower.envV, 1, lower.K - 1, false, M);
    walk_close(&lower);

    *cin = R * (A1 + A2);
    ascent_close(&a);
}

void cal_dcape(float* dcape, const float* t, const float* td, const float* gh, const float* p,
               const int* n, const float* miss)
{
    const float M = *miss;
    *dcape = M;
    float cape, gcape;
    cal_cape(&cape, &gcape, t, td, gh, p, n, miss);
    if (cape == M || cape <= 10.0f)
        return;

    Column c;
    if (!column_open(&c, t, td, p, *n, M))
        return;

    // Source: the level between 698 and 400 hPa with the lowest saturated
    // equivalent potential temperature of the environment (the first of equal
    // minima); levels whose temperature cannot be interpolated are passed over.
    float pp = 700.0f;
    float thmin = 9999.0f;
    float pmin = 0.0f;
    bool found = false;
    while (400.0f < pp) {
        pp = pp - 2.0f;
        float T;
        interplate(&pp, c.ph, c.t, &c.n, &T, &c.miss);
        if (T == M)
            continue;
        float s;
        CPhysicsChange_SteA(&pp, &T, &s);
        if (s < thmin && s != M) {
            thmin = s;
            pmin = pp;
            found = true;
        }
    }
    if (!found) {
        column_close(&c);
        return;
    }

    // Saturated descent along the moist adiabat to the pressure of level 1.
    float T0;
    CPhysicsChange_TSteA2(&pmin, &thmin, &T0);
    Walk w;
    walk_open(&w, downward_capacity(pmin, c.ph[0]));
    walk_parcel(&w, c, pmin, T0, false, c.ph[0], Path::Moist, thmin, Env::Virtual);
    float sum = 0.0f;
    accumulate(&sum, w, w.envV, 0, w.K - 1, false, M);
    *dcape = R * sum;
    walk_close(&w);
    column_close(&c);
}

void cal_LI(float* li, const float* t, const float* td, const float* p, const int* n,
            const float* miss)
{
    const float M = *miss;
    if (!usable_pressures(p, *n, M)) {
        *li = M;
        return;
    }
    int i500 = -1;
    for (int i = 0; i < *n; ++i) {
        if (p[i] == 50000.0f)
            i500 = i;
    }
    if (i500 < 0 || t[i500] == M) {
        *li = M;
        return;
    }
    Ascent a;
    if (!ascent_open(&a, t, td, p, *n, M, Env::None, false)) {
        *li = M;
        return;
    }
    const Walk& w = a.w;
    for (int k = 0; k + 1 < w.K; ++k) {
        if (w.p[k] == 500.0f) {
            *li = t[i500] - w.T[k];
            break;
        }
        if (w.p[k] > 500.0f && 500.0f > w.p[k + 1]) {
            const float Tp = w.T[k] + (logf(w.p[k]) - 6.214608f) /
                                          (logf(w.p[k]) - logf(w.p[k + 1])) *
                                          (w.T[k + 1] - w.T[k]);
            *li = t[i500] - Tp;
            break;
        }
    }
    // A parcel that starts above 500 hPa leaves li as the caller set it.
    ascent_close(&a);
}

}  // namespace convective_index_utils
