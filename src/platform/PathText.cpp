#include "platform/PathText.h"

namespace qk::platform {

std::string ExtractFilePath(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string ExtractFileName(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ExtractFileExt(const std::string& path) {
  const auto slash = path.rfind('/');
  const auto nameStart = slash == std::string::npos ? 0 : slash + 1;
  const auto dot = path.rfind('.');
  if (dot == std::string::npos || dot < nameStart) return {};
  return path.substr(dot);
}

std::string MakeAbsolute(const std::string& path, const std::string& base) {
  if (!path.empty() && path.front() == '/') return path;
  if (path.empty()) return base;
  if (!base.empty() && base.back() == '/') return base + path;
  return base + "/" + path;
}

} // namespace qk::platform
