// Assembling the windows of a split frame into the frame's file (docs/farm.md):
// an image, matte or depth file rendered as columns x rows windows becomes the
// file a render of the whole window would have written, byte for byte (the
// same format, channels, bits and rows).
#pragma once

#include <string>
#include <vector>

namespace sky {

// `pieces` are the windows' files row by row from the top left: `columns`
// per row. Every piece must be complete, the pieces of a row as high as each
// other and the pieces of a column as wide. The output is written under its
// hidden name and takes its final name only when complete. False with the
// reason in `error` (naming the file) otherwise; no output is left then.
bool assemble_windows(const std::vector<std::string>& pieces, int columns,
                      const std::string& output, std::string& error);

}  // namespace sky
