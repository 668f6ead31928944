// fornax-vrecorder: presents the simulated recorder to the kernel as a real
// SCSI CD/DVD recorder (/dev/srN), so that any Linux burning program, and the
// kernel's own CD-ROM and ISO 9660 drivers, can use it. Runs as root until
// Ctrl-C (or SIGTERM), then removes the device again.

#include <poll.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "simdrive/simdrive.h"
#include "vrecorder/command_ring.h"
#include "vrecorder/drive_handler.h"
#include "vrecorder/lio_target.h"

namespace {

constexpr const char* kUsage = R"(Usage: fornax-vrecorder [--state DIR] [--name NAME]

Presents Fornax's simulated recorder as a CD/DVD recorder of this computer
(/dev/srN), through the kernel's SCSI target (LIO: a TCMU back store and a
tcm_loop LUN), so that any burning program can write to it. Needs root and the
kernel modules target_core_user and tcm_loop (loaded here when missing).

  --state DIR   the recorder's disc (default: $FORNAX_SIMDRIVE_DIR, else
                ~/.local/state/fornax/simdrive); 'fornax-cli vdrive' with the
                same folder inserts media, exports the disc, injects faults
  --name NAME   the back store's name in configfs (default: fornax)

It runs until Ctrl-C or SIGTERM, then takes the device away again.
)";

struct TOptions {
  std::string State;
  std::string Name = "fornax";
};

bool Parse(int argc, char** argv, TOptions& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if ((arg == "--state" || arg == "--name") && i + 1 < argc) {
      (arg == "--state" ? options.State : options.Name) = argv[++i];
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

// Answers what the kernel queues until asked to stop. The kernel is told
// after each round that answers are in the ring.
void Serve(fornax::vrec::TLioTarget& target, const std::atomic<bool>& stop) {
  fornax::vrec::TCommandRing ring(target.Ring(), target.RingSize());
  while (!stop) {
    pollfd wait{target.UioFd(), POLLIN, 0};
    if (::poll(&wait, 1, 200) <= 0) continue;
    uint32_t events = 0;
    if (::read(target.UioFd(), &events, sizeof events) != sizeof events) continue;
    if (ring.Drain(fornax::vrec::AnswerWithSimulatedRecorder) > 0) {
      const uint32_t done = 0;
      (void)!::write(target.UioFd(), &done, sizeof done);
    }
  }
}

std::string WaitForBlockDevice(const fornax::vrec::TLioTarget& target) {
  for (int tries = 0; tries < 150; ++tries) {
    const std::string device = target.BlockDevice();
    if (!device.empty()) return device;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  TOptions options;
  if (!Parse(argc, argv, options)) {
    std::fputs(kUsage, stderr);
    return argc == 2 && std::strcmp(argv[1], "--help") == 0 ? 0 : 1;
  }
  if (!options.State.empty() && fornax_sim_set_state_dir(options.State.c_str()) != 0) {
    std::fprintf(stderr, "fornax-vrecorder: %s\n", fornax_sim_last_error());
    return 1;
  }
  // A signal fault would end this process, and the device with it, with
  // commands of other programs still queued.
  fornax_sim_allow_signal_faults(0);
  // Signals are taken by sigwait below, never by the serving thread.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  LoadTarget();
  fornax::vrec::TLioNames names;
  names.Device = options.Name;
  names.Config = options.State.empty() ? "default" : std::filesystem::absolute(options.State).string();
  fornax::vrec::TLioTarget target(names);
  std::string error;
  if (!target.SetUpBackStore(error)) {
    std::fprintf(stderr, "fornax-vrecorder: %s\n", error.c_str());
    return 1;
  }
  std::atomic<bool> stop{false};
  std::thread server([&] { Serve(target, stop); });
  int status = 0;
  if (target.SetUpLun(error)) {
    const std::string device = WaitForBlockDevice(target);
    if (device.empty())
      std::printf("fornax-vrecorder: the LUN is there, but no block device appeared (is sr_mod loaded?)\n");
    else
      std::printf("fornax-vrecorder: the simulated recorder is /dev/%s; Ctrl-C takes it away\n", device.c_str());
    std::fflush(stdout);
    int signal = 0;
    sigwait(&signals, &signal);
  } else {
    std::fprintf(stderr, "fornax-vrecorder: %s\n", error.c_str());
    status = 1;
  }
  target.TearDownLun();
  stop = true;
  server.join();
  target.TearDown();
  return status;
}
