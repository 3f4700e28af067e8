// Routines on whole horizontal grids, in double precision: relative vorticity
// and divergence of a wind on a latitude-longitude grid by centred finite
// differences on the sphere, and the bulk wind shear from the lowest level to
// a height above it.
//
// Fields are stored with the first index (longitude, x) fastest, then
// latitude (y), then level (z).
#include "cumulex/internal.h"

#include <math.h>
#include <stdlib.h>

namespace convective_index_utils {

namespace {

const double kRe = 6371220.0;               // earth radius, m
const double kRad = 0.017453292519943295;   // pi / 180
const double kDeg = kRe * kRad;             // one degree of arc, m

// 1 / d, or NaN for a zero difference: the points that would need it are
// left as they are.
double reciprocal(double d)
{
    return d == 0.0 ? NAN : 1.0 / d;
}

bool is_pole(double lat)
{
    return fabs(lat) == 90.0;
}

// The differential operator of one call. X is differenced along longitude,
// Y along latitude and also carries the curvature term:
//   result = dX/dx + sy * dY/dy + sc * Y * tan(lat) / re.
// Vorticity: X = v, Y = u, sy = -1, sc = +1.  Divergence: X = u, Y = v,
// sy = +1, sc = -1. Multiplying by +-1 and adding is exactly the subtraction
// or addition written out, so both keep the stated evaluation order.
struct Operator {
    const double* X;
    const double* Y;
    double sy;
    double sc;
};

struct Grid {
    int nlon;
    int nlat;
    double miss;
    const double* lat;
    double* coslat;
    double* curv;
    double* rdy;
    double* rdx1;
    double* rdx2;
};

inline long at(const Grid& g, int ml, int nl)
{
    return static_cast<long>(nl) * g.nlon + ml;
}

// Latitude rows of the work arrays (0-based rows here; row 0 is latdeg(1)).
void grid_rows(Grid* g, const double* londeg)
{
    const int N = g->nlat;
    const double* lat = g->lat;
    for (int nl = 0; nl < N; ++nl) {
        g->coslat[nl] = cos(lat[nl] * kRad);
        double l = lat[nl];
        // A pole row takes the latitude halfway to its neighbour row for the
        // curvature term; a pole row without a neighbour on that side keeps
        // its own latitude (the row is replaced by its mean afterwards).
        if (lat[nl] <= -90.0 && nl + 1 < N)
            l = (lat[nl] + lat[nl + 1]) / 2.0;
        else if (lat[nl] >= 90.0 && nl > 0)
            l = (lat[nl] + lat[nl - 1]) / 2.0;
        g->curv[nl] = tan(l * kRad) / kRe;
    }
    for (int nl = 1; nl + 1 < N; ++nl)
        g->rdy[nl] = reciprocal((lat[nl + 1] - lat[nl - 1]) * kDeg);
    g->rdy[0] = g->rdy[N - 1] = NAN;
    for (int nl = 0; nl < N; ++nl) {
        if (is_pole(lat[nl])) {
            g->rdx1[nl] = 0.0;
            g->rdx2[nl] = 0.0;
        } else {
            g->rdx1[nl] = reciprocal((londeg[1] - londeg[0]) * kDeg * g->coslat[nl]);
            g->rdx2[nl] = reciprocal((londeg[2] - londeg[0]) * kDeg * g->coslat[nl]);
        }
    }
}

// Centred in longitude between mw and me, centred in latitude: interior rows.
void interior_point(const Grid& g, const Operator& op, int ml, int mw, int me, int nl,
                    double* out)
{
    const double M = g.miss;
    const double xe = op.X[at(g, me, nl)];
    const double xw = op.X[at(g, mw, nl)];
    const double yn = op.Y[at(g, ml, nl + 1)];
    const double ys = op.Y[at(g, ml, nl - 1)];
    const double y = op.Y[at(g, ml, nl)];
    if (xe == M || xw == M || yn == M || ys == M || y == M)
        return;
    if (isnan(g.rdx2[nl]) || isnan(g.rdy[nl]))
        return;
    out[at(g, ml, nl)] = (xe - xw) * g.rdx2[nl] + op.sy * ((yn - ys) * g.rdy[nl]) +
                         op.sc * (y * g.curv[nl]);
}

// First or last row: one-sided in latitude between rows a (lower index) and
// b = a + 1; the result goes to row `row`.
void edge_row_point(const Grid& g, const Operator& op, int ml, int mw, int me, int row, int a,
                    double* out)
{
    const double M = g.miss;
    const int b = a + 1;
    const double xe = op.X[at(g, me, row)];
    const double xw = op.X[at(g, mw, row)];
    const double yb = op.Y[at(g, ml, b)];
    const double ya = op.Y[at(g, ml, a)];
    const double y = op.Y[at(g, ml, row)];
    if (xe == M || xw == M || yb == M || ya == M)
        return;
    const double dy = (g.lat[b] - g.lat[a]) * kDeg;
    if (dy == 0.0 || isnan(g.rdx2[row]))
        return;
    out[at(g, ml, row)] = (xe - xw) * g.rdx2[row] + op.sy * ((yb - ya) / dy) +
                          op.sc * (y * g.curv[row]);
}

// First or last longitude column: one-sided in longitude between columns a
// and a + 1; the result goes to column `col`.
void edge_column_point(const Grid& g, const Operator& op, int col, int a, int nl, double* out)
{
    const double M = g.miss;
    const double x1 = op.X[at(g, a + 1, nl)];
    const double x0 = op.X[at(g, a, nl)];
    const double yn = op.Y[at(g, col, nl + 1)];
    const double ys = op.Y[at(g, col, nl - 1)];
    const double y = op.Y[at(g, col, nl)];
    if (x1 == M || x0 == M || yn == M || ys == M || y == M)
        return;
    if (isnan(g.rdx1[nl]) || isnan(g.rdy[nl]))
        return;
    out[at(g, col, nl)] = (x1 - x0) * g.rdx1[nl] + op.sy * ((yn - ys) * g.rdy[nl]) +
                          op.sc * (y * g.curv[nl]);
}

// The common steps of dvrfidf and ddvfidf.
void finite_differences(const Operator& op, const double* latdeg, const double* londeg,
                        const int* nlon, const int* nlat, const double* dmiss,
                        const int* edgeopt, double* out, int* status)
{
    const int NLON = *nlon;
    const int NLAT = *nlat;
    if (NLON < 1 || NLAT < 1) {
        *status = 1;
        return;
    }
    if (fabs(latdeg[0]) > 90.0 || fabs(latdeg[NLAT - 1]) > 90.0) {
        *status = 2;
        return;
    }
    *status = 0;
    const double M = *dmiss;
    const long points = static_cast<long>(NLON) * NLAT;
    for (long i = 0; i < points; ++i)
        out[i] = M;
    // Centred differences need three longitudes and three latitudes.
    if (NLON < 3 || NLAT < 3)
        return;

    const int opt = *edgeopt < 0 ? -*edgeopt : *edgeopt;
    Grid g;
    g.nlon = NLON;
    g.nlat = NLAT;
    g.miss = M;
    g.lat = latdeg;
    double* work = static_cast<double*>(work_alloc(5ul * NLAT, sizeof(double)));
    g.coslat = work;
    g.curv = work + NLAT;
    g.rdy = work + 2 * NLAT;
    g.rdx1 = work + 3 * NLAT;
    g.rdx2 = work + 4 * NLAT;
    grid_rows(&g, londeg);

    const bool wraps = opt == 1 || opt == 3;
    const int first = wraps ? 0 : 1;
    const int last = wraps ? NLON - 1 : NLON - 2;
    for (int ml = first; ml <= last; ++ml) {
        const int mw = ml == 0 ? NLON - 1 : ml - 1;
        const int me = ml == NLON - 1 ? 0 : ml + 1;
        for (int nl = 1; nl + 1 < NLAT; ++nl)
            interior_point(g, op, ml, mw, me, nl, out);
        if (opt > 1) {
            edge_row_point(g, op, ml, mw, me, 0, 0, out);
            edge_row_point(g, op, ml, mw, me, NLAT - 1, NLAT - 2, out);
        }
    }
    if (opt == 2) {
        for (int nl = 1; nl + 1 < NLAT; ++nl) {
            edge_column_point(g, op, 0, 0, nl, out);
            edge_column_point(g, op, NLON - 1, NLON - 2, nl, out);
        }
    }
    if (is_pole(latdeg[0]))
        duseave(out, &g.nlon, dmiss);
    if (is_pole(latdeg[NLAT - 1]))
        duseave(out + static_cast<long>(NLAT - 1) * NLON, &g.nlon, dmiss);
    if (opt == 2)
        dlnextrp(out, nlon, nlat, dmiss);
    free(work);
}

}  // namespace

void duseave(double* x, const int* n, const double* dmiss)
{
    const double M = *dmiss;
    double sum = 0.0;
    int count = 0;
    for (int i = 0; i < *n; ++i) {
        if (x[i] != M) {
            sum += x[i];
            ++count;
        }
    }
    if (count == 0)
        return;
    const double mean = sum / count;
    for (int i = 0; i < *n; ++i)
        x[i] = mean;
}

// Each missing corner whose two neighbours along each axis are present gets
// the mean of the two linear extrapolations towards it.
void dlnextrp(double* x, const int* nlon, const int* nlat, const double* dmiss)
{
    const int NLON = *nlon;
    const int NLAT = *nlat;
    if (NLON < 3 || NLAT < 3)
        return;
    const double M = *dmiss;
    auto X = [&](int ml, int nl) -> double& { return x[static_cast<long>(nl) * NLON + ml]; };
    const int cols[2][3] = {{0, 1, 2}, {NLON - 1, NLON - 2, NLON - 3}};
    const int rows[2][3] = {{0, 1, 2}, {NLAT - 1, NLAT - 2, NLAT - 3}};
    for (const auto& r : rows) {
        for (const auto& c : cols) {
            double& corner = X(c[0], r[0]);
            const double y1 = X(c[0], r[1]), y2 = X(c[0], r[2]);
            const double x1 = X(c[1], r[0]), x2 = X(c[2], r[0]);
            if (corner != M || y1 == M || y2 == M || x1 == M || x2 == M)
                continue;
            corner = ((2.0 * y1 - y2) + (2.0 * x1 - x2)) / 2.0;
        }
    }
}

void dvrfidf(const double* u, const double* v, const double* latdeg, const double* londeg,
             const int* nlon, const int* nlat, const double* dmiss, const int* edgeopt,
             double* rv, int* status)
{
    const Operator op = {v, u, -1.0, 1.0};
    finite_differences(op, latdeg, londeg, nlon, nlat, dmiss, edgeopt, rv, status);
}

void ddvfidf(const double* u, const double* v, const double* latdeg, const double* londeg,
             const int* nlon, const int* nlat, const double* dmiss, const int* edgeopt,
             double* dv, int* status)
{
    const Operator op = {u, v, 1.0, -1.0};
    finite_differences(op, latdeg, londeg, nlon, nlat, dmiss, edgeopt, dv, status);
}

// Wind at height h0 of one column, linear in height between the pair of
// adjacent levels that brackets it. Every pair is visited in order and a later
// one overwrites an earlier result, so a missing value (the literal 9999)
// anywhere above the target makes the result 9999. Not written when no pair
// applies.
void cal_h0_uv2(const double* h0, const double* hcol, const double* ucol, const double* vcol,
                const int* nz, double* uh, double* vh)
{
    const double H0 = *h0;
    for (int k = 0; k + 1 < *nz; ++k) {
        if (hcol[k] == 9999.0 || ucol[k] == 9999.0 || vcol[k] == 9999.0 ||
            hcol[k + 1] == 9999.0 || ucol[k + 1] == 9999.0 || vcol[k + 1] == 9999.0) {
            *uh = 9999.0;
            *vh = 9999.0;
        } else if (hcol[k] <= H0 && H0 < hcol[k + 1]) {
            const double w = (hcol[k + 1] - H0) / (hcol[k + 1] - hcol[k]);
            *uh = (ucol[k] - ucol[k + 1]) * w + ucol[k + 1];
            *vh = (vcol[k] - vcol[k + 1]) * w + vcol[k + 1];
        }
    }
}

// Bulk shear (1/s) from the lowest level to dz metres above it.
void cal_shr01(const int* nx, const int* ny, const int* nz, const double* h, const double* u,
               const double* v, double* shr, const double* dmiss, const double* dz)
{
    const int NX = *nx;
    const int NY = *ny;
    const int NZ = *nz;
    const double M = *dmiss;
    const double DZ = *dz;
    if (NX < 1 || NY < 1)
        return;
    const long plane = static_cast<long>(NX) * NY;
    for (long i = 0; i < plane; ++i)
        shr[i] = M;
    if (NZ < 1 || DZ == 0.0)
        return;
    double* work = static_cast<double*>(work_alloc(3ul * NZ, sizeof(double)));
    double* hcol = work;
    double* ucol = work + NZ;
    double* vcol = work + 2 * NZ;
    for (int j = 0; j < NY; ++j) {
        for (int i = 0; i < NX; ++i) {
            const long base = static_cast<long>(j) * NX + i;
            for (int k = 0; k < NZ; ++k) {
                hcol[k] = h[base + k * plane];
                ucol[k] = u[base + k * plane];
                vcol[k] = v[base + k * plane];
            }
            const double h0 = hcol[0] + DZ;
            double uh = M;
            double vh = M;
            cal_h0_uv2(&h0, hcol, ucol, vcol, &NZ, &uh, &vh);
            if (uh == M || vh == M || hcol[0] == M || ucol[0] == M || vcol[0] == M)
                continue;
            const double du = uh - ucol[0];
            const double dv = vh - vcol[0];
            shr[base] = sqrt(du * du + dv * dv) / DZ;
        }
    }
    free(work);
}

}  // namespace convective_index_utils
