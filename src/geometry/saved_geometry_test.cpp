#include "geometry/saved_geometry.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/counters.h"
#include "base/options_test_support.h"
#include "base/vecmath.h"
#include "base/workers.h"
#include "geometry/buckets.h"
#include "geometry/entry_test_support.h"
#include "geometry/geometry_test_support.h"
#include "geometry/object_queue.h"
#include "geometry/tessellate.h"
#include "geometry/tessellate_object.h"
#include "scene/transform.h"
#include "sdl/scene_description.h"

namespace sky {
namespace {

// Every value a screen triangle hands the samplers, oldest triangle first.
std::vector<float> screen_values(const ObjectTriangles& storage) {
    std::vector<const ScreenTriangle*> order;
    for_each_triangle(storage, [&](const ScreenTriangle& t) { order.push_back(&t); });
    std::reverse(order.begin(), order.end());
    std::vector<float> out;
    for (const ScreenTriangle* t : order) {
        out.insert(out.end(), {t->x0, t->y0, t->z0, t->a, t->b, t->dz1, t->c, t->d, t->dz2});
        for (const ScreenVertex* v : {t->P0, t->P1, t->P2}) {
            out.insert(out.end(), {v->x, v->y, v->z, v->normal[0], v->normal[1], v->normal[2]});
            const ShadingRecord& s = *v->shading;
            out.insert(out.end(), &s.eye[0], &s.v + 1);
            if (s.texture) out.insert(out.end(), s.texture, s.texture + kTextureFloats);
            if (s.texture_data)
                out.insert(out.end(), s.texture_data, s.texture_data + kTextureDataFloats);
        }
    }
    return out;
}

// The real tessellators, counting their runs.
std::atomic<int> tessellator_runs{0};
bool counted_patch(const PatchGeometry& g, const char* name, TriangleSink& sink) {
    ++tessellator_runs;
    return tessellate_patch(g, name, sink);
}
bool counted_face(const FaceGeometry& g, const char* name, float sign, TriangleSink& sink) {
    ++tessellator_runs;
    return tessellate_face(g, name, sign, sink);
}
bool counted_polyset(const PolysetGeometry& g, const char* name, TriangleSink& sink) {
    ++tessellator_runs;
    return tessellate_polyset(g, name, sink);
}

TransformValue placed(Triple offset, Triple scale, float z_degrees = 0) {
    TransformState state;
    reset_transform_state(state);
    apply_translation(state, offset, 0);
    apply_rotation(state, 3, z_degrees);
    apply_scale(state, scale);
    return snapshot(state);
}

// An orthographic view 500 units down the eye's −z axis.
void look(float z_degrees = 0, float shift_x = 0) {
    testing_support::use_plain_view();
    GeometryView& view = geometry_view();
    const double a = z_degrees * 3.14159265358979 / 180;
    Matrix4 eye = axis_rotation(3, std::sin(a), std::cos(a));
    eye.m[12] = shift_x, eye.m[14] = -500;
    view.eye_from_world = view.eye_from_world_open = view.eye_from_world_close = eye;
}

class SavedGeometry : public GeometryScene {
protected:
    void SetUp() override {
        GeometryScene::SetUp();
        reset_saved_geometry();
        set_saved_geometry_limits(kSavedSegmentBytes, kSavedCapBytes);
        saved_geometry_switches() = SavedGeometrySwitches{};
        tessellators() = Tessellators{counted_patch, counted_face, counted_polyset};
        tessellator_runs = 0;
        look();
    }
    void TearDown() override {
        restore_tessellators();
        reset_saved_geometry();
        set_saved_geometry_limits(kSavedSegmentBytes, kSavedCapBytes);
        saved_geometry_switches() = SavedGeometrySwitches{};
        GeometryScene::TearDown();
    }

    // Parses and evaluates with saved geometry on; counters counting.
    static void evaluate_saved(const std::string& definitions, const std::string& model) {
        render_options().saved_geometry = true;
        evaluate(definitions, model);
        render_options().quiet = 0;
    }

