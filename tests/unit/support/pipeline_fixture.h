#pragma once
// The engine with the simulated recorder selected and its events run by a
// queue on the test's thread, as a program without a GUI runs them. Every
// pause of the pipeline is shortened a hundredfold.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "engine/base/pacing.h"
#include "engine/pipeline/event_queue.h"
#include "engine/recorder.h"
#include "support/simulated_recorder.h"
#include "support/temp_folder.h"

namespace fornax::test {

class PipelineTest : public ::testing::Test {
 protected:
  PipelineTest() {
    SetPaceDivisor(100);
    Rec.Dispatcher = [this](std::function<void()> event) { Events.Post(std::move(event)); };
    Rec.OnWriteDone = [this](TObject*, const std::string& error) {
      ++WriteDone;
      Result = error;
    };
    Rec.OnEraseDone = [this](TObject*, bool withError) {
      ++EraseDone;
      EraseError = withError;
    };
    Rec.OnDebugMessage = [this](TObject*, const std::string& text, uint8_t) { Log.push_back(text); };
  }
  ~PipelineTest() override { SetPaceDivisor(1); }

  void Open(const char* kind) {
    Sim.Insert(kind);
    ASSERT_TRUE(Rec.InitTransport(false, FORNAX_SIMDRIVE_LIBRARY));
    ASSERT_TRUE(Rec.SelectDevice(Rec.DeviceList().at(0)));
    ASSERT_TRUE(Rec.WaitReady(5000, 10));
  }
  // A folder of files for a compilation, `kilobytes` in all.
  std::string Folder(const std::string& name, int files, int kilobytes) {
    for (int i = 0; i < files; ++i)
      Tmp.Write(name + "/file" + std::to_string(i) + ".bin",
                std::string(static_cast<size_t>(kilobytes * 1024 / files), static_cast<char>('a' + i % 26)));
    return Tmp.Path(name) + "/";
  }
  void Fill(const std::string& folder) {
    Rec.ClearCompilation(600000, 20000);
    ASSERT_TRUE(Rec.AddDirectoryTree(Rec.RootDirectory(), folder, "*.*", 63, true, false, false));
  }
  // Runs the events until the write (or erase) has ended.
  bool WaitForEnd(std::chrono::seconds limit = std::chrono::seconds(120)) {
    return Events.RunUntil([this] { return WriteDone + EraseDone > 0; }, limit);
  }
  bool Logged(const std::string& part) const {
    for (const std::string& line : Log)
      if (line.find(part) != std::string::npos) return true;
    return false;
  }

  TSimulatedRecorder Sim;
  TTempFolder Tmp;
  TEventQueue Events;
  TQzRecorder Rec;
  std::vector<std::string> Log;
  int WriteDone = 0, EraseDone = 0;
  bool EraseError = false;
  std::string Result = "(none)";
};

}  // namespace fornax::test
