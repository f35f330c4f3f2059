// The durable bound of a run over many small files: what the disk needs for the safety a run
// gives, in the cheapest order, with nothing else. Every folder below ROOT is taken in turn:
//   with wipe:    every output of the folder written (read the source, write the output beside
//                 it), one syncfs; every source overwritten with 'N' in whole blocks of 2048 bytes,
//                 one syncfs; then the sources removed.
//   without wipe: every output of every folder written, then one syncfs.
// encrypt turns each file not ending in ".enc" into NAME.enc, 64 bytes longer; decrypt each
// NAME.enc back into NAME, 64 bytes shorter, so that the two undo each other's sizes.
// Usage: qk_bench_bound encrypt|decrypt wipe|keep ROOT
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

bool encrypting = true;

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "qk_bench_bound: %s: %s\n", what.c_str(), std::strerror(errno));
  std::exit(1);
}

bool IsContainer(const std::string& name) {
  return name.size() > 4 && name.compare(name.size() - 4, 4, ".enc") == 0;
}

// The folders below root, each before its subfolders, and the files to act on in each.
void Walk(const std::string& folder,
          std::vector<std::pair<std::string, std::vector<std::string>>>& out) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) Die(folder);
  std::vector<std::string> files, folders;
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    if (e->d_type == DT_DIR) {
      folders.push_back(folder + "/" + name);
    } else if (e->d_type == DT_REG && IsContainer(name) != encrypting) {
      files.push_back(name);
    }
  }
  ::closedir(dir);
  std::sort(files.begin(), files.end());
  std::sort(folders.begin(), folders.end());
  out.emplace_back(folder, std::move(files));
  for (const auto& f : folders) Walk(f, out);
}

void WriteAll(int fd, const char* data, std::size_t n, const std::string& what) {
  while (n > 0) {
    const ssize_t put = ::write(fd, data, n);
    if (put < 0) {
      if (errno == EINTR) continue;
      Die(what);
    }
    data += put;
    n -= static_cast<std::size_t>(put);
  }
}

// Reads the source at (dir, name), writes its output beside it.
void Output(int dir, const std::string& name, std::vector<char>& buffer) {
  const int in = ::openat(dir, name.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) Die(name);
  std::size_t n = 0;
  for (;;) {
    if (n == buffer.size()) buffer.resize(buffer.size() * 2);
    const ssize_t got = ::read(in, buffer.data() + n, buffer.size() - n);
    if (got < 0) Die(name);
    if (got == 0) break;
    n += static_cast<std::size_t>(got);
  }
  ::close(in);
  std::string target;
  if (encrypting) {
    target = name + ".enc";
    if (buffer.size() < n + 64) buffer.resize(n + 64);
    std::memset(buffer.data() + n, 'H', 64);
    n += 64;
  } else {
    target = name.substr(0, name.size() - 4);
    n = n > 64 ? n - 64 : 0;
  }
  for (std::size_t i = 0; i < n; ++i) buffer[i] = static_cast<char>(buffer[i] ^ 0x5A);
  const int out = ::openat(dir, target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (out < 0) Die(target);
  WriteAll(out, buffer.data(), n, target);
  if (::close(out) != 0) Die(target);
}

// Overwrites the source at (dir, name) with 'N' in whole blocks of 2048 bytes.
void Overwrite(int dir, const std::string& name) {
  static const std::vector<char> pattern(1 << 20, 'N');
  const int fd = ::openat(dir, name.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) Die(name);
  struct stat st {};
  if (::fstat(fd, &st) != 0) Die(name);
  std::size_t left = (static_cast<std::size_t>(st.st_size) + 2047) / 2048 * 2048;
  while (left > 0) {
    const std::size_t n = std::min(left, pattern.size());
    WriteAll(fd, pattern.data(), n, name);
    left -= n;
  }
  if (::close(fd) != 0) Die(name);
}

void SyncFs(int fd) {
  if (::syncfs(fd) != 0) Die("syncfs");
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 4 || (std::strcmp(argv[1], "encrypt") != 0 && std::strcmp(argv[1], "decrypt") != 0) ||
      (std::strcmp(argv[2], "wipe") != 0 && std::strcmp(argv[2], "keep") != 0)) {
    std::fprintf(stderr, "usage: %s encrypt|decrypt wipe|keep ROOT\n", argv[0]);
    return 2;
  }
  encrypting = std::strcmp(argv[1], "encrypt") == 0;
  const bool wipe = std::strcmp(argv[2], "wipe") == 0;
  std::vector<std::pair<std::string, std::vector<std::string>>> folders;
  Walk(argv[3], folders);
  std::vector<char> buffer(1 << 16);
  int last = -1;
  for (const auto& [folder, files] : folders) {
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) Die(folder);
    for (const auto& name : files) Output(dir, name, buffer);
    if (wipe && !files.empty()) {
      SyncFs(dir);
      for (const auto& name : files) Overwrite(dir, name);
      SyncFs(dir);
      for (const auto& name : files)
        if (::unlinkat(dir, name.c_str(), 0) != 0) Die(name);
    }
    if (last >= 0) ::close(last);
    last = dir;
  }
  if (last >= 0) {
    if (!wipe) SyncFs(last);
    ::close(last);
  }
  return 0;
}
