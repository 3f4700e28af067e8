#include "model/levels.h"

#include <algorithm>

ExactLevel exactLevelOf(double value, double bottom, int32_t level)
{
    ExactLevel exact;
    exact.first = std::isfinite(value) ? value : static_cast<double>(level);
    exact.second = bottom;
    return exact;
}

bool layersNamedByMiddle(const std::vector<ExactLevel>& levels)
{
    for (size_t a = 0; a < levels.size(); ++a) {
        if (!levels[a].isLayer())
            continue;
        for (size_t b = a + 1; b < levels.size(); ++b)
            if (levels[b].isLayer() && static_cast<float>(levels[a].first) == static_cast<float>(levels[b].first) &&
                static_cast<float>(levels[a].second) != static_cast<float>(levels[b].second))
                return true;
    }
    return false;
}

double listedValueOf(const ExactLevel& level, bool byMiddle)
{
    return byMiddle ? level.middle() : level.first;
}

std::vector<double> levelCandidates(const ExactLevel& level, bool byMiddle, int32_t integerLevel)
{
    std::vector<double> out{listedValueOf(level, byMiddle)};
    auto add = [&](double v) {
        if (std::none_of(out.begin(), out.end(), [&](double o) { return static_cast<float>(o) == static_cast<float>(v); }))
            out.push_back(v);
    };
    if (level.isLayer())
        add(byMiddle ? level.first : level.middle());
    add(static_cast<double>(integerLevel));
    return out;
}
