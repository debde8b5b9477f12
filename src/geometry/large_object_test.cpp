// Large objects take other roads than small ones: their blocks are kept
// rather than compacted, a mesh's identical vertices share one record, the
// polygons of a large polyset are tessellated in parts by several workers,
// and each tile enters only the triangles binned for it. Every road must
// give what the plain one gives.
#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/arena.h"
#include "base/counters.h"
#include "base/options_test_support.h"
#include "base/workers.h"
#include "geometry/bucket_spans.h"
#include "geometry/buckets.h"
#include "geometry/depth_entry.h"
#include "geometry/entry_test_support.h"
#include "geometry/tessellate_object.h"
#include "platform/report.h"
#include "scene/scene_objects.h"
#include "scene/transform.h"
#include "sdl/types.h"

namespace sky {
namespace {

std::string error_text;
void capture_error(const char* text) {
    error_text += text;
}

// A wavy sheet of nu × nv quads, two triangles each, with vertex normals,
// filling most of a 645 × 486 window ten units down −z; `bad` polygons
// after the polygon of each index given; with `bare_every`, every so many
// vertices have no normal, so that the mesh's computed normals are wanted.
std::shared_ptr<PolysetMesh> sheet(int nu, int nv, std::vector<std::size_t> bad_after = {},
                                   int bare_every = 0) {
    auto mesh = std::make_shared<PolysetMesh>();
    for (int i = 0; i <= nu; ++i) {
        for (int j = 0; j <= nv; ++j) {
            PolysetVertex v;
            v.position[0] = -5.0 + 10.0 * i / nu;
            v.position[1] = -3.7 + 7.4 * j / nv;
            v.position[2] = 0.3 * std::sin(i * 0.05) * std::cos(j * 0.07);
            v.normal[0] = 0.1 * std::sin(j * 0.3), v.normal[1] = 0.1, v.normal[2] = 1;
            v.has_normal = bare_every == 0 || (i * (nv + 1) + j) % bare_every != 0;
            mesh->add_vertex(v);
        }
    }
    auto at = [nv](int i, int j) { return static_cast<std::int32_t>(i * (nv + 1) + j); };
    for (int i = 0; i < nu; ++i) {
        for (int j = 0; j < nv; ++j) {
            PolysetPolygon a, b;
            a.vertices = {at(i, j), at(i + 1, j), at(i + 1, j + 1)};
            b.vertices = {at(i, j), at(i + 1, j + 1), at(i, j + 1)};
            for (const PolysetPolygon& polygon : {a, b}) {
                mesh->add_polygon(polygon);
                for (std::size_t after : bad_after)
                    if (mesh->polygon_count == after + 1) {
                        PolysetPolygon bad;
                        bad.vertices = {0, 1, 999999};
                        mesh->add_polygon(bad);
                    }
            }
        }
    }
    return mesh;
}

class LargeObject : public testing::Test {
protected:
    void SetUp() override {
        RenderOptions& options = render_options();
        options.quiet = 0;
        options.xleft = 0, options.xright = 644, options.ylow = 0, options.yhigh = 485;
        options.xresolution = 645, options.yresolution = 486;
        options.tile_rows = 15;
        error_text.clear();
        rptSetErrorCB(capture_error);
        restore_tessellators();
        GeometryView& view = geometry_view();
        view = GeometryView{};
        view.screen = ScreenMapping{322.5f, 243, 600, 600, true};
        view.near = 0.5f, view.far = 100;
        view.depth_scale = 100 / 99.5f, view.depth_offset = -50 / 99.5f;
        view.xleft = 0, view.xright = 644, view.ylow = 0, view.yhigh = 485;
        view.guard_x = 64500, view.guard_y = 48600;
        object_.type = SDL_POLYSET;
        object_.name = "sheet";
        object_.moving = false;
        object_.geometry = &polyset_;
        object_.placement.model.m[14] = -10;
        transform_state().value = object_.placement;
        polyset_.type = SDL_POLYSET;
        polyset_.mesh = sheet(400, 170);  // 136,000 triangles: three parts
    }
    void TearDown() override {
        rptSetErrorCB(write_to_stderr);
        restore_tessellators();
    }

