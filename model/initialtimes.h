// One run converts one analysis time and one forecast time per variable: the
// output holds one time per variable, so fields of one variable with
// different initial times or forecast steps cannot be told apart once
// written.
#pragma once

#include "model/pdata.h"

#include <functional>
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

// Fields of one variable (any level, any member) of several forecast steps:
// the steps in order of arrival, and where the variable's first field lies.
struct MixedSteps {
    std::string key;  // variable key
    int member = 0;
    double level = 0;  // exact level
    std::vector<std::string> steps;
    // Whether every field of the variable lies at that level and member.
    bool atOneLevel = false;
};

// The name a field gives its forecast step: the input's step range ("6",
// "114-120") or, without one, the forecast time; empty when it has neither.
std::string stepOf(const p_data& field);

// The first variable of the store (keys in key order) whose fields have
// more than one forecast step, leaving out the keys `exempt` names; false
// when there is none.
bool findMixedSteps(const CachedData* store, const std::function<bool(const std::string&)>& exempt, MixedSteps& found);
