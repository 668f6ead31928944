#pragma once
// Interrupts a write at an exact point: the simulated recorder raises a
// signal in this process when a given command arrives, and the handler asks
// the recorder to abort, as a user's Ctrl-C would at that moment.

#include <csignal>

#include <atomic>
#include <cstdint>

#include "engine/recorder.h"
#include "support/simulated_recorder.h"

namespace fornax::test {

class TAbortOnCommand {
 public:
  TAbortOnCommand(TQzRecorder& recorder, TSimulatedRecorder& sim, uint8_t opcode, int nth) {
    Target() = &recorder;
    struct sigaction action {};
    action.sa_handler = [](int) {
      if (TQzRecorder* r = Target().load()) r->AbortWrite();
    };
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGUSR1, &action, &FPrevious);
    EXPECT_EQ(sim.Call("fornax_sim_fault_signal", opcode, nth, int{SIGUSR1}), 0);
  }
  ~TAbortOnCommand() {
    ::sigaction(SIGUSR1, &FPrevious, nullptr);
    Target() = nullptr;
  }
  TAbortOnCommand(const TAbortOnCommand&) = delete;
  TAbortOnCommand& operator=(const TAbortOnCommand&) = delete;

 private:
  static std::atomic<TQzRecorder*>& Target() {
    static std::atomic<TQzRecorder*> target{nullptr};
    return target;
  }
  struct sigaction FPrevious {};
};

}  // namespace fornax::test
