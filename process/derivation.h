// The shape every derivation shares: its trigger row, its inputs found by
// output name, the already-present test, partner records, derived records
// and their filing.
#pragma once

#include "model/pdata.h"

#include <cmath>
#include <initializer_list>
#include <string>
#include <vector>

namespace derivation {

// The missing value the library takes and gives, and that profiles and
// borders hold before they are written with the record's own fill value.
constexpr double kLibraryMissing = 9999.0;

// ---- The fill rule every derived value goes through ----

// The record has no value at point i, or holds its own fill value or `fill`
// there (tested on the value as read, before any unit conversion).
inline bool missingAt(const p_data& r, size_t i, double fill)
{
    if (i >= r.data.size())
        return true;
    const double v = r.data[i];
    return v == static_cast<double>(r.prop_fillValue) || v == fill;
}

// `value` when it is a finite number, `fill` otherwise.
inline double finiteOr(double value, double fill)
{
    return std::isfinite(value) ? value : fill;
}

// The library's missing value, or no finite number, becomes `fill`.
inline double fromLibrary(double value, double fill)
{
    return value == kLibraryMissing ? fill : finiteOr(value, fill);
}

// The value of a derived quantity at point i: `fill` where any input is
// missing, else the formula's value when it is a finite number, else `fill`.
template <typename Formula>
double atPoint(size_t i, std::initializer_list<const p_data*> inputs, double fill, Formula formula)
{
    for (const p_data* r : inputs)
        if (missingAt(*r, i, fill))
            return fill;
    return finiteOr(static_cast<double>(formula()), fill);
}

template <typename Formula>
double atPoint(size_t i, const p_data& t, const std::vector<const p_data*>& partners, Formula formula)
{
    const double fill = t.prop_fillValue;
    if (missingAt(t, i, fill))
        return fill;
    for (const p_data* r : partners)
        if (missingAt(*r, i, fill))
            return fill;
    return finiteOr(static_cast<double>(formula()), fill);
}

// Per point of one grid: whether any of the records is missing there.
std::vector<char> missingPoints(const std::vector<const p_data*>& records, size_t points, double fill);

// The grid form of the rule, for quantities made from neighbouring points:
// `fill` at every point within `reach` rows and columns of a missing input
// point, and wherever the value is the library's missing value or not a
// finite number.
void screenGrid(std::vector<double>& values, const std::vector<char>& missing, int nlon, int nlat, int reach,
                double fill);

// ---- Level lists ----

// The levels (hPa) a row's list names, each once, in list order: blanks
// around parts are ignored, empty parts and parts that are not numbers
// name no level.
std::vector<double> listedLevels(const std::string& text);

// The listed levels that can be levels of a column of the atmosphere
// (above 0 and at most 1100 hPa), the lowest (largest pressure) first.
std::vector<double> columnLevels(const std::string& text);

// The level list of the row of the records' first record, as columnLevels.
std::vector<double> rowColumnLevels(const std::vector<p_data>& records);

// The last record of exactly that level, or null.
const p_data* exactLevel(const std::vector<p_data>* records, double level);

// The records ordered by level, as pointers.
std::vector<const p_data*> byLevel(const std::vector<p_data>& records);

// ---- What a derivation lacks ----

// Says once per quantity, on standard error, which inputs a wanted
// derivation lacks: each by its output names (alternatives joined by "or"),
// with " at L hPa" when a level of it is missing. Names without a row in the
// table are said to be missing from the table, the others from the inputs.
void sayLacking(const char* quantity, const std::vector<std::vector<const char*>>& names,
                const std::vector<int>& levels = {});

// The row of a record with that output name lists no levels.
void sayNoLevels(const char* quantity, const char* name);

// Forgets what was said (a new run).
void forgetSaid();

// The entries of each input (alternatives of output names), or an empty
// list, after saying what lacks, when any input is absent or empty.
std::vector<std::vector<p_data>*> inputs(CachedData& store, const char* quantity,
                                         const std::vector<std::vector<const char*>>& names);

// The trigger row exists and its write switch is on; otherwise "Do not need
// cal" is printed.
bool wanted(const char* triggerKey);

// The entry whose table row carries one of the names (the last in key
// order), or null.
std::vector<p_data>* input(CachedData& store, const std::vector<const char*>& names);

// The input itself supplies the quantity: an entry of that name whose first
// record was not computed.
bool present(CachedData& store, const char* name);

// The partner of the same level: the last record of that level, else the first.
const p_data& atLevel(const std::vector<p_data>& partner, int level);

// The k-th record by position, then one of the template's level if there is.
const p_data* atPosition(const std::vector<p_data>& partner, size_t k, int level);

// A copy of the template named as a derived quantity, with the quantity's
// CF standard name where it has one.
p_data derived(const p_data& from, const char* name, const char* longName, const char* units);

// Files the records (after the computation, so that no input entry grows
// while it is read). A value that is not a finite number is filed as the
// record's fill value: no derived field holds a NaN.
void file(std::vector<p_data>& records, CachedData& store);

// True when every partner has the template's number of values; otherwise
// says so and the template record is skipped.
bool sameSize(const p_data& t, const std::vector<const p_data*>& partners);

// Pointwise output of one template record: value(i) for each point, under
// the fill rule with the template's fill value.
template <typename Value>
std::vector<double> pointwise(const p_data& t, const std::vector<const p_data*>& partners, Value value)
{
    std::vector<double> out(t.data.size());
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = atPoint(i, t, partners, [&] { return value(i); });
    return out;
}

// A derivation over each record of its first input, paired point by point
// with the records of the other inputs at the same level.
struct Paired {
    const char* trigger;
    const char* presentName;  // an input supplying it: computed, not filed; may be null
    std::vector<std::vector<const char*>> inputs;  // alternatives per input, the template's first
    const char* name;
    const char* longName;
    const char* units;
    const char* surface = nullptr;  // surface name of the output; none by default
};

// compute(t, partners, i) gives point i, under the fill rule.
template <typename Compute>
bool pairedByLevel(CachedData& store, const Paired& step, Compute compute)
{
    if (!wanted(step.trigger) || (step.presentName && present(store, step.presentName)))
        return false;
    const std::vector<std::vector<p_data>*> in = inputs(store, step.name, step.inputs);
    if (in.empty())
        return false;
    std::vector<p_data> out;
    for (const p_data& t : *in.front()) {
        std::vector<const p_data*> partners;
        for (size_t k = 1; k < in.size(); ++k)
            partners.push_back(&atLevel(*in[k], t.level));
        if (!sameSize(t, partners))
            continue;
        p_data d = derived(t, step.name, step.longName, step.units);
        if (step.surface)
            d.nameOfFirstFixedSurface = step.surface;
        d.data = pointwise(t, partners, [&](size_t i) { return compute(t, partners, i); });
        out.push_back(std::move(d));
    }
    file(out, store);
    return true;
}

// The k-th template record with the k-th partner record (then the partner of
// its level, if any); a shorter partner sequence stops with "data error"
// (false), keeping what was filed before.
template <typename Compute>
bool pairedByPosition(CachedData& store, const std::vector<p_data>& templ, const std::vector<p_data>& partner,
                      const char* name, const char* longName, const char* units, Compute compute)
{
    std::vector<p_data> out;
    bool complete = true;
    for (size_t k = 0; k < templ.size(); ++k) {
        const p_data& t = templ[k];
        const p_data* x = atPosition(partner, k, t.level);
        if (!x) {
            complete = false;
            break;
        }
        if (!sameSize(t, {x}))
            continue;
        p_data d = derived(t, name, longName, units);
        d.data = pointwise(t, {x}, [&](size_t i) { return compute(t, *x, i); });
        out.push_back(std::move(d));
    }
    file(out, store);
    return complete;
}

}  // namespace derivation
