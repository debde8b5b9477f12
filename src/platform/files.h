// File-name services of the base library.
//
// Image files named in scenes (textures, backdrops) are looked up along the
// image search path: the directories of $SKYLOOM_IMAGE_PATH, separated by ":",
// tried in order after the name itself (see docs/image-search-path.md).
#pragma once

#include <optional>
#include <string>

namespace sky {

// Expands an image file name along the image search path. A name that exists
// as given (relative to the working directory, or absolute) is returned as
// is; otherwise the first directory of the path that holds it gives the full
// name. When nothing is found: with `must_exist` non-zero the result is empty,
// otherwise the name itself is returned (an output file that does not exist yet).
std::optional<std::string> Ar_expand_pixname(const std::string& name, int must_exist);

bool SB_FileExists(const std::string& name);  // a file or directory of that name exists
bool oxFileDelete(const std::string& name);   // true when the file is gone afterwards
// Copies the file `from` to `to`, replacing it. False with errno set on
// failure; a copy that failed part of the way is removed.
bool oxFileCopy(const std::string& from, const std::string& to);

}  // namespace sky

namespace sky {

// Directory services of the base library (oxOS).
bool oxOS_isDirectory(const std::string& path);
// Creates one directory, whose parent must exist (permissions 0777 less the
// umask). False with errno set on failure.
bool oxOS_createDirectory(const std::string& path);
// `directory` + "/" + `name`; no separator is doubled.
std::string oxOS_joinPath(const std::string& directory, const std::string& name);

}  // namespace sky
