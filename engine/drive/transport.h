#pragma once
// The SCSI transport: the one entry point every command travels through, and
// the choice of what stands behind it — the built-in pass-through emulation
// over SG_IO, or a transport library opened at run time (the simulated
// recorder by default). The state is process-wide, as the drives are.

#include <cstdint>
#include <string>
#include <vector>

#include "engine/drive/srb.h"

namespace fornax {

inline constexpr const char* kEmulationName = "KXASPI32";
// The library looked for beside the executable, then on the search path.
inline constexpr const char* kDefaultTransportLibrary = "libfornax-simdrive.so";

// Where the default library is looked for, in order: beside the program (a
// build folder), where an installation puts it, then the search path.
std::vector<std::string> DefaultTransportLibraryPaths();

// Chooses and loads a transport: with preferPassThrough the emulation when it
// finds a drive; otherwise (or when it finds none) the library at libraryPath,
// or the default library; as a last resort the emulation. True when one is
// loaded.
bool InitASPI(bool preferPassThrough, const std::string& libraryPath);
// Unloads the transport and loads it again with the last preference.
bool ResetASPI();
// Unloads whatever transport is loaded.
void ShutdownASPI();

bool TransportLoaded();
// "KXASPI32", the library's path, or empty when none is loaded.
std::string TransportName();
bool TransportIsEmulation();

uint32_t GetASPI32SupportInfo();
uint32_t SendASPI32Command(void* srb);

// On: the emulation closes a drive's device after each command (tray and
// medium-lock commands need the drive to be reopened).
void SetCloseAfterCommand(bool on);
bool CloseAfterCommand();

// Puts a transport in place without loading anything (tests use recording
// transports this way).
void InstallTransport(const std::string& name, GetASPI32SupportInfoFn info,
                      SendASPI32CommandFn send);

}  // namespace fornax
