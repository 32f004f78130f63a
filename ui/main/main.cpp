// velkor: the windowed program.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/qt/runtime.h"
#include "platform/system/system.h"
#include "ui/main/app.h"

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("velkor %s\n", VELKOR_VERSION);
    return 0;
  }
  // Only one copy runs: a second one ends here, before any window.
  if (!qtplat::AcquireSingleInstance()) return 0;

  qtplat::Application app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("Velkor"));
  QCoreApplication::setApplicationVersion(QStringLiteral(VELKOR_VERSION));
  qtplat::InstallYieldHook();

  SharedState state;
  Velkor_M main(state, LocateSettings(sys::ProgramFolder(), std::getenv("XDG_CONFIG_HOME"),
                                      std::getenv("HOME")));
  WireWindows(main, state);
  main.Show();
  // One file named on the command line ("Open with" of a file manager) is
  // taken as if chosen in the dialog; anything else is ignored.
  if (argc == 2) {
    std::error_code ec;
    const auto path = std::filesystem::absolute(argv[1], ec);
    if (!ec) {
      const QList<QUrl> urls{QUrl::fromLocalFile(QString::fromStdString(path.string()))};
      if (auto source = DroppedSource(urls)) main.ChooseSource(*source);
    }
  }
  if (!main.Loaded()) return 0;
  return app.exec();
}
