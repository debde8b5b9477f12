#include "base/not_built.h"

#include <algorithm>
#include <mutex>

#include "platform/report.h"

namespace sky {
namespace {

std::mutex lock;
std::vector<std::string> warned;

}  // namespace

void warn_not_built(const char* what) {
    std::lock_guard<std::mutex> guard(lock);
    if (std::find(warned.begin(), warned.end(), what) != warned.end()) return;
    warned.emplace_back(what);
    rptError("Warning: %s is not supported yet; rendered without it\n", what);
}

std::vector<std::string> not_built_warnings() {
    std::lock_guard<std::mutex> guard(lock);
    return warned;
}

void reset_not_built_warnings() {
    std::lock_guard<std::mutex> guard(lock);
    warned.clear();
}

}  // namespace sky
