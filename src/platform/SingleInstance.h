// The lock that keeps a second copy of the program from running beside the first: an exclusive
// flock(2) on a file named HISNAMEISQK in the user's runtime folder, held until the process ends.
//
// The lock belongs to the open file description, so it goes away when the process ends however it
// ends, and it is not passed on to programs started from here (the file is opened close-on-exec):
// a browser opened for the manual does not keep the lock after the program has ended.
#pragma once

#include <string>

namespace qk::platform {

inline constexpr const char* kSingleInstanceName = "HISNAMEISQK";

// $XDG_RUNTIME_DIR/HISNAMEISQK when that variable names an absolute path, else the user's own
// cache folder ($XDG_CACHE_HOME/qk/HISNAMEISQK, or ~/.cache/qk/HISNAMEISQK), which no other user
// can take first as one could in /tmp; /tmp/HISNAMEISQK-<uid> only without a home folder.
std::string SingleInstanceLockPath();

class SingleInstanceLock {
public:
  enum class State {
    Unlocked,      // not tried yet, or released
    Held,          // this object holds the lock
    HeldElsewhere, // another open of the file (another process) holds it
    Unavailable,   // the file cannot be opened or locked, or is not ours: no check possible
  };

  explicit SingleInstanceLock(std::string path = SingleInstanceLockPath());
  ~SingleInstanceLock();
  SingleInstanceLock(const SingleInstanceLock&) = delete;
  SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

  // Opens (creating with mode 0600, and its missing folders with 0700) the lock file and takes
  // the exclusive lock without waiting.
  // A symbolic link, anything but a regular file (a named pipe does not hold the open) and a file
  // owned by another user are refused (Unavailable), so that nobody else can keep this user's
  // program from starting. Trying again
  // while the lock is held changes nothing.
  State Acquire();
  // Gives the lock up; the file stays.
  void Release();

  State Current() const { return state_; }
  const std::string& Path() const { return path_; }

private:
  std::string path_;
  int fd_ = -1;
  State state_ = State::Unlocked;
};

// Whether this process may run, given DBCHK and the lock. With DBCHK off the lock is not touched
// and the program runs beside any other copy. With DBCHK on it runs unless another copy holds the
// lock; when the lock cannot be checked at all the program runs rather than refusing to start.
bool MayRun(bool dbChk, SingleInstanceLock& lock);

} // namespace qk::platform
