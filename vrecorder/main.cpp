// fornax-vrecorder: presents the simulated recorder to the kernel as a real
// SCSI CD/DVD recorder (/dev/srN), so that any Linux burning program, and the
// kernel's own CD-ROM and ISO 9660 drivers, can use it. Started as root, it
// sets up the kernel's target and serves it from a process that has given up
// root for the user it serves (serving_process.h), until Ctrl-C (or SIGTERM)
// or that process's end; then it removes the device again.

#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "vrecorder/lio_target.h"
#include "vrecorder/served_user.h"
#include "vrecorder/serving_process.h"

namespace {

constexpr const char* kUsage = R"(Usage: fornax-vrecorder [--state DIR] [--user NAME] [--name NAME]

Presents Fornax's simulated recorder as a CD/DVD recorder of this computer
(/dev/srN), through the kernel's SCSI target (LIO: a TCMU back store and a
tcm_loop LUN), so that any burning program can write to it. Needs root and the
kernel modules target_core_user and tcm_loop (loaded here when missing).

  --state DIR   the recorder's disc (default: $FORNAX_SIMDRIVE_DIR, else the
                served user's ~/.local/state/fornax/simdrive); 'fornax-cli
                vdrive' with the same folder inserts media, exports the disc,
                injects faults
  --user NAME   the user it serves (default: the user who ran sudo, else
                root): the disc is read and written with that user's rights
                only, and a folder that user does not own alone is refused
  --name NAME   the back store's name in configfs (default: fornax)

It runs until Ctrl-C or SIGTERM, then takes the device away again.
)";

struct TOptions {
  std::string State;
  std::string User;
  std::string Name = "fornax";
};

bool Parse(int argc, char** argv, TOptions& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if ((arg == "--state" || arg == "--name" || arg == "--user") && i + 1 < argc) {
      (arg == "--state" ? options.State : arg == "--user" ? options.User : options.Name) = argv[++i];
    } else {
      return false;
    }
  }
  return !options.Name.empty() && options.Name.find('/') == std::string::npos;
}

void Run(const char* program, const char* argument) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execlp(program, program, "-q", argument, static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  if (pid > 0) ::waitpid(pid, &status, 0);
}

// A desktop has the modules but may not have loaded them yet.
void LoadTarget() {
  if (::access("/sys/kernel/config/target", F_OK) == 0) return;
  Run("modprobe", "target_core_user");
  Run("modprobe", "tcm_loop");
  ::mount("none", "/sys/kernel/config", "configfs", 0, nullptr);
}

std::string WaitForBlockDevice(const fornax::vrec::TLioTarget& target) {
  for (int tries = 0; tries < 150; ++tries) {
    const std::string device = target.BlockDevice();
    if (!device.empty()) return device;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return "";
}

int Fail(const std::string& error) {
  std::fprintf(stderr, "fornax-vrecorder: %s\n", error.c_str());
  return 1;
}

// Until Ctrl-C, SIGTERM or the serving process's end (true).
bool WaitForTheEnd(const sigset_t& signals, const fornax::vrec::TServingProcess& server) {
  for (;;) {
    int signal = 0;
    sigwait(&signals, &signal);
    // SIGCHLD also comes from the module loaders' ends.
    if (signal != SIGCHLD) return false;
    if (server.Ended()) return true;
  }
}

std::string Ending(int status) {
  if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
  return "exit status " + std::to_string(WEXITSTATUS(status));
}

}  // namespace

int main(int argc, char** argv) {
  TOptions options;
  if (!Parse(argc, argv, options)) {
    std::fputs(kUsage, stderr);
    return argc == 2 && std::strcmp(argv[1], "--help") == 0 ? 0 : 1;
  }
  if (::geteuid() != 0) return Fail("needs root, to set up the kernel's SCSI target (run it with sudo)");
  std::string error, folder = options.State;
  fornax::vrec::TServedUser user;
  if (!fornax::vrec::ResolveServedUser(options.User, std::getenv("SUDO_UID"), std::getenv("SUDO_GID"), user, error) ||
      (folder.empty() && !fornax::vrec::DefaultStateFolder(user, folder, error)))
    return Fail(error);
  // Signals are taken by sigwait below; the serving process is forked with
  // them blocked.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGCHLD);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  fornax::vrec::TServingProcess server;
  if (!server.Start(user, folder, error)) return Fail(error);
  LoadTarget();
  fornax::vrec::TLioNames names;
  names.Device = options.Name;
  names.Config = options.State.empty() ? "default" : std::filesystem::absolute(options.State).string();
  fornax::vrec::TLioTarget target(names);
  if (!target.SetUpBackStore(error) || !server.GiveRing(target.UioFd(), target.RingSize(), error))
    return Fail(error);
  int status = 0;
  bool ended = false;
  if (target.SetUpLun(error)) {
    const std::string device = WaitForBlockDevice(target);
    if (device.empty())
      std::printf("fornax-vrecorder: the LUN is there, but no block device appeared (is sr_mod loaded?)\n");
    else
      std::printf("fornax-vrecorder: the simulated recorder is /dev/%s; Ctrl-C takes it away\n", device.c_str());
    std::fflush(stdout);
    ended = WaitForTheEnd(signals, server);
  } else {
    status = Fail(error);
  }
  // The LUN goes first, while the ring is still answered: by the serving
  // process, or once it has ended by the stand-in.
  fornax::vrec::TStandIn standIn(server, target.UioFd(), target.Ring(), target.RingSize());
  target.TearDownLun();
  server.RequestStop();
  const int served = standIn.Finish();
  target.TearDown();
  if (ended) status = Fail("the serving process ended (" + Ending(served) + "); the device is taken away");
  return status;
}
