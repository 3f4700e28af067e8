#include "model/initialtimes.h"

#include <algorithm>
#include <map>

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