    // One tessellation of `object` at `placement`: its screen values, and
    // the triangles it added to the statistics.
    struct Made {
        std::vector<float> values;
        std::int32_t counted = 0;
    };
    static Made tessellate(RenderObject& object, const TransformValue& placement) {
        reset_geometry_counters();
        ObjectTriangles storage(&object);
        transform_state().value = placement;
        EXPECT_TRUE(tessellate_object(object, storage)) << geometry_errors();
        return {screen_values(storage), render_counters().triangles.load()};
    }
    // The same with saved geometry off: what a fresh tessellation gives.
    static Made fresh(RenderObject& object, const TransformValue& placement) {
        render_options().saved_geometry = false;
        Made made = tessellate(object, placement);
        render_options().saved_geometry = true;
        return made;
    }
};

const std::string kCubicPatch =
    "patch (shader = (s), udegree = 3, vdegree = 3, subdivide = ON, divisions = (2, 6),"
    " uknots = (0, 0, 0, 1, 1, 1), vknots = (0, 0, 0, 1, 1, 1), cvs = ("
    "(cv((0, 0, 0), 1), cv((1, 0, 1), 1), cv((2, 0, 1), 1), cv((3, 0, 0), 1)),"
    "(cv((0, 1, 1), 1), cv((1, 1, 2), 2), cv((2, 1, 2), 1), cv((3, 1, 1), 1)),"
    "(cv((0, 2, 1), 1), cv((1, 2, 2), 1), cv((2, 2, 2), 1), cv((3, 2, 1), 1)),"
    "(cv((0, 3, 0), 1), cv((1, 3, 1), 1), cv((2, 3, 1), 1), cv((3, 3, 0), 1))));\n";

const std::string kFaceWithHole =
    "face (shader = (s), divisions = 3, boundaries = ("
    "(degree = 1, knots = (0, 1, 2, 3, 4), cvs = (cv((0, 0, 0), 1), cv((4, 0, 0), 1),"
    " cv((4, 4, 0), 1), cv((0, 4, 0), 1), cv((0, 0, 0), 1))),"
    "(degree = 1, knots = (0, 1, 2, 3, 4), cvs = (cv((1, 1, 0), 1), cv((2, 1, 0), 1),"
    " cv((2, 3, 0), 1), cv((1, 3, 0), 1), cv((1, 1, 0), 1)))));\n";

const std::string kPolysetOfThreeSlots =
    "polyset (shader = color(s, t, s),"
    " vertices = ((cv((0, 0, 0), 1), st(0, 0)), (cv((2, 0, 0), 1), st(1, 0)),"
    " (cv((2, 2, 1), 1), st(1, 1)), (cv((0, 2, 0), 1), st(0, 1)), (cv((1, 3, 0), 1), st(0.5, 1))),"
    " vertex_colors = (color(255, 0, 0), color(0, 255, 0), color(0, 0, 255), color(9, 9, 9),"
    " color(1, 2, 3)),"
    " polygons = (polygon((0, 1, 2, 3), 0), polygon((3, 2, 4), 1), polygon((0, 2, 4), 2),"
    " polygon((1, 2, 4), 1)));\n";

const TransformValue kHere = placed({100, 100, 0}, {40, 40, 40});

TEST_F(SavedGeometry, AReplayEntersExactlyTheTrianglesTheRecordingEntered) {
    evaluate_saved("", kCubicPatch + kFaceWithHole + kPolysetOfThreeSlots);
    ASSERT_EQ(frame_objects().size(), 5u);  // patch, face, three polyset slots
    for (std::size_t i = 0; i < frame_objects().size(); ++i) {
        RenderObject& object = frame_objects()[i];
        ASSERT_TRUE(object.saved_geometry) << i;
        const int runs = tessellator_runs;
        const Made recorded = tessellate(object, kHere);
        EXPECT_EQ(tessellator_runs, runs + 1) << i;
        const Made replayed = tessellate(object, kHere);
        EXPECT_EQ(tessellator_runs, runs + 1) << "object " << i << " tessellated again";
        ASSERT_FALSE(recorded.values.empty()) << i;
        EXPECT_EQ(replayed.values, recorded.values) << "object " << i;
        EXPECT_GT(recorded.counted, 0);
        EXPECT_EQ(replayed.counted, recorded.counted) << "statistics of object " << i;
    }
    const SavedGeometryCounts counts = saved_geometry_counts();
    EXPECT_EQ(counts.records, 5);  // each polyset slot keeps its own
    EXPECT_EQ(geometry_errors(), "");
}

TEST_F(SavedGeometry, AMovedObjectOrCameraReplaysWhatAFreshTessellationMakes) {
    evaluate_saved("", kCubicPatch + kPolysetOfThreeSlots);
    for (std::size_t i : {0u, 2u}) {
        RenderObject& object = frame_objects()[i];
        tessellate(object, kHere);
        const TransformValue moved = placed({300, 200, 50}, {25, 30, 20}, 35);
        look(-20, 40);
        EXPECT_EQ(tessellate(object, moved).values, fresh(object, moved).values) << i;
        look();
    }
    EXPECT_EQ(saved_geometry_counts().records, 2);
}

TEST_F(SavedGeometry, AMirroredFaceKeepsARecordOfItsOwnTurnedOver) {
    evaluate_saved("", kFaceWithHole);
    RenderObject& face = frame_objects()[0];
    const TransformValue mirrored = placed({300, 100, 0}, {-40, 40, 40});
    ASSERT_LT(mirrored.orientation, 0);
    const Made plain = tessellate(face, kHere);
    const Made turned = tessellate(face, mirrored);
    EXPECT_EQ(tessellator_runs, 2);
    EXPECT_EQ(saved_geometry_counts().records, 2);
    EXPECT_EQ(tessellate(face, mirrored).values, turned.values);
    EXPECT_EQ(tessellate(face, kHere).values, plain.values);
    EXPECT_EQ(tessellator_runs, 2);
    // Mirrored the other way round: still the sign's own record.
    const TransformValue other = placed({100, 300, 0}, {40, -40, 40}, 90);
    EXPECT_EQ(tessellate(face, other).values, fresh(face, other).values);
}

TEST_F(SavedGeometry, ARecordOutlivesTheFrameAndServesEveryInstance) {
    evaluate_saved("patch wing " + kCubicPatch.substr(6),
                   "instance wing (); translate (5, 0, 0); instance wing ();");
    ASSERT_EQ(frame_objects().size(), 2u);
    const Made first = tessellate(frame_objects()[0], frame_objects()[0].placement);
    tessellate(frame_objects()[1], frame_objects()[1].placement);
    EXPECT_EQ(tessellator_runs, 1);
    // The next frame's objects are new; their definition is not.
    release_frame_objects();
    render_options().quiet = 1;
    evaluate_scene(scene_description().model, true);
    EXPECT_EQ(tessellate(frame_objects()[0], frame_objects()[0].placement).values, first.values);
    EXPECT_EQ(tessellator_runs, 1);
}

TEST_F(SavedGeometry, GeometryThatNoLongerMatchesItsRecordIsTessellatedAfresh) {
    evaluate_saved("", kCubicPatch);
    RenderObject& object = frame_objects()[0];
    tessellate(object, kHere);
    auto& patch = *static_cast<PatchGeometry*>(object.geometry);
    patch.surface.cvs[5].z += 1;
    const Made changed = tessellate(object, kHere);
    EXPECT_EQ(tessellator_runs, 2);
    EXPECT_EQ(changed.values, fresh(object, kHere).values);
}

TEST_F(SavedGeometry, OnlyConstantGeometryMayBeSaved) {
    evaluate_saved("scalar lift (1);",
                   "patch (shader = (s), divisions = (lift, 2), uknots = (0, 1), vknots = (0, 1),"
                   " cvs = ((cv((0, 0, 0), 1), cv((1, 0, 0), 1)), (cv((0, 1, 0), 1), cv((1, 1, 0), "
                   "1))));\n"
                   "polyset (shader = (s), vertices = ((cv((0, 0, 0), 1)), (cv((1, 0, 0), 1)),"
                   " (cv((0, 1, 0), 1))), vertex_normals = (norm(0, 0, 1), norm(0, 0, lift),"
                   " norm(0, 0, 1)), polygons = (polygon(0, 1, 2)));\n"
                   "polyset (shader = (s), vertices = ((cv((0, 0, 0), 1)), (cv((1, 0, 0), 1)),"
                   " (cv((0, 1, 0), 1))), vertex_normals = (norm(0, 0, 1), norm(0, 0, 1),"
                   " norm(0, 0, 1)), polygons = (polygon(0, 1, 2)));\n");
    ASSERT_EQ(frame_objects().size(), 3u);
    EXPECT_FALSE(frame_objects()[0].saved_geometry);
    EXPECT_FALSE(frame_objects()[1].saved_geometry);  // its normals follow a variable
    EXPECT_TRUE(frame_objects()[2].saved_geometry);
    for (std::size_t i = 0; i < 3; ++i) tessellate(frame_objects()[i], kHere);
    EXPECT_EQ(saved_geometry_counts().records, 1);
}

// --- the store, with a fake tessellator -----------------------------------------

SurfacePoint point(double x, double y) {
    SurfacePoint p;
    p.position[0] = x, p.position[1] = y;
    p.normal[2] = 1;
    p.u = x / 600, p.v = y / 400;
    return p;
}

// `vdivisions` strips of small triangles; fails after them when `curvature`
// is negative.
bool strips(const PatchGeometry& patch, const char*, TriangleSink& sink) {
    ++tessellator_runs;
    for (int k = 0; k < patch.vdivisions; ++k) {
        const double x = 10 + (k % 100) * 6, y = 10 + (k / 100) * 6;
        sink.add_triangle(point(x, y), point(x + 5, y + 1), point(x + 1, y + 4));
    }
    return patch.curvature >= 0;
}

std::string messages;

class SavedGeometryStore : public testing::Test {
protected:
    void SetUp() override {
        render_options().saved_geometry = true;
        render_options().quiet = 0;
        messages.clear();
        rptSetErrorCB([](const char* text) { messages += text; });
        reset_saved_geometry();
        saved_geometry_switches() = SavedGeometrySwitches{};
        testing_support::use_plain_view();
        geometry_view().eye_from_world.m[14] = -10;
        tessellators().patch = strips;
        tessellator_runs = 0;
    }
    void TearDown() override {
        rptSetErrorCB(nullptr);
        restore_tessellators();
        reset_saved_geometry();
        set_saved_geometry_limits(kSavedSegmentBytes, kSavedCapBytes);
        saved_geometry_switches() = SavedGeometrySwitches{};
    }

