#pragma once
// fornax-cli verify: the files of a session of the disc against local files,
// and the report every verify prints (also after burn --verify).

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

#include "cli/console.h"
#include "engine/disc/disc_verify.h"

namespace fornax::cli {

// The exit status of a verify that found a difference: the disc was written,
// but does not hold what was asked for.
inline constexpr int kExitVerifyFailed = 3;

// Prints the problems (stderr) and the summary (stdout); 0 when the disc
// matches, kExitVerifyFailed when it does not, 1 when it could not be read.
int ReportVerify(const TVerifyReport& report, TConsole& console);
int ReportImageVerify(const TVerifyReport& report, int64_t sectors, TConsole& console);

// The local files of SOURCE paths with the session path each is compared
// with, mapped as a burn maps them: with "flat" a folder's files by their
// path below it from the root and a file in the root; with "last" below the
// folder's own name; with "full" below the folder's whole path. False with
// `problem` when a source cannot be walked.
bool MapSources(const std::vector<std::string>& sources, const std::string& mode, std::vector<TLocalFile>& files,
                std::string& problem);

void AddVerifyCommand(CLI::App& app, int& exitCode);

}  // namespace fornax::cli
