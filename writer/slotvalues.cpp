#include "writer/slotvalues.h"

#include "model/pdata.h"
#include "writer/ncput.h"

#include <netcdf.h>

#include <algorithm>

size_t sliceSize(const NC_STRUCT& v)
{
    return v.valueCount / static_cast<size_t>(std::max(1, v.levelCount));
}

void slotValues(const NC_STRUCT& v, size_t slot, size_t first, size_t count, float* out)
{
    const NC_SLOT* s = slot < v.levelSlots.size() ? &v.levelSlots[slot] : nullptr;
    const p_data* f = s ? s->field : nullptr;
    const size_t n = f && f->data.size() > first ? std::min(count, f->data.size() - first) : 0;
    if (n > 0) {
        const double amplification = s->amplification;
        const double offset = s->offset;
        const double fill = f->prop_fillValue;
        const auto from = f->data.begin() + static_cast<long>(first);
        std::transform(from, from + static_cast<long>(n), out, [&](double x) {
            return static_cast<float>(x != fill ? x * amplification + offset : x);
        });
    }
    std::fill(out + n, out + count, v.fillValue);
}

std::vector<float> assembledValues(const NC_STRUCT& v)
{
    std::vector<float> values(v.valueCount);
    const size_t n = sliceSize(v);
    for (size_t slot = 0; n > 0 && slot * n < values.size(); ++slot)
        slotValues(v, slot, 0, n, values.data() + slot * n);
    return values;
}

void putVariableValues(int nc, int varid, const std::vector<const NC_STRUCT*>& members, bool ensemble, bool levelDim,
                       size_t levels, size_t ny, size_t nx, float fill)
{
    // The chunk extents along the level, latitude and longitude dimensions;
    // members are written one after the other.
    int storage = NC_CONTIGUOUS;
    size_t chunks[4] = {1, 1, 1, 1};
    ncCheck(nc_inq_var_chunking(nc, varid, &storage, chunks), "asking a variable's chunks");
    const size_t* own = chunks + (ensemble ? 1 : 0);
    size_t cl = 1, cy = ny, cx = nx;
    if (storage == NC_CHUNKED) {
        cl = levelDim ? std::max<size_t>(1, own[0]) : 1;
        cy = std::max<size_t>(1, own[levelDim ? 1 : 0]);
        cx = std::max<size_t>(1, own[levelDim ? 2 : 1]);
    }
    std::vector<float> buffer(std::min(cl, levels) * std::min(cy, ny) * std::min(cx, nx));
    for (size_t m = 0; m < members.size(); ++m)
        for (size_t l0 = 0; l0 < levels; l0 += cl)
            for (size_t y0 = 0; y0 < ny; y0 += cy)
                for (size_t x0 = 0; x0 < nx; x0 += cx) {
                    const size_t nl = std::min(cl, levels - l0), my = std::min(cy, ny - y0), mx = std::min(cx, nx - x0);
                    float* out = buffer.data();
                    for (size_t l = l0; l < l0 + nl; ++l)
                        for (size_t y = y0; y < y0 + my; ++y, out += mx) {
                            if (members[m])
                                slotValues(*members[m], l, y * nx + x0, mx, out);
                            else
                                std::fill_n(out, mx, fill);
                        }
                    size_t start[4], count[4];
                    int k = 0;
                    if (ensemble) {
                        start[k] = m;
                        count[k++] = 1;
                    }
                    if (levelDim) {
                        start[k] = l0;
                        count[k++] = nl;
                    }
                    start[k] = y0;
                    count[k++] = my;
                    start[k] = x0;
                    count[k++] = mx;
                    ncCheck(nc_put_vara_float(nc, varid, start, count, buffer.data()), "writing a variable");
                }
}
