#pragma once

#include <CLI/CLI.hpp>

namespace fornax::cli {

// sessions, ls, extract: what a disc in the drive holds, and getting it back.
void AddDiscCommands(CLI::App& app, int& exitCode);

}  // namespace fornax::cli
