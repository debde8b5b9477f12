// Stage files: further SDL files named by the scene's environment section,
// read after the main scene into the same symbols and model.
#pragma once

namespace sky {

// Reads every stage file in list order; fatal on every failure, and exits
// with the error count after a stage file with parse errors.
void read_stage_files(bool link_mode);

}  // namespace sky
