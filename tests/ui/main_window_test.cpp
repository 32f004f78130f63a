// The main window: start-up, commands, close, drag, source selection,
// thumbnails, the frame list and the output options.
#include <fcntl.h>
#include <gif_lib.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDropEvent>
#include <QFontInfo>
#include <QMimeData>
#include <QUrl>

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/qt/runtime.h"
#include "platform/system/system.h"
#include "tests/support/skin_sums.h"
#include "tests/ui/uitest.h"
#include "tools/gifgen/gifgen.h"

using namespace uitest;
using testutil::TempDir;

namespace {

std::string ReadText(const std::string& path) {
  const auto b = testutil::ReadFile(path);
  return std::string(b.begin(), b.end());
}

class MainWindow : public WindowTest {
 protected:
  // The dialog answers `path` (or is cancelled when empty) and command 0 runs.
  void Choose(const std::string& path) {
    qtplat::SetOpenFileHook([path, this](const qtplat::OpenFileRequest& r) {
      lastRequest = r;
      return path.empty() ? std::nullopt : std::optional<std::string>(path);
    });
    Click(main->lbl_Cmd[0]);
  }
  qtplat::OpenFileRequest lastRequest;
};

}  // namespace

TEST_F(MainWindow, StartsCentredWithRunsDisabledAndOptionsFromTheSettings) {
  qtplat::SetScreenSizeOverride({1280, 1024});
  Velkor_M& m = OpenMain("[Section]\nPass=/pics\nFile= 0\nTrans= 1\n");
  EXPECT_EQ(m.geometry(), QRect((1280 - 513) / 2, (1024 - 353) / 2, 513, 353));
  EXPECT_TRUE(m.CommandEnabled(0));
  EXPECT_FALSE(m.CommandEnabled(1));
  EXPECT_FALSE(m.CommandEnabled(2));
  EXPECT_FALSE(m.CommandEnabled(3));
  EXPECT_TRUE(m.CommandEnabled(4));
  EXPECT_EQ(state.LastFolder, "/pics");
  EXPECT_TRUE(SamePixmap(m.Img_File[0]->Picture(), m.Img_Opt_On));
  EXPECT_TRUE(SamePixmap(m.Img_File[1]->Picture(), m.Img_Opt_Off));
  EXPECT_TRUE(SamePixmap(m.Img_Trans->Picture(), m.Img_Ra[1]));
  for (auto* face : m.Img_Cmd) EXPECT_TRUE(SamePixmap(face->Picture(), m.Img_Off));
  // The captions are drawn in the Japanese stand-in face, not a fallback.
  EXPECT_EQ(QFontInfo(m.lbl_Cmd[0]->font()).family(), "IPAPGothic");
  // Bevels on both thumbnails: the raised edge's white top-left.
  EXPECT_EQ(m.Pic_Velkor_Box.Point(0, 0), gdi::GetSysColor(gdi::COLOR_3DLIGHT));
}

TEST_F(MainWindow, OutOfRangeSettingsLeaveThePicturesEmptyAndStartUpGoesOn) {
  Velkor_M& m = OpenMain("[Section]\nFile= 5\nTrans=-1\n");
  EXPECT_EQ(state.OutputFileType, 5);
  EXPECT_TRUE(m.Img_File[0]->Picture().isNull());
  EXPECT_TRUE(m.Img_File[1]->Picture().isNull());
  EXPECT_TRUE(m.Img_Trans->Picture().isNull());
  EXPECT_FALSE(m.CommandEnabled(1));  // the steps after them ran
  EXPECT_EQ(m.ListExtent, m.lstFiles->HorizontalExtent());
}

TEST_F(MainWindow, ListExtentAndBackgroundTiling) {
  Velkor_M& m = OpenMain();
  if (qtplat::TwipsPerPixelX() != 15.0) GTEST_SKIP() << "the screen is not 96 dpi";
  EXPECT_EQ(m.ListExtent, 625);  // 381 / 15 + 600, not 381 + 600

  std::vector<int> firstColumn;
  for (platform::Point p : Velkor_M::TilePositions(513, 333, 579, 21)) {
    if (p.x == 0) firstColumn.push_back(p.y);
  }
  std::vector<int> expected;
  for (int y = 0; y <= 336; y += 21) expected.push_back(y);
  EXPECT_EQ(firstColumn, expected);
  // The panel's last row is row 333 - 1 - 315 = 17 of the strip.
  EXPECT_EQ(m.Pic_C_Box.Point(5, 332), m.Pic_Mbl.Point(5, 17));
  EXPECT_EQ(m.Pic_C_Box.Point(512, 0), m.Pic_Mbl.Point(512, 0));
}

