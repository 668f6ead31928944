#pragma once

#include <CLI/CLI.hpp>

namespace fornax::cli {

// "fornax-cli iso OUTPUT PATH...": builds an ISO image file.
void AddIsoCommand(CLI::App& app, int& exitCode);

}  // namespace fornax::cli
