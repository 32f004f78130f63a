// Support for the window tests: a Qt application on the offscreen platform,
// a fixture that makes runs instant and resets every seam, and real mouse
// events delivered the way the window system delivers them.
#pragma once

#include <gtest/gtest.h>

#include <QImage>
#include <QMouseEvent>
#include <QPixmap>
#include <QWidget>

#include <string>

#include "settings/settings.h"
#include "tests/support/testutil.h"
#include "ui/main/velkor_m.h"

namespace uitest {

// Sends a mouse event to `w` at `local` (a point inside or outside it), with
// the global position the window system would give.
void Mouse(QWidget* w, QEvent::Type type, Qt::MouseButton button, QPoint local = {2, 2},
           Qt::MouseButtons held = Qt::NoButton);
void Click(QWidget* w, Qt::MouseButton button = Qt::LeftButton, QPoint local = {2, 2});

bool SamePixmap(const QPixmap& a, const QPixmap& b);

// A GIF of `frames` frames of w x h written to `path`.
void WriteAnimation(const std::string& path, int w, int h, int frames);

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // A main window with settings in the test's own folder, loaded and shown.
  Velkor_M& OpenMain(const std::string& settingsText = "");
  std::string SettingsPath() const { return dir.File("cfg/Velkor.ini"); }
  testutil::TempDir dir;
  SharedState state;
  std::unique_ptr<Velkor_M> main;
  int ended = 0;  // times the main window ended the program
};

}  // namespace uitest