TEST_F(MainWindow, CommandFacesPressAndReleaseAndAnyButtonRunsTheCommand) {
  Velkor_M& m = OpenMain();
  m.lbl_Cmd[3]->setEnabled(true);
  std::vector<bool> faceAtRest;
  m.ShowGalleryWindow = [&] {
    faceAtRest.push_back(SamePixmap(m.Img_Cmd[3]->Picture(), m.Img_Off));
  };

  Mouse(m.lbl_Cmd[3], QEvent::MouseButtonPress, Qt::LeftButton);
  EXPECT_TRUE(SamePixmap(m.Img_Cmd[3]->Picture(), m.Img_On));
  EXPECT_TRUE(faceAtRest.empty());
  // Released far outside the caption: the caption has the mouse, so it runs.
  Mouse(m.lbl_Cmd[3], QEvent::MouseButtonRelease, Qt::LeftButton, {400, -200});
  EXPECT_EQ(faceAtRest, std::vector<bool>{true});

  Click(m.lbl_Cmd[3], Qt::RightButton);
  Click(m.lbl_Cmd[3], Qt::MiddleButton);
  EXPECT_EQ(faceAtRest.size(), 3u);

  // A disabled caption takes no press at all.
  m.lbl_Cmd[3]->setEnabled(false);
  Click(m.lbl_Cmd[3]);
  EXPECT_EQ(faceAtRest.size(), 3u);
  EXPECT_TRUE(SamePixmap(m.Img_Cmd[3]->Picture(), m.Img_Off));
}

TEST_F(MainWindow, CloseButtonKeepsTheSettingsFileAndCommandFourRewritesIt) {
  const std::string original = "[Section]\nPass=/old\nFile= 1\nTrans= 0\n";
  {
    Velkor_M& m = OpenMain(original);
    m.ChooseOutputType(0);
    Mouse(&m.ImgExit, QEvent::MouseButtonPress, Qt::RightButton);
    EXPECT_TRUE(SamePixmap(m.ImgExit.Picture(), m.imgImages[1]));
    Mouse(&m.ImgExit, QEvent::MouseButtonRelease, Qt::RightButton, {50, 50});
    EXPECT_TRUE(SamePixmap(m.ImgExit.Picture(), m.imgImages[0]));
    EXPECT_FALSE(m.Loaded());
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(ReadText(SettingsPath()), original);
  }
  {
    Velkor_M& m = OpenMain();
    m.ChooseOutputType(0);
    m.ToggleTransparency();
    state.LastFolder = "/new/place";
    Click(m.lbl_Cmd[4]);
    EXPECT_FALSE(m.Loaded());
    EXPECT_EQ(ended, 2);
    EXPECT_EQ(ReadText(SettingsPath()), "[Section]\nPass=/new/place\nFile= 0\nTrans= 1\n");
  }
  {
    // Settings that cannot be written still end the program, and say why.
    Velkor_M& m = OpenMain();
    std::filesystem::remove(SettingsPath());
    std::filesystem::create_directory(SettingsPath());
    std::vector<std::string> lines;
    const sys::ScopedDiagnosticHook diagnostics(
        [&](const std::string& line) { lines.push_back(line); });
    Click(m.lbl_Cmd[4]);
    EXPECT_FALSE(m.Loaded());
    EXPECT_EQ(lines, std::vector<std::string>{"the settings were not saved: " + SettingsPath() +
                                              ": cannot write: Is a directory"});
    std::filesystem::remove(SettingsPath());
    const std::string kept = "[Section]\nPass=/new/place\nFile= 0\nTrans= 1\n";
    testutil::WriteFile(SettingsPath(), testutil::Bytes(kept.begin(), kept.end()));
  }
  // The options come back at the next start.
  state = SharedState{};
  Velkor_M& again = OpenMain();
  EXPECT_EQ(state.LastFolder, "/new/place");
  EXPECT_EQ(state.OutputFileType, 0);
  EXPECT_TRUE(SamePixmap(again.Img_File[0]->Picture(), again.Img_Opt_On));
  EXPECT_TRUE(SamePixmap(again.Img_Trans->Picture(), again.Img_Ra[1]));
}

