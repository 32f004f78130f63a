// velkor: the windowed program.
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "platform/system/system.h"
#include "platform/window/window.h"
#include "ui/main/app.h"

namespace {

// Where this system keeps the settings file.
SettingsFiles SettingsPlace() {
  auto text = [](const std::optional<std::string>& v) { return v ? v->c_str() : nullptr; };
#ifdef _WIN32
  // Beside the program, as Windows users of it have always found it, unless
  // that folder is not writable.
  const auto appData = sys::Environment("APPDATA");
  return LocateSettingsBesideProgram(sys::ProgramFolder(), text(appData));
#else
  const auto config = sys::Environment("XDG_CONFIG_HOME"), home = sys::Environment("HOME");
  return LocateSettings(sys::ProgramFolder(), text(config), text(home));
#endif
}

}  // namespace

int main(int argc, char** argv) {
  sys::Utf8Arguments arguments(argc, argv);
  argc = arguments.Count();
  argv = arguments.Values();
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("velkor %s\n", VELKOR_VERSION);
    return 0;
  }
  // Only one copy runs: a second one ends here, before any window.
  if (!sys::AcquireSingleInstance("Velkor")) return 0;

  wsys::Application app(argc, argv);
  app.Name("Velkor", VELKOR_VERSION);
  wsys::InstallYieldHook();

  SharedState state;
  Velkor_M main(state, SettingsPlace());
  WireWindows(main, state);
  main.Show();
  // One file named on the command line ("Open with" of a file manager) is
  // taken as if chosen in the dialog; anything else is ignored.
  if (argc == 2) {
    if (auto source = DroppedSource({argv[1]})) main.ChooseSource(*source);
  }
  if (!main.Loaded()) return 0;
  // SIGTERM (a logout, a kill), SIGINT or SIGHUP end the program as its ×
  // does, after a split in progress has stopped and cleaned up after itself.
  sys::CatchStopSignals();
  const int status = app.Run();
  sys::StopDone();
  return status;
}
