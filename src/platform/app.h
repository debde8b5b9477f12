// Program identity, temporary directory and the processors of the machine.
#pragma once

#include <string>

namespace sky {

// Keeps the last component of argv[0]: it is what banners and messages show.
void APP_setProgramName(const char* argv0);
const char* APP_getProgramName();
bool APP_isProgramNameDefined();

// The directory for temporary files: $TMPDIR when it names a directory, else
// /tmp. Never ends in a separator.
std::string APP_getTempPath();

// Full path of a program as the shell would find it: names with a "/" are
// taken as they are, others are looked up along $PATH. Empty when not found.
std::string find_executable(const char* argv0);

// Logical processors this process may run on (its CPU affinity), at least 1.
int logical_processor_count();
// Physical cores among those logical processors, at least 1.
int physical_processor_count();
// The processor count the base library reports: the logical processors.
int oxOS_SysInfo_numCPUs();

}  // namespace sky
