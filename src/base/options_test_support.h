// Tests that change the process-wide render options keep one of these for
// their duration: it saves the record when made and writes it back when it
// goes, so no setting leaks into the next test, whatever the test changed
// and however it ended.
#pragma once

#include "base/options.h"

namespace sky::test {

class RenderOptionsGuard {
public:
    RenderOptionsGuard() : saved_(render_options()) {}
    ~RenderOptionsGuard() { render_options() = saved_; }
    RenderOptionsGuard(const RenderOptionsGuard&) = delete;
    RenderOptionsGuard& operator=(const RenderOptionsGuard&) = delete;

private:
    RenderOptions saved_;
};

}  // namespace sky::test
