// The shape every derivation shares: its trigger row, its inputs found by
// output name, the already-present test, partner records, derived records
// and their filing.
#pragma once

#include "model/pdata.h"

#include <initializer_list>
#include <string>
#include <vector>

namespace derivation {

// The trigger row exists and its write switch is on; otherwise "Do not need
// cal" is printed.
bool wanted(const char* triggerKey);

// The entry whose table row carries one of the names (the last in key
// order), or null.
std::vector<p_data>* input(CachedData& store, std::initializer_list<const char*> names);

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
bool sameSize(const p_data& t, std::initializer_list<const p_data*> partners);

// Pointwise output of one template record: value(i) for each point; a point
// where the template or a partner holds its own fill value gets the
// template's fill value.
template <typename Value>
std::vector<double> pointwise(const p_data& t, std::initializer_list<const p_data*> partners, Value value)
{
    std::vector<double> out(t.data.size());
    const double fill = t.prop_fillValue;
    for (size_t i = 0; i < out.size(); ++i) {
        bool missing = t.data[i] == fill;
        for (const p_data* p : partners)
            missing = missing || p->data[i] == static_cast<double>(p->prop_fillValue);
        out[i] = missing ? fill : value(i);
    }
    return out;
}

}  // namespace derivation