TEST_F(MainWindow, DragFollowsThePointerByWholePixelsOnlyWithTheLeftButton) {
  Velkor_M& m = OpenMain();
  m.move(100, 100);
  const QPoint start = m.pos();
  Mouse(&m.Image1, QEvent::MouseButtonPress, Qt::RightButton, {30, 5});
  Mouse(&m.Image1, QEvent::MouseMove, Qt::NoButton, {90, 45}, Qt::RightButton);
  EXPECT_EQ(m.pos(), start);
  Mouse(&m.Image1, QEvent::MouseButtonRelease, Qt::RightButton, {90, 45});

  Mouse(&m.Image1, QEvent::MouseButtonPress, Qt::LeftButton, {30, 5});
  EXPECT_EQ(m.Drag.DragActive, 1);
  Mouse(&m.Image1, QEvent::MouseMove, Qt::NoButton, {37, 2}, Qt::LeftButton);
  EXPECT_EQ(m.pos(), start + QPoint(7, -3));  // the grab point stays under the pointer
  // A release of any button ends the drag.
  Mouse(&m.Image1, QEvent::MouseButtonRelease, Qt::RightButton, {37, 2}, Qt::LeftButton);
  EXPECT_EQ(m.Drag.DragActive, 0);
  const QPoint after = m.pos();
  Mouse(&m.Image1, QEvent::MouseMove, Qt::NoButton, {80, 80});
  EXPECT_EQ(m.pos(), after);
}

