#include "vrecorder/serving_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fmt/format.h>
#include <vector>

#include "simdrive/simdrive.h"
#include "vrecorder/drive_handler.h"
#include "vrecorder/privileges.h"

namespace fornax::vrec {
namespace {

constexpr char kReady = 'R', kRefused = 'E';
constexpr size_t kLongestMessage = 1024;

// What the serving process says is printed, never acted on: only printable
// ASCII reaches the terminal.
std::string Printable(const char* text, size_t size) {
  std::string out(text, size);
  for (char& c : out)
    if (c < 0x20 || c > 0x7e) c = '?';
  return out;
}

void Report(int control, bool ready, const std::string& error) {
  std::string message(1, ready ? kReady : kRefused);
  message += error.substr(0, kLongestMessage - 1);
  (void)!::send(control, message.data(), message.size(), MSG_NOSIGNAL);
}

bool ReceiveRing(int control, int& uio, size_t& size) {
  uint64_t bytes = 0;
  iovec data{&bytes, sizeof bytes};
  alignas(cmsghdr) char space[CMSG_SPACE(sizeof(int))] = {};
  msghdr message{};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = space;
  message.msg_controllen = sizeof space;
  ssize_t n;
  while ((n = ::recvmsg(control, &message, MSG_CMSG_CLOEXEC)) < 0 && errno == EINTR) {}
  const cmsghdr* header = CMSG_FIRSTHDR(&message);
  if (n != sizeof bytes || header == nullptr || header->cmsg_type != SCM_RIGHTS ||
      header->cmsg_len != CMSG_LEN(sizeof(int)))
    return false;
  std::memcpy(&uio, CMSG_DATA(header), sizeof uio);
  size = static_cast<size_t>(bytes);
  return true;
}

// The serving process, from fork to its end. The terminal's Ctrl-C and a
// SIGTERM are for the root process, which takes the device away first.
[[noreturn]] void Serve(int control, const TServedUser& user, const std::string& folder) {
  ::signal(SIGINT, SIG_IGN);
  ::signal(SIGTERM, SIG_IGN);
  std::string error;
  bool ready = DropPrivileges(user.Uid, user.Gid, error);
  if (ready) {
    // A signal fault would end this process, and the drive with it, with
    // commands of other programs still queued.
    fornax_sim_allow_signal_faults(0);
    ready = fornax_sim_set_state_dir(folder.c_str()) == 0;
    if (!ready) error = fornax_sim_last_error();
  }
  if (ready) {
    error = StateFolderRefusal(folder, user);
    ready = error.empty();
  }
  // The folder's files are opened now, so that one that cannot be used is
  // named here and not first answered to the kernel's scan as a failing
  // drive (which then makes no device of it).
  if (ready) {
    std::vector<char> description(1 << 16);
    ready = fornax_sim_describe(description.data(), description.size()) == 0;
    if (!ready) error = fornax_sim_last_error();
  }
  Report(control, ready, error);
  int uio = -1;
  size_t size = 0;
  if (!ready || !ReceiveRing(control, uio, size)) ::_exit(ready ? 0 : 1);
  void* ring = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, uio, 0);
  if (ring == MAP_FAILED) ::_exit(2);
  ServeRing(uio, static_cast<uint8_t*>(ring), size, control, AnswerWithSimulatedRecorder);
  ::_exit(0);
}

}  // namespace

void ServeRing(int uio, uint8_t* ring, size_t size, int until, const TRingHandler& handler) {
  TCommandRing commands(ring, size);
  pollfd waits[2] = {{uio, POLLIN, 0}, {until, POLLIN, 0}};
  for (;;) {
    if (::poll(waits, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    uint32_t events = 0;
    if ((waits[0].revents & POLLIN) != 0 && ::read(uio, &events, sizeof events) == sizeof events &&
        commands.Drain(handler) > 0) {
      const uint32_t done = 0;
      (void)!::write(uio, &done, sizeof done);
    }
    if ((waits[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 || waits[1].revents != 0) return;
  }
}

TServingProcess::~TServingProcess() {
  RequestStop();
  Wait();
  if (FControl >= 0) ::close(FControl);
}

bool TServingProcess::Start(const TServedUser& user, const std::string& folder, std::string& error) {
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0)
    return error = fmt::format("cannot make a socket pair: {}", std::strerror(errno)), false;
  FPid = ::fork();
  if (FPid == 0) {
    ::close(pair[0]);
    Serve(pair[1], user, folder);
  }
  ::close(pair[1]);
  FControl = pair[0];
  if (FPid < 0) return error = fmt::format("cannot fork: {}", std::strerror(errno)), false;
  char message[kLongestMessage];
  ssize_t n;
  while ((n = ::recv(FControl, message, sizeof message, 0)) < 0 && errno == EINTR) {}
  if (n == 1 && message[0] == kReady) return true;
  error = n > 1 && message[0] == kRefused ? Printable(message + 1, static_cast<size_t>(n - 1))
                                          : "the serving process ended before it was ready";
  Wait();
  return false;
}

bool TServingProcess::GiveRing(int uioFd, size_t ringSize, std::string& error) {
  uint64_t bytes = ringSize;
  iovec data{&bytes, sizeof bytes};
  alignas(cmsghdr) char space[CMSG_SPACE(sizeof(int))] = {};
  msghdr message{};
  message.msg_iov = &data;
  message.msg_iovlen = 1;
  message.msg_control = space;
  message.msg_controllen = sizeof space;
  cmsghdr* header = CMSG_FIRSTHDR(&message);
  header->cmsg_level = SOL_SOCKET;
  header->cmsg_type = SCM_RIGHTS;
  header->cmsg_len = CMSG_LEN(sizeof(int));
  std::memcpy(CMSG_DATA(header), &uioFd, sizeof uioFd);
  if (::sendmsg(FControl, &message, MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof bytes)) return true;
  error = fmt::format("cannot hand the ring to the serving process: {}", std::strerror(errno));
  return false;
}

bool TServingProcess::Ended() const {
  if (FStatus) return true;
  siginfo_t info{};
  return FPid > 0 && ::waitid(P_PID, static_cast<id_t>(FPid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == FPid;
}

void TServingProcess::RequestStop() {
  if (FControl >= 0) ::shutdown(FControl, SHUT_RDWR);
}

int TServingProcess::Wait() {
  if (!FStatus && FPid > 0) {
    int status = 0;
    while (::waitpid(FPid, &status, 0) < 0 && errno == EINTR) {}
    FStatus = status;
  }
  return FStatus.value_or(0);
}

TStandIn::TStandIn(TServingProcess& server, int uioFd, uint8_t* ring, size_t ringSize) {
  if (::pipe2(FStop, O_CLOEXEC) != 0) FStop[0] = FStop[1] = -1;
  FThread = std::thread([this, &server, uioFd, ring, ringSize] {
    FStatus = server.Wait();
    if (FStop[0] >= 0) ServeRing(uioFd, ring, ringSize, FStop[0], NoMediumAnswer);
  });
}

TStandIn::~TStandIn() {
  Finish();
  for (const int fd : FStop)
    if (fd >= 0) ::close(fd);
}

int TStandIn::Finish() {
  if (FThread.joinable()) {
    const char stop = 0;
    if (FStop[1] >= 0) (void)!::write(FStop[1], &stop, 1);
    FThread.join();
  }
  return FStatus;
}

}  // namespace fornax::vrec
