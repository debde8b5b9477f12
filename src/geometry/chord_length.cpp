// Chord-length parameters of a patch, from its control net: the parameter
// each row of control vertices stands for (its Greville abscissa, the mean
// of the knots it spans) against the share of the net's length reached at
// that row, averaged over the rows across. A net whose vertices lie evenly
// along each direction maps every parameter to itself.
#include <cmath>
#include <vector>

#include "geometry/geometry_evaluation.h"
#include "geometry/nurbs_ops.h"
#include "geometry/object_geometry.h"
#include "scene/scene_objects.h"

namespace sky {
namespace {

// One direction: `count` rows of `across` vertices, vertex (i, j) at
// point(i, j).
template <class Point>
void chord_direction(const std::vector<double>& knots, int degree, int count, int across,
                     Point point, std::vector<float>& from, std::vector<float>& to) {
    from.clear();
    to.clear();
    std::vector<double> full;
    full_knots(knots, full);
    if (count < 2 || across < 1 || degree < 1 ||
        full.size() < static_cast<std::size_t>(count + degree + 1))
        return;
    std::vector<double> share(static_cast<std::size_t>(count), 0.0);
    int rows = 0;
    for (int j = 0; j < across; ++j) {
        std::vector<double> run(static_cast<std::size_t>(count), 0.0);
        for (int i = 1; i < count; ++i) {
            const WeightedPoint &a = point(i - 1, j), &b = point(i, j);
            run[static_cast<std::size_t>(i)] =
                run[static_cast<std::size_t>(i) - 1] + std::hypot(b.x - a.x, b.y - a.y, b.z - a.z);
        }
        const double total = run.back();
        if (!(total > 0.0) || !std::isfinite(total)) continue;
        for (int i = 0; i < count; ++i)
            share[static_cast<std::size_t>(i)] += run[static_cast<std::size_t>(i)] / total;
        ++rows;
    }
    if (rows == 0) return;
    const double first = full[static_cast<std::size_t>(degree)];
    const double last = full[static_cast<std::size_t>(count)];
    for (int i = 0; i < count; ++i) {
        double greville = 0.0;
        for (int k = 1; k <= degree; ++k) greville += full[static_cast<std::size_t>(i + k)];
        greville /= degree;
        from.push_back(static_cast<float>(greville));
        to.push_back(
            static_cast<float>(first + (last - first) * share[static_cast<std::size_t>(i)] / rows));
    }
    // The map must rise for the lookup to find its piece.
    for (std::size_t i = 1; i < from.size(); ++i)
        if (!(from[i] >= from[i - 1])) {
            from.clear();
            to.clear();
            return;
        }
}

}  // namespace

void chord_length_map(const NurbsSurface& s, ChordLengthMap& map) {
    chord_direction(
        s.uknots, s.udegree, s.ucount, s.vcount,
        [&](int i, int j) -> const WeightedPoint& { return s.cv(i, j); }, map.u_from, map.u_to);
    chord_direction(
        s.vknots, s.vdegree, s.vcount, s.ucount,
        [&](int i, int j) -> const WeightedPoint& { return s.cv(j, i); }, map.v_from, map.v_to);
}

}  // namespace sky
