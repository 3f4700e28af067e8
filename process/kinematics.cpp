// Derivations that need neighbouring points or several levels: vorticity,
// shear, divergence, moisture flux, advection, potential vorticity and
// deformation.
#include "logging/qlogger.h"
#include "process/dataprocess.h"
#include "process/derivation.h"
#include "process/physicalquantity.h"
#include "table/csvfileparser.h"

#include <QStringList>
#include <QtDebug>

#include <algorithm>
#include <cmath>
#include <cstdio>

using namespace derivation;

namespace {

constexpr double kMissing = kLibraryMissing;

bool interior(int r, int c, int nlon, int nlat)
{
    return r > 0 && c > 0 && r < nlat - 1 && c < nlon - 1;
}

bool wholeGrid(const p_data& f)
{
    return f.data.size() == f.lon.size() * f.lat.size();
}

}  // namespace

bool dataProcess::touch_VOR_NEW(CachedData& store)
{
    KV_LOG_DEBUG("[PROCESS] CAL VOR new");
    if (!wanted("vor__") || present(store, "VOR"))
        return false;
    const std::vector<std::vector<p_data>*> in = inputs(store, "vor", {{"EDA"}, {"VV"}});
    if (in.empty())
        return false;
    std::vector<p_data> out;
    for (const p_data& u : *in[0]) {
        const p_data& v = atLevel(*in[1], u.level);
        const int nlon = static_cast<int>(u.lon.size()), nlat = static_cast<int>(u.lat.size());
        if (!sameSize(u, {&v}) || !wholeGrid(u))
            continue;
        p_data vor = derived(u, "vor", "Vorticity", "10**-5 s**-1");
        const double fill = u.prop_fillValue;
        for (int r = 0; r < nlat; ++r) {
            for (int c = 0; c < nlon; ++c) {
                const int i = r * nlon + c;
                if (!interior(r, c, nlon, nlat)) {
                    vor.data[i] = fill;
                    continue;
                }
                const int east = i + 1, west = i - 1, north = i + nlon, south = i - nlon;
                const float dx = static_cast<float>(u.lon[c + 1] - u.lon[c - 1]) * 100000.0f;
                const float dy = static_cast<float>(u.lat[r + 1] - u.lat[r - 1]) * 111320.0f;
                const float value = physicalQuantity::cal_VOR(
                    static_cast<float>(v.data[east]), static_cast<float>(v.data[west]), static_cast<float>(u.data[south]),
                    static_cast<float>(u.data[north]), dx, dy);
                vor.data[i] = 100000.0f * value;
            }
        }
        // A missing wind value next to a point gives no vorticity there.
        screenGrid(vor.data, missingPoints({&u, &v}, u.data.size(), fill), nlon, nlat, 1, fill);
        out.push_back(std::move(vor));
    }
    file(out, store);
    return true;
}

bool dataProcess::touch_SHR(CachedData& store)
{
    KV_LOG_DEBUG("[PROCESS] CAL SHR ");
    if (!m_phy->cal_shr01) {
        qDebug("no cal_SHR01");
        return false;
    }
    if (!wanted("SHR01__"))
        return false;
    const std::vector<std::vector<p_data>*> in = inputs(store, "SHR01", {{"EDA"}, {"VV"}, {"HGT"}});
    std::vector<double> levels = in.empty() ? std::vector<double>() : rowColumnLevels(*in[0]);
    if (!in.empty() && levels.empty())
        sayNoLevels("SHR01", "EDA");
    // The library wants the lowest level first; a listed level without a
    // wind record takes no place in the columns.
    levels.erase(std::remove_if(levels.begin(), levels.end(), [&](double l) { return !exactLevel(in[0], l); }),
                 levels.end());
    if (levels.empty()) {
        qDebug("no data");
        return false;
    }
    // A level without a record of the other inputs, and missing values,
    // hold the library's missing value.
    const size_t n = levels.size();
    const p_data& first = in[0]->front();
    const size_t points = first.data.size();
    std::vector<double> us(n * points, kMissing), vs(n * points, kMissing), hs(n * points, kMissing);
    for (size_t k = 0; k < n; ++k) {
        const p_data* u = exactLevel(in[0], levels[k]);
        const p_data* v = exactLevel(in[1], levels[k]);
        const p_data* h = exactLevel(in[2], levels[k]);
        if (!u || !v || !h || u->data.size() != points || !sameSize(*u, {v, h}))
            continue;
        for (size_t i = 0; i < points; ++i) {
            if (missingAt(*u, i, kMissing) || missingAt(*v, i, kMissing) || missingAt(*h, i, kMissing))
                continue;
            us[k * points + i] = u->data[i];
            vs[k * points + i] = v->data[i];
            hs[k * points + i] = h->data[i];
        }
    }

    std::vector<p_data> out;
    const double fill = first.prop_fillValue;
    const std::pair<const char*, double> depths[] = {{"SHR01", 1000.0}, {"SHR03", 3000.0}, {"SHR06", 6000.0}};
    for (const auto& [name, dz] : depths) {
        p_data shear = derived(first, name, "wind shr", "m s**-1");
        shear.data.assign(points, 0.0);
        m_phy->cal_shr01(shear.data.data(), us.data(), vs.data(), hs.data(), static_cast<int>(first.lon.size()),
                         static_cast<int>(first.lat.size()), static_cast<int>(n), kMissing, dz);
        for (double& value : shear.data)
            value = value == kMissing ? fill : value * dz;
        out.push_back(std::move(shear));
    }
    file(out, store);
    return true;
}

