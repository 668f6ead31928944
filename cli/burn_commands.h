#pragma once

#include <CLI/CLI.hpp>

namespace fornax::cli {

// burn, burn-iso, erase: writing to and erasing the disc in a drive.
void AddBurnCommands(CLI::App& app, int& exitCode);

}  // namespace fornax::cli
