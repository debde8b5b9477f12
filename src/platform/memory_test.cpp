#include "platform/memory.h"

#include <cstring>

#include <gtest/gtest.h>

namespace sky {
namespace {

TEST(TrackedMemory, CountsBytesInUseAcrossAllocateResizeAndFree) {
    std::size_t before = MA_get_memory_used();
    void* a = SKY_MALLOC(1000);
    void* b = SKY_CALLOC(10, 24);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(MA_get_memory_used(), before + 1240);
    for (int i = 0; i < 240; ++i) EXPECT_EQ(static_cast<unsigned char*>(b)[i], 0);

    std::memset(a, 7, 1000);
    a = SKY_REALLOC(a, 5000);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(static_cast<unsigned char*>(a)[999], 7);  // contents survive the move
    EXPECT_EQ(MA_get_memory_used(), before + 5240);

    SKY_FREE(a);
    SKY_FREE(b);
    SKY_FREE(nullptr);
    EXPECT_EQ(MA_get_memory_used(), before);
}

TEST(TrackedMemory, ReportsEachCallSiteSeparately) {
    void* first = MA_malloc(3000, 11, "site_a.cpp", 1);
    void* second = MA_malloc(2000, 12, "site_a.cpp", 1);
    void* third = MA_malloc(1000, 12, "site_a.cpp", 1);
    bool saw11 = false, saw12 = false;
    for (const MemorySiteUsage& site : MA_site_usage()) {
        if (std::strcmp(site.file, "site_a.cpp") != 0) continue;
        if (site.line == 11) {
            saw11 = true;
            EXPECT_EQ(site.bytes, 3000);
            EXPECT_EQ(site.blocks, 1);
        }
        if (site.line == 12) {
            saw12 = true;
            EXPECT_EQ(site.bytes, 3000);
            EXPECT_EQ(site.blocks, 2);
        }
    }
    EXPECT_TRUE(saw11);
    EXPECT_TRUE(saw12);
    MA_free(first, 20, "site_b.cpp");
    MA_free(second, 20, "site_b.cpp");
    MA_free(third, 20, "site_b.cpp");
}

TEST(TrackedMemory, ImpossibleSizesFailWithNull) {
    EXPECT_EQ(SKY_MALLOC(SIZE_MAX), nullptr);
    EXPECT_EQ(SKY_CALLOC(SIZE_MAX / 2, 4), nullptr);
    void* block = SKY_MALLOC(16);
    EXPECT_EQ(SKY_REALLOC(block, SIZE_MAX), nullptr);
    SKY_FREE(block);  // still valid after the failed resize
}

TEST(TrackedMemoryDeathTest, ReleasingAForeignBlockNamesTheCaller) {
    alignas(16) static unsigned char foreign[64] = {};
    EXPECT_EXIT(MA_free(foreign + 16, 77, "caller.cpp"), testing::ExitedWithCode(1),
                "caller.cpp, line 77");
}

}  // namespace
}  // namespace sky
