// Paths as text: their parts and how they join, without asking the file system anything.
#pragma once

#include <string>

namespace qk::platform {

// Path parts, "/" being the separator.
std::string ExtractFilePath(const std::string& path); // up to and including the last "/"
std::string ExtractFileName(const std::string& path); // after the last "/"
std::string ExtractFileExt(const std::string& path);  // from the last "." of the name, or ""
// path made absolute against base (a folder), without resolving links.
std::string MakeAbsolute(const std::string& path, const std::string& base);

} // namespace qk::platform
