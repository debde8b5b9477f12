// The two scans of the command line.
//
// The first scan, before the scene is read, acts only on -H, -A and -i, and
// notes -n, which decides whether the parse may use a second thread. The
// second, after the scene's settings are in the render options, applies every
// option in command-line order, so the command line wins over the scene.
#pragma once

#include "base/options.h"
#include "run/resolution.h"

namespace sky {

inline constexpr const char* kOptionString =
    "Aa:B:b:C:c:d:E:e:f:Gg:Hh:IiJjK:kLl:m:Nn:Oo:Pp:Q:q:R:r:S:s:T:t:uVvW:w:X:x:Y:y:Z:z";

inline constexpr const char* kProductTitle = "Quorl Skyloom";
inline constexpr const char* kVersionText = "2021";
inline constexpr const char* kBuildStamp = " (202006081534)";

struct FirstScan {
    bool link_mode = false;
    std::int32_t processors = -1;  // the last -n, applied by the second scan
    int positional = 0;            // index of the first argument after the options (argc if none)
};

// -H prints the usage and exits 1; -i prints the title and exits 0; an ending
// "--" (or any last option word whose letter is unknown) prints the usage.
FirstScan first_scan(int argc, char* argv[]);

// What the second scan noted besides the fields it set.
struct SecondScan {
    bool height_given = false;  // -h
    bool width_given = false;   // -w
    bool startextension_given = false;
    bool byextension_given = false;
    ResolutionScale scale;
};

// Applies every option to `options`. Unknown letters print the usage and exit.
SecondScan second_scan(int argc, char* argv[], RenderOptions& options);

// The window and resolution steps that follow the second scan: -h/-w offsets,
// the window checks and the scaling. Ends the run with the message on failure.
void finish_window(RenderOptions& options, const SecondScan& scan);

}  // namespace sky
