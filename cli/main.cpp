// fornax-cli: the command-line face of the Fornax disc-writing engine.

#include <CLI/CLI.hpp>

#include "cli/burn_commands.h"
#include "cli/disc_commands.h"
#include "cli/drive_commands.h"
#include "cli/iso_command.h"
#include "cli/read_iso_command.h"
#include "cli/vdrive_command.h"
#include "cli/verify_command.h"

int main(int argc, char** argv) {
  CLI::App app{"Fornax writes files and folders to CDs, DVDs and ISO 9660 image files.\n"
               "Run 'fornax-cli COMMAND --help' for the options of a command."};
  app.name("fornax-cli");
  app.require_subcommand(1);
  app.footer("Start with: fornax-cli iso my.iso FOLDER   (builds an image of FOLDER)");
  int exitCode = 0;
  fornax::cli::AddIsoCommand(app, exitCode);
  fornax::cli::AddBurnCommands(app, exitCode);
  fornax::cli::AddDriveCommands(app, exitCode);
  fornax::cli::AddDiscCommands(app, exitCode);
  fornax::cli::AddReadIsoCommand(app, exitCode);
  fornax::cli::AddVirtualDriveCommand(app, exitCode);
  fornax::cli::AddVerifyCommand(app, exitCode);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    // Help asked for is no failure; any other parse error is a usage error.
    return app.exit(error) == 0 ? 0 : 1;
  }
  return exitCode;
}
