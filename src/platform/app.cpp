// Program identity, temporary directory and processor counts, read from the OS.
#include "platform/app.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <string_view>
#include <utility>

#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sky {
namespace {

std::string program_name;
bool program_name_defined = false;

bool is_directory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool is_executable_file(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

bool read_int(const std::string& path, int& value) {
    std::ifstream file(path);
    return static_cast<bool>(file >> value);
}

}  // namespace

void APP_setProgramName(const char* argv0) {
    if (argv0 == nullptr || *argv0 == '\0') return;
    const char* slash = std::strrchr(argv0, '/');
    program_name = slash ? slash + 1 : argv0;
    program_name_defined = !program_name.empty();
}

const char* APP_getProgramName() {
    return program_name.c_str();
}

bool APP_isProgramNameDefined() {
    return program_name_defined;
}

std::string APP_getTempPath() {
    std::string path;
    if (const char* tmpdir = std::getenv("TMPDIR"); tmpdir && *tmpdir && is_directory(tmpdir))
        path = tmpdir;
    else
        path = "/tmp";
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

std::string find_executable(const char* argv0) {
    if (argv0 == nullptr || *argv0 == '\0') return {};
    if (std::strchr(argv0, '/')) return argv0;
    const char* path = std::getenv("PATH");
    if (path == nullptr) return {};
    std::string_view rest(path);
    while (true) {
        std::size_t colon = rest.find(':');
        std::string dir(rest.substr(0, colon));
        if (dir.empty()) dir = ".";
        std::string candidate = dir + "/" + argv0;
        if (is_executable_file(candidate)) return candidate;
        if (colon == std::string_view::npos) return {};
        rest.remove_prefix(colon + 1);
    }
}

int logical_processor_count() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0) {
        int count = CPU_COUNT(&set);
        if (count > 0) return count;
    }
    long online = ::sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<int>(online) : 1;
}

int physical_processor_count() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) != 0) return logical_processor_count();
    // A core is a (package, core) pair; hyper-threads of one core share it.
    std::set<std::pair<int, int>> cores;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (!CPU_ISSET(cpu, &set)) continue;
        std::string base = "/sys/devices/system/cpu/cpu" + std::to_string(cpu) + "/topology/";
        int package = 0, core = 0;
        if (!read_int(base + "physical_package_id", package) || !read_int(base + "core_id", core))
            return logical_processor_count();
        cores.emplace(package, core);
    }
    return cores.empty() ? 1 : static_cast<int>(cores.size());
}

int oxOS_SysInfo_numCPUs() {
    return logical_processor_count();
}

}  // namespace sky
