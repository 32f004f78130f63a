#include "tests/ui/uitest.h"

#include <QApplication>
#include <QCoreApplication>

#include <filesystem>

#include "platform/qt/runtime.h"
#include "platform/system/system.h"
#include "tools/gifgen/gifgen.h"
#include "ui/main/app.h"

namespace uitest {

void Mouse(QWidget* w, QEvent::Type type, Qt::MouseButton button, QPoint local,
           Qt::MouseButtons held) {
  const QPointF global = w->mapToGlobal(QPointF(local));
  Qt::MouseButtons buttons = held;
  if (type == QEvent::MouseButtonPress) buttons |= button;
  QMouseEvent e(type, QPointF(local), global, button, buttons, Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}

void Click(QWidget* w, Qt::MouseButton button, QPoint local) {
  QPointer<QWidget> guard(w);
  Mouse(w, QEvent::MouseButtonPress, button, local);
  if (guard) Mouse(w, QEvent::MouseButtonRelease, button, local);
}

bool SamePixmap(const QPixmap& a, const QPixmap& b) {
  if (a.isNull() || b.isNull()) return a.isNull() == b.isNull();
  return a.toImage() == b.toImage();
}

void WriteAnimation(const std::string& path, int w, int h, int frames) {
  ASSERT_TRUE(gifgen::WriteFile(path, gifgen::Encode(gifgen::Moving(w, h, frames))));
}

void WindowTest::SetUp() {
  qtplat::SetZoomDuration(0);
  qtplat::InstallYieldHook();
  sys::SetSleepHook([](std::int64_t) {});
  qtplat::SetScreenSizeOverride({});
}

void WindowTest::TearDown() {
  main.reset();
  qtplat::SetMessageBoxHook({});
  qtplat::SetOpenFileHook({});
  qtplat::SetZoomObserver({});
  qtplat::SetScreenSizeOverride({});
  sys::SetSleepHook({});
  sys::SetYieldHook({});
  QCoreApplication::processEvents();
}

Velkor_M& WindowTest::OpenMain(const std::string& settingsText) {
  std::filesystem::create_directories(dir.File("cfg"));
  if (!settingsText.empty()) {
    testutil::WriteFile(SettingsPath(), testutil::Bytes(settingsText.begin(), settingsText.end()));
  }
  main = std::make_unique<Velkor_M>(state, SettingsFiles{SettingsPath(), SettingsPath()});
  WireWindows(*main, state);
  main->EndProgram = [this] { ++ended; };
  main->Show();
  return *main;
}

}  // namespace uitest

int main(int argc, char** argv) {
  // Windows are tested without a display; screenshots are taken elsewhere.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  qtplat::Application app(argc, argv);
  return RUN_ALL_TESTS();
}
