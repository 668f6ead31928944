#include "cli/vdrive_command.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "engine/drive/transport.h"

namespace fornax::cli {
namespace {

constexpr const char* kVdriveHelp = R"(Control the simulated recorder: a CD/DVD recorder in software that Fornax
uses when the computer has no drive (or with --transport). Its disc is kept in
files under $FORNAX_SIMDRIVE_DIR (default ~/.local/state/fornax/simdrive), so
it stays between runs.

Examples:
  fornax-cli vdrive insert cd-r        a blank CD-R in the drive
  fornax-cli vdrive status             what the drive holds
  fornax-cli vdrive export disc.iso    the disc as an image file
Media: cd-r cd-rw dvd-r dvd-rw-ro dvd-rw-seq dvd+r dvd+rw dvd-ram dvd+r-dl)";

// The control functions of the simulated recorder, taken from its library.
class TSimulatedRecorder {
 public:
  // The error names every place tried: dlerror() tells only of the last, and
  // only once.
  bool Load(const std::string& path, std::string& error) {
    const std::vector<std::string> candidates =
        path.empty() ? DefaultTransportLibraryPaths() : std::vector<std::string>{path};
    error.clear();
    for (const std::string& candidate : candidates) {
      FLibrary = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (FLibrary) return true;
      const char* why = ::dlerror();
      error += (error.empty() ? "" : "; ") + std::string(why ? why : candidate + ": not found");
    }
    return false;
  }
  ~TSimulatedRecorder() {
    if (FLibrary) ::dlclose(FLibrary);
  }
  // Calls a control function of the given shape; -1 when it is missing.
  template <typename... Args>
  int Call(const char* name, Args... args) {
    using TFunction = int (*)(Args...);
    auto function = reinterpret_cast<TFunction>(::dlsym(FLibrary, name));
    return function ? function(args...) : -1;
  }
  std::string LastError() {
    using TFunction = const char* (*)();
    auto function = reinterpret_cast<TFunction>(::dlsym(FLibrary, "fornax_sim_last_error"));
    const char* text = function ? function() : nullptr;
    return text ? text : "unknown error";
  }

 private:
  void* FLibrary = nullptr;
};

struct TVdriveOptions {
  std::string Library;
  std::string Kind, File;
  int Count = 0, Milliseconds = 0, Speed = 0;
  bool TargetBusy = false;
  uint32_t Lba = 0;
  int Key = 3, Asc = 0x0C, Ascq = 0;
  int Times = 0;
  uint32_t CorruptCount = 1;
  uint32_t Sectors = 1;
  std::string Opcode, Signal = "int";
  int Nth = 1;
  int BlankMs = -1, FormatMs = -1, CloseMs = -1;
  std::string Vendor, Product, Revision;
};

int Report(TSimulatedRecorder& sim, int result) {
  if (result == 0) return 0;
  std::fprintf(stderr, "fornax-cli: %s\n", sim.LastError().c_str());
  return 1;
}

}  // namespace

