#include "base/workers.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/arena.h"
#include "base/options.h"
#include "base/options_test_support.h"
#include "base/tiles.h"
#include "platform/report.h"
#include "platform/report_test_support.h"

namespace sky {
namespace {

class Reports : public testing::Test {
protected:
    test::CapturedReports reports_;

private:
    test::RenderOptionsGuard options_;
};

// --- worker count ------------------------------------------------------------

using WorkerCount = Reports;

TEST_F(WorkerCount, EveryProcessorOfTheWholeCoresByDefault) {
    EXPECT_EQ(decide_worker_count(-1, 8, 4).count, 8);
    EXPECT_EQ(decide_worker_count(-1, 6, 4).count, 4);  // (6 / 4) × 4
    EXPECT_EQ(decide_worker_count(-1, 1, 1).count, 1);
    EXPECT_EQ(decide_worker_count(3, 8, 4).count, 3);
    EXPECT_EQ(decide_worker_count(8, 8, 4).count, 8);
    EXPECT_EQ(decide_worker_count(8, 8, 4).exit_status, 0);
    EXPECT_EQ(reports_.errors, "");
}

TEST_F(WorkerCount, ASurveyThatContradictsItselfStillLeavesOneWorker) {
    EXPECT_EQ(decide_worker_count(-1, 2, 4).count, 1);
    EXPECT_EQ(decide_worker_count(-1, 0, 0).count, 1);
    WorkerCountDecision one = decide_worker_count(1, 2, 4);
    EXPECT_EQ(one.count, 1);
    EXPECT_EQ(one.exit_status, 0);
    EXPECT_EQ(reports_.errors, "");
}

TEST_F(WorkerCount, ImpossibleRequestsEndTheRunWithStatusOne) {
    EXPECT_EQ(decide_worker_count(0, 8, 4).exit_status, 1);
    EXPECT_EQ(decide_worker_count(-7, 8, 4).exit_status, 1);
    EXPECT_EQ(decide_worker_count(9, 8, 4).exit_status, 1);
    EXPECT_EQ(reports_.errors,
              "Error, minimum of 1 processor, you asked for 0.\n"
              "Error, minimum of 1 processor, you asked for -7.\n"
              "Error, there are not 9 processors, only 8.\n");
}

TEST_F(WorkerCount, MoreThan512AreCappedWithAWarning) {
    EXPECT_EQ(decide_worker_count(-1, 1024, 512).count, 512);
    EXPECT_EQ(decide_worker_count(600, 1024, 1024).count, 512);
    EXPECT_EQ(decide_worker_count(512, 1024, 1024).count, 512);
    EXPECT_EQ(reports_.errors,
              "WARNING: The maximum number of processors allowed is 512.\n"
              "512 of the 1024 processors on this computer will be used to render.\n"
              "WARNING: The maximum number of processors allowed is 512.\n"
              "512 of the 1024 processors on this computer will be used to render.\n");
    EXPECT_EQ(reports_.user, "");
}

TEST(WorkerCountDeathTest, ZeroProcessorsOnTheCommandLineEndsTheProgram) {
    test::RenderOptionsGuard options;
    render_options().processors = 0;
    EXPECT_EXIT(decide_worker_count(), testing::ExitedWithCode(1),
                "^Error, minimum of 1 processor, you asked for 0.\n$");
}

// --- starting workers --------------------------------------------------------

int threads_of_this_process() {
    auto tasks = std::filesystem::directory_iterator("/proc/self/task");
    return static_cast<int>(std::distance(begin(tasks), end(tasks)));
}

// Records which workers took part in a pass.
struct Attendance {
    std::mutex mutex;
    std::multiset<int> set_up, torn_down;
    std::vector<bool> master;
};

void attend_set_up(void* context) {
    auto& a = *static_cast<Attendance*>(context);
    std::lock_guard lock(a.mutex);
    a.set_up.insert(worker_index());
    if (is_master_worker()) a.master.push_back(worker_index() == 0);
}

void attend_tear_down(void* context) {
    auto& a = *static_cast<Attendance*>(context);
    std::lock_guard lock(a.mutex);
    a.torn_down.insert(worker_index());
}

// The workers that set up one pass run now.
std::multiset<int> workers_in_a_pass() {
    Attendance attendance;
    install_render_pass({attend_set_up, nullptr, nullptr, nullptr, attend_tear_down, &attendance});
    run_pass();
    install_render_pass({});
    return attendance.set_up;
}

std::atomic<int> initialised{0};
void count_initialisation() {
    initialised.fetch_add(1);
}

using WorkerStart = Reports;

TEST_F(WorkerStart, OneWorkerStartsNoThreadAndNeverWaits) {
    render_options().quiet = 0;
    const int threads = threads_of_this_process();
    start_workers(1);
    EXPECT_EQ(reports_.user, "master process: Created 0 children.\n");
    EXPECT_EQ(worker_count(), 1);
    EXPECT_EQ(threads_of_this_process(), threads);

    Attendance attendance;
    install_render_pass({attend_set_up, nullptr, nullptr, nullptr, attend_tear_down, &attendance});
    run_pass();
    run_pass();
    install_render_pass({});
    EXPECT_EQ(attendance.set_up, (std::multiset<int>{0, 0}));
    EXPECT_EQ(attendance.torn_down, (std::multiset<int>{0, 0}));
}

TEST_F(WorkerStart, ACrewOfTwoHasOneChild) {
    render_options().quiet = 0;
    {
        WorkerCrew crew(2);
        run_pass();  // every child has reported by the time it reaches a barrier
    }
    EXPECT_NE(reports_.user.find("master process: Created 1 child.\n"), std::string::npos);
    EXPECT_NE(reports_.user.find(" 1: child process is ALIVE\n"), std::string::npos);
}

TEST_F(WorkerStart, EachChildTakesItsOwnIndexAndEndsWithTheCrew) {
    render_options().quiet = 0;
    const int threads = threads_of_this_process();
    initialised = 0;
    Attendance attendance;
    {
        WorkerCrew crew(8, count_initialisation);
        EXPECT_EQ(worker_count(), 8);
        EXPECT_EQ(threads_of_this_process(), threads + 7);
        install_render_pass(
            {attend_set_up, nullptr, nullptr, nullptr, attend_tear_down, &attendance});
        run_pass();
        install_render_pass({});
    }
    EXPECT_EQ(threads_of_this_process(), threads);
    EXPECT_EQ(worker_count(), 1);
    EXPECT_EQ(initialised.load(), 7);
    EXPECT_EQ(attendance.set_up, (std::multiset<int>{0, 1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(attendance.torn_down, attendance.set_up);
    EXPECT_EQ(attendance.master, std::vector<bool>{true});

    EXPECT_NE(reports_.user.find("master process: Created 7 children.\n"), std::string::npos);
    for (int child = 1; child < 8; ++child) {
        std::string line = " " + std::to_string(child) + ": child process is ALIVE\n";
        EXPECT_NE(reports_.user.find(line), std::string::npos) << line;
    }
}

TEST_F(WorkerStart, WorkSharedOutsidePassesReachesEveryWorkerOnce) {
    render_options().quiet = 1;
    struct Seen {
        std::mutex lock;
        std::multiset<int> workers;
    } seen;
    auto note = [](void* context) {
        auto& s = *static_cast<Seen*>(context);
        std::lock_guard<std::mutex> hold(s.lock);
        s.workers.insert(worker_index());
    };
    // Before the workers start the caller runs the job alone.
    run_on_workers(note, &seen);
    EXPECT_EQ(seen.workers, (std::multiset<int>{0}));
    {
        WorkerCrew crew(3);
        seen.workers.clear();
        run_on_workers(note, &seen);
        // The caller always; a child only when it woke in time, and once.
        EXPECT_EQ(seen.workers.count(0), 1u);
        for (int child : {1, 2}) EXPECT_LE(seen.workers.count(child), 1u);
        EXPECT_TRUE(std::all_of(seen.workers.begin(), seen.workers.end(),
                                [](int w) { return w >= 0 && w < 3; }));
        // A pass still runs as before afterwards.
        EXPECT_EQ(workers_in_a_pass(), (std::multiset<int>{0, 1, 2}));

        // Every item of every range once, whoever takes it.
        std::vector<std::atomic<int>> visits(100003);
        share_ranges(visits.size(), 1000, [&](std::size_t first, std::size_t last) {
            EXPECT_LE(last - first, 1000u);
            for (std::size_t i = first; i < last; ++i) visits[i].fetch_add(1);
        });
        EXPECT_TRUE(std::all_of(visits.begin(), visits.end(),
                                [](const std::atomic<int>& v) { return v.load() == 1; }));
        share_ranges(0, 1000, [](std::size_t, std::size_t) { ADD_FAILURE(); });
    }
}

// The caller of a shared job does not wait for children that have not woken
// yet, so a child that wakes late must find the job over and leave its
// context alone: the context lives on the caller's stack and is gone.
TEST_F(WorkerStart, AChildWokenLateNeverTouchesAFinishedJob) {
    render_options().quiet = 1;
    std::atomic<int> late_calls{0};
    struct Job {
        std::atomic<bool> over{false};
        std::atomic<int>* late;
    };
    auto job = [](void* context) {
        auto& j = *static_cast<Job*>(context);
        if (j.over.load()) j.late->fetch_add(1);
    };
    WorkerCrew crew(3);
    for (int round = 0; round < 2000; ++round) {
        Job shared{{false}, &late_calls};
        run_on_workers(job, &shared);
        shared.over.store(true);
        // A pass between jobs now and then: every child takes part in it,
        // however late it woke for the job before.
        if (round % 100 == 0) {
            EXPECT_EQ(workers_in_a_pass(), (std::multiset<int>{0, 1, 2}));
        }
    }
    EXPECT_EQ(late_calls.load(), 0);
    // Ranges shared this way are each run once, whoever joins.
    std::vector<std::atomic<int>> visits(5000);
    for (int round = 0; round < 50; ++round)
        share_ranges(visits.size(), 7, [&](std::size_t first, std::size_t last) {
            for (std::size_t i = first; i < last; ++i) visits[i].fetch_add(1);
        });
    EXPECT_TRUE(std::all_of(visits.begin(), visits.end(),
                            [](const std::atomic<int>& v) { return v.load() == 50; }));
}

TEST_F(WorkerStart, QuietCrewsSayNothing) {
    render_options().quiet = 1;
    { WorkerCrew crew(3); }
    EXPECT_EQ(reports_.user, "");
}

TEST_F(WorkerStart, TheShadowPassSkipsSetUpAndTearDown) {
    render_options().quiet = 1;
    Attendance attendance;
    {
        WorkerCrew crew(4);
        install_render_pass(
            {attend_set_up, nullptr, nullptr, nullptr, attend_tear_down, &attendance});
        set_shadow_pass(true);
        run_pass();
        set_shadow_pass(false);
        run_pass();
        install_render_pass({});
    }
    EXPECT_EQ(attendance.set_up, (std::multiset<int>{0, 1, 2, 3}));
}

// --- many passes over many tiles ---------------------------------------------

std::uint32_t expected_pixel(int x, int y, int pass) {
    std::uint32_t h = static_cast<std::uint32_t>(x) * 73856093u ^
                      static_cast<std::uint32_t>(y) * 19349663u ^
                      static_cast<std::uint32_t>(pass) * 83492791u;
    return h * 2654435761u;
}

// A pass that paints every pixel of its tile from a formula, through a row
// buffer from the tile arena and a record from scratch pool 0, and counts
// everything that would betray a fault of the machinery.
struct Canvas {
    int xleft = 0, ylow = 0, width = 0, height = 0;
    int pass = 0;
    std::vector<std::uint32_t> pixels;
    std::vector<std::atomic<int>> renders;  // per tile of the list
    std::atomic<int> dirty{0};              // memory handed out not zeroed
    std::atomic<int> entered{0}, released{0};
    std::atomic<int> most_scratch_blocks{0};
    // Per worker: its tile arena's blocks after its first tile here (an
    // arena may come with blocks kept from an earlier crew) and at most.
    std::vector<std::atomic<int>> first_tile_blocks = std::vector<std::atomic<int>>(8);
    std::vector<std::atomic<int>> most_tile_blocks = std::vector<std::atomic<int>>(8);
    // Per worker: whether it has rendered a tile in an earlier pass, and
    // tiles that found its tile arena empty after that.
    std::vector<std::atomic<int>> rendered_before = std::vector<std::atomic<int>>(8);
    std::vector<std::atomic<int>> rendered_now = std::vector<std::atomic<int>>(8);
    std::atomic<int> emptied_arenas{0};
};

void keep_most(std::atomic<int>& most, int value) {
    int seen = most.load();
    while (value > seen && !most.compare_exchange_weak(seen, value)) {
    }
}

void canvas_enter(Tile&, void* context) {
    static_cast<Canvas*>(context)->entered.fetch_add(1);
}
void canvas_release(Tile&, void* context) {
    static_cast<Canvas*>(context)->released.fetch_add(1);
}

void canvas_render(Tile& tile, void* context) {
    Canvas& canvas = *static_cast<Canvas*>(context);
    canvas.renders[&tile - tile_list().data()].fetch_add(1);
    const auto worker = static_cast<std::size_t>(worker_index());
    if (canvas.rendered_before[worker].load() && arena_block_count(tile_arena()) == 0)
        canvas.emptied_arenas.fetch_add(1);
    canvas.rendered_now[worker].store(1);
    for (int y = tile.y_first; y <= tile.y_last; ++y) {
        auto* row = arena_array<std::uint32_t>(tile_arena(), canvas.width);
        auto* record = static_cast<std::int32_t*>(scratch_allocate(0));
        if (*record != 0 || std::any_of(row, row + canvas.width, [](auto v) { return v != 0; }))
            canvas.dirty.fetch_add(1);
        *record = canvas.pass;
        for (int x = 0; x < canvas.width; ++x)
            row[x] = expected_pixel(canvas.xleft + x, y, *record);
        std::memcpy(&canvas.pixels[static_cast<std::size_t>(y - canvas.ylow) * canvas.width], row,
                    sizeof(std::uint32_t) * canvas.width);
    }
    const int blocks = arena_block_count(tile_arena());
    if (canvas.first_tile_blocks[worker].load() == 0)
        canvas.first_tile_blocks[worker].store(blocks);
    keep_most(canvas.most_tile_blocks[worker], blocks);
    keep_most(canvas.most_scratch_blocks, scratch_block_count(0));
}

class ManyPasses : public Reports, public testing::WithParamInterface<int> {};

TEST_P(ManyPasses, EveryTileIsRenderedOncePerPassWithTheSameResult) {
    constexpr int kPasses = 150;
    RenderOptions& o = render_options();
    o.quiet = 1;
    o.xleft = 3;
    o.xright = 102;
    o.ylow = 7;
    o.yhigh = 406;
    o.tile_rows = 5;
    make_tiles();
    ASSERT_EQ(tile_list().size(), 80u);
    set_scratch_record_size(0, 16);

    Canvas canvas;
    canvas.xleft = o.xleft;
    canvas.ylow = o.ylow;
    canvas.width = o.xright - o.xleft + 1;
    canvas.height = o.yhigh - o.ylow + 1;
    canvas.pixels.resize(static_cast<std::size_t>(canvas.width) * canvas.height);
    canvas.renders = std::vector<std::atomic<int>>(tile_list().size());

    WorkerCrew crew(GetParam());
    install_render_pass({nullptr, canvas_enter, canvas_render, canvas_release, nullptr, &canvas});
    for (int pass = 0; pass < kPasses; ++pass) {
        canvas.pass = pass;
        for (auto& count : canvas.renders) count = 0;
        reset_scratch_pools();  // worker 0's, as the frame loop does
        give_tile_buffers(0, 0, worker_count());
        queue_tiles();
        run_pass();
        rewind_arena(pass_arena());
        for (std::size_t w = 0; w < canvas.rendered_now.size(); ++w)
            if (canvas.rendered_now[w].load()) canvas.rendered_before[w].store(1);

        for (std::size_t k = 0; k < canvas.renders.size(); ++k)
            ASSERT_EQ(canvas.renders[k].load(), 1) << "pass " << pass << " tile " << k;
        for (int y = 0; y < canvas.height; ++y)
            for (int x = 0; x < canvas.width; ++x)
                ASSERT_EQ(canvas.pixels[static_cast<std::size_t>(y) * canvas.width + x],
                          expected_pixel(canvas.xleft + x, canvas.ylow + y, pass))
                    << "pass " << pass << " at " << x << ", " << y;
    }
    install_render_pass({});

    EXPECT_EQ(canvas.entered.load(), 80 * kPasses);
    EXPECT_EQ(canvas.released.load(), 80 * kPasses);
    EXPECT_EQ(canvas.dirty.load(), 0);
    // Rewinding per tile and per pass keeps every worker at the blocks of
    // its first tile, and the children keep theirs from pass to pass as
    // worker 0 does.
    for (std::size_t w = 0; w < canvas.most_tile_blocks.size(); ++w)
        EXPECT_EQ(canvas.most_tile_blocks[w].load(), canvas.first_tile_blocks[w].load()) << w;
    EXPECT_EQ(canvas.emptied_arenas.load(), 0);
    EXPECT_EQ(canvas.most_scratch_blocks.load(), 1);
}

INSTANTIATE_TEST_SUITE_P(Workers, ManyPasses, testing::Values(1, 2, 8));

}  // namespace
}  // namespace sky
