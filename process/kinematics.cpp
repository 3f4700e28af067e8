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

constexpr double kMissing = 9999.0;

std::vector<p_data> sortedByLevel(const std::vector<p_data>& records)
{
    std::vector<p_data> sorted = records;
    std::stable_sort(sorted.begin(), sorted.end(), [](const p_data& a, const p_data& b) { return a.level < b.level; });
    return sorted;
}

// The level list of the row of an input's first record, in Pa.
std::vector<double> rowLevels(const std::vector<p_data>& records)
{
    std::vector<double> levels;
    double count = 0;
    const CSV_FILE* row = records.empty() ? nullptr : CsvFileParser::getInstance()->find(variableKey(records.front()));
    if (row)
        dataProcess::containLevel2(row->levels, levels, count);
    return levels;
}

bool interior(int r, int c, int nlon, int nlat)
{
    return r > 0 && c > 0 && r < nlat - 1 && c < nlon - 1;
}

}  // namespace

bool dataProcess::touch_VOR_NEW(CachedData& store)
{
    KV_LOG_DEBUG("[PROCESS] CAL VOR new");
    if (!wanted("vor__") || present(store, "VOR"))
        return false;
    std::vector<p_data>* eda = input(store, {"EDA"});
    std::vector<p_data>* vv = input(store, {"VV"});
    if (!eda || !vv || vv->empty())
        return false;
    std::vector<p_data> out;
    for (const p_data& u : *eda) {
        const p_data& v = atLevel(*vv, u.level);
        const int nlon = static_cast<int>(u.lon.size()), nlat = static_cast<int>(u.lat.size());
        if (!sameSize(u, {&v}) || u.data.size() != static_cast<size_t>(nlon) * static_cast<size_t>(nlat))
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
                // A missing neighbour gives no vorticity.
                if (v.data[east] == v.prop_fillValue || v.data[west] == v.prop_fillValue ||
                    u.data[north] == u.prop_fillValue || u.data[south] == u.prop_fillValue) {
                    vor.data[i] = fill;
                    continue;
                }
                const float dx = static_cast<float>(u.lon[c + 1] - u.lon[c - 1]) * 100000.0f;
                const float dy = static_cast<float>(u.lat[r + 1] - u.lat[r - 1]) * 111320.0f;
                const float value = physicalQuantity::cal_VOR(
                    static_cast<float>(v.data[east]), static_cast<float>(v.data[west]), static_cast<float>(u.data[south]),
                    static_cast<float>(u.data[north]), dx, dy);
                vor.data[i] = 100000.0f * value;
            }
        }
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
    std::vector<p_data>* eda = input(store, {"EDA"});
    std::vector<p_data>* vv = input(store, {"VV"});
    std::vector<p_data>* hgt = input(store, {"HGT"});
    const std::vector<double> levels = eda ? rowLevels(*eda) : std::vector<double>();
    if (!eda || !vv || !hgt || eda->empty() || vv->empty() || hgt->empty() || levels.empty()) {
        qDebug("no data");
        return false;
    }
    const size_t n = levels.size();
    const p_data& first = eda->front();
    const size_t points = first.data.size();
    std::vector<double> us(n * points, 0.0), vs(n * points, 0.0), hs(n * points, 0.0);
    for (const p_data& u : *eda) {
        const int slot = geTLevelIndex2(static_cast<float>(u.level), levels);
        if (slot < 0) {
            qDebug("%d#", u.level);
            continue;
        }
        const p_data& v = atLevel(*vv, u.level);
        const p_data& h = atLevel(*hgt, u.level);
        if (u.data.size() != points || !sameSize(u, {&v, &h}))
            continue;
        std::copy(u.data.begin(), u.data.end(), us.begin() + static_cast<long>(slot * points));
        std::copy(v.data.begin(), v.data.end(), vs.begin() + static_cast<long>(slot * points));
        std::copy(h.data.begin(), h.data.end(), hs.begin() + static_cast<long>(slot * points));
    }
    // The library wants the lowest level first: a list written from the top
    // down, reversed end to end.
    std::reverse(us.begin(), us.end());
    std::reverse(vs.begin(), vs.end());
    std::reverse(hs.begin(), hs.end());

    std::vector<p_data> out;
    const std::pair<const char*, double> depths[] = {{"SHR01", 1000.0}, {"SHR03", 3000.0}, {"SHR06", 6000.0}};
    for (const auto& [name, dz] : depths) {
        p_data shear = derived(first, name, "wind shr", "m s**-1");
        shear.data.assign(points, 0.0);
        m_phy->cal_shr01(shear.data.data(), us.data(), vs.data(), hs.data(), static_cast<int>(first.lon.size()),
                         static_cast<int>(first.lat.size()), static_cast<int>(n), kMissing, dz);
        for (double& value : shear.data)
            if (value != kMissing)
                value *= dz;
        std::reverse(shear.data.begin(), shear.data.end());
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
    std::vector<p_data>* edaIn = input(store, {"EDA"});
    std::vector<p_data>* vvIn = input(store, {"VV"});
    std::vector<p_data>* qIn = moistureFlux ? input(store, {"Q"}) : nullptr;
    if (!edaIn || !vvIn || edaIn->empty() || vvIn->empty() || (moistureFlux && (!qIn || qIn->size() != edaIn->size())))
        return false;
    // The wind is paired by level order; the moisture flux in store order.
    const std::vector<p_data> eda = moistureFlux ? *edaIn : sortedByLevel(*edaIn);
    const std::vector<p_data> vv = moistureFlux ? *vvIn : sortedByLevel(*vvIn);
    std::vector<p_data> out;
    bool complete = true;
    for (size_t k = 0; k < eda.size(); ++k) {
        if (k >= vv.size()) {
            std::perror("data error");
            complete = false;
            break;
        }
        const p_data& u = eda[k];
        const p_data& v = vv[k];
        const int nlon = static_cast<int>(u.lon.size()), nlat = static_cast<int>(u.lat.size());
        if (!sameSize(u, {&v}) || u.data.size() != static_cast<size_t>(nlon) * static_cast<size_t>(nlat))
            continue;
        std::vector<double> uu = u.data, vvv = v.data;
        if (moistureFlux) {
            const p_data& q = (*qIn)[k];
            if (!sameSize(u, {&q}))
                continue;
            for (size_t i = 0; i < uu.size(); ++i) {
                uu[i] = q.data[i] * u.data[i] / 9.8;
                vvv[i] = q.data[i] * v.data[i] / 9.8;
            }
        }
        p_data d = derived(u, name, longName, units);
        std::vector<double> lat = u.lat, lon = u.lon;
        m_phy->cal_edi(d.data.data(), uu.data(), vvv.data(), lat.data(), lon.data(), nlon, nlat, 0, kMissing);
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

bool dataProcess::touch_UQS(CachedData& store)
{
    KV_LOG_DEBUG("[PROCESS] CAL UQS");
    if (!wanted("uqs__") || present(store, "uqs") || present(store, "FU"))
        return false;
    std::vector<p_data>* eda = input(store, {"EDA"});
    std::vector<p_data>* vv = input(store, {"VV"});
    std::vector<p_data>* q = input(store, {"Q"});
    if (!eda || !vv || !q || eda->empty() || vv->empty() || q->empty())
        return false;
    const CSV_FILE* row = CsvFileParser::getInstance()->find(variableKey(eda->front()));
    if (!row || row->levels.empty())
        return false;
    std::vector<int> levels;
    for (const QString& part : QString::fromStdString(row->levels).split(';', Qt::KeepEmptyParts))
        levels.push_back(part.toInt());

    const p_data& first = eda->front();
    std::vector<double> total(first.data.size(), 0.0);
    std::vector<p_data> out;
    for (int level : levels) {
        p_data u, v, h;
        if (!choosePdataByLevel(*eda, level, u) || !choosePdataByLevel(*vv, level, v) ||
            !choosePdataByLevel(*q, level, h) || !sameSize(u, {&v, &h}) || u.data.size() != total.size())
            continue;
        p_data fu = derived(u, "fu", "vapor flux", "g cm**-1 hPa**-1 s**-1");
        fu.level = level;
        for (size_t i = 0; i < fu.data.size(); ++i) {
            fu.data[i] = std::sqrt(v.data[i] * v.data[i] + u.data[i] * u.data[i]) * h.data[i] / 9.8;
            total[i] += fu.data[i];
        }
        out.push_back(std::move(fu));
    }
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
    std::vector<p_data>* edaIn = input(store, {"EDA"});
    std::vector<p_data>* vvIn = input(store, {"VV"});
    std::vector<p_data>* fieldIn = input(store, {vorticity ? "HGT" : "TMP"});
    if (!edaIn || !vvIn || !fieldIn || edaIn->empty() || vvIn->empty() || fieldIn->empty())
        return false;
    const std::vector<p_data> eda = sortedByLevel(*edaIn), vv = sortedByLevel(*vvIn), field = sortedByLevel(*fieldIn);
    std::vector<p_data> out;
    for (size_t k = 0; k < eda.size() && k < vv.size() && k < field.size(); ++k) {
        const p_data& u = eda[k];
        const int nlon = static_cast<int>(u.lon.size()), nlat = static_cast<int>(u.lat.size());
        if (!sameSize(u, {&vv[k], &field[k]}) || u.data.size() != static_cast<size_t>(nlon) * static_cast<size_t>(nlat))
            continue;
        p_data a = vorticity ? derived(u, "VORA", "Vorticity advection", "s**-2")
                             : derived(u, "TMPA", "Temperature advection", "C s**-1");
        if (vorticity) {
            physicalQuantity::cal_vora(a.data.data(), u.data.data(), vv[k].data.data(), field[k].data.data(),
                                       u.lon.data(), u.lat.data(), static_cast<float>(kMissing), nlon, nlat);
        } else {
            std::vector<double> t = field[k].data;
            for (double& value : t)
                if (value > 160.0 && value != kMissing)
                    value -= 273.15;
            physicalQuantity::cal_tmpa(a.data.data(), u.data.data(), vv[k].data.data(), t.data(), u.lon.data(),
                                       u.lat.data(), static_cast<float>(kMissing), nlon, nlat);
        }
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
    std::vector<p_data>* tmpIn = input(store, {"TMP"});
    std::vector<p_data>* ptIn = input(store, {"PT"});
    std::vector<p_data>* edaIn = input(store, {"EDA"});
    std::vector<p_data>* vvIn = input(store, {"VV"});
    std::vector<p_data>* vorIn = input(store, {"VOR"});
    for (const std::vector<p_data>* in : {tmpIn, ptIn, edaIn, vvIn, vorIn})
        if (!in || in->empty())
            return false;
    const std::vector<double> list = rowLevels(*tmpIn);
    const std::vector<p_data> tmp = sortedByLevel(*tmpIn), pt = sortedByLevel(*ptIn), eda = sortedByLevel(*edaIn),
                              vv = sortedByLevel(*vvIn), vor = sortedByLevel(*vorIn);
    const p_data& templ = tmp.front();
    const int nlon = static_cast<int>(templ.lon.size()), nlat = static_cast<int>(templ.lat.size());
    const size_t points = templ.data.size();
    const size_t n = list.size();
    if (n < 3 || points != static_cast<size_t>(nlon) * static_cast<size_t>(nlat))
        return false;

    // Per level: T (K), theta, u, v, absolute vorticity, and the temperature gradient per degree.
    std::vector<std::vector<float>> T(n), theta(n), u(n), v(n), eta(n), tx(n), ty(n);
    for (size_t k = 0; k < n; ++k) {
        const int level = static_cast<int>(list[k] / 100.0);
        const p_data* r[5] = {&atLevel(tmp, level), &atLevel(pt, level), &atLevel(eda, level), &atLevel(vv, level),
                              &atLevel(vor, level)};
        for (const p_data* rec : r)
            if (rec->data.size() != points)
                return false;
        for (auto* a : {&T[k], &theta[k], &u[k], &v[k], &eta[k], &tx[k], &ty[k]})
            a->assign(points, 9999.0f);
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
        for (int row = 0; row < nlat; ++row) {
            for (int c = 0; c < nlon; ++c) {
                const size_t j = static_cast<size_t>(row * nlon + c);
                if (!interior(row, c, nlon, nlat)) {
                    pv.data[j] = 9999.0;
                    continue;
                }
                const float thetaP = (theta[k + 1][j] - theta[k - 1][j]) / dp;
                const float uP = (u[k + 1][j] - u[k - 1][j]) / dp;
                const float vP = (v[k + 1][j] - v[k - 1][j]) / dp;
                const float s = 287.04f / (static_cast<float>(list[k]) * (-T[k][j] / theta[k][j]) * thetaP);
                const float value = thetaP * (-9.80665f) * (eta[k][j] + s * (vP * tx[k][j] - ty[k][j] * uP));
                pv.data[j] = std::isfinite(value) ? value : 9999.0;
            }
        }
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
    std::vector<p_data>* edaIn = input(store, {"EDA"});
    std::vector<p_data>* vvIn = input(store, {"VV"});
    if (!edaIn || !vvIn || edaIn->empty() || vvIn->empty())
        return false;
    const std::vector<double> list = rowLevels(*edaIn);
    const std::vector<p_data> eda = sortedByLevel(*edaIn), vv = sortedByLevel(*vvIn);
    const p_data& templ = eda.front();
    const int nlon = static_cast<int>(templ.lon.size()), nlat = static_cast<int>(templ.lat.size());
    const size_t points = templ.data.size();
    if (list.empty() || points != static_cast<size_t>(nlon) * static_cast<size_t>(nlat))
        return false;

    // The layer-mean wind over the listed levels.
    std::vector<float> ub(points, 0.0f), vb(points, 0.0f);
    for (double pa : list) {
        const int level = static_cast<int>(pa / 100.0);
        const p_data& u = atLevel(eda, level);
        const p_data& v = atLevel(vv, level);
        if (u.data.size() != points || v.data.size() != points)
            return false;
        for (size_t j = 0; j < points; ++j) {
            ub[j] += static_cast<float>(u.data[j]);
            vb[j] += static_cast<float>(v.data[j]);
        }
    }
    const float count = static_cast<float>(list.size());
    for (size_t j = 0; j < points; ++j) {
        ub[j] /= count;
        vb[j] /= count;
    }

    p_data uy = derived(templ, "UY", "Zonal wind meridional shear", "");
    p_data vx = derived(templ, "VX", "Meridional wind zobal shear", "");
    p_data uyvx = derived(templ, "UYVX", "Shear deformation rate", "");
    for (int row = 0; row < nlat; ++row) {
        for (int c = 0; c < nlon; ++c) {
            const size_t j = static_cast<size_t>(row * nlon + c);
            vx.data[j] = c > 0 && c < nlon - 1
                             ? (vb[j + 1] - vb[j - 1]) / static_cast<float>(templ.lon[c + 1] - templ.lon[c - 1])
                             : 9999.0f;
            uy.data[j] = row > 0 && row < nlat - 1
                             ? (ub[j + nlon] - ub[j - nlon]) / static_cast<float>(templ.lat[row + 1] - templ.lat[row - 1])
                             : 9999.0f;
            uyvx.data[j] = interior(row, c, nlon, nlat) ? uy.data[j] + vx.data[j] : 9999.0;
        }
    }
    std::vector<p_data> out = {std::move(uy), std::move(vx), std::move(uyvx)};
    file(out, store);
    return true;
}