TEST(SingleInstance, ASecondCopyEndsAtOnceWithoutAWindow) {
  TempDir runtime;
  const std::string env = "XDG_RUNTIME_DIR=" + runtime.path() +
                          " XDG_CONFIG_HOME=" + runtime.path() + " QT_QPA_PLATFORM=offscreen ";
  const pid_t first = ::fork();
  ASSERT_GE(first, 0);
  if (first == 0) {
    ::execl("/bin/sh", "sh", "-c", (env + "exec " VELKOR_BIN " >/dev/null 2>&1").c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  // Wait until the first copy holds the lock.
  const std::string lock = runtime.File("Velkor.lock");
  bool held = false;
  for (int i = 0; i < 200 && !held; ++i) {
    const int fd = ::open(lock.c_str(), O_RDONLY);
    if (fd >= 0) {
      held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
      ::close(fd);
    }
    if (!held) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_TRUE(held) << "the first copy never took the lock";
  // The second copy is given a window system that cannot start: it must end
  // before it asks for one.
  const auto t0 = std::chrono::steady_clock::now();
  const int rc = std::system(("XDG_RUNTIME_DIR=" + runtime.path() +
                              " QT_QPA_PLATFORM=no-such-platform " VELKOR_BIN " >/dev/null 2>&1")
                                 .c_str());
  EXPECT_TRUE(WIFEXITED(rc) && WEXITSTATUS(rc) == 0) << rc;
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(20));
  ::kill(first, SIGTERM);
  int status = 0;
  ::waitpid(first, &status, 0);
  // With the first copy gone, a copy starts normally again (and asks for
  // the window system, which fails here).
  const int again = std::system(("XDG_RUNTIME_DIR=" + runtime.path() +
                                 " QT_QPA_PLATFORM=no-such-platform " VELKOR_BIN " >/dev/null 2>&1")
                                    .c_str());
  EXPECT_FALSE(WIFEXITED(again) && WEXITSTATUS(again) == 0);
}

// ---------------------------------------------------------------- source selection

TEST_F(MainWindow, ChoosingAFileShowsItsPathThumbnailAndEnablesTheRuns) {
  Velkor_M& m = OpenMain("[Section]\nPass=" + dir.path() + "\n");
  m.lbl_Cmd[3]->setEnabled(true);
  struct Case {
    int w, h, tw, th;
  };
  for (const Case c : {Case{200, 100, 90, 45}, Case{100, 200, 45, 90}, Case{64, 64, 90, 90},
                       Case{30, 20, 90, 60}}) {
    const std::string file = dir.File(std::to_string(c.w) + "x" + std::to_string(c.h) + ".gif");
    WriteAnimation(file, c.w, c.h, 2);
    Choose(file);
    EXPECT_EQ(m.lbl_Path->Caption(), file);
    EXPECT_EQ(state.ImageWidth, c.w);
    EXPECT_EQ(state.ImageHeight, c.h);
    EXPECT_EQ(m.Pic_Velkor_Box.Width(), c.tw) << c.w << "x" << c.h;
    EXPECT_EQ(m.Pic_Velkor_Box.Height(), c.th) << c.w << "x" << c.h;
    EXPECT_EQ(m.Pic_Velkor->size(), QSize(c.tw, c.th));
    EXPECT_TRUE(m.Pic_Velkor->isVisible());
  }
  EXPECT_EQ(lastRequest.title, "ｱﾆﾒｰｼｮﾝ Gifﾌｧｲﾙを選択");
  EXPECT_EQ(lastRequest.filterDescription, "ｱﾆﾒｰｼｮﾝGifﾌｧｲﾙ (gif)");
  EXPECT_EQ(lastRequest.pattern, "*.gif");
  EXPECT_EQ(lastRequest.initialDir, dir.path());  // then the folder of the choice
  EXPECT_TRUE(m.CommandEnabled(1));
  EXPECT_TRUE(m.CommandEnabled(2));
  EXPECT_FALSE(m.CommandEnabled(3));
  EXPECT_TRUE(qtplat::MatchesPattern("ANIM.GIF", "*.gif"));
  EXPECT_FALSE(qtplat::MatchesPattern("anim.gif.png", "*.gif"));
}

TEST_F(MainWindow, FolderAndBaseNameOfTheChosenFile) {
  Velkor_M& m = OpenMain();
  struct Case {
    const char *path, *folder, *base;
  };
  for (const Case c : {Case{"/pics/anim.old.gif", "/pics", "/pics/anim"}, Case{"/a.gif", "", "/a"},
                       Case{"/pics/walk", "/pics", "/pics/walk"},
                       Case{"/pics/.hidden.gif", "/pics", "/pics/.hidden"}}) {
    Choose(c.path);  // files that do not exist: the names come from the path
    EXPECT_EQ(state.LastFolder, c.folder) << c.path;
    EXPECT_EQ(state.OutputBaseName, c.base) << c.path;
  }
  EXPECT_TRUE(m.CommandEnabled(1));
}

TEST_F(MainWindow, ACancelledDialogKeepsEverythingButTheClearedList) {
  Velkor_M& m = OpenMain();
  const std::string file = dir.File("a.gif");
  WriteAnimation(file, 40, 30, 2);
  Choose(file);
  m.lstFilesModel.AddItem(dir.File("a_001.gif"));
  m.lbl_Cmd[3]->setEnabled(true);  // as after a split
  const auto thumb = m.Pic_Velkor_Box.Point(45, 30);
  Choose("");
  EXPECT_EQ(state.ApiResult, 0);
  EXPECT_EQ(m.lbl_Path->Caption(), file);
  EXPECT_TRUE(m.CommandEnabled(1));
  EXPECT_TRUE(m.CommandEnabled(3));
  EXPECT_EQ(m.Pic_Velkor_Box.Point(45, 30), thumb);
  EXPECT_EQ(m.lstFilesModel.ListCount(), 0);
  EXPECT_EQ(m.lstFiles->count(), 0);
}

TEST_F(MainWindow, AnUnreadableFileStillEnablesTheRunsOnThePreviousPicture) {
  Velkor_M& m = OpenMain();
  // Nothing loaded yet: the loader's empty 49 x 49 design size is measured.
  Choose(dir.File("missing.gif"));
  EXPECT_EQ(state.ImageWidth, 49);
  EXPECT_EQ(m.Pic_Velkor_Box.Width(), 90);
  EXPECT_TRUE(m.CommandEnabled(2));

  const std::string file = dir.File("b.gif");
  WriteAnimation(file, 30, 20, 2);
  Choose(file);
  const auto thumb = m.Pic_Velkor_Box.Point(40, 30);
  testutil::WriteFile(dir.File("junk.gif"), {'n', 'o', 't', ' ', 'a', ' ', 'g', 'i', 'f'});
  Choose(dir.File("junk.gif"));
  EXPECT_EQ(m.lbl_Path->Caption(), dir.File("junk.gif"));
  EXPECT_EQ(state.ImageWidth, 30);
  EXPECT_EQ(state.ImageHeight, 20);
  EXPECT_EQ(m.Pic_Velkor_Box.Point(40, 30), thumb);
  EXPECT_EQ(state.OutputBaseName, dir.File("junk"));
}

TEST_F(MainWindow, ChoosingAListEntryDrawsItsThumbnailAndKeepsTheSourceSize) {
  Velkor_M& m = OpenMain();
  const std::string source = dir.File("src.gif"), entry = dir.File("wide.gif");
  WriteAnimation(source, 40, 30, 2);
  WriteAnimation(entry, 200, 100, 1);
  Choose(source);
  m.lstFilesModel.AddItem(entry);
  m.lstFiles->setCurrentRow(-1);  // a notification with no selection does nothing
  EXPECT_EQ(m.Pic_Gif_Box.Width(), 90);
  EXPECT_EQ(m.Pic_Gif_Box.Height(), 90);
  m.lstFiles->setCurrentRow(0);
  EXPECT_EQ(m.Pic_Gif_Box.Width(), 90);
  EXPECT_EQ(m.Pic_Gif_Box.Height(), 45);
  EXPECT_EQ(state.ImageWidth, 40);
  EXPECT_EQ(state.ImageHeight, 30);
  EXPECT_EQ(m.Pic_Dmy.Width(), 200);  // the loader holds the entry's picture
}

TEST_F(MainWindow, ThumbnailOfACorpusFileIsANearestNeighbourScalingUnderTheBevel) {
  const std::string corpus = testutil::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no ../shared/corpus beside this checkout";
  const std::string file = corpus + "/pillow-tests-images/chi.gif";
  if (!std::filesystem::exists(file)) GTEST_SKIP() << "corpus file missing: " << file;

  // The first image as giflib reads it, independently of the program.
  int err = 0;
  GifFileType* gif = DGifOpenFileName(file.c_str(), &err);
  ASSERT_NE(gif, nullptr);
  ASSERT_EQ(DGifSlurp(gif), GIF_OK);
  const SavedImage& img = gif->SavedImages[0];
  const int w = img.ImageDesc.Width, h = img.ImageDesc.Height;
  const ColorMapObject* map = img.ImageDesc.ColorMap ? img.ImageDesc.ColorMap : gif->SColorMap;

  Velkor_M& m = OpenMain();
  Choose(file);
  const int tw = m.Pic_Velkor_Box.Width(), th = m.Pic_Velkor_Box.Height();
  ASSERT_EQ(std::max(tw, th), 90);
  int compared = 0;
  for (int y = 0; y < th; ++y) {
    for (int x = 0; x < tw; ++x) {
      if (x < 2 || y < 2 || x >= tw - 2 || y >= th - 2) continue;  // the bevel
      const int sx = x * w / tw, sy = y * h / th;
      const GifColorType c = map->Colors[img.RasterBits[sy * w + sx]];
      ASSERT_EQ(m.Pic_Velkor_Box.Point(x, y), gdi::RGB(c.Red, c.Green, c.Blue)) << x << "," << y;
      ++compared;
    }
  }
  EXPECT_GT(compared, 80 * 60);
  // The bevel's outer ring: light top-left, dark bottom-right.
  EXPECT_EQ(m.Pic_Velkor_Box.Point(10, 0), gdi::GetSysColor(gdi::COLOR_3DLIGHT));
  EXPECT_EQ(m.Pic_Velkor_Box.Point(10, th - 1), gdi::GetSysColor(gdi::COLOR_3DDKSHADOW));
  DGifCloseFile(gif, &err);
}

TEST_F(MainWindow, OptionsActOnPictureAndCaptionAlike) {
  Velkor_M& m = OpenMain();
  Mouse(m.lbl_File[0], QEvent::MouseButtonPress, Qt::RightButton);
  EXPECT_EQ(state.OutputFileType, 0);
  EXPECT_TRUE(SamePixmap(m.Img_File[0]->Picture(), m.Img_Opt_On));
  EXPECT_TRUE(SamePixmap(m.Img_File[1]->Picture(), m.Img_Opt_Off));
  Mouse(m.Img_File[1], QEvent::MouseButtonPress, Qt::MiddleButton);
  EXPECT_EQ(state.OutputFileType, 1);
  EXPECT_TRUE(SamePixmap(m.Img_File[1]->Picture(), m.Img_Opt_On));

  Mouse(m.lbl_Trans, QEvent::MouseButtonPress, Qt::LeftButton);
  EXPECT_EQ(state.TransparentOption, 1);
  EXPECT_TRUE(SamePixmap(m.Img_Trans->Picture(), m.Img_Ra[1]));
  Mouse(m.lbl_Trans, QEvent::MouseButtonPress, Qt::LeftButton);
  EXPECT_EQ(state.TransparentOption, 0);
  EXPECT_TRUE(SamePixmap(m.Img_Trans->Picture(), m.Img_Ra[0]));

  // An out-of-range value has only its lowest bit flipped; the picture stays.
  state.TransparentOption = 5;
  Mouse(m.Img_Trans, QEvent::MouseButtonPress, Qt::LeftButton);
  EXPECT_EQ(state.TransparentOption, 4);
  Mouse(m.Img_Trans, QEvent::MouseButtonPress, Qt::LeftButton);
  EXPECT_EQ(state.TransparentOption, 5);
  EXPECT_TRUE(SamePixmap(m.Img_Trans->Picture(), m.Img_Ra[0]));
  state.OutputFileType = 7;
  Mouse(m.lbl_File[0], QEvent::MouseButtonPress, Qt::LeftButton);
  EXPECT_EQ(state.OutputFileType, 0);  // choosing always repairs the type
}

TEST_F(MainWindow, ADroppedGifActsLikeADialogChoice) {
  Velkor_M& m = OpenMain();
  const std::string file = dir.File("DROP.GIF");
  WriteAnimation(file, 40, 30, 2);
  std::filesystem::create_directories(dir.File("folder.gif"));
  testutil::WriteFile(dir.File("x.png"), {1});
  auto url = [](const std::string& p) { return QUrl::fromLocalFile(QString::fromStdString(p)); };
  EXPECT_FALSE(DroppedSource({file, file}));
  EXPECT_FALSE(DroppedSource({dir.File("folder.gif")}));
  EXPECT_FALSE(DroppedSource({dir.File("x.png")}));
  EXPECT_FALSE(DroppedSource({""}));  // a dropped item that is not a local file
  EXPECT_EQ(DroppedSource({dir.File("folder.gif/../DROP.GIF")}), file);

  m.lstFilesModel.AddItem("old entry");
  QMimeData data;
  data.setUrls({url(file)});
  QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&m, &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&m, &drop);
  EXPECT_TRUE(drop.isAccepted());
  EXPECT_EQ(m.lbl_Path->Caption(), file);
  EXPECT_EQ(state.ImageWidth, 40);
  EXPECT_EQ(state.OutputBaseName, dir.File("DROP"));
  EXPECT_TRUE(m.CommandEnabled(2));
  EXPECT_EQ(m.lstFilesModel.ListCount(), 0);
  // A web address or a picture of another type is refused as the drag enters.
  for (const QUrl& other : {QUrl("https://example.invalid/a.gif"), url(dir.File("x.png"))}) {
    data.setUrls({other});
    QDragEnterEvent refused(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton,
                            Qt::NoModifier);
    refused.ignore();
    QApplication::sendEvent(&m, &refused);
    EXPECT_FALSE(refused.isAccepted());
  }
}

TEST(EventBoundary, AnExceptionLeavingAHandlerEndsOnlyThatStep) {
  // Running out of memory inside a handler, anywhere the runs and the
  // picture loads do not refuse it themselves, ends that step only: the
  // control, its window and the program carry on.
  QWidget window;
  qtplat::ImageControl control(&window);
  int presses = 0, releases = 0;
  control.Mouse.MouseDown = [&](const qtplat::MouseArgs&) {
    ++presses;
    throw std::bad_alloc();
  };
  control.Mouse.MouseUp = [&](const qtplat::MouseArgs&) { ++releases; };
  Click(&control);
  Click(&control);
  EXPECT_EQ(presses, 2);
  EXPECT_EQ(releases, 2);
  qtplat::Timer timer;
  int ticks = 0;
  timer.Tick = [&] {
    ++ticks;
    timer.Enabled(false);
    throw std::bad_alloc();
  };
  timer.Enabled(true);
  for (int i = 0; i < 100 && ticks == 0; ++i) QCoreApplication::processEvents();
  EXPECT_EQ(ticks, 1);
}

TEST(Skin, EveryPictureDecodesToItsKnownPixels) {
  // The same pixels the Windows build decodes from its resources.
  for (const auto& s : testutil::SkinSums()) {
    const QImage image = qtplat::SkinPixmap(QString::fromUtf8(s.name))
                             .toImage()
                             .convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(image.width(), s.width) << s.name;
    ASSERT_EQ(image.height(), s.height) << s.name;
    ASSERT_EQ(image.bytesPerLine(), 4 * s.width);
    EXPECT_EQ(testutil::PixelSum(reinterpret_cast<const std::uint32_t*>(image.constBits()),
                                 std::size_t(s.width) * std::size_t(s.height)),
              s.sum)
        << s.name;
  }
}
