#include "engine/drive/transport.h"

#include <dlfcn.h>
#include <unistd.h>

#include <mutex>

#include "engine/drive/sg_emulation.h"

namespace fornax {
namespace {

struct TTransportState {
  std::recursive_mutex Lock;
  std::string Name;
  bool Loaded = false;
  void* Library = nullptr;
  GetASPI32SupportInfoFn Info = nullptr;
  SendASPI32CommandFn Send = nullptr;
  bool PreferPassThrough = true;
  bool CloseAfterCommand = false;
};

TTransportState& State() {
  static TTransportState state;
  return state;
}

std::string ExecutableFolder() {
  char path[4096] = {};
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return "";
  std::string exe(path, static_cast<size_t>(n));
  return exe.substr(0, exe.rfind('/') + 1);
}

bool UseEmulation(TTransportState& state) {
  if (EmulationStartup() == 0) return false;
  state.Name = kEmulationName;
  state.Info = &EmulationGetSupportInfo;
  state.Send = &EmulationSendCommand;
  state.Loaded = true;
  EmulationSetCloseAfterCommand(state.CloseAfterCommand);
  return true;
}

bool UseLibrary(TTransportState& state, const std::string& path) {
  void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) return false;
  auto info = reinterpret_cast<GetASPI32SupportInfoFn>(::dlsym(library, "GetASPI32SupportInfo"));
  auto send = reinterpret_cast<SendASPI32CommandFn>(::dlsym(library, "SendASPI32Command"));
  if (!info || !send) {
    ::dlclose(library);
    return false;
  }
  state.Library = library;
  state.Info = info;
  state.Send = send;
  state.Name = path;
  state.Loaded = true;
  return true;
}

bool LoadLibraryTransport(TTransportState& state, const std::string& libraryPath) {
  if (!libraryPath.empty()) return UseLibrary(state, libraryPath);
  for (const std::string& path : DefaultTransportLibraryPaths())
    if (UseLibrary(state, path)) return true;
  return false;
}

void Unload(TTransportState& state) {
  if (state.Name == kEmulationName) EmulationShutdown();
  if (state.Library) ::dlclose(state.Library);
  state.Library = nullptr;
  state.Info = nullptr;
  state.Send = nullptr;
  state.Name.clear();
  state.Loaded = false;
}

}  // namespace

std::vector<std::string> DefaultTransportLibraryPaths() {
  const std::string folder = ExecutableFolder();
  return {folder + kDefaultTransportLibrary, folder + "../lib/fornax/" + kDefaultTransportLibrary,
          kDefaultTransportLibrary};
}

bool InitASPI(bool preferPassThrough, const std::string& libraryPath) {
  TTransportState& state = State();
  std::lock_guard<std::recursive_mutex> lock(state.Lock);
  bool loaded = preferPassThrough && UseEmulation(state);
  if (!loaded) loaded = LoadLibraryTransport(state, libraryPath);
  if (!loaded) loaded = UseEmulation(state);
  if (loaded) state.Info();
  state.PreferPassThrough = preferPassThrough;
  return loaded;
}

bool ResetASPI() {
  TTransportState& state = State();
  std::lock_guard<std::recursive_mutex> lock(state.Lock);
  Unload(state);
  InitASPI(state.PreferPassThrough, "");
  return true;
}

void ShutdownASPI() {
  TTransportState& state = State();
  std::lock_guard<std::recursive_mutex> lock(state.Lock);
  Unload(state);
}

bool TransportLoaded() {
  std::lock_guard<std::recursive_mutex> lock(State().Lock);
  return State().Loaded;
}

std::string TransportName() {
  std::lock_guard<std::recursive_mutex> lock(State().Lock);
  return State().Name;
}

bool TransportIsEmulation() { return TransportName() == kEmulationName; }

uint32_t GetASPI32SupportInfo() {
  GetASPI32SupportInfoFn info = nullptr;
  {
    std::lock_guard<std::recursive_mutex> lock(State().Lock);
    info = State().Info;
  }
  return info ? info() : (static_cast<uint32_t>(SS_NO_ADAPTERS) << 8);
}

uint32_t SendASPI32Command(void* srb) {
  SendASPI32CommandFn send = nullptr;
  {
    std::lock_guard<std::recursive_mutex> lock(State().Lock);
    send = State().Send;
  }
  return send ? send(srb) : SS_ERR;
}

void SetCloseAfterCommand(bool on) {
  TTransportState& state = State();
  std::lock_guard<std::recursive_mutex> lock(state.Lock);
  state.CloseAfterCommand = on;
  if (state.Name == kEmulationName) EmulationSetCloseAfterCommand(on);
}

bool CloseAfterCommand() {
  std::lock_guard<std::recursive_mutex> lock(State().Lock);
  return State().CloseAfterCommand;
}

void InstallTransport(const std::string& name, GetASPI32SupportInfoFn info, SendASPI32CommandFn send) {
  TTransportState& state = State();
  std::lock_guard<std::recursive_mutex> lock(state.Lock);
  Unload(state);
  state.Name = name;
  state.Info = info;
  state.Send = send;
  state.Loaded = info != nullptr && send != nullptr;
}

}  // namespace fornax
