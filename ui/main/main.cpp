// velkor: the windowed program.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/system/system.h"
#include "platform/window/window.h"
#include "ui/main/app.h"

int main(int argc, char** argv) {
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
  Velkor_M main(state, LocateSettings(sys::ProgramFolder(), std::getenv("XDG_CONFIG_HOME"),
                                      std::getenv("HOME")));
  WireWindows(main, state);
  main.Show();
  // One file named on the command line ("Open with" of a file manager) is
  // taken as if chosen in the dialog; anything else is ignored.
  if (argc == 2) {
    if (auto source = DroppedSource({argv[1]})) main.ChooseSource(*source);
  }
  if (!main.Loaded()) return 0;
  return app.Run();
}
