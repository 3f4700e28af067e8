// Thermodynamic primitives: saturation vapour pressure, humidity, potential
// and equivalent potential temperature, the moist adiabat, the lifting
// condensation level, virtual temperature, profile interpolation and wind.
// Single precision throughout; pressures in hPa.
#include "cumulex/internal.h"

#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

namespace convective_index_utils {

namespace {

const float kPi = 3.1415925f;

// Specific humidity (g/kg) at pressure p for vapour pressure e; shared by qq
// and the saturated equivalent potential temperature, which needs e itself too.
float specific_humidity(float p, float e)
{
    return 622.0f * e / (p - 0.378f * e);
}

// Magnus coefficients of EE and COM_QW: over water from 0 degC, over ice below.
void magnus(float T, float* a, float* b)
{
    if (T >= 0.0f) {
        *a = 7.5f;
        *b = 237.3f;
    } else {
        *a = 9.5f;
        *b = 265.5f;
    }
}

}  // namespace

void out_of_memory()
{
    fputs("Out of memory\n", stderr);
    fflush(stderr);
    exit(EXIT_FAILURE);
}

void* work_alloc(unsigned long count, unsigned long size)
{
    if (count == 0)
        count = 1;
    if (count > SIZE_MAX / size)
        out_of_memory();
    void* block = malloc(count * size);
    if (!block)
        out_of_memory();
    return block;
}

void EE(const float* T, float* e)
{
    float a, b;
    magnus(*T, &a, &b);
    *e = 6.112f * powf(10.0f, a * *T / (*T + b));
}

void qq(const float* p, const float* T, float* q)
{
    float e;
    EE(T, &e);
    *q = specific_humidity(*p, e);
}

void Rs(const float* p, const float* T, float* r)
{
    float e;
    EE(T, &e);
    *r = 622.0f * e / (*p - e);
}

void CPhysicsChange_St(const float* p, const float* T, float* theta)
{
    *theta = (*T + 273.16f) * powf(1000.0f / *p, 0.286f) - 273.16f;
}

void CPhysicsChange_TSt(const float* p, const float* theta, float* T)
{
    *T = (*theta + 273.16f) * powf(1000.0f / *p, -0.286f) - 273.16f;
}

void qSt(const float* p, const float* theta, float* q)
{
    float T;
    CPhysicsChange_TSt(p, theta, &T);
    qq(p, &T, q);
}

void CPhysicsChange_SteA(const float* p, const float* T, float* thse)
{
    const float Tk = *T + 273.15f;
    float e;
    EE(T, &e);
    const float q = specific_humidity(*p, e);
    *thse = Tk * powf(1000.0f / (*p - e), 0.2866f) * expf(2.490086f * q / Tk) - 273.15f;
}

// Bisection on temperature between -180 and 60 degC: 11 evaluations, the
// result within 0.06 K of the root.
void CPhysicsChange_TSteA2(const float* p, const float* thse, float* T)
{
    float lo = -180.0f;
    float hi = 60.0f;
    float d = 1.0f;
    float mid = (lo + hi) / 2.0f;
    while (d > 0.2f) {
        float s;
        CPhysicsChange_SteA(p, &mid, &s);
        if (*thse > s) {
            d = mid - lo;
            lo = mid;
        } else {
            d = hi - mid;
            hi = mid;
        }
        mid = (lo + hi) / 2.0f;
    }
    *T = mid;
}

void CPhysicsChange_Ste(const float* p, const float* T, const float* Td, float* thse)
{
    float plcl, tlcl;
    LCL(p, T, Td, &plcl, &tlcl);
    CPhysicsChange_SteA(&plcl, &tlcl, thse);
}

// Bisection on the dew point between -100 and 100 degC (11 evaluations);
// 9999 for a vapour pressure outside EE over -100 .. 60 degC.
void CPhysicsChange_Tdqs(const float* p, const float* q, float* Td)
{
    const float e = *q * *p / (0.378f * *q + 622.0f);
    const float coldest = -100.0f;
    const float warmest = 60.0f;
    float emin, emax;
    EE(&coldest, &emin);
    EE(&warmest, &emax);
    if (e < emin || e > emax) {
        *Td = 9999.0f;
        return;
    }
    float lo = -100.0f;
    float hi = 100.0f;
    float d = 1.0f;
    float mid;
    for (;;) {
        mid = (lo + hi) / 2.0f;
        if (d <= 0.1f)
            break;
        float es;
        EE(&mid, &es);
        if (es > e) {
            d = hi - mid;
            hi = mid;
        } else {
            d = mid - lo;
            lo = mid;
        }
    }
    *Td = mid;
}

// The condensation level on a 10-hPa grid from the starting pressure; the
// search stops at the first step at or below 100 hPa.
void LCL(const float* p, const float* T, const float* Td, float* plcl, float* tlcl)
{
    float theta;
    CPhysicsChange_St(p, T, &theta);
    if (*T == *Td) {
        *plcl = *p;
        CPhysicsChange_TSt(p, &theta, tlcl);
        return;
    }
    float q;
    qq(p, Td, &q);
    float pc = *p;
    float qs;
    qSt(&pc, &theta, &qs);
    while (qs > q && pc > 100.0f) {
        const float next = pc - 10.0f;
        if (!(next < pc))  // a pressure too large for a 10-hPa step to change
            break;
        pc = next;
        qSt(&pc, &theta, &qs);
    }
    *plcl = pc;
    CPhysicsChange_TSt(&pc, &theta, tlcl);
}

void cphysicschange_riset(const float* p, const float* T, const float* Td, const float* pt,
                          float* tp)
{
    float plcl, tlcl;
    LCL(p, T, Td, &plcl, &tlcl);
    if (*pt > plcl) {
        float theta;
        CPhysicsChange_St(p, T, &theta);
        CPhysicsChange_TSt(pt, &theta, tp);
    } else {
        float thse;
        CPhysicsChange_SteA(&plcl, &tlcl, &thse);
        CPhysicsChange_TSteA2(pt, &thse, tp);
    }
}

void Tv(const float* p, const float* T, const float* Td, float* tv)
{
    float q;
    qq(p, Td, &q);
    *tv = (*T + 273.15f) * (1.0f + 0.608f * q / 1000.0f) - 273.15f;
}

// A level of the profile exactly at X with a present value gives that value.
static bool valueAt(float X, const float* xs, const float* ys, int N, float M, float* out)
{
    for (int i = 0; i < N; ++i) {
        if (xs[i] == X && ys[i] != M) {
            *out = ys[i];
            return true;
        }
    }
    return false;
}

// Log-pressure interpolation over pressures decreasing with the index, with
// extrapolation below and above the profile from its outermost present values.
void interplate(const float* x, const float* xs, const float* ys, const int* n, float* out,
                const float* miss)
{
    const float X = *x;
    const float M = *miss;
    const int N = *n;
    *out = M;
    if (valueAt(X, xs, ys, N, M, out))
        return;
    for (int i = 0; i + 1 < N; ++i) {
        if (xs[i] > X && X > xs[i + 1] && ys[i] != M && ys[i + 1] != M) {
            *out = ys[i] + (ys[i + 1] - ys[i]) * (logf(xs[i]) - logf(X)) /
                               (logf(xs[i]) - logf(xs[i + 1]));
            return;
        }
    }
    if (N < 1)
        return;
    if (X > xs[0]) {
        int i1 = 0;
        while (i1 < N && ys[i1] == M)
            ++i1;
        int i2 = i1 + 1;
        while (i2 < N && ys[i2] == M)
            ++i2;
        if (i2 >= N)
            return;
        const float span = logf(xs[i1]) - logf(xs[i2]);
        if (span != 0.0f)
            *out = ys[i1] + (ys[i1] - ys[i2]) * (logf(X) - logf(xs[i1])) / span;
    } else if (X < xs[N - 1]) {
        int i2 = N - 1;
        while (i2 >= 0 && ys[i2] == M)
            --i2;
        int i1 = i2 - 1;
        while (i1 >= 0 && ys[i1] == M)
            --i1;
        if (i1 < 0)
            return;
        const float span = logf(xs[i1]) - logf(xs[i2]);
        if (span != 0.0f)
            *out = ys[i2] + (ys[i2] - ys[i1]) * (logf(xs[i2]) - logf(X)) / span;
    }
}

// Linear interpolation over a coordinate increasing with the index; no
// extrapolation.
void interplate_h(const float* x, const float* xs, const float* ys, const int* n, float* out,
                  const float* miss)
{
    const float X = *x;
    const float M = *miss;
    const int N = *n;
    *out = M;
    if (valueAt(X, xs, ys, N, M, out))
        return;
    for (int i = 0; i + 1 < N; ++i) {
        if (xs[i] < X && X < xs[i + 1] && ys[i] != M && ys[i + 1] != M) {
            *out = ys[i] + (X - xs[i]) * (ys[i + 1] - ys[i]) / (xs[i + 1] - xs[i]);
            return;
        }
    }
}

// Linear interpolation over a coordinate running either way; no tests for
// missing values and no extrapolation.
void interplate_t(const float* x, const float* xs, const float* ys, const int* n, float* out,
                  const float* miss)
{
    const float X = *x;
    const int N = *n;
    *out = *miss;
    for (int i = 0; i < N; ++i) {
        if (xs[i] == X) {
            *out = ys[i];
            return;
        }
    }
    for (int i = 0; i + 1 < N; ++i) {
        if ((xs[i] > X && X > xs[i + 1]) || (xs[i] < X && X < xs[i + 1])) {
            *out = ys[i] - fabsf(X - xs[i]) * (ys[i] - ys[i + 1]) / fabsf(xs[i + 1] - xs[i]);
            return;
        }
    }
}

// Speed and meteorological direction (where the wind comes from, degrees).
void wind_speed_direction(const float* u, const float* v, float* speed, float* dir,
                          const float* miss)
{
    const float U = *u;
    const float V = *v;
    if (U == *miss || V == *miss) {
        *speed = *miss;
        *dir = *miss;
        return;
    }
    *speed = sqrtf(U * U + V * V);
    if (U == 0.0f && V < 0.0f) {
        *dir = 360.0f;
    } else if (U == 0.0f && V > 0.0f) {
        *dir = 180.0f;
    } else if (U > 0.0f && V == 0.0f) {
        *dir = 270.0f;
    } else if (U < 0.0f && V == 0.0f) {
        *dir = 90.0f;
    } else if (U == 0.0f && V == 0.0f) {
        *dir = 0.0f;
    } else {
        const float a = atanf(V / U) * 180.0f / kPi;
        *dir = U > 0.0f ? 270.0f - a : 90.0f - a;
    }
}

void wind_u_v(const float* dir, const float* speed, float* u, float* v, const float* miss)
{
    if (*dir == *miss || *speed == *miss) {
        *u = *miss;
        *v = *miss;
        return;
    }
    const float angle = kPi * (*dir - 180.0f) / 180.0f;
    *u = *speed * sinf(angle);
    *v = *speed * cosf(angle);
}

// Saturation mixing ratio in kg/kg.
void COM_QW(const float* p, const float* T, float* qw)
{
    float a, b;
    magnus(*T, &a, &b);
    *qw = 0.622f * 6.11f * powf(10.0f, a * *T / (b + *T)) / *p;
}

// Wet-bulb temperature: the root of the psychrometric balance
//   cp (T - Tw) = L (qs(Tw) - q),  L = 597.4 cal/g, cp = 0.2403 cal/(g K),
// with q the mixing ratio at the dew point. Relaxation steps of 0.1 times the
// residual start at the dew point; the root stays bracketed between T and Td,
// and a step that would leave the bracket halves it instead, so the iteration
// also converges where the relaxation alone would overshoot. It stops once the
// residual is within 0.05 K, which bounds the error of Tw by the same amount.
// 0 when p < 10 hPa or |T| or |Td| > 85.
void TW_DEX(const float* p, const float* T, const float* Td, float* tw)
{
    if (*p < 10.0f || fabsf(*T) > 85.0f || fabsf(*Td) > 85.0f) {
        *tw = 0.0f;
        return;
    }
    const float lcp = 597.4f / 0.2403f;
    float q;
    COM_QW(p, Td, &q);
    float lo = *T < *Td ? *T : *Td;
    float hi = *T < *Td ? *Td : *T;
    float w = *Td;
    for (int i = 0; i < 200; ++i) {
        float qs;
        COM_QW(p, &w, &qs);
        const float residual = (*T - w) - lcp * (qs - q);
        if (fabsf(residual) <= 0.05f)
            break;
        if (residual > 0.0f)
            lo = w;
        else
            hi = w;
        float next = w + 0.1f * residual;
        if (!(next > lo && next < hi))
            next = (lo + hi) / 2.0f;
        w = next;
    }
    *tw = w;
}

// Equivalent potential temperature in kelvin (second set of formulas).
void EQU_T(const float* p, const float* T, float* thetae)
{
    const float e = 6.11f * powf(10.0f, 7.5f * *T / (237.3f + *T));
    const float L = 2.5e6f - 2368.0f * *T;
    *thetae = (*T + 273.16f) * powf(1000.0f / (*p - e), 0.286f) *
              expf(0.622f * L * e / (1004.0f * (*T + 273.16f) * (*p - e)));
}

}  // namespace convective_index_utils