    PolysetGeometry polyset_;
    RenderObject object_;

private:
    test::RenderOptionsGuard options_;
};

// Every value the samplers read from a triangle and its vertices.
std::vector<float> values_of(const ObjectTriangles& storage) {
    std::vector<float> out;
    for_each_triangle(storage, [&](const ScreenTriangle& t) {
        out.insert(out.end(), {t.x0, t.y0, t.z0, t.a, t.b, t.dz1, t.c, t.d, t.dz2});
        for (const ScreenVertex* v : {t.P0, t.P1, t.P2}) {
            out.insert(out.end(), {v->x, v->y, v->z, v->normal[0], v->normal[1], v->normal[2]});
            const float* s = v->shading->eye;
            out.insert(out.end(), s, s + 11);
        }
    });
    return out;
}

TEST_F(LargeObject, PartsMadeByTwoWorkersJoinIntoWhatOneWorkerMakes) {
    reset_geometry_counters();
    ObjectTriangles alone(&object_);
    ASSERT_TRUE(tessellate_object(object_, alone));
    const std::int64_t counted = render_counters().vertices.load();
    EXPECT_EQ(counted, alone.vertex_count);
    // Shared vertices: a mesh vertex is entered by up to six triangles.
    EXPECT_LT(alone.vertices.count(), alone.vertex_count / 2);

    reset_geometry_counters();
    SharedTessellation shared;
    ObjectTriangles together(&object_);
    std::atomic<bool> done{false};
    std::atomic<bool> helped{false};
    std::thread helper([&] {
        while (!done.load()) {
            if (help_tessellate(shared)) helped.store(true);
            std::this_thread::yield();
        }
    });
    const bool made = tessellate_object(object_, together, &shared);
    done.store(true);
    helper.join();
    ASSERT_TRUE(made);
    EXPECT_EQ(together.triangle_count, alone.triangle_count);
    EXPECT_EQ(together.vertex_count, alone.vertex_count);
    EXPECT_EQ(render_counters().vertices.load(), counted);
    EXPECT_EQ(render_counters().triangles.load(), alone.triangle_count);
    EXPECT_TRUE(values_of(together) == values_of(alone));
    EXPECT_TRUE(error_text.empty()) << error_text;
    // A helper that comes when every part is taken finds nothing to do.
    EXPECT_FALSE(help_tessellate(shared));
}

// Hands every triangle on through add_triangle, as a tessellator's sink
// took them before corners were kept by key.
class PointsOnly : public TriangleSink {
public:
    explicit PointsOnly(TriangleSink& next) : next_(next) {}
    void add_triangle(const SurfacePoint& a, const SurfacePoint& b,
                      const SurfacePoint& c) override {
        next_.add_triangle(a, b, c);
    }

private:
    TriangleSink& next_;
};

bool tessellate_by_points(const PolysetGeometry& polyset, const char* name, TriangleSink& sink) {
    PointsOnly points(sink);
    return tessellate_polyset(polyset, name, points);
}

// The placing sink keeps a mesh's corners by their keys: the triangles and
// vertices must be those of corners kept by their points, including
// corners whose keys share a place of the table, triangles cut by the near
// plane or split beyond the guard band, and a vertex without a normal of
// its own whose polygons meet back to back.
TEST_F(LargeObject, CornersKeptByKeyGiveWhatCornersKeptByPointGive) {
    auto mesh = sheet(60, 40);
    const auto base = static_cast<std::int32_t>(mesh->vertex_count());
    ASSERT_GT(base, 2048);
    for (const auto& p : {std::array<double, 3>{0, 0, 10.2},
                          {1, 0, 10.2},
                          {0, 1, 8},
                          {-3000, 0, 0},
                          {3000, 1, 0},
                          {0, 3000, 0},
                          {0, 0, 1},
                          {1, 0, 1},
                          {0, 1, 1}}) {
        PolysetVertex v;
        for (int k = 0; k < 3; ++k) v.position[k] = p[k];
        v.has_normal = p[2] != 1;
        v.normal[2] = 1;
        mesh->add_vertex(v);
    }
    auto add = [&](std::vector<std::int32_t> vertices) {
        PolysetPolygon polygon;
        polygon.vertices = std::move(vertices);
        mesh->add_polygon(polygon);
    };
    add({0, 1024, 2048});                 // three corners, one table place
    add({5, 6, 5 + 1024});                // two of them
    add({base, base + 1, base + 2});      // cut by the near plane
    add({base + 3, base + 4, base + 5});  // split beyond the guard band
    add({base + 6, base + 7, base + 8});  // back to back: the polygon's normal
    add({base + 6, base + 8, base + 7});
    polyset_.mesh = mesh;
    ObjectTriangles by_key(&object_);
    ASSERT_TRUE(tessellate_object(object_, by_key));
    const std::string by_key_errors = error_text;
    error_text.clear();
    tessellators().polyset = tessellate_by_points;
    ObjectTriangles by_point(&object_);
    ASSERT_TRUE(tessellate_object(object_, by_point));
    EXPECT_GT(by_key.triangle_count, 2 * 60 * 40);
    EXPECT_EQ(by_key.triangle_count, by_point.triangle_count);
    EXPECT_EQ(by_key.vertex_count, by_point.vertex_count);
    EXPECT_TRUE(values_of(by_key) == values_of(by_point));
    EXPECT_EQ(by_key_errors, error_text);
    EXPECT_NE(error_text.find("vertex has no normal"), std::string::npos);
}

// The normals made for the frame before its passes, with the parked workers
// sharing the scan of the polygons, are those a pass would make for itself:
// for a mesh that needs computed normals and for one that does not.
TEST_F(LargeObject, NormalsMadeBeforeThePassesAreThoseThePartsWouldMake) {
    for (int bare_every : {0, 7}) {
        polyset_.mesh = sheet(400, 170, {}, bare_every);
        ObjectTriangles alone(&object_);
        ASSERT_TRUE(tessellate_object(object_, alone));

        frame_objects().clear();
        RenderObject& listed = frame_objects().append();
        listed = object_;
        {
            WorkerCrew crew(2);
            prepare_frame_polysets();
        }
        frame_objects().clear();

        SharedTessellation shared;
        ObjectTriangles together(&object_);
        ASSERT_TRUE(tessellate_object(object_, together, &shared));
        EXPECT_TRUE(shared.binned);
        EXPECT_EQ(shared.prepared.computed->empty(), bare_every == 0);
        EXPECT_EQ(together.triangle_count, alone.triangle_count);
        EXPECT_TRUE(values_of(together) == values_of(alone)) << bare_every;
        EXPECT_TRUE(error_text.empty()) << error_text;
    }
}

// Every value a moving object's vertices carry besides those of values_of:
// how each moves through the shutter.
std::vector<float> motion_of(const ObjectTriangles& storage) {
    std::vector<float> out;
    for_each_triangle(storage, [&](const ScreenTriangle& t) {
        for (const ScreenVertex* v : {t.P0, t.P1, t.P2}) {
            if (v->motion == nullptr) {
                out.push_back(-1e30f);
                continue;
            }
            const float* m = v->motion->to_frame;
            out.insert(out.end(), m, m + 14);
        }
    });
    return out;
}

// Made by the caller with a second worker taking parts; `in_parts` tells
// whether the parts were joined into the object.
bool tessellate_with_helper(RenderObject& object, ObjectTriangles& storage, bool& in_parts) {
    SharedTessellation shared;
    std::atomic<bool> done{false};
    std::thread helper([&] {
        while (!done.load()) {
            help_tessellate(shared);
            std::this_thread::yield();
        }
    });
    const bool made = tessellate_object(object, storage, &shared);
    done.store(true);
    helper.join();
    in_parts = shared.binned;
    return made;
}

TEST_F(LargeObject, AMovingMeshInPartsPairsItsHalvesAsOneWorkerDoes) {
    // Turned a little about the view axis and moved aside by shutter close.
    PolysetGeometry close = polyset_;
    object_.moving = true;
    object_.has_close = true;
    object_.close_geometry = &close;
    const float turn = 0.05f;
    Matrix4& m = object_.close_placement.model;
    m.m[0] = m.m[5] = std::cos(turn);
    m.m[1] = std::sin(turn), m.m[4] = -std::sin(turn);
    m.m[12] = 0.4f, m.m[14] = -10;
    object_.close_placement.normal = object_.close_placement.direction = m;
    object_.close_placement.normal.m[12] = object_.close_placement.normal.m[14] = 0;
    object_.close_placement.direction.m[12] = object_.close_placement.direction.m[14] = 0;
    geometry_view().motion_blur = true;

    // Paired part by part; then, with a polygon the shutter-close half
    // leaves out, one part's halves do not pair and the object is paired
    // whole after all, as one worker pairs it.
    for (const bool pairs : {true, false}) {
        if (!pairs) close.mesh = sheet(400, 170, {69999});
        error_text.clear();
        ObjectTriangles alone(&object_);
        ASSERT_TRUE(tessellate_object(object_, alone));
        const std::string one_worker = error_text;
        ASSERT_TRUE(alone.moving);
        error_text.clear();
        ObjectTriangles together(&object_);
        bool in_parts = false;
        ASSERT_TRUE(tessellate_with_helper(object_, together, in_parts));
        EXPECT_EQ(in_parts, pairs);
        ASSERT_TRUE(together.moving);
        EXPECT_EQ(together.triangle_count, alone.triangle_count) << pairs;
        EXPECT_EQ(together.vertex_count, alone.vertex_count) << pairs;
        EXPECT_TRUE(values_of(together) == values_of(alone)) << pairs;
        const std::vector<float> motion = motion_of(together);
        EXPECT_TRUE(motion == motion_of(alone)) << pairs;
        // The halves really do differ: the vertices move.
        EXPECT_TRUE(std::any_of(motion.begin(), motion.end(), [](float f) { return f > 0.1f; }));
        EXPECT_EQ(error_text, one_worker) << pairs;
    }
    EXPECT_EQ(error_text,
              "Polyset error: 1 polygon(s) with indices out of range left out: sheet\n");
}

TEST_F(LargeObject, PartsReportTheMeshsFaultsOnceAsOnePassWould) {
    // Bad polygons at 70,000 and at the end.
    auto mesh = sheet(400, 170, {69999, 136000});
    polyset_.mesh = mesh;
    ObjectTriangles alone(&object_);
    tessellate_object(object_, alone);
    const std::string one_pass = error_text;
    error_text.clear();
    SharedTessellation shared;
    ObjectTriangles parts(&object_);
    tessellate_object(object_, parts, &shared);
    EXPECT_EQ(error_text, one_pass);
    EXPECT_EQ(error_text,
              "Polyset error: 2 polygon(s) with indices out of range left out: sheet\n");
}

// The cells of every list of the grid, in list order.
std::vector<std::vector<const ScreenTriangle*>> lists_of(const BucketGrid& grid) {
    std::vector<std::vector<const ScreenTriangle*>> lists;
    for (std::int64_t i = 0; i < static_cast<std::int64_t>(grid.width) * grid.height; ++i) {
        lists.emplace_back();
        for (const BucketCell* c = grid.heads[i]; c != nullptr; c = c->next)
            lists.back().push_back(c->triangle);
    }
    return lists;
}

TEST_F(LargeObject, EachTileEntersFromItsBinWhatTheWholeObjectWouldGiveIt) {
    render_options().quiet = 1;
    make_tiles();
    give_tile_buffers(tile_layout().width, tile_layout().rows, 1);
    std::span<Tile> tiles = tile_list();
    ASSERT_GT(tiles.size(), 10u);
    ObjectTriangles storage(&object_);
    ASSERT_TRUE(tessellate_object(object_, storage));
    std::vector<GridRows> rows;
    for (const Tile& tile : tiles)
        rows.push_back({&tile, std::max(tile.y_first - 1, 0),
                        std::max(tile.y_first - 1, 0) + tile.y_last - tile.y_first + 2});
    bin_object_triangles(storage, geometry_view(), rows);
    ASSERT_EQ(storage.bins.tiles.size(), tiles.size());
    // Each triangle sits in one or two bins, not in all of them.
    EXPECT_LT(storage.bins.triangles.size(), static_cast<std::size_t>(storage.triangle_count) * 2);

    BucketGrid& grid = bucket_grid();
    for (Tile& tile : tiles) {
        map_tile_to_buckets(grid, &tile);
        bucket_object(grid, geometry_view(), storage);
        const auto whole = lists_of(grid);
        rewind_arena(tile_arena());
        map_tile_to_buckets(grid, &tile);
        bucket_object(grid, geometry_view(), storage, &tile);
        EXPECT_TRUE(lists_of(grid) == whole) << "tile at row " << tile.y_first;
        rewind_arena(tile_arena());
    }
    rewind_arena(pass_arena());

    // Tiles that are not bands down the screen get no bins.
    bin_object_triangles(storage, geometry_view(), {{&tiles[0], 0, 100}, {&tiles[1], 10, 20}});
    EXPECT_TRUE(storage.bins.tiles.empty());
}

// The rows a triangle keeps from its set-up stand for its vertices' rows,
// also for a mesh reaching far beyond the window, and for tiles taller
// than the rows it keeps, where binning reads the vertices instead.
TEST_F(LargeObject, BinsHoldTheTrianglesWhoseVerticesReachTheTilesRows) {
    render_options().quiet = 1;
    object_.placement.model.m[14] = -2;  // five windows wide
    transform_state().value = object_.placement;
    ObjectTriangles storage(&object_);
    ASSERT_TRUE(tessellate_object(object_, storage));
    const Tile tiles[3]{};
    const std::vector<std::vector<GridRows>> layouts = {
        {{&tiles[0], 0, 170}, {&tiles[1], 160, 330}, {&tiles[2], 320, 487}},
        {{&tiles[0], 0, 170}, {&tiles[1], 160, 330}, {&tiles[2], 320, 40000}}};
    for (const std::vector<GridRows>& rows : layouts) {
        std::vector<std::vector<const ScreenTriangle*>> expected(rows.size());
        std::size_t beyond_window = 0;
        for_each_triangle(storage, [&](const ScreenTriangle& t) {
            double lo = INFINITY, hi = -INFINITY;
            for (const ScreenVertex* v : {t.P0, t.P1, t.P2}) {
                const double y = project_to_screen(geometry_view(), v->shading->eye).y;
                lo = std::min(lo, std::trunc(y)), hi = std::max(hi, std::trunc(y));
            }
            beyond_window += lo < -1 || hi > 487;
            for (std::size_t k = 0; k < rows.size(); ++k)
                if (lo <= rows[k].last && hi >= rows[k].first) expected[k].push_back(&t);
        });
        EXPECT_GT(beyond_window, 100u);
        bin_object_triangles(storage, geometry_view(), rows);
        ASSERT_EQ(storage.bins.tiles.size(), rows.size());
        for (std::size_t k = 0; k < rows.size(); ++k) {
            const std::vector<const ScreenTriangle*> binned(
                storage.bins.triangles.begin() + static_cast<std::ptrdiff_t>(storage.bins.first[k]),
                storage.bins.triangles.begin() +
                    static_cast<std::ptrdiff_t>(storage.bins.first[k + 1]));
            EXPECT_TRUE(binned == expected[k]) << "tile " << k << " up to row " << rows[k].last;
        }
    }
}

// Each tile's list, piece after piece, as entry reads it.
template <typename Triangle>
std::vector<std::vector<const Triangle*>> tile_lists(
    const ObjectTriangles::TileBins& bins, BinnedList<Triangle> ObjectTriangles::TileBins::*list) {
    std::vector<std::vector<const Triangle*>> lists(bins.tiles.size());
    for (std::size_t k = 0; k < bins.tiles.size(); ++k)
        for_each_bin_piece(bins, k, list,
                           [&](const Triangle* const* at, const Triangle* const* end) {
                               lists[k].insert(lists[k].end(), at, end);
                           });
    return lists;
}

TEST_F(LargeObject, PartsBinnedByTheirWorkersJoinIntoTheBinsOfTheWholeObject) {
    render_options().quiet = 1;
    make_tiles();
    give_tile_buffers(tile_layout().width, tile_layout().rows, 1);
    std::span<Tile> tiles = tile_list();
    ASSERT_GT(tiles.size(), 10u);
    for (const bool depth_only : {false, true}) {
        geometry_view().depth_only = depth_only;
        ObjectTriangles storage(&object_);
        for (const Tile& tile : tiles) storage.holders.push_back(&tile);
        bool binned = false;
        ASSERT_TRUE(tessellate_with_helper(object_, storage, binned));
        ASSERT_TRUE(binned);
        const ObjectTriangles::TileBins joined = storage.bins;
        ASSERT_EQ(joined.tiles.size(), tiles.size()) << depth_only;
        // The parts' lists are read in place, not copied into one.
        EXPECT_GT(joined.parts.size(), 1u) << depth_only;
        // Only a depth-only object's bins list depth triangles.
        auto lists_in = [&](const ObjectTriangles::TileBins& bins) {
            return depth_only
                       ? std::make_pair(std::vector<std::vector<const ScreenTriangle*>>{},
                                        tile_lists(bins, &ObjectTriangles::TileBins::depth))
                       : std::make_pair(tile_lists(bins, &ObjectTriangles::TileBins::triangles),
                                        std::vector<std::vector<const DepthTriangle*>>{});
        };
        const auto joined_lists = lists_in(joined);
        // What bucket entry makes of each tile from the parts' bins.
        std::vector<std::vector<std::vector<const ScreenTriangle*>>> entered;
        BucketGrid& grid = bucket_grid();
        if (!depth_only)
            for (Tile& tile : tiles) {
                map_tile_to_buckets(grid, &tile);
                bucket_object(grid, geometry_view(), storage, &tile);
                entered.push_back(lists_of(grid));
                rewind_arena(tile_arena());
            }
        // Binned whole, the object gives the same lists in the same order.
        if (depth_only)
            bin_depth_triangles(storage, holder_rows(storage));
        else
            bin_object_triangles(storage, geometry_view(), holder_rows(storage));
        EXPECT_TRUE(storage.bins.parts.empty());
        EXPECT_TRUE(joined.tiles == storage.bins.tiles) << depth_only;
        EXPECT_TRUE(joined_lists == lists_in(storage.bins)) << depth_only;
        std::size_t listed = 0;
        for (const auto& list : joined_lists.first) listed += list.size();
        for (const auto& list : joined_lists.second) listed += list.size();
        EXPECT_GT(listed, 0u) << depth_only;
        if (!depth_only)
            for (std::size_t k = 0; k < tiles.size(); ++k) {
                map_tile_to_buckets(grid, &tiles[k]);
                bucket_object(grid, geometry_view(), storage, &tiles[k]);
                EXPECT_TRUE(lists_of(grid) == entered[k]) << "tile " << k;
                rewind_arena(tile_arena());
            }
        rewind_arena(pass_arena());
        storage.holders.clear();
    }
}

TEST(PolysetMesh, CopiesKeepOwnedListsTheirOwnAndBorrowedOnesShared) {
    // Borrowed: the parse's arrays, not copied.
    const float packed[] = {1, 2, 3, 1, 4, 5, 6, 1};
    const std::int32_t offsets[] = {0, 3}, indices[] = {0, 1, 1};
    PolysetMesh borrowed;
    borrowed.vertex_records.borrow(packed, 4, 2);
    borrowed.polygon_vertices.borrow(offsets, indices);
    borrowed.polygon_count = 1;
    PolysetMesh copy = borrowed;
    EXPECT_EQ(copy.vertex_records[1], packed + 4);
    EXPECT_EQ(copy.polygon(0).vertices.begin(), indices);
    EXPECT_TRUE(copy.polygon(0).texture_vertices.empty());
    EXPECT_EQ(copy.polygon(0).shader, 0);

    // Owned: a copy outlives its original.
    auto owned = std::make_unique<PolysetMesh>();
    PolysetVertex v;
    v.position[2] = 7, v.has_normal = true, v.normal[1] = 1;
    owned->add_vertex(v);
    owned->add_polygon(PolysetPolygon{{0, 0, 0}, {}, {0, 0, 0}, -1});
    owned->add_normal(0, 0, 1);
    PolysetMesh kept = *owned;
    owned.reset();
    EXPECT_EQ(kept.vertex(0).position[2], 7);
    EXPECT_TRUE(kept.has_normal(0));
    EXPECT_FALSE(kept.has_colour(0));
    EXPECT_EQ(kept.polygon(0).normals, (std::vector<std::int32_t>{0, 0, 0}));
    EXPECT_EQ(kept.polygon(0).shader, 0);  // no slot: the first
    EXPECT_EQ(kept.normals[0][2], 1.0f);
}

TEST(RecordBlocks, GrowingAndAppendedBlocksKeepEveryRecordInOrder) {
    RecordBlocks a(sizeof(std::int64_t), 7), b(sizeof(std::int64_t), 7);
    b.expect(100);
    for (std::int64_t i = 0; i < 1000; ++i) *static_cast<std::int64_t*>(a.take()) = i;
    for (std::int64_t i = 1000; i < 1300; ++i) *static_cast<std::int64_t*>(b.take()) = i;
    a.append(std::move(b));
    EXPECT_EQ(b.count(), 0);
    for (std::int64_t i = 1300; i < 1400; ++i) *static_cast<std::int64_t*>(a.take()) = i;
    ASSERT_EQ(a.count(), 1400);
    std::int64_t expected = 0;
    a.for_each([&](void* record) {
        std::int64_t value;
        std::memcpy(&value, record, sizeof value);
        EXPECT_EQ(value, expected++);
    });
    EXPECT_EQ(expected, 1400);
    // Backwards, as an object's triangles are walked: across the seams too.
    a.for_each_reversed([&](void* record) {
        std::int64_t value;
        std::memcpy(&value, record, sizeof value);
        EXPECT_EQ(value, --expected);
    });
    EXPECT_EQ(expected, 0);
}

}  // namespace
}  // namespace sky
