#pragma once
// The simulated recorder loaded as the engine's transport, with a disc of its
// own in a scratch folder for each test.

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <string>

#include "engine/drive/transport.h"
#include "support/temp_folder.h"

namespace fornax::test {

class TSimulatedRecorder {
 public:
  TSimulatedRecorder() {
    // Control calls go to the same loaded copy the transport uses.
    EXPECT_TRUE(InitASPI(false, FORNAX_SIMDRIVE_LIBRARY)) << "cannot load " << FORNAX_SIMDRIVE_LIBRARY;
    FLibrary = ::dlopen(FORNAX_SIMDRIVE_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    EXPECT_NE(FLibrary, nullptr);
    EXPECT_EQ(Call<const char*>("fornax_sim_set_state_dir", FState.Root().c_str()), 0);
    EXPECT_EQ(Call("fornax_sim_reset"), 0);
  }
  ~TSimulatedRecorder() {
    ShutdownASPI();
    if (FLibrary) ::dlclose(FLibrary);
  }

  template <typename... Args>
  int Call(const char* name, Args... args) {
    using TFunction = int (*)(Args...);
    auto function = reinterpret_cast<TFunction>(::dlsym(FLibrary, name));
    EXPECT_NE(function, nullptr) << name;
    return function ? function(args...) : -1;
  }
  void Insert(const char* kind) { EXPECT_EQ(Call<const char*>("fornax_sim_insert", kind), 0) << kind; }
  const std::string& StateFolder() const { return FState.Root(); }

 private:
  TTempFolder FState;
  void* FLibrary = nullptr;
};

}  // namespace fornax::test
