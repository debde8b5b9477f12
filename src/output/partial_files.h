// Output files are never complete under their final name until they are.
//
// A render farm trusts that a frame whose file exists is finished: a run
// killed mid-frame (a pre-empted job, a full disk, a power cut) must not
// leave half an image under the name the next run will skip. So each image,
// matte and depth file is written under a hidden name beside its final one,
//
//     shots/frame.0042  ->  shots/.frame.0042.skyloom-<process id>
//
// and renamed over the final name once it is closed: the rename is atomic
// within a directory, so the final name holds the old file or the whole new
// one, never a part. Names that are not regular files (pipes, devices, links)
// are written in place, as are the renderer's own files in link mode.
// Partial files still open when the run ends through `fatal` or a caught
// signal are removed; a run killed outright leaves its hidden file behind.
#pragma once

#include <string>

namespace sky {

// The hidden name to write `name` under, or "" when it must be written in
// place (an existing name that is not a regular file).
std::string partial_name(const std::string& name);

// Records a partial file that now exists, for removal should the run end
// before it is complete.
void hold_partial(const std::string& partial);
// Renames a partial file over its final name and forgets it. False (errno
// set) when the rename fails; the partial file is then removed.
bool complete_partial(const std::string& partial, const std::string& name);
// Removes a partial file that will not be completed, and forgets it.
void drop_partial(const std::string& partial);

// `text` with every mention of `partial` replaced by `name`: messages about
// a file speak of the name the user gave it.
std::string as_final(std::string text, const std::string& partial, const std::string& name);

}  // namespace sky
