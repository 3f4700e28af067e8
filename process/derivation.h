// The shape every derivation shares: its trigger row, its inputs found by
// output name, the already-present test, partner records, derived records
// and their filing.
#pragma once

#include "model/pdata.h"

#include <string>
#include <vector>

namespace derivation {

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

// A copy of the template named as a derived quantity.
p_data derived(const p_data& from, const char* name, const char* longName, const char* units);

// Files the records (after the computation, so that no input entry grows
// while it is read).
void file(std::vector<p_data>& records, CachedData& store);

// True when every partner has the template's number of values; otherwise
// says so and the template record is skipped.
bool sameSize(const p_data& t, const std::vector<const p_data*>& partners);

// Pointwise output of one template record: value(i) for each point; a point
// where the template holds its fill value, or a partner its own or the
// template's, gets the template's fill value.
template <typename Value>
std::vector<double> pointwise(const p_data& t, const std::vector<const p_data*>& partners, Value value)
{
    std::vector<double> out(t.data.size());
    const double fill = t.prop_fillValue;
    for (size_t i = 0; i < out.size(); ++i) {
        bool missing = t.data[i] == fill;
        for (const p_data* p : partners)
            missing = missing || p->data[i] == fill || p->data[i] == static_cast<double>(p->prop_fillValue);
        out[i] = missing ? fill : value(i);
    }
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

// compute(t, partners, i) gives point i; points with a fill value in any
// input get the template's fill value.
template <typename Compute>
bool pairedByLevel(CachedData& store, const Paired& step, Compute compute)
{
    if (!wanted(step.trigger))
        return false;
    std::vector<std::vector<p_data>*> in;
    for (const auto& names : step.inputs) {
        std::vector<p_data>* e = input(store, names);
        if (!e || (!in.empty() && e->empty()))
            return false;
        in.push_back(e);
    }
    const bool already = step.presentName && present(store, step.presentName);
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
    if (!already)
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
