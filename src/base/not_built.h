// Scene features that the renderer reads but does not draw yet. A scene that
// asks for one is rendered without it, and the run says so once, on the
// error channel, so that nobody takes the picture for what the scene asked:
//
//     Warning: shadow depth mapping is not supported yet; rendered without it
//
// Each feature is named where the scene asks for it (the evaluation of the
// setting, light, shader or texture); when a feature is built, its call goes.
#pragma once

#include <string>
#include <vector>

namespace sky {

// Prints "Warning: <what> is not supported yet; rendered without it\n" the
// first time `what` (a singular subject: "the post filter", "texture
// procedure Marble") is asked for in the run; later calls print nothing.
// Safe from any thread.
void warn_not_built(const char* what);

// The features warned about so far in this run, in the order first asked
// for (tests).
std::vector<std::string> not_built_warnings();
// Forgets them, so the next call warns again (tests).
void reset_not_built_warnings();

}  // namespace sky