bool dataProcess::divergence(CachedData& store, const char* trigger, const char* presentName, const char* name,
                             const char* longName, const char* units, bool moistureFlux)
{
    if (!m_phy->cal_edi) {
        qDebug("no cal_edi");
        return false;
    }
    if (!wanted(trigger) || present(store, presentName))
        return false;
    std::vector<std::vector<const char*>> names = {{"EDA"}, {"VV"}};
    if (moistureFlux)
        names.push_back({"Q"});
    const std::vector<std::vector<p_data>*> in = inputs(store, name, names);
    if (in.empty() || (moistureFlux && in[2]->size() != in[0]->size()))
        return false;
    // The wind is paired by level order; the moisture flux in store order.
    std::vector<const p_data*> eda, vv;
    if (moistureFlux) {
        for (const p_data& r : *in[0])
            eda.push_back(&r);
        for (const p_data& r : *in[1])
            vv.push_back(&r);
    } else {
        eda = byLevel(*in[0]);
        vv = byLevel(*in[1]);
    }
    std::vector<p_data> out;
    bool complete = true;
    for (size_t k = 0; k < eda.size(); ++k) {
        if (k >= vv.size()) {
            std::perror("data error");
            complete = false;
            break;
        }
        const p_data& u = *eda[k];
        const p_data& v = *vv[k];
        const int nlon = static_cast<int>(u.lon.size()), nlat = static_cast<int>(u.lat.size());
        if (!sameSize(u, {&v}) || !wholeGrid(u))
            continue;
        std::vector<const p_data*> used = {&u, &v};
        std::vector<double> uu = u.data, vvv = v.data;
        if (moistureFlux) {
            const p_data& q = (*in[2])[k];
            if (!sameSize(u, {&q}))
                continue;
            used.push_back(&q);
            for (size_t i = 0; i < uu.size(); ++i) {
                uu[i] = q.data[i] * u.data[i] / 9.8;
                vvv[i] = q.data[i] * v.data[i] / 9.8;
            }
        }
        p_data d = derived(u, name, longName, units);
        std::vector<double> lat = u.lat, lon = u.lon;
        m_phy->cal_edi(d.data.data(), uu.data(), vvv.data(), lat.data(), lon.data(), nlon, nlat, 0, kMissing);
        screenGrid(d.data, missingPoints(used, u.data.size(), u.prop_fillValue), nlon, nlat, 1, u.prop_fillValue);
        out.push_back(std::move(d));
    }
    file(out, store);
    return complete;
}

bool dataProcess::touch_EDI(CachedData& store)
{
    KV_LOG_DEBUG("[PROCESS] CAL EDI");
    return divergence(store, "EDI__", "EDI", "EDI", "Divergence", "s**-1", false);
}

bool dataProcess::touch_EDIQ(CachedData& store)
{
    KV_LOG_DEBUG("[PROCESS] CAL EDIQ");
    return divergence(store, "EDIQ__", "EDIQ", "EDIQ", "QDivergence", "g*s kg**-1", true);
}

