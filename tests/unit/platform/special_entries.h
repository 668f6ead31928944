#pragma once
// What folder walks must not trip over, made in a test's scratch folder:
// FIFOs, UNIX sockets, a separate mount namespace for bind mounts; and a guard
// that turns a walk blocked on a FIFO into a failure instead of a hung run.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <future>
#include <string>

namespace fornax::test {

inline void MakeFifo(const std::string& path) {
  ASSERT_EQ(mkfifo(path.c_str(), 0644), 0) << path << ": " << std::strerror(errno);
}

// A UNIX socket bound at path; its file stays after the socket is closed.
inline void MakeSocket(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof address.sun_path) << path;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int socketFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(socketFd, 0) << std::strerror(errno);
  const int bound = bind(socketFd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  const int error = errno;
  close(socketFd);
  ASSERT_EQ(bound, 0) << path << ": " << std::strerror(error);
}

// Runs walk on a thread of its own. A walk that opened the FIFO for reading
// would wait for a writer for ever: after a bound far beyond any walk of a
// scratch folder, the guard opens the FIFO for writing, which lets the walk
// go on, and fails the test.
template <typename Walk>
void RunGuarded(Walk walk, const std::string& fifo) {
  std::future<void> done = std::async(std::launch::async, std::move(walk));
  if (done.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
    ADD_FAILURE() << "the walk blocked, most likely on " << fifo;
    const int writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (writer >= 0) close(writer);
  }
  done.get();
}

inline constexpr int kNoNamespaces = 77;

inline bool WriteProcFile(const std::string& path, const std::string& text) {
  std::ofstream out(path);
  out << text;
  out.close();
  return static_cast<bool>(out);
}

// Runs body in a child process that has a user and a mount namespace of its
// own, where an unprivileged user may bind-mount; the mounts vanish with it.
// Gives body's exit status, or kNoNamespaces when the system allows none.
inline int RunInMountNamespace(const std::function<int()>& body) {
  const uid_t uid = getuid();
  const gid_t gid = getgid();
  const pid_t child = fork();
  if (child < 0) return kNoNamespaces;
  if (child == 0) {
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) _exit(kNoNamespaces);
    if (!WriteProcFile("/proc/self/setgroups", "deny") ||
        !WriteProcFile("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
        !WriteProcFile("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
      _exit(kNoNamespaces);
    if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) _exit(kNoNamespaces);
    _exit(body());
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// A bind mount, in the child of RunInMountNamespace.
inline bool BindMount(const std::string& from, const std::string& onto) {
  return mount(from.c_str(), onto.c_str(), nullptr, MS_BIND, nullptr) == 0;
}

}  // namespace fornax::test
