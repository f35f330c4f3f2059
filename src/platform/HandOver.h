// The hand-over between two starts of the program: the copy that holds the single-instance lock
// listens on a local socket beside the lock, and a second start hands it its mode and paths there
// instead of only saying that a copy already runs. Only a process of the same user is heard, and
// only the same user's copy is handed anything: each end checks the other's credentials
// (SO_PEERCRED), and the socket is the user's alone (0600, in the lock's folder). A hand-over
// carries a mode letter and absolute paths, never a password.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qk::platform {

// The socket beside the lock file lockPath.
std::string HandOverSocketPath(const std::string& lockPath);

struct HandOverRequest {
  char mode = 'E'; // 'E' encrypt, 'D' decrypt, 'W' wipe
  std::vector<std::string> paths;
};

// The listening end, for the copy that holds the lock.
class HandOverServer {
public:
  HandOverServer() = default;
  ~HandOverServer();
  HandOverServer(const HandOverServer&) = delete;
  HandOverServer& operator=(const HandOverServer&) = delete;

  // Listens at path, in place of whatever socket an earlier copy left there (only the holder of
  // the lock listens). False when it cannot: then no start is handed over, and later starts are
  // told that a copy runs, as without a hand-over.
  bool Listen(const std::string& path);
  // The descriptor to watch for a waiting start; -1 when not listening.
  int Descriptor() const { return fd_; }
  // Takes one waiting start without blocking: a whole request from a process of this user goes
  // to take, which says whether it was taken, and the start hears the answer. Other callers,
  // malformed requests and a start that says nothing in time are dropped unanswered.
  void TakeOne(const std::function<bool(const HandOverRequest&)>& take);

private:
  int fd_ = -1;
  std::string path_;
};

// Hands request to the copy listening at path; true when that copy (one of this user's) took it.
// Waits at most a few seconds for the answer.
bool HandOverTo(const std::string& path, const HandOverRequest& request);

} // namespace qk::platform