namespace {

// The first record of exactly that level, or null.
const p_data* firstOfLevel(const std::vector<p_data>& records, int level)
{
    for (const p_data& r : records)
        if (r.level == level)
            return &r;
    return nullptr;
}

}  // namespace

bool dataProcess::touch_UQS(CachedData& store)
{
    KV_LOG_DEBUG("[PROCESS] CAL UQS");
    if (!wanted("uqs__") || present(store, "uqs") || present(store, "FU"))
        return false;
    const std::vector<std::vector<p_data>*> in = inputs(store, "uqs", {{"EDA"}, {"VV"}, {"Q"}});
    if (in.empty())
        return false;
    const CSV_FILE* row = CsvFileParser::getInstance()->find(variableKey(in[0]->front()));
    const std::vector<double> levels = row ? listedLevels(row->levels) : std::vector<double>();
    if (levels.empty()) {
        sayNoLevels("uqs", "EDA");
        return false;
    }

    const p_data& first = in[0]->front();
    const double fill = first.prop_fillValue;
    std::vector<double> total(first.data.size(), 0.0);
    std::vector<char> missing(total.size(), 0);
    std::vector<p_data> out;
    for (double listed : levels) {
        const int level = static_cast<int>(listed);
        const p_data* u = firstOfLevel(*in[0], level);
        const p_data* v = firstOfLevel(*in[1], level);
        const p_data* h = firstOfLevel(*in[2], level);
        if (!u || !v || !h || !sameSize(*u, {v, h}) || u->data.size() != total.size())
            continue;
        p_data fu = derived(*u, "fu", "vapor flux", "g cm**-1 hPa**-1 s**-1");
        fu.level = level;
        fu.data = pointwise(*u, {v, h}, [&](size_t i) {
            return std::sqrt(v->data[i] * v->data[i] + u->data[i] * u->data[i]) * h->data[i] / 9.8;
        });
        // The total is missing wherever a level is.
        for (size_t i = 0; i < total.size(); ++i) {
            missing[i] = missing[i] || fu.data[i] == static_cast<double>(u->prop_fillValue);
            total[i] += fu.data[i];
        }
        out.push_back(std::move(fu));
    }
    for (size_t i = 0; i < total.size(); ++i)
        if (missing[i])
            total[i] = fill;
    p_data uqs = derived(first, "uqs", "Total vapor flux", "g cm**-1 hPa**-1 s**-1");
    uqs.level = 0;
    uqs.data = std::move(total);
    out.push_back(std::move(uqs));
    file(out, store);
    return true;
}

bool dataProcess::advection(CachedData& store, bool vorticity)
{
    if (!wanted(vorticity ? "VORA__" : "TMPA__") || present(store, vorticity ? "VORA" : "TMPA"))
        return false;
    const std::vector<std::vector<p_data>*> in =
        inputs(store, vorticity ? "VORA" : "TMPA", {{"EDA"}, {"VV"}, {vorticity ? "HGT" : "TMP"}});
    if (in.empty())
        return false;
    const std::vector<const p_data*> eda = byLevel(*in[0]), vv = byLevel(*in[1]), field = byLevel(*in[2]);
    std::vector<p_data> out;
    for (size_t k = 0; k < eda.size() && k < vv.size() && k < field.size(); ++k) {
        const p_data& u = *eda[k];
        const int nlon = static_cast<int>(u.lon.size()), nlat = static_cast<int>(u.lat.size());
        if (!sameSize(u, {vv[k], field[k]}) || !wholeGrid(u))
            continue;
        const double fill = u.prop_fillValue;
        const std::vector<char> missing = missingPoints({&u, vv[k], field[k]}, u.data.size(), fill);
        p_data a = vorticity ? derived(u, "VORA", "Vorticity advection", "s**-2")
                             : derived(u, "TMPA", "Temperature advection", "C s**-1");
        if (vorticity) {
            physicalQuantity::cal_vora(a.data.data(), u.data.data(), vv[k]->data.data(), field[k]->data.data(),
                                       u.lon.data(), u.lat.data(), static_cast<float>(kMissing), nlon, nlat);
        } else {
            std::vector<double> t = field[k]->data;
            for (size_t i = 0; i < t.size(); ++i)
                if (!missing[i] && t[i] > 160.0)
                    t[i] -= 273.15;
            physicalQuantity::cal_tmpa(a.data.data(), u.data.data(), vv[k]->data.data(), t.data(), u.lon.data(),
                                       u.lat.data(), static_cast<float>(kMissing), nlon, nlat);
        }
        // Vorticity advection differences the vorticity of neighbouring points.
        screenGrid(a.data, missing, nlon, nlat, vorticity ? 2 : 1, fill);
        out.push_back(std::move(a));
    }
    file(out, store);
    return true;
}

