#include "base/tiles.h"

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/arena.h"
#include "base/options.h"
#include "base/options_test_support.h"
#include "platform/report_test_support.h"

namespace sky {
namespace {

class Tiles : public testing::Test {
protected:
    void SetUp() override {
        render_options().quiet = 0;
        release_arena(pass_arena());
    }
    void TearDown() override { release_arena(pass_arena()); }
    static void window(int xleft, int xright, int ylow, int yhigh, int rows) {
        RenderOptions& o = render_options();
        o.xleft = xleft;
        o.xright = xright;
        o.ylow = ylow;
        o.yhigh = yhigh;
        o.tile_rows = rows;
    }
    // The rows each tile of the list would be asked to render.
    static std::vector<std::pair<int, int>> bands() {
        std::vector<std::pair<int, int>> result;
        for (const Tile& tile : tile_list()) result.emplace_back(tile.y_first, tile.y_last);
        return result;
    }

    test::CapturedReports reports_;

private:
    test::RenderOptionsGuard options_;
};

TEST_F(Tiles, TheDefaultWindowMakes33BandsTopFirst) {
    make_tiles();
    EXPECT_EQ(reports_.user, "Making 33 tiles.\n");
    EXPECT_EQ(reports_.errors, "");
    auto list = tile_list();
    ASSERT_EQ(list.size(), 33u);
    for (int k = 0; k < 32; ++k) {
        EXPECT_EQ(list[k].y_last, 485 - 15 * k);
        EXPECT_EQ(list[k].y_last - list[k].y_first + 1, 15);
    }
    EXPECT_EQ(list[32].y_first, 0);
    EXPECT_EQ(list[32].y_last, 5);
    for (const Tile& tile : list) {
        EXPECT_EQ(tile.x_first, 0);
        EXPECT_EQ(tile.x_last, 644);
    }
    EXPECT_EQ(tile_layout().width, 645);
    EXPECT_EQ(tile_layout().rows, 15);
    EXPECT_EQ(tile_layout().count, 33);
}

TEST_F(Tiles, BandsOfAnOffsetWindowCoverEachRowOnce) {
    window(10, 109, 20, 69, 15);
    render_options().quiet = 1;
    make_tiles();
    EXPECT_EQ(reports_.user, "");
    EXPECT_EQ(bands(), (std::vector<std::pair<int, int>>{{55, 69}, {40, 54}, {25, 39}, {20, 24}}));
    EXPECT_EQ(tile_list()[0].x_first, 10);
    EXPECT_EQ(tile_list()[0].x_last, 109);
    EXPECT_EQ(tile_layout().width, 100);
}

TEST_F(Tiles, TooFewRowsBecomeFiveWithAReport) {
    render_options().tile_rows = 3;
    make_tiles();
    EXPECT_EQ(reports_.errors, "tile size cannot be less than 5, setting it to 5.\n");
    EXPECT_EQ(render_options().tile_rows, 5);
    EXPECT_EQ(tile_list().size(), 98u);  // ceil(486 / 5)
}

TEST_F(Tiles, RowsBeyondHalfTheWidthBecomeHalfWithAReport) {
    render_options().tile_rows = 400;
    make_tiles();
    EXPECT_EQ(reports_.errors,
              "tile size cannot be greater than one half of the image, setting to 322.\n");
    EXPECT_EQ(render_options().tile_rows, 322);
    EXPECT_EQ(bands(), (std::vector<std::pair<int, int>>{{164, 485}, {0, 163}}));

    reports_.errors.clear();
    render_options().tile_rows = 322;
    make_tiles();
    EXPECT_EQ(reports_.errors, "");
}

TEST_F(Tiles, AWindowTooNarrowForFiveRowsStillUsesFiveSilently) {
    for (int asked : {5, 6, 100, 400}) {
        window(0, 8, 0, 19, asked);
        make_tiles();
        EXPECT_EQ(render_options().tile_rows, 5) << asked;
    }
    EXPECT_EQ(reports_.errors, "");
    window(0, 8, 0, 19, 4);
    make_tiles();
    EXPECT_EQ(reports_.errors, "tile size cannot be less than 5, setting it to 5.\n");
}

TEST_F(Tiles, AnEmptyWindowMakesNoTiles) {
    window(0, 100, 10, 9, 15);
    make_tiles();
    EXPECT_EQ(reports_.user, "Making 0 tiles.\n");
    EXPECT_TRUE(tile_list().empty());
    queue_tiles();
    EXPECT_EQ(next_tile(), nullptr);
}

TEST_F(Tiles, TheQueueHandsOutTopBandFirstUntilEmpty) {
    window(0, 99, 0, 49, 10);
    make_tiles();
    EXPECT_EQ(next_tile(), nullptr);  // made but not yet queued
    for (int round = 0; round < 2; ++round) {
        queue_tiles();
        for (int k = 0; k < 5; ++k) {
            Tile* tile = next_tile();
            ASSERT_NE(tile, nullptr);
            EXPECT_EQ(tile, &tile_list()[k]);
            EXPECT_EQ(tile->y_last, 49 - 10 * k);
        }
        EXPECT_EQ(next_tile(), nullptr);
        EXPECT_EQ(next_tile(), nullptr);
    }
    queue_tiles();
    make_tiles();  // a new list empties the queue
    EXPECT_EQ(next_tile(), nullptr);
}

TEST_F(Tiles, ConcurrentTakersGetEveryTileExactlyOnce) {
    window(0, 99, 0, 4999, 5);
    render_options().quiet = 1;
    make_tiles();
    queue_tiles();
    const auto list = tile_list();
    std::vector<std::atomic<int>> taken(list.size());
    std::vector<std::thread> takers;
    for (int t = 0; t < 8; ++t)
        takers.emplace_back([&] {
            while (Tile* tile = next_tile()) taken[tile - list.data()].fetch_add(1);
        });
    for (std::thread& taker : takers) taker.join();
    for (std::size_t k = 0; k < list.size(); ++k) ASSERT_EQ(taken[k].load(), 1) << k;
}

// A recognisable list head per worker; never followed.
BucketCell* mark(int worker) {
    return reinterpret_cast<BucketCell*>(static_cast<std::uintptr_t>(0x1000 + 16 * worker));
}

TEST_F(Tiles, EachWorkerGetsBordersAroundItsTileBuffers) {
    tile_buffers(3) = TileBuffers{};
    give_tile_buffers(645, 15, 3);
    for (int worker = 0; worker < 3; ++worker) {
        const TileBuffers& b = tile_buffers(worker);
        EXPECT_EQ(b.slots_per_row, 647);
        EXPECT_EQ(b.slot_rows, 17);
        EXPECT_EQ(b.first_block_capacity, 2500);
        EXPECT_EQ(b.first_block_used, 0);
        ASSERT_NE(b.slots, nullptr);
        ASSERT_NE(b.row_list, nullptr);
        for (int i = 0; i < 647 * 17; ++i) ASSERT_EQ(b.slots[i], nullptr);
        // Writing the whole grid and row list of one worker must not reach
        // another's.
        for (int i = 0; i < 647 * 17; ++i) b.slots[i] = mark(worker);
        for (int i = 0; i < 18; ++i) b.row_list[i] = {1.0f, 2.0f};
    }
    for (int worker = 0; worker < 3; ++worker) {
        const TileBuffers& b = tile_buffers(worker);
        for (int i = 0; i < 647 * 17; ++i) ASSERT_EQ(b.slots[i], mark(worker));
    }
    EXPECT_EQ(tile_buffers(3).slots, nullptr);
}

TEST_F(Tiles, AWiderBorderWidensEveryWorkersGridUntilTheNextBuffers) {
    give_tile_buffers(645, 15, 2, 4);
    EXPECT_EQ(tile_border(), 4);
    for (int worker = 0; worker < 2; ++worker) {
        EXPECT_EQ(tile_buffers(worker).slots_per_row, 653);
        EXPECT_EQ(tile_buffers(worker).slot_rows, 23);
    }
    // A border below one is the one-pixel border every pass needs.
    give_tile_buffers(645, 15, 2, 0);
    EXPECT_EQ(tile_border(), 1);
    EXPECT_EQ(tile_buffers(1).slot_rows, 17);
}

TEST_F(Tiles, ZeroStandsForTheWindowAndCountsAreCappedAt512) {
    window(0, 99, 0, 49, 10);
    give_tile_buffers(0, 0, 1000);
    EXPECT_EQ(tile_buffers(0).slots_per_row, 102);
    EXPECT_EQ(tile_buffers(0).slot_rows, 52);
    EXPECT_EQ(tile_buffers(511).slot_rows, 52);
    EXPECT_GE(arena_bytes_reserved(pass_arena()), 512u * 102 * 52 * 8);
}

}  // namespace
}  // namespace sky
