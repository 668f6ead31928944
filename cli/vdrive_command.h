#pragma once

#include <CLI/CLI.hpp>

namespace fornax::cli {

// "fornax-cli vdrive ...": the simulated recorder's tray, disc and faults.
void AddVirtualDriveCommand(CLI::App& app, int& exitCode);

}  // namespace fornax::cli