bool dataProcess::touch_TMPA(CachedData& store)
{
    KV_LOG_DEBUG("[PROCESS] CAL TMPA");
    return advection(store, false);
}

bool dataProcess::touch_VORA(CachedData& store)
{
    KV_LOG_DEBUG("[PROCESS] CAL VORA");
    return advection(store, true);
}

bool dataProcess::touch_PV(CachedData& store)
{
    KV_LOG_DEBUG("[PROCESS] CAL PV ");
    if (!wanted("PV__") || present(store, "PV"))
        return false;
    const std::vector<std::vector<p_data>*> in = inputs(store, "PV", {{"TMP"}, {"PT"}, {"EDA"}, {"VV"}, {"VOR"}});
    if (in.empty())
        return false;
    // Pa, the lowest level first; the derivative is the same either way up.
    std::vector<double> list = rowColumnLevels(*in[0]);
    for (double& level : list)
        level *= 100.0;
    const p_data& templ = *byLevel(*in[0]).front();
    const int nlon = static_cast<int>(templ.lon.size()), nlat = static_cast<int>(templ.lat.size());
    const size_t points = templ.data.size();
    const size_t n = list.size();
    if (n < 3 || !wholeGrid(templ))
        return false;
    const double fill = templ.prop_fillValue;

    // Per level: T (K), theta, u, v, absolute vorticity, the temperature
    // gradient per degree, and where an input is missing (everywhere when
    // the level lacks a record of an input).
    std::vector<std::vector<float>> T(n), theta(n), u(n), v(n), eta(n), tx(n), ty(n);
    std::vector<std::vector<char>> missing(n);
    for (size_t k = 0; k < n; ++k) {
        for (auto* a : {&T[k], &theta[k], &u[k], &v[k], &eta[k], &tx[k], &ty[k]})
            a->assign(points, 9999.0f);
        missing[k].assign(points, 1);
        std::vector<const p_data*> r;
        for (const std::vector<p_data>* records : in)
            r.push_back(exactLevel(records, list[k] / 100.0));
        if (std::find(r.begin(), r.end(), nullptr) != r.end())
            continue;
        for (const p_data* rec : r)
            if (rec->data.size() != points)
                return false;
        missing[k] = missingPoints(r, points, fill);
        for (int row = 0; row < nlat; ++row) {
            const float lat = static_cast<float>(templ.lat[row]);
            for (int c = 0; c < nlon; ++c) {
                const size_t j = static_cast<size_t>(row * nlon + c);
                const double t = r[0]->data[j];
                T[k][j] = static_cast<float>(t < 160.0 ? t + 273.15 : t);
                theta[k][j] = static_cast<float>(r[1]->data[j]);
                u[k][j] = static_cast<float>(r[2]->data[j]);
                v[k][j] = static_cast<float>(r[3]->data[j]);
                // The point's own row gives its latitude.
                eta[k][j] = static_cast<float>(r[4]->data[j]) + 1.4584e-4f * std::sin(3.14159f * lat / 180.0f);
                if (c > 0 && c < nlon - 1)
                    tx[k][j] = static_cast<float>((r[0]->data[j + 1] - r[0]->data[j - 1]) /
                                                  (templ.lon[c + 1] - templ.lon[c - 1]));
                if (row > 0 && row < nlat - 1)
                    ty[k][j] = static_cast<float>((r[0]->data[j + nlon] - r[0]->data[j - nlon]) /
                                                  (templ.lat[row + 1] - templ.lat[row - 1]));
            }
        }
    }

    std::vector<p_data> out;
    for (size_t k = 1; k + 1 < n; ++k) {
        p_data pv = derived(templ, "PV", "Potential vorticity", "K*m**2/kg/s");
        pv.level = static_cast<int>(list[k] / 100.0);
        const float dp = static_cast<float>(list[k + 1] - list[k - 1]);
        std::vector<char> layerMissing(points);
        for (int row = 0; row < nlat; ++row) {
            for (int c = 0; c < nlon; ++c) {
                const size_t j = static_cast<size_t>(row * nlon + c);
                layerMissing[j] = missing[k - 1][j] || missing[k][j] || missing[k + 1][j];
                if (!interior(row, c, nlon, nlat)) {
                    pv.data[j] = fill;
                    continue;
                }
                const float thetaP = (theta[k + 1][j] - theta[k - 1][j]) / dp;
                const float uP = (u[k + 1][j] - u[k - 1][j]) / dp;
                const float vP = (v[k + 1][j] - v[k - 1][j]) / dp;
                const float s = 287.04f / (static_cast<float>(list[k]) * (-T[k][j] / theta[k][j]) * thetaP);
                pv.data[j] = thetaP * (-9.80665f) * (eta[k][j] + s * (vP * tx[k][j] - ty[k][j] * uP));
            }
        }
        // The temperature gradient reaches one point to each side.
        screenGrid(pv.data, layerMissing, nlon, nlat, 1, fill);
        out.push_back(std::move(pv));
    }
    file(out, store);
    return true;
}

