#pragma once
// The process that serves the ring. Forked from the root process before
// anything is set up, it gives up root for good (privileges.h), makes and
// checks the state folder as the served user, and says whether it is
// ready; handed the ring, it answers the kernel's commands with the
// simulated recorder until asked to stop. Every file of the state folder is
// thus opened, made and written by the user, with the user's rights. The
// root process sets up and takes down the kernel's target, and trusts
// nothing the serving process says beyond "ready" and a message to print.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>

#include "vrecorder/command_ring.h"
#include "vrecorder/served_user.h"

namespace fornax::vrec {

// Answers what the kernel queues in the ring of `uio` until `until` is
// readable or hung up; the kernel is told after each round that answers
// are in the ring.
void ServeRing(int uio, uint8_t* ring, size_t size, int until, const TRingHandler& handler);

class TServingProcess {
 public:
  TServingProcess() = default;
  TServingProcess(const TServingProcess&) = delete;
  TServingProcess& operator=(const TServingProcess&) = delete;
  ~TServingProcess();

  // Forks the process, which becomes `user` and prepares `folder`. False,
  // with its reason, when it could not (the process has then ended).
  bool Start(const TServedUser& user, const std::string& folder, std::string& error);
  // Hands it the ring, which it maps and serves from then on.
  bool GiveRing(int uioFd, size_t ringSize, std::string& error);
  // It has ended (it is not reaped here: Wait does).
  bool Ended() const;
  // It stops once the commands in hand are answered.
  void RequestStop();
  // Waits for its end: its wait status.
  int Wait();

 private:
  pid_t FPid = -1;
  int FControl = -1;
  std::optional<int> FStatus;
};

// Answers the ring with "no medium" once the serving process has ended, so
// that the commands the kernel sends while it lets the device go are
// answered, not left to time out.
class TStandIn {
 public:
  TStandIn(TServingProcess& server, int uioFd, uint8_t* ring, size_t ringSize);
  TStandIn(const TStandIn&) = delete;
  TStandIn& operator=(const TStandIn&) = delete;
  ~TStandIn();
  // Stops answering, once the serving process has ended: its wait status.
  int Finish();

 private:
  int FStop[2] = {-1, -1};
  int FStatus = 0;
  std::thread FThread;
};

}  // namespace fornax::vrec
