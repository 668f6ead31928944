#pragma once

#include <CLI/CLI.hpp>

namespace fornax::cli {

// read-iso: the disc in the drive (or one of its sessions) into an image file.
void AddReadIsoCommand(CLI::App& app, int& exitCode);

}  // namespace fornax::cli
