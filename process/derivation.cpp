#include "process/derivation.h"

#include "logging/qlogger.h"
#include "table/csvfileparser.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>

namespace derivation {

bool wanted(const char* triggerKey)
{
    const CSV_FILE* row = CsvFileParser::getInstance()->find(triggerKey);
    if (!row || row->writeSw == 0) {
        std::printf("Do not need cal\n");
        return false;
    }
    return true;
}

std::vector<p_data>* input(CachedData& store, const std::vector<const char*>& names)
{
    CsvFileParser* table = CsvFileParser::getInstance();
    std::vector<p_data>* found = nullptr;
    for (auto& [key, records] : store) {
        const CSV_FILE* row = table->find(key);
        if (!row)
            continue;
        for (const char* name : names)
            if (row->newFactorName == name)
                found = &records;
    }
    return found;
}

bool present(CachedData& store, const char* name)
{
    CsvFileParser* table = CsvFileParser::getInstance();
    for (const auto& [key, records] : store) {
        const CSV_FILE* row = table->find(key);
        if (row && row->newFactorName == name && !records.empty() && !records.front().isFi)
            return true;
    }
    return false;
}

const p_data& atLevel(const std::vector<p_data>& partner, int level)
{
    const p_data* chosen = &partner.front();
    for (const p_data& r : partner)
        if (r.level == level)
            chosen = &r;
    return *chosen;
}

const p_data* atPosition(const std::vector<p_data>& partner, size_t k, int level)
{
    if (k >= partner.size()) {
        std::perror("data error");
        return nullptr;
    }
    const p_data* chosen = &partner[k];
    for (const p_data& r : partner)
        if (r.level == level)
            chosen = &r;
    return chosen;
}

namespace {

// The CF standard names of the derived quantities that have one; the others
// (advection, shear, fluxes, heights of isotherms, condensation level, the
// A and SWEAT indices, DCAPE, and u and v from speed and direction, whose
// angle is not the meteorological one) get none.
std::string standardNameOf(const std::string& name)
{
    static const std::map<std::string, const char*> names = {
        {"td", "dew_point_temperature"},
        {"2d", "dew_point_temperature"},
        {"depr", "dew_point_depression"},
        {"depr2m", "dew_point_depression"},
        {"Q", "specific_humidity"},
        {"2Q", "specific_humidity"},
        {"erh2m", "relative_humidity"},
        {"egh", "geopotential_height"},
        {"nw", "upward_air_velocity"},
        {"PT", "air_potential_temperature"},
        {"eqt", "pseudo_equivalent_potential_temperature"},
        {"vor", "atmosphere_relative_vorticity"},
        {"EDI", "divergence_of_wind"},
        {"PV", "ertel_potential_vorticity"},
        {"PW", "lwe_thickness_of_atmosphere_mass_content_of_water_vapor"},
        {"CAPE", "atmosphere_convective_available_potential_energy"},
        {"ki", "atmosphere_stability_k_index"},
        {"tt", "atmosphere_stability_total_totals_index"},
        {"li", "atmosphere_stability_lifted_index"},
        {"si", "atmosphere_stability_showalter_index"},
    };
    const auto it = names.find(name);
    return it == names.end() ? std::string() : it->second;
}

}  // namespace

p_data derived(const p_data& from, const char* name, const char* longName, const char* units)
{
    p_data d = from;
    // A derived record is named by its integer level and comes from no input.
    d.levelValue = NAN;
    d.levelBottom = NAN;
    d.origin = 0;
    d.factorShortName = name;
    d.prop_standardName = standardNameOf(name);
    d.factorLongName = longName;
    d.prop_units = units;
    d.nameOfFirstFixedSurface.clear();
    d.typedoflevels.clear();
    d.isFi = true;
    return d;
}

void file(std::vector<p_data>& records, CachedData& store)
{
    // One member's store: the record goes under its key, whatever its member number.
    for (p_data& r : records) {
        for (double& v : r.data)
            v = finiteOr(v, r.prop_fillValue);
        store[variableKey(r)].push_back(std::move(r));
    }
    records.clear();
}

bool sameSize(const p_data& t, const std::vector<const p_data*>& partners)
{
    for (const p_data* p : partners) {
        if (p->data.size() != t.data.size()) {
            KV_LOG_ERROR(QString("[PROCESS] %1 at level %2 has %3 values, its partner %4 has %5; not derived")
                             .arg(QString::fromStdString(t.factorShortName))
                             .arg(t.level)
                             .arg(t.data.size())
                             .arg(QString::fromStdString(p->factorShortName))
                             .arg(p->data.size()));
            return false;
        }
    }
    return true;
}

std::vector<char> missingPoints(const std::vector<const p_data*>& records, size_t points, double fill)
{
    std::vector<char> missing(points, 0);
    for (const p_data* r : records)
        for (size_t i = 0; i < points; ++i)
            missing[i] = missing[i] || missingAt(*r, i, fill);
    return missing;
}

void screenGrid(std::vector<double>& values, const std::vector<char>& missing, int nlon, int nlat, int reach,
                double fill)
{
    for (double& v : values)
        v = fromLibrary(v, fill);
    if (values.size() != missing.size() || values.size() != static_cast<size_t>(nlon) * static_cast<size_t>(nlat))
        return;
    for (int r = 0; r < nlat; ++r) {
        for (int c = 0; c < nlon; ++c) {
            if (!missing[static_cast<size_t>(r) * nlon + c])
                continue;
            for (int rr = std::max(0, r - reach); rr <= std::min(nlat - 1, r + reach); ++rr)
                for (int cc = std::max(0, c - reach); cc <= std::min(nlon - 1, c + reach); ++cc)
                    values[static_cast<size_t>(rr) * nlon + cc] = fill;
        }
    }
}

std::vector<double> listedLevels(const std::string& text)
{
    std::vector<double> levels;
    for (const QString& part : QString::fromStdString(text).split(';', Qt::SkipEmptyParts)) {
        bool number = false;
        const double level = part.trimmed().toDouble(&number);
        if (number && std::isfinite(level) && std::find(levels.begin(), levels.end(), level) == levels.end())
            levels.push_back(level);
    }
    return levels;
}

std::vector<double> columnLevels(const std::string& text)
{
    std::vector<double> levels = listedLevels(text);
    levels.erase(std::remove_if(levels.begin(), levels.end(), [](double p) { return !(p > 0.0 && p <= 1100.0); }),
                 levels.end());
    std::sort(levels.begin(), levels.end(), std::greater<double>());
    return levels;
}

std::vector<double> rowColumnLevels(const std::vector<p_data>& records)
{
    const CSV_FILE* row = records.empty() ? nullptr : CsvFileParser::getInstance()->find(variableKey(records.front()));
    return row ? columnLevels(row->levels) : std::vector<double>();
}

const p_data* exactLevel(const std::vector<p_data>* records, double level)
{
    const p_data* found = nullptr;
    if (records)
        for (const p_data& r : *records)
            if (static_cast<double>(r.level) == level)
                found = &r;
    return found;
}

std::vector<const p_data*> byLevel(const std::vector<p_data>& records)
{
    std::vector<const p_data*> sorted;
    for (const p_data& r : records)
        sorted.push_back(&r);
    std::stable_sort(sorted.begin(), sorted.end(), [](const p_data* a, const p_data* b) { return a->level < b->level; });
    return sorted;
}

namespace {

std::set<std::string>& said()
{
    static std::set<std::string> quantities;
    return quantities;
}

bool tableNames(const std::string& name)
{
    for (const auto& [key, row] : CsvFileParser::getInstance()->getCsvStruct())
        if (row.newFactorName == name)
            return true;
    return false;
}

// "A", "A and B", "A, B and C".
std::string listed(const std::vector<std::string>& items)
{
    std::string text;
    for (size_t k = 0; k < items.size(); ++k)
        text += (k == 0 ? "" : k + 1 == items.size() ? " and " : ", ") + items[k];
    return text;
}

void say(const char* quantity, const std::string& text)
{
    if (!said().insert(quantity).second)
        return;
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", quantity, text.c_str());
}

}  // namespace

void sayLacking(const char* quantity, const std::vector<std::vector<const char*>>& names, const std::vector<int>& levels)
{
    std::vector<std::string> noRow, noField;
    for (size_t k = 0; k < names.size(); ++k) {
        // A row of any of the alternatives will do.
        bool inTable = false;
        std::string shown;
        for (const char* name : names[k]) {
            inTable = inTable || tableNames(name);
            shown += (shown.empty() ? "" : " or ") + std::string(name);
        }
        const int level = k < levels.size() ? levels[k] : 0;
        if (inTable)
            noField.push_back(level ? shown + " at " + std::to_string(level) + " hPa" : shown);
        else if (std::find(noRow.begin(), noRow.end(), shown) == noRow.end())
            noRow.push_back(shown);
    }
    std::string text;
    if (!noRow.empty())
        text = std::string(noRow.size() == 1 ? "needs a row named " : "needs rows named ") + listed(noRow) +
               "; the table has none";
    if (!noField.empty())
        text += (text.empty() ? "needs " : "; needs ") + listed(noField) + "; the inputs gave none";
    if (!text.empty())
        say(quantity, text);
}

void sayNoLevels(const char* quantity, const char* name)
{
    say(quantity, std::string("the row named ") + name + " lists no levels");
}

void forgetSaid()
{
    said().clear();
}

std::vector<std::vector<p_data>*> inputs(CachedData& store, const char* quantity,
                                         const std::vector<std::vector<const char*>>& names)
{
    std::vector<std::vector<p_data>*> found;
    std::vector<std::vector<const char*>> lacking;
    for (const auto& alternatives : names) {
        std::vector<p_data>* e = input(store, alternatives);
        if (!e || e->empty())
            lacking.push_back(alternatives);
        found.push_back(e);
    }
    if (lacking.empty())
        return found;
    sayLacking(quantity, lacking);
    return {};
}

}  // namespace derivation
