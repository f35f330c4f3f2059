#include "platform/HandOver.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace qk::platform {

namespace {

constexpr char kMagic[4] = {'Q', 'K', 'H', '1'};
constexpr std::uint32_t kMostPaths = 65536;
constexpr std::uint32_t kLongestPath = 4096;
constexpr int kWaitSeconds = 3;

class OwnedFd {
public:
  explicit OwnedFd(int fd) : fd_(fd) {}
  ~OwnedFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  OwnedFd(const OwnedFd&) = delete;
  OwnedFd& operator=(const OwnedFd&) = delete;
  int get() const { return fd_; }

private:
  int fd_;
};

bool Address(const std::string& path, sockaddr_un& address) {
  address = {};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path.data(), path.size());
  return true;
}

// Neither end waits for the other longer than a few seconds.
void LimitWaits(int fd) {
  const timeval wait{kWaitSeconds, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
}

// The process at the other end runs as this user.
bool PeerIsThisUser(int fd) {
  ucred peer{};
  socklen_t length = sizeof peer;
  return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && length == sizeof peer &&
         peer.uid == ::geteuid();
}

bool SendAll(int fd, const void* data, std::size_t size) {
  const auto* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t sent = ::send(fd, bytes, size, MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    bytes += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

bool ReceiveAll(int fd, void* data, std::size_t size) {
  auto* bytes = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t got = ::recv(fd, bytes, size, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    bytes += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

bool SendNumber(int fd, std::uint32_t value) {
  const unsigned char bytes[4] = {
      static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
      static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
  return SendAll(fd, bytes, sizeof bytes);
}

bool ReceiveNumber(int fd, std::uint32_t& value) {
  unsigned char bytes[4] = {};
  if (!ReceiveAll(fd, bytes, sizeof bytes)) return false;
  value = bytes[0] | (std::uint32_t{bytes[1]} << 8) | (std::uint32_t{bytes[2]} << 16) |
          (std::uint32_t{bytes[3]} << 24);
  return true;
}

bool IsMode(char mode) {
  return mode == 'E' || mode == 'D' || mode == 'W';
}

// A request as the other end sent it: the mark, the mode, and absolute paths without NUL bytes.
std::optional<HandOverRequest> ReceiveRequest(int fd) {
  char magic[sizeof kMagic] = {};
  HandOverRequest request;
  std::uint32_t count = 0;
  if (!ReceiveAll(fd, magic, sizeof magic) || std::memcmp(magic, kMagic, sizeof magic) != 0 ||
      !ReceiveAll(fd, &request.mode, 1) || !IsMode(request.mode) || !ReceiveNumber(fd, count) ||
      count > kMostPaths) {
    return std::nullopt;
  }
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint32_t length = 0;
    if (!ReceiveNumber(fd, length) || length == 0 || length > kLongestPath) return std::nullopt;
    std::string path(length, '\0');
    if (!ReceiveAll(fd, path.data(), length)) return std::nullopt;
    if (path.front() != '/' || path.find('\0') != std::string::npos) return std::nullopt;
    request.paths.push_back(std::move(path));
  }
  return request;
}

} // namespace

std::string HandOverSocketPath(const std::string& lockPath) {
  return lockPath + ".sock";
}

HandOverServer::~HandOverServer() {
  if (fd_ < 0) return;
  ::close(fd_);
  // The name goes with the listener, unless another socket has taken it meanwhile.
  struct stat st {};
  if (::lstat(path_.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_uid == ::geteuid())
    ::unlink(path_.c_str());
}

bool HandOverServer::Listen(const std::string& path) {
  sockaddr_un address{};
  if (fd_ >= 0 || !Address(path, address)) return false;
  // Only in a folder of this user's that nobody else can write to.
  const std::size_t slash = path.rfind('/');
  struct stat folder {};
  if (slash == std::string::npos ||
      ::stat(slash == 0 ? "/" : path.substr(0, slash).c_str(), &folder) != 0 ||
      !S_ISDIR(folder.st_mode) || folder.st_uid != ::geteuid() ||
      (folder.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return false;
  }
  // What an earlier copy left is replaced; anything else at the name stays, and nothing listens.
  struct stat old {};
  if (::lstat(path.c_str(), &old) == 0) {
    if (!S_ISSOCK(old.st_mode) || old.st_uid != ::geteuid()) return false;
    ::unlink(path.c_str());
  }
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return false;
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::chmod(path.c_str(), 0600) != 0 || ::listen(fd, 8) != 0) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  path_ = path;
  return true;
}

void HandOverServer::TakeOne(const std::function<bool(const HandOverRequest&)>& take) {
  if (fd_ < 0) return;
  // The accepted socket blocks, within the waits of LimitWaits.
  const OwnedFd connection(::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC));
  if (connection.get() < 0 || !PeerIsThisUser(connection.get())) return;
  LimitWaits(connection.get());
  const std::optional<HandOverRequest> request = ReceiveRequest(connection.get());
  if (!request) return;
  const char answer = take(*request) ? 'Y' : 'N';
  SendAll(connection.get(), &answer, 1);
}

bool HandOverTo(const std::string& path, const HandOverRequest& request) {
  sockaddr_un address{};
  if (!Address(path, address) || !IsMode(request.mode)) return false;
  const OwnedFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (fd.get() < 0) return false;
  LimitWaits(fd.get());
  int rc = -1;
  do {
    rc = ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
  } while (rc != 0 && errno == EINTR);
  // Only this user's own copy is handed the paths.
  if (rc != 0 || !PeerIsThisUser(fd.get())) return false;
  if (!SendAll(fd.get(), kMagic, sizeof kMagic) || !SendAll(fd.get(), &request.mode, 1) ||
      !SendNumber(fd.get(), static_cast<std::uint32_t>(request.paths.size()))) {
    return false;
  }
  for (const std::string& path : request.paths) {
    if (!SendNumber(fd.get(), static_cast<std::uint32_t>(path.size())) ||
        !SendAll(fd.get(), path.data(), path.size())) {
      return false;
    }
  }
  char answer = 0;
  return ReceiveAll(fd.get(), &answer, 1) && answer == 'Y';
}

} // namespace qk::platform
