#include "model/initialtimes.h"

#include "model/levels.h"

#include <algorithm>
#include <map>
#include <set>

bool findMixedInitialTimes(const CachedData* store, MixedInitialTimes& found)
{
    for (int m = 0; m < kMemberSlots; ++m) {
        for (const auto& [key, records] : store[m]) {
            // Levels in order of arrival, each with its times.
            std::vector<int32_t> levels;
            std::map<int32_t, std::vector<std::string>> times;
            for (const p_data& r : records) {
                std::vector<std::string>& seen = times[r.level];
                if (seen.empty())
                    levels.push_back(r.level);
                if (std::find(seen.begin(), seen.end(), r.prop_initial_time) == seen.end())
                    seen.push_back(r.prop_initial_time);
            }
            for (int32_t level : levels) {
                if (times[level].size() > 1) {
                    found = {key, m, level, times[level]};
                    return true;
                }
            }
        }
    }
    return false;
}

std::string stepOf(const p_data& field)
{
    if (!field.stepRange.empty())
        return field.stepRange;
    return field.forecastTime >= 0 ? std::to_string(field.forecastTime) : std::string();
}

bool findMixedSteps(const CachedData* store, const std::function<bool(const std::string&)>& exempt, MixedSteps& found)
{
    std::set<std::string> keys;
    for (int m = 0; m < kMemberSlots; ++m)
        for (const auto& entry : store[m])
            keys.insert(entry.first);
    for (const std::string& key : keys) {
        if (exempt(key))
            continue;
        MixedSteps mixed;
        mixed.key = key;
        mixed.atOneLevel = true;
        bool first = true;
        ExactLevel where;
        for (int m = 0; m < kMemberSlots; ++m) {
            const auto it = store[m].find(key);
            if (it == store[m].end())
                continue;
            for (const p_data& f : it->second) {
                const std::string step = stepOf(f);
                if (std::find(mixed.steps.begin(), mixed.steps.end(), step) == mixed.steps.end())
                    mixed.steps.push_back(step);
                if (first) {
                    first = false;
                    mixed.member = m;
                    where = exactLevelOf(f);
                    mixed.level = where.first;
                } else if (m != mixed.member || exactLevelOf(f) != where) {
                    mixed.atOneLevel = false;
                }
            }
        }
        if (mixed.steps.size() > 1) {
            found = std::move(mixed);
            return true;
        }
    }
    return false;
}
