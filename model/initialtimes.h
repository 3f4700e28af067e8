// One run converts one analysis time: the output holds one time per
// variable, so fields of one variable, level and member with different
// initial times cannot be told apart once written.
#pragma once

#include "model/pdata.h"

#include <string>
#include <vector>

struct MixedInitialTimes {
    std::string key;  // variable key
    int member = 0;
    int32_t level = 0;
    // The distinct initial times of that variable and level, in order of
    // arrival.
    std::vector<std::string> times;
};

// The first variable and level of the store (members in order, keys in key
// order, levels in order of arrival) whose fields have more than one
// initial time; false when there is none.
bool findMixedInitialTimes(const CachedData* store, MixedInitialTimes& found);
