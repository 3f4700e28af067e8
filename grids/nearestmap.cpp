#include "grids/nearestmap.h"

#include <nanoflann.hpp>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double kRadians = M_PI / 180.0;

// A point of the sphere of radius 1.
struct Unit {
    double x, y, z;
};

Unit unitOf(double lon, double lat)
{
    const double phi = lat * kRadians;
    const double lambda = lon * kRadians;
    return {std::cos(phi) * std::cos(lambda), std::cos(phi) * std::sin(lambda), std::sin(phi)};
}

// The squared straight-line distance between two points of the unit sphere
// that lie `degrees` of arc apart: nearest in one is nearest in the other.
double squaredChordOf(double degrees)
{
    const double chord = 2.0 * std::sin(std::min(degrees, 180.0) * kRadians / 2.0);
    return chord * chord;
}

double degreesOfSquaredChord(double squared)
{
    return 2.0 * std::asin(std::min(1.0, std::sqrt(squared) / 2.0)) / kRadians;
}

// The one nearest point closer than a given distance: a result set of the
// index's searches, whose search stops looking wherever nothing nearer can be.
class NearestWithin {
public:
    explicit NearestWithin(double squared) : m_best(squared) {}
    double worstDist() const { return m_best; }
    bool addPoint(double squared, uint32_t point)
    {
        if (squared < m_best) {
            m_best = squared;
            m_point = point;
            m_found = true;
        }
        return true;
    }
    bool full() const { return m_found; }
    size_t size() const { return m_found ? 1 : 0; }
    int64_t point() const { return m_found ? static_cast<int64_t>(m_point) : -1; }

private:
    double m_best;
    uint32_t m_point = 0;
    bool m_found = false;
};

double median(std::vector<double>& v)
{
    if (v.empty())
        return 0;
    const auto middle = v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2);
    std::nth_element(v.begin(), middle, v.end());
    return *middle;
}

}  // namespace

// The points as the index sees them: on the unit sphere, each with its
// number in the grid.
struct SourcePoints::Index {
    std::vector<Unit> units;
    std::vector<uint32_t> numbers;

    size_t kdtree_get_point_count() const { return units.size(); }
    double kdtree_get_pt(size_t k, size_t dim) const
    {
        const Unit& u = units[k];
        return dim == 0 ? u.x : dim == 1 ? u.y : u.z;
    }
    template <class Box>
    bool kdtree_get_bbox(Box&) const
    {
        return false;
    }

    using Tree = nanoflann::KDTreeSingleIndexAdaptor<nanoflann::L2_Simple_Adaptor<double, Index>, Index, 3, uint32_t>;
    std::unique_ptr<Tree> tree;

    int64_t nearest(const Unit& u, double squared) const
    {
        if (units.empty())
            return -1;
        NearestWithin result(squared);
        const double query[3] = {u.x, u.y, u.z};
        tree->findNeighbors(result, query, nanoflann::SearchParams());
        return result.full() ? static_cast<int64_t>(numbers[static_cast<size_t>(result.point())]) : -1;
    }
};

SourcePoints::SourcePoints(const std::vector<double>& lons, const std::vector<double>& lats)
    : m_index(std::make_unique<Index>())
{
    const size_t n = std::min(lons.size(), lats.size());
    m_index->units.reserve(n);
    m_index->numbers.reserve(n);
    for (size_t k = 0; k < n && k <= std::numeric_limits<uint32_t>::max(); ++k) {
        if (!std::isfinite(lons[k]) || !std::isfinite(lats[k]))
            continue;
        m_index->units.push_back(unitOf(lons[k], lats[k]));
        m_index->numbers.push_back(static_cast<uint32_t>(k));
    }
    m_index->tree = std::make_unique<Index::Tree>(3, *m_index, nanoflann::KDTreeSingleIndexAdaptorParams(16));
}

SourcePoints::~SourcePoints() = default;

size_t SourcePoints::size() const
{
    return m_index->units.size();
}

PointSpacing SourcePoints::spacing() const
{
    const size_t n = m_index->units.size();
    if (n < 5)
        return {};
    constexpr size_t kSamples = 4096;
    const size_t stride = std::max<size_t>(1, n / kSamples);
    std::vector<double> nearest, fourth;
    for (size_t k = 0; k < n; k += stride) {
        const Unit& u = m_index->units[k];
        const double query[3] = {u.x, u.y, u.z};
        uint32_t found[5];
        double squared[5];
        // The point itself is the first found.
        if (m_index->tree->knnSearch(query, 5, found, squared) < 5)
            continue;
        nearest.push_back(degreesOfSquaredChord(squared[1]));
        fourth.push_back(degreesOfSquaredChord(squared[4]));
    }
    return {median(nearest), median(fourth)};
}

int64_t SourcePoints::nearest(double lon, double lat, double reach) const
{
    return m_index->nearest(unitOf(lon, lat), squaredChordOf(reach));
}

NearestMap SourcePoints::mapOnto(const AreaGrid& area, double reach) const
{
    NearestMap map;
    map.m_area = area;
    const long long columns = area.columns();
    const long long rows = area.rows();
    map.m_point.assign(static_cast<size_t>(columns * rows), -1);
    const double squared = squaredChordOf(reach);
    size_t inside = 0;
    // Every cell is searched on its own: the map is the same on any number
    // of threads.
#pragma omp parallel for schedule(dynamic, 4) reduction(+ : inside)
    for (long long j = 0; j < rows; ++j) {
        const double lat = area.latOf(j);
        for (long long i = 0; i < columns; ++i) {
            const int64_t point = m_index->nearest(unitOf(area.lonOf(i), lat), squared);
            map.m_point[static_cast<size_t>(j * columns + i)] = static_cast<int32_t>(point);
            inside += point >= 0 ? 1 : 0;
        }
    }
    map.m_inside = inside;
    return map;
}

void NearestMap::gather(const std::vector<double>& values, double fill, std::vector<double>& out) const
{
    out.resize(m_point.size());
    const size_t n = values.size();
    for (size_t c = 0; c < m_point.size(); ++c) {
        const int32_t point = m_point[c];
        out[c] = point >= 0 && static_cast<size_t>(point) < n ? values[static_cast<size_t>(point)] : fill;
    }
}

std::shared_ptr<const GridPlacementByPoints> NearestMaps::obtain(const std::string& key, const Make& make)
{
    std::shared_ptr<Slot> slot;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::shared_ptr<Slot>& known = m_slots[key];
        if (!known)
            known = std::make_shared<Slot>();
        slot = known;
    }
    std::lock_guard<std::mutex> making(slot->making);
    if (!slot->placement)
        slot->placement = make();
    return slot->placement;
}