    // An object of its own definition making `triangles` triangles.
    struct Fake {
        Expr definition;
        PatchGeometry geometry;
        RenderObject object;
    };
    static std::unique_ptr<Fake> fake(int triangles, const char* name = "strip") {
        auto f = std::make_unique<Fake>();
        f->geometry.type = SDL_PATCH;
        f->geometry.saved_geometry_allowed = true;
        f->geometry.vdivisions = triangles;
        f->object.type = SDL_PATCH;
        f->object.name = name;
        f->object.moving = false;
        f->object.definition = &f->definition;
        f->object.geometry = &f->geometry;
        return f;
    }
    static std::vector<float> tessellate(RenderObject& object, bool* made = nullptr) {
        ObjectTriangles storage(&object);
        transform_state().value = TransformValue{};
        const bool ok = tessellate_object(object, storage);
        if (made) *made = ok;
        return screen_values(storage);
    }

private:
    test::RenderOptionsGuard options_;
};

TEST_F(SavedGeometryStore, ARecordSpreadOverSeveralSegmentsReplaysWhole) {
    set_saved_geometry_limits(4096, std::size_t{1} << 20);
    auto big = fake(1000);
    const std::vector<float> recorded = tessellate(big->object);
    const SavedGeometryCounts counts = saved_geometry_counts();
    EXPECT_GT(counts.segments, 30);  // 144 bytes a triangle, 4 KiB a segment
    EXPECT_EQ(counts.triangles, 1000);
    EXPECT_EQ(tessellate(big->object), recorded);
    EXPECT_EQ(tessellator_runs, 1);
    EXPECT_EQ(messages, "");
}

TEST_F(SavedGeometryStore, AFullStoreWarnsOnceAndStopsRecordingButNotReplaying) {
    set_saved_geometry_limits(4096, 3 * 4096);
    saved_geometry_switches().debug = true;
    auto small = fake(10, "small");
    tessellate(small->object);
    auto big = fake(200, "big");
    const std::vector<float> entered = tessellate(big->object);
    EXPECT_NE(messages.find("WARNING : Ran out of space - turning use saved geometry OFF\n"),
              std::string::npos)
        << messages;
    EXPECT_NE(messages.find("ar_save_vertex(v"), std::string::npos);
    // Everything the tessellator made was still entered.
    render_options().saved_geometry = false;
    EXPECT_EQ(entered, tessellate(big->object));
    render_options().saved_geometry = true;
    const SavedGeometryCounts counts = saved_geometry_counts();
    EXPECT_TRUE(counts.recording_off);
    EXPECT_EQ(counts.records, 1);

    // No more recording, and no second warning; the small record replays.
    messages.clear();
    const int runs = tessellator_runs;
    auto later = fake(3, "later");
    tessellate(later->object);
    tessellate(later->object);
    tessellate(big->object);
    EXPECT_EQ(tessellator_runs, runs + 3);
    tessellate(small->object);
    EXPECT_EQ(tessellator_runs, runs + 3);
    EXPECT_EQ(messages, "SaveGeometry: replayed small, 10 triangles\n");
    EXPECT_EQ(saved_geometry_counts().records, 1);
}

TEST_F(SavedGeometryStore, TheVertexThatFindsNoRoomIsNamedInDebugMode) {
    // One page holds 85 vertices: the 29th triangle's second does not fit.
    set_saved_geometry_limits(4096, 4096);
    saved_geometry_switches().debug = true;
    auto object = fake(29, "tight");
    tessellate(object->object);
    EXPECT_NE(messages.find("WARNING : Ran out of space - turning use saved geometry OFF\n"
                            "ar_save_vertex(v1.. returns NULL\n"),
              std::string::npos)
        << messages;
    EXPECT_NE(messages.find("SaveGeometry: nothing recorded for tight"), std::string::npos);
    EXPECT_EQ(saved_geometry_counts().records, 0);
}

TEST_F(SavedGeometryStore, AFailedTessellationRecordsNothing) {
    auto broken = fake(40);
    broken->geometry.curvature = -1;
    bool made = true;
    const std::vector<float> first = tessellate(broken->object, &made);
    EXPECT_FALSE(made);
    EXPECT_EQ(saved_geometry_counts().records, 0);
    EXPECT_EQ(tessellate(broken->object, &made), first);
    EXPECT_FALSE(made);
    EXPECT_EQ(tessellator_runs, 2);
}

TEST_F(SavedGeometryStore, MovingObjectsAndSavedGeometryOffAreNeverRecorded) {
    auto object = fake(5);
    render_options().saved_geometry = false;
    tessellate(object->object);
    render_options().saved_geometry = true;
    object->object.saved_geometry = false;
    tessellate(object->object);
    EXPECT_EQ(tessellator_runs, 2);
    EXPECT_EQ(saved_geometry_counts().records, 0);
    EXPECT_EQ(saved_geometry_counts().segments, 0);
}

// --- many workers, one definition ------------------------------------------------

constexpr int kInstances = 12;
std::mutex seen_lock;
std::map<const RenderObject*, std::vector<float>>* seen = nullptr;

bool slow_strips(const PatchGeometry& patch, const char* name, TriangleSink& sink) {
    // Long enough for other workers to meet the record while it is made.
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
    return strips(patch, name, sink);
}

void keep_first_sight(Tile& tile, void*) {
    for (RenderObject* object : tile.objects) {
        const ObjectTriangles* triangles = queued_triangles(object);
        std::vector<float> values = screen_values(*triangles);
        std::lock_guard hold(seen_lock);
        seen->emplace(object, std::move(values));
    }
}
void process(Tile& tile, void*) {
    process_tile(tile);
}
void release(Tile& tile, void*) {
    release_tile(tile);
}

TEST_F(SavedGeometryStore, OneWorkerRecordsWhileTheOthersTessellateOnTwoAndEightWorkers) {
    tessellators().patch = slow_strips;
    render_options().quiet = 1;
    Expr definition;
    PatchGeometry geometry;
    geometry.type = SDL_PATCH;
    geometry.saved_geometry_allowed = true;
    geometry.vdivisions = 300;
    RenderObject objects[kInstances];
    for (RenderObject& o : objects) {
        o.type = SDL_PATCH, o.name = "wing", o.moving = false;
        o.definition = &definition, o.geometry = &geometry;
    }
    render_options().saved_geometry = false;
    const std::vector<float> expected = tessellate(objects[0]);
    render_options().saved_geometry = true;

    for (int workers : {2, 8}) {
        reset_saved_geometry();
        WorkerCrew crew(workers);
        for (int frame = 0; frame < 2; ++frame) {
            tessellator_runs = 0;
            make_tiles();
            give_tile_buffers(0, 0, worker_count());
            for (Tile& tile : tile_list()) {
                tile.objects.clear();
                for (RenderObject& o : objects) tile.objects.push_back(&o);
            }
            queue_tile_objects(tile_list());
            queue_tiles();
            std::map<const RenderObject*, std::vector<float>> entered;
            seen = &entered;
            RenderPass pass;
            pass.enter_geometry = process;
            pass.render_tile = keep_first_sight;
            pass.release_tile = release;
            install_render_pass(pass);
            run_pass();
            install_render_pass(RenderPass{});
            release_object_queue();
            rewind_arena(pass_arena());

            ASSERT_EQ(entered.size(), static_cast<std::size_t>(kInstances));
            for (const auto& [object, values] : entered)
                EXPECT_EQ(values, expected) << workers << " workers, frame " << frame;
            EXPECT_EQ(saved_geometry_counts().records, 1) << workers << " workers";
            if (frame == 0) {
                EXPECT_GE(tessellator_runs, 1);
            } else {
                EXPECT_EQ(tessellator_runs, 0) << "the second frame replays everything";
            }
        }
    }
    release_arena(pass_arena());
    release_arena(tile_arena());
    EXPECT_EQ(messages, "");
}

}  // namespace
}  // namespace sky