void AddVirtualDriveCommand(CLI::App& app, int& exitCode) {
  auto o = std::make_shared<TVdriveOptions>();
  CLI::App* vdrive = app.add_subcommand("vdrive", "Control the simulated recorder (insert a disc, export it, faults)");
  vdrive->description(kVdriveHelp);
  vdrive->require_subcommand(1);
  vdrive->add_option("--library", o->Library, "The simulated recorder's library (default: beside fornax-cli)");

  // Each action: loads the library, runs, reports.
  const auto action = [o, &exitCode](std::function<int(TSimulatedRecorder&)> run) {
    return [o, run, &exitCode] {
      TSimulatedRecorder sim;
      std::string error;
      if (!sim.Load(o->Library, error)) {
        std::fprintf(stderr, "fornax-cli: cannot load the simulated recorder: %s\n", error.c_str());
        exitCode = 1;
        return;
      }
      exitCode = run(sim);
    };
  };

  vdrive->add_subcommand("status", "Show the drive, its tray and the disc it holds")
      ->callback(action([](TSimulatedRecorder& sim) {
        char text[8192] = {};
        const int result = sim.Call("fornax_sim_describe", static_cast<char*>(text), sizeof text);
        if (result == 0) std::fputs(text, stdout);
        return Report(sim, result);
      }));
  CLI::App* insert = vdrive->add_subcommand("insert", "Put a blank disc of a kind in the drive and close the tray");
  insert->add_option("KIND", o->Kind, "cd-r, cd-rw, dvd-r, dvd-rw-ro, dvd-rw-seq, dvd+r, dvd+rw, dvd-ram or dvd+r-dl")
      ->required();
  insert->callback(action([o](TSimulatedRecorder& sim) { return Report(sim, sim.Call("fornax_sim_insert", o->Kind.c_str())); }));
  vdrive->add_subcommand("remove", "Take the disc out (the tray stays open)")
      ->callback(action([](TSimulatedRecorder& sim) { return Report(sim, sim.Call("fornax_sim_remove")); }));
  vdrive->add_subcommand("open", "Open the tray")
      ->callback(action([](TSimulatedRecorder& sim) { return Report(sim, sim.Call("fornax_sim_open_tray")); }));
  vdrive->add_subcommand("close", "Close the tray")
      ->callback(action([](TSimulatedRecorder& sim) { return Report(sim, sim.Call("fornax_sim_close_tray")); }));
  CLI::App* exportDisc = vdrive->add_subcommand("export", "Write the disc as an image file (sector N at byte N x 2048)");
  exportDisc->add_option("FILE", o->File, "The image file to write")->required();
  exportDisc->callback(action([o](TSimulatedRecorder& sim) { return Report(sim, sim.Call("fornax_sim_export", o->File.c_str())); }));
  vdrive->add_subcommand("reset", "Back to a fresh drive: no faults, a blank DVD+R")
      ->callback(action([](TSimulatedRecorder& sim) { return Report(sim, sim.Call("fornax_sim_reset")); }));

  CLI::App* fault = vdrive->add_subcommand("fault", "Make the drive misbehave, for trying failure paths");
  fault->require_subcommand(1);
  CLI::App* busy = fault->add_subcommand("busy", "The next N commands find the drive busy");
  busy->add_option("N", o->Count, "How many commands")->required();
  busy->add_flag("--target-status", o->TargetBusy, "Answer with the BUSY status instead of 'long write in progress'");
  busy->callback(action([o](TSimulatedRecorder& sim) {
    return Report(sim, sim.Call("fornax_sim_fault_busy", o->Count, o->TargetBusy ? 1 : 0));
  }));
  CLI::App* writeError = fault->add_subcommand("write-error", "A write that covers sector LBA fails");
  writeError->add_option("LBA", o->Lba, "The sector")->required();
  writeError->add_option("--key", o->Key, "Sense key (default 3, medium error)");
  writeError->add_option("--asc", o->Asc, "Additional sense code (default 0x0C, write error)");
  writeError->add_option("--ascq", o->Ascq, "Its qualifier (default 0)");
  writeError->add_option("--times", o->Times, "Only the next N such writes fail (default: every one)");
  writeError->callback(action([o](TSimulatedRecorder& sim) {
    if (o->Times > 0)
      return Report(sim, sim.Call("fornax_sim_fault_write_error_count", o->Lba, static_cast<uint8_t>(o->Key),
                                  static_cast<uint8_t>(o->Asc), static_cast<uint8_t>(o->Ascq), o->Times));
    return Report(sim, sim.Call("fornax_sim_fault_write_error", o->Lba, static_cast<uint8_t>(o->Key),
                                static_cast<uint8_t>(o->Asc), static_cast<uint8_t>(o->Ascq)));
  }));
  CLI::App* readError = fault->add_subcommand(
      "read-error", "A read (READ (10)) that covers the sectors fails: medium error 3/11/00, unrecovered read error");
  readError->add_option("--lba", o->Lba, "The first sector")->required();
  readError->add_option("--count", o->Sectors, "How many sectors from it (default 1)")->check(CLI::PositiveNumber);
  readError->add_option("--times", o->Times, "Fail the next T such reads, then read well (default 0: always)")
      ->check(CLI::NonNegativeNumber);
  readError->callback(action([o](TSimulatedRecorder& sim) {
    return Report(sim, sim.Call("fornax_sim_fault_read_error", o->Lba, o->Sectors, o->Times));
  }));
  CLI::App* corrupt = fault->add_subcommand(
      "corrupt", "Flip the bytes of recorded sectors: reads then return wrong data without an error");
  corrupt->add_option("--lba", o->Lba, "The first sector")->required();
  corrupt->add_option("--count", o->CorruptCount, "How many sectors from it (default 1)")->check(CLI::PositiveNumber);
  corrupt->callback(action([o](TSimulatedRecorder& sim) {
    return Report(sim, sim.Call("fornax_sim_fault_corrupt", o->Lba, o->CorruptCount));
  }));
  CLI::App* signal = fault->add_subcommand(
      "signal", "The program that sends the Nth command of an opcode gets a signal first (int: Ctrl-C; kill)");
  signal->add_option("OPCODE", o->Opcode, "The command's operation code, in hex (2a: WRITE (10))")->required();
  signal->add_option("--nth", o->Nth, "Which command of that opcode, counted from now (default 1)");
  signal->add_option("--signal", o->Signal, "int or kill (default int)");
  signal->callback(action([o](TSimulatedRecorder& sim) {
    const int number = o->Signal == "kill" ? 9 : o->Signal == "int" ? 2 : 0;
    unsigned long opcode = 256;
    try {
      opcode = std::stoul(o->Opcode, nullptr, 16);
    } catch (...) {
    }
    if (number == 0 || opcode > 255) {
      std::fprintf(stderr, "fornax-cli: give an opcode in hex (00 to ff) and --signal int or kill\n");
      return 1;
    }
    return Report(sim, sim.Call("fornax_sim_fault_signal", static_cast<uint8_t>(opcode), o->Nth, number));
  }));
  CLI::App* notReady = fault->add_subcommand("not-ready", "The drive is becoming ready for a while");
  notReady->add_option("MS", o->Milliseconds, "Milliseconds")->required();
  notReady->callback(action([o](TSimulatedRecorder& sim) {
    return Report(sim, sim.Call("fornax_sim_fault_not_ready", o->Milliseconds));
  }));
  fault->add_subcommand("clear", "No more faults")
      ->callback(action([](TSimulatedRecorder& sim) { return Report(sim, sim.Call("fornax_sim_clear_faults")); }));

  CLI::App* speed = vdrive->add_subcommand("speed", "Write no faster than this many KB/s (0: as fast as possible)");
  speed->add_option("KBPS", o->Speed, "KB/s")->required();
  speed->callback(action([o](TSimulatedRecorder& sim) { return Report(sim, sim.Call("fornax_sim_set_write_speed", o->Speed)); }));
  CLI::App* durations = vdrive->add_subcommand("durations", "How long blanking, formatting and closing take");
  durations->add_option("--blank", o->BlankMs, "Milliseconds")->required();
  durations->add_option("--format", o->FormatMs, "Milliseconds")->required();
  durations->add_option("--close", o->CloseMs, "Milliseconds")->required();
  durations->callback(action([o](TSimulatedRecorder& sim) {
    return Report(sim, sim.Call("fornax_sim_set_durations", o->BlankMs, o->FormatMs, o->CloseMs));
  }));
  CLI::App* identity = vdrive->add_subcommand("identity", "Answer INQUIRY with another vendor, product and revision");
  identity->add_option("VENDOR", o->Vendor)->required();
  identity->add_option("PRODUCT", o->Product)->required();
  identity->add_option("REVISION", o->Revision)->required();
  identity->callback(action([o](TSimulatedRecorder& sim) {
    return Report(sim, sim.Call("fornax_sim_set_identity", o->Vendor.c_str(), o->Product.c_str(), o->Revision.c_str()));
  }));
}

}  // namespace fornax::cli