bool dataProcess::touch_UYVX(CachedData& store)
{
    KV_LOG_DEBUG("[PROCESS] CAL UYVX ");
    if (!wanted("UYVX__") || present(store, "UYVX"))
        return false;
    const std::vector<std::vector<p_data>*> in = inputs(store, "UYVX", {{"EDA"}, {"VV"}});
    if (in.empty())
        return false;
    const CSV_FILE* row = CsvFileParser::getInstance()->find(variableKey(in[0]->front()));
    const std::vector<double> list = row ? listedLevels(row->levels) : std::vector<double>();
    const p_data& templ = *byLevel(*in[0]).front();
    const int nlon = static_cast<int>(templ.lon.size()), nlat = static_cast<int>(templ.lat.size());
    const size_t points = templ.data.size();
    if (list.empty())
        sayNoLevels("UYVX", "EDA");
    if (list.empty() || !wholeGrid(templ))
        return false;
    const double fill = templ.prop_fillValue;

    // The layer-mean wind over the listed levels that both components have.
    std::vector<float> ub(points, 0.0f), vb(points, 0.0f);
    std::vector<char> missing(points, 0);
    size_t used = 0;
    for (double level : list) {
        const p_data* u = exactLevel(in[0], level);
        const p_data* v = exactLevel(in[1], level);
        if (!u || !v)
            continue;
        if (u->data.size() != points || v->data.size() != points)
            return false;
        for (size_t j = 0; j < points; ++j) {
            missing[j] = missing[j] || missingAt(*u, j, fill) || missingAt(*v, j, fill);
            ub[j] += static_cast<float>(u->data[j]);
            vb[j] += static_cast<float>(v->data[j]);
        }
        ++used;
    }
    if (used == 0)
        return false;
    const float count = static_cast<float>(used);
    for (size_t j = 0; j < points; ++j) {
        ub[j] /= count;
        vb[j] /= count;
    }

    p_data uy = derived(templ, "UY", "Zonal wind meridional shear", "");
    p_data vx = derived(templ, "VX", "Meridional wind zobal shear", "");
    p_data uyvx = derived(templ, "UYVX", "Shear deformation rate", "");
    for (int r = 0; r < nlat; ++r) {
        for (int c = 0; c < nlon; ++c) {
            const size_t j = static_cast<size_t>(r * nlon + c);
            vx.data[j] = c > 0 && c < nlon - 1
                             ? (vb[j + 1] - vb[j - 1]) / static_cast<float>(templ.lon[c + 1] - templ.lon[c - 1])
                             : 9999.0f;
            uy.data[j] = r > 0 && r < nlat - 1
                             ? (ub[j + nlon] - ub[j - nlon]) / static_cast<float>(templ.lat[r + 1] - templ.lat[r - 1])
                             : 9999.0f;
            uyvx.data[j] = interior(r, c, nlon, nlat) ? uy.data[j] + vx.data[j] : 9999.0;
        }
    }
    for (p_data* d : {&uy, &vx, &uyvx})
        screenGrid(d->data, missing, nlon, nlat, 1, fill);
    std::vector<p_data> out = {std::move(uy), std::move(vx), std::move(uyvx)};
    file(out, store);
    return true;
}
