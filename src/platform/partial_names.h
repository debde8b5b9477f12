// The hidden names files are written under until they are complete
// (output/partial_files.h): "dir/.name.skyloom-<process id>" for "dir/name".
// Header-only, so that the image module, loaded apart from the renderer,
// can name a file by its final name too.
#pragma once

#include <cctype>
#include <string>

namespace sky {

inline constexpr const char* kPartialMark = ".skyloom-";

// `name`'s hidden name for process `pid`.
inline std::string partial_name_of(const std::string& name, long pid) {
    const std::size_t slash = name.rfind('/');
    const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    return name.substr(0, start) + "." + name.substr(start) + kPartialMark + std::to_string(pid);
}

// The final name behind a hidden one; any other name as it is.
inline std::string final_name_of(const std::string& name) {
    const std::size_t slash = name.rfind('/');
    const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t mark = name.rfind(kPartialMark);
    if (name.compare(start, 1, ".") != 0 || mark == std::string::npos || mark <= start + 1)
        return name;
    const std::size_t digits = mark + std::char_traits<char>::length(kPartialMark);
    if (digits == name.size()) return name;
    for (std::size_t i = digits; i < name.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(name[i]))) return name;
    return name.substr(0, start) + name.substr(start + 1, mark - start - 1);
}

}  // namespace sky
