// The parse's helper thread: every piece of work handed over runs exactly
// once, on the helper or (taken back) on the caller, and is done when
// finish() returns; the thread ends and starts again between parses.
#include "sdl/parse_helper.h"

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

namespace sky {
namespace {

struct Count {
    std::atomic<int> runs{0};
    std::atomic<bool> elsewhere{false};
    std::thread::id caller = std::this_thread::get_id();
};

void count(void* context) {
    auto* c = static_cast<Count*>(context);
    if (std::this_thread::get_id() != c->caller) c->elsewhere = true;
    ++c->runs;
}

TEST(ParseHelper, EachPieceRunsOnceWhetherTheHelperOrTheCallerDoesIt) {
    ParseHelper helper;
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 500; ++i) {
            Count c;
            ASSERT_TRUE(helper.start(count, &c));
            if (i % 3 == 0) std::this_thread::yield();
            if (!helper.finish()) {
                EXPECT_EQ(c.runs.load(), 0);
                count(&c);
            }
            EXPECT_EQ(c.runs.load(), 1) << i;
        }
        helper.stop();  // as at the end of a parse; the next start begins anew
    }
    // How many the helper ran itself depends on the machine's load (a busy
    // machine may not give it a processor before each is taken back): the
    // next test shows that it does run work.
}

TEST(ParseHelper, WorkRunsOnAnotherThread) {
    ParseHelper helper;
    Count c;
    ASSERT_TRUE(helper.start(count, &c));
    // Give the helper time to begin before the work could be taken back.
    while (c.runs.load() == 0) std::this_thread::yield();
    EXPECT_TRUE(helper.finish());
    EXPECT_TRUE(c.elsewhere.load());
    EXPECT_EQ(c.runs.load(), 1);
}

}  // namespace
}  // namespace sky
