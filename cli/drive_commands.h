#pragma once

#include <CLI/CLI.hpp>

namespace fornax::cli {

// devices, caps, medium, ready, load, eject: what a drive is and holds.
void AddDriveCommands(CLI::App& app, int& exitCode);

}  // namespace fornax::cli
