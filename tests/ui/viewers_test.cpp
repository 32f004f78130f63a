// The preview/split window and the gallery, driven from the main window.
#include <QApplication>
#include <QTimer>

#include <chrono>
#include <csignal>
#include <thread>

#include <filesystem>

#include "engine/run.h"
#include "platform/qt/runtime.h"
#include "platform/system/system.h"
#include "tests/ui/uitest.h"
#include "tools/gifgen/gifgen.h"
#include "ui/viewers/velkor_g.h"
#include "ui/viewers/velkor_v.h"

using namespace uitest;
namespace fs = std::filesystem;

namespace {

template <typename W>
W* OpenWindow() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    auto* v = dynamic_cast<W*>(w);
    if (v != nullptr && v->Loaded()) return v;
  }
  return nullptr;
}

class Viewers : public WindowTest {
 protected:
  // Chooses `file` in the main window as the dialog would.
  void Source(const std::string& file) {
    if (!main) OpenMain();
    qtplat::SetOpenFileHook([file](const qtplat::OpenFileRequest&) { return file; });
    Click(main->lbl_Cmd[0]);
  }
  std::vector<std::string> Files(const std::string& folder, const std::string& prefix) {
    std::vector<std::string> out;
    for (const auto& n : testutil::ListDir(folder)) {
      if (n.rfind(prefix, 0) == 0) out.push_back(n);
    }
    return out;
  }
};

// What velkor-split writes for `source` with `args`, run in its own folder.
std::vector<std::pair<std::string, testutil::Bytes>> SplitWithCli(const std::string& source,
                                                                  const std::string& args,
                                                                  testutil::TempDir& dir) {
  const std::string copy = dir.File("anim.gif");
  fs::copy_file(source, copy, fs::copy_options::overwrite_existing);
  const std::string cmd = std::string(VELKOR_SPLIT) + " " + args + " '" + copy + "' >/dev/null";
  EXPECT_EQ(std::system(cmd.c_str()), 0);
  std::vector<std::pair<std::string, testutil::Bytes>> out;
  for (const auto& n : testutil::ListDir(dir.path())) {
    if (n != "anim.gif") out.emplace_back(n, testutil::ReadFile(dir.File(n)));
  }
  return out;
}

}  // namespace

TEST_F(Viewers, APreviewPlaysOnceWritesNothingAndClosesByItself) {
  const std::string file = dir.File("anim.gif");
  WriteAnimation(file, 40, 30, 3);
  Source(file);
  int waits = 0;
  Velkor_V* seen = nullptr;
  sys::SetSleepHook([&](std::int64_t) {
    ++waits;
    seen = OpenWindow<Velkor_V>();
  });
  std::vector<std::pair<QRect, QRect>> zooms;
  qtplat::SetZoomObserver([&](const QRect& a, const QRect& b) { zooms.emplace_back(a, b); });
  Click(main->lbl_Cmd[1]);
  EXPECT_EQ(waits, 3);
  ASSERT_NE(seen, nullptr);
  EXPECT_EQ(OpenWindow<Velkor_V>(), nullptr);  // closed by itself
  EXPECT_EQ(Files(dir.path(), "anim_"), std::vector<std::string>{});
  EXPECT_EQ(state.RunMode, 0);
  EXPECT_EQ(state.SourcePath, file);
  EXPECT_FALSE(main->CommandEnabled(3));
  // It zoomed open from the release point and closed back into it.
  ASSERT_EQ(zooms.size(), 2u);
  EXPECT_EQ(zooms[0].first.topLeft(), main->lbl_Cmd[1]->mapToGlobal(QPoint(2, 2)));
  EXPECT_EQ(zooms[1].second.topLeft(), zooms[0].first.topLeft());
  EXPECT_EQ(zooms[0].second.size(), QSize(40, 30));
}

TEST_F(Viewers, ASplitWritesTheSameFilesAsTheCommandLineSplitter) {
  const std::string source = dir.File("walk.gif");
  gifgen::Animation anim = gifgen::Moving(48, 36, 4, /*localTables=*/true);
  anim.frames[1].transparentIndex = 3;
  anim.frames[2].disposal = 2;
  ASSERT_TRUE(gifgen::WriteFile(source, gifgen::Encode(anim)));
  struct Mode {
    int type, trans;
    const char* args;
    const char* ext;
  };
  for (const Mode mode : {Mode{1, 0, "--gif", ".gif"}, Mode{1, 1, "--gif --transparent", ".gif"},
                          Mode{0, 1, "--bmp", ".bmp"}}) {
    SCOPED_TRACE(mode.args);
    testutil::TempDir cliDir;
    const auto expected = SplitWithCli(source, mode.args, cliDir);
    ASSERT_EQ(expected.size(), 4u);

    Source(source);
    if (state.OutputFileType != mode.type) main->ChooseOutputType(mode.type);
    if (state.TransparentOption != mode.trans) main->ToggleTransparency();
    std::vector<int> listedWhilePlaying;
    sys::SetSleepHook([&](std::int64_t) { listedWhilePlaying.push_back(main->lstFiles->count()); });
    Click(main->lbl_Cmd[2]);
    // The list fills as the files are written, never ahead of the frames
    // played: before frame k's wait at most k - 1 files are listed.
    ASSERT_EQ(listedWhilePlaying.size(), 4u);
    for (std::size_t k = 0; k < listedWhilePlaying.size(); ++k) {
      EXPECT_LE(listedWhilePlaying[k], int(k));
      if (k > 0) {
        EXPECT_GE(listedWhilePlaying[k], listedWhilePlaying[k - 1]);
      }
    }

    std::vector<std::string> listed;
    for (int i = 0; i < main->lstFilesModel.ListCount(); ++i) {
      listed.push_back(main->lstFilesModel.List(i));
    }
    ASSERT_EQ(listed.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
      const std::string name = "walk" + expected[i].first.substr(4);  // anim_00N -> walk_00N
      EXPECT_EQ(listed[i], dir.File(name));
      EXPECT_EQ(name.substr(name.size() - 4), mode.ext);
      EXPECT_TRUE(testutil::ReadFile(dir.File(name)) == expected[i].second) << name;
      fs::remove(dir.File(name));
    }
    // After the split: gallery on, the entry thumbnail emptied to 90 x 90.
    EXPECT_TRUE(main->CommandEnabled(3));
    EXPECT_EQ(main->Pic_Gif_Box.Width(), 90);
    EXPECT_EQ(main->Pic_Gif_Box.Point(45, 45), gdi::RGB(0xE0, 0xE0, 0xE0));
    EXPECT_EQ(state.TransparentRun, mode.trans ? -1 : 0);
  }
}

TEST_F(Viewers, APressDuringASplitStopsItBeforeTheNextFrame) {
  const std::string file = dir.File("run.gif");
  WriteAnimation(file, 40, 30, 6);
  for (const Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton}) {
    Source(file);
    int waits = 0;
    sys::SetSleepHook([&](std::int64_t) {
      if (++waits == 3) {
        Velkor_V* v = OpenWindow<Velkor_V>();
        ASSERT_NE(v, nullptr);
        Mouse(&v->Master, QEvent::MouseButtonPress, button, {5, 5});  // passes to the window
        EXPECT_FALSE(v->Loaded());
      }
    });
    Click(main->lbl_Cmd[2]);
    EXPECT_EQ(waits, 3);
    EXPECT_EQ(Files(dir.path(), "run_"), (std::vector<std::string>{"run_001.gif", "run_002.gif"}));
    EXPECT_EQ(main->lstFilesModel.ListCount(), 2);
    EXPECT_TRUE(main->CommandEnabled(3));
    for (const auto& n : Files(dir.path(), "run_")) fs::remove(dir.File(n));
  }
}

TEST_F(Viewers, ASignalDuringASplitEndsTheProgramWithNothingLeftBehind) {
  const std::string file = dir.File("sig.gif");
  WriteAnimation(file, 40, 30, 10);
  const testutil::TempDir tmp;
  const testutil::ScopedTempFolder temporary(tmp.path());
  Source(file);
  if (state.OutputFileType != 0) main->ChooseOutputType(0);
  int waits = 0;
  sys::SetSleepHook([&](std::int64_t) {
    // Each frame waits long enough for the program's loop to see the
    // request (as a user's SIGTERM arrives while a split plays).
    if (++waits == 3) sys::RequestStop(SIGTERM);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
  });
  // The split runs inside the program's own event loop, as it does for a user.
  QTimer::singleShot(0, [&] { Click(main->lbl_Cmd[2]); });
  QTimer::singleShot(20000, [] { QCoreApplication::exit(-1); });  // a request never seen
  const int status = static_cast<qtplat::Application*>(QCoreApplication::instance())->Run();
  sys::ClearStopRequest();
  EXPECT_EQ(status, 128 + SIGTERM);
  // Frames 1 and 2 were written whole before the request; no later one was
  // begun, and no temporary or partial file is left.
  EXPECT_EQ(waits, 3);
  EXPECT_EQ(Files(dir.path(), "sig_"), (std::vector<std::string>{"sig_001.bmp", "sig_002.bmp"}));
  for (const auto& n : testutil::ListDir(dir.path())) {
    EXPECT_EQ(n.find(".part"), std::string::npos) << n;
  }
  EXPECT_TRUE(testutil::ListDir(tmp.path()).empty());
  EXPECT_EQ(main->lstFilesModel.ListCount(), 2);
}

TEST_F(Viewers, ASplitListsOnlyTheFramesWrittenAndSaysWhyTheOthersAreNot) {
  const std::string file = dir.File("hole.gif");
  WriteAnimation(file, 40, 30, 3);
  fs::create_directory(dir.File("hole_002.gif"));  // frame 2 cannot be written there
  Source(file);
  if (state.OutputFileType != 1) main->ChooseOutputType(1);
  sys::SetSleepHook([](std::int64_t) {});
  std::vector<std::string> lines;
  const sys::ScopedDiagnosticHook diagnostics(
      [&](const std::string& line) { lines.push_back(line); });
  Click(main->lbl_Cmd[2]);
  ASSERT_EQ(main->lstFilesModel.ListCount(), 2);
  EXPECT_EQ(main->lstFilesModel.List(0), dir.File("hole_001.gif"));
  EXPECT_EQ(main->lstFilesModel.List(1), dir.File("hole_003.gif"));
  EXPECT_EQ(lines,
            std::vector<std::string>{dir.File("hole_002.gif") + ": cannot write: Is a directory"});
}

TEST_F(Viewers, AFifoChosenAsTheFileIsRefusedAtOnce) {
  const std::string fifo = dir.File("pipe.gif");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  Source(fifo);  // a read would wait here for a writer that never comes
  std::vector<std::string> messages, lines;
  qtplat::SetMessageBoxHook([&](QWidget*, const std::string& text, const std::string&, int) {
    messages.push_back(text);
  });
  const sys::ScopedDiagnosticHook diagnostics(
      [&](const std::string& line) { lines.push_back(line); });
  Click(main->lbl_Cmd[2]);
  EXPECT_EQ(messages, std::vector<std::string>{"ｱﾆﾒｰｼｮﾝ Gifﾌｧｲﾙではありません！"});
  EXPECT_EQ(lines, std::vector<std::string>{fifo + ": cannot be split: not a regular file"});
}

TEST_F(Viewers, AClosedWindowIsNeitherDrawnIntoNorExportedFrom) {
  const std::string file = dir.File("close.gif");
  WriteAnimation(file, 40, 30, 5);
  Source(file);
  int waits = 0;
  std::weak_ptr<Velkor_V::Boxes> boxes;
  QImage shown;
  sys::SetSleepHook([&](std::int64_t) {
    if (++waits != 2) return;
    Velkor_V* v = OpenWindow<Velkor_V>();
    boxes = v->boxes;
    v->close();  // a close request from the window system
    EXPECT_EQ(v->Engine(), nullptr);
    EXPECT_EQ(v->Master.Model(), nullptr);
  });
  Click(main->lbl_Cmd[2]);
  EXPECT_EQ(waits, 2);
  EXPECT_EQ(Files(dir.path(), "close_"), std::vector<std::string>{"close_001.gif"});
  EXPECT_TRUE(boxes.expired());  // released once the run returned
}

TEST_F(Viewers, AFileThatIsNotAnimatedShowsTheMessageAndNeverPlays) {
  const std::string file = dir.File("still.gif");
  testutil::WriteFile(file,
                      testutil::Bytes{'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, ';'});
  Source(file);
  std::vector<std::string> messages;
  int style = 0;
  qtplat::SetMessageBoxHook(
      [&](QWidget* owner, const std::string& text, const std::string& title, int s) {
        messages.push_back(title + ":" + text);
        style = s;
        EXPECT_EQ(owner, OpenWindow<Velkor_V>());  // shown over the run window, still open
      });
  int waits = 0;
  sys::SetSleepHook([&](std::int64_t) { ++waits; });
  std::vector<std::string> lines;
  const sys::ScopedDiagnosticHook diagnostics(
      [&](const std::string& line) { lines.push_back(line); });
  Click(main->lbl_Cmd[2]);
  EXPECT_EQ(messages, std::vector<std::string>{"Velkor:ｱﾆﾒｰｼｮﾝ Gifﾌｧｲﾙではありません！"});
  // The message is the same for every such file; the line says why.
  EXPECT_EQ(lines, std::vector<std::string>{
                       file + ": cannot be split: holds no image (byte 13 of 14, frame 1)"});
  EXPECT_EQ(style, 48);
  EXPECT_EQ(waits, 0);
  EXPECT_EQ(OpenWindow<Velkor_V>(), nullptr);
  EXPECT_EQ(main->lstFilesModel.ListCount(), 0);
  EXPECT_TRUE(main->CommandEnabled(3));  // a split with nothing written still enables it
}

TEST_F(Viewers, EachRunIsFreshAndTheTimerNeverStartsASecondOne) {
  const std::string file = dir.File("twice.gif");
  WriteAnimation(file, 40, 30, 3);
  Source(file);
  std::weak_ptr<clsGif24bit> first;
  int waits = 0;
  sys::SetSleepHook([&](std::int64_t) {
    ++waits;
    Velkor_V* v = OpenWindow<Velkor_V>();
    ASSERT_NE(v, nullptr);
    EXPECT_FALSE(v->Timer1.Enabled());
    if (first.expired()) first = v->Engine();
    // Pump events for a while: a timer still running would tick again here.
    for (int i = 0; i < 5; ++i) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  Click(main->lbl_Cmd[1]);
  EXPECT_EQ(waits, 3);
  EXPECT_TRUE(first.expired());  // the first window's engine is gone with it
  Click(main->lbl_Cmd[1]);
  EXPECT_EQ(waits, 6);
}

TEST_F(Viewers, APictureLargerThanTheScreenGivesAWindowOfItsSizeOffTheScreen) {
  qtplat::SetScreenSizeOverride({640, 480});
  const std::string file = dir.File("big.gif");
  WriteAnimation(file, 700, 500, 2);
  Source(file);
  QRect geometry;
  sys::SetSleepHook([&](std::int64_t) { geometry = OpenWindow<Velkor_V>()->geometry(); });
  Click(main->lbl_Cmd[1]);
  EXPECT_EQ(geometry, QRect(-30, -10, 700, 500));

  // A file that is no picture at all leaves the window at 32 x 32.
  testutil::WriteFile(dir.File("none.gif"), {'x'});
  Source(dir.File("none.gif"));
  qtplat::SetMessageBoxHook([&](QWidget*, const std::string&, const std::string&, int) {
    geometry = OpenWindow<Velkor_V>()->geometry();
  });
  Click(main->lbl_Cmd[1]);
  EXPECT_EQ(geometry.size(), QSize(32, 32));
}

// ---------------------------------------------------------------- gallery

namespace {

class Gallery : public Viewers {
 protected:
  // Frames of w x h listed in the main window, each filled with its number.
  void ListFrames(int n, int w, int h) {
    state.ImageWidth = std::int16_t(w);
    state.ImageHeight = std::int16_t(h);
    for (int i = 0; i < n; ++i) {
      auto bmp = *gdi::Bitmap::Create(w, h, gdi::Format::Rgb32);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) bmp.Set(x, y, gdi::ToPixel32(Colour(i)));
      const std::string name = dir.File("g_" + std::to_string(i) + ".bmp");
      ASSERT_TRUE(platform::SavePicture(platform::Picture(std::move(bmp)), name));
      main->lstFilesModel.AddItem(name);
    }
    main->lbl_Cmd[3]->setEnabled(true);
  }
  static gdi::COLORREF Colour(int i) { return gdi::RGB(std::uint8_t(i * 20), 7, 200); }
  // Opens the gallery and runs `inside` while it is shown.
  void WithGallery(const std::function<void(Velkor_G&)>& inside) {
    const auto open = main->ShowGalleryWindow;
    bool ran = false;
    main->ShowGalleryWindow = [&] {
      // Runs once the gallery's own event loop is going.
      QTimer::singleShot(0, [&] {
        Velkor_G* g = OpenWindow<Velkor_G>();
        if (g == nullptr) return;
        ran = true;
        inside(*g);
        if (g->Loaded()) g->Unload();
      });
      open();
    };
    Click(main->lbl_Cmd[3]);
    main->ShowGalleryWindow = open;
    EXPECT_TRUE(ran);
    EXPECT_EQ(OpenWindow<Velkor_G>(), nullptr);
  }
};

}  // namespace

TEST_F(Gallery, LaysOutTenFramesOnAFullHdScreen) {
  qtplat::SetScreenSizeOverride({1920, 1080});
  OpenMain();
  ListFrames(10, 40, 30);
  WithGallery([&](Velkor_G& g) {
    EXPECT_EQ(g.Pic_b1.size(), QSize(59, 720));
    EXPECT_EQ(g.size(), QSize(59, 740));
    EXPECT_EQ(g.pos(), QPoint((1920 - 59) / 2, (1080 - 740) / 2));
    EXPECT_EQ(g.Pic_b2_Box.Width(), 40);
    EXPECT_EQ(g.Pic_b2_Box.Height(), 320);
    EXPECT_EQ(g.lbl->text().toStdString(), "10 ﾌﾚｰﾑ");
    EXPECT_EQ(g.ImgExit.x(), 59 - 21);
    // Frame 3 at row 96, the 2-pixel gap below it in the strip's colour.
    EXPECT_EQ(g.Pic_b2_Box.Point(0, 96), Colour(3));
    EXPECT_EQ(g.Pic_b2_Box.Point(39, 125), Colour(3));
    EXPECT_EQ(g.Pic_b2_Box.Point(0, 126), gdi::RGB(255, 255, 192));
    EXPECT_EQ(g.VScroll.Max(), -400);
    EXPECT_EQ(g.VScroll.LargeChange(), 32);
    EXPECT_EQ(g.VScroll.SmallChange(), 8);
    // A reversed range shows no movement.
    g.VScroll.triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(g.VScroll.Value(), 0);
    EXPECT_EQ(g.Pic_b2.pos(), QPoint(0, 0));
  });
}

TEST_F(Gallery, EmptyListDeletedFileAndLargerPicture) {
  qtplat::SetScreenSizeOverride({800, 600});
  OpenMain();
  state.ImageWidth = 40;
  state.ImageHeight = 30;
  main->lbl_Cmd[3]->setEnabled(true);
  WithGallery([&](Velkor_G& g) {
    EXPECT_EQ(g.lbl->text().toStdString(), "0 ﾌﾚｰﾑ");
    EXPECT_EQ(g.Pic_b2_Box.Height(), 0);
  });

  ListFrames(5, 40, 30);
  fs::remove(main->lstFilesModel.List(2));
  // A larger picture in the first slot is cut to the slot.
  auto big = *gdi::Bitmap::Create(60, 50, gdi::Format::Rgb32);
  for (int y = 0; y < 50; ++y)
    for (int x = 0; x < 60; ++x) big.Set(x, y, gdi::ToPixel32(gdi::RGB(1, 2, 3)));
  ASSERT_TRUE(
      platform::SavePicture(platform::Picture(std::move(big)), main->lstFilesModel.List(0)));
  WithGallery([&](Velkor_G& g) {
    EXPECT_EQ(g.lbl->text().toStdString(), "5 ﾌﾚｰﾑ");
    EXPECT_EQ(g.FramesDrawn(), 2);  // the fill ends at the deleted third file
    EXPECT_EQ(g.Pic_b2_Box.Point(39, 29), gdi::RGB(1, 2, 3));
    EXPECT_EQ(g.Pic_b2_Box.Point(0, 30), gdi::RGB(255, 255, 192));
    EXPECT_EQ(g.Pic_b2_Box.Point(0, 32), Colour(1));
    EXPECT_EQ(g.Pic_b2_Box.Point(0, 64), gdi::RGB(255, 255, 192));  // slot 2 stays empty
  });
}

TEST_F(Gallery, ScrollsClosesOnReleaseAnywhereDragsAndZoomsToTheLoadPoint) {
  qtplat::SetScreenSizeOverride({800, 600});
  OpenMain();
  ListFrames(30, 40, 30);  // strip 960 high in a 400-pixel viewport
  std::vector<std::pair<QRect, QRect>> zooms;
  qtplat::SetZoomObserver([&](const QRect& a, const QRect& b) { zooms.emplace_back(a, b); });
  WithGallery([&](Velkor_G& g) {
    EXPECT_EQ(g.VScroll.Max(), 960 - 400);
    g.VScroll.triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(g.Pic_b2.pos(), QPoint(0, -32));
    g.VScroll.setSliderDown(true);  // dragging the thumb scrolls as it goes
    g.VScroll.setValue(100);
    EXPECT_EQ(g.Pic_b2.pos(), QPoint(0, -100));
    g.VScroll.setSliderDown(false);

    const QPoint before = g.pos();
    Mouse(&g.Image1, QEvent::MouseButtonPress, Qt::LeftButton, {10, 5});
    Mouse(&g.Image1, QEvent::MouseMove, Qt::NoButton, {60, 25}, Qt::LeftButton);
    Mouse(&g.Image1, QEvent::MouseButtonRelease, Qt::LeftButton, {60, 25});
    EXPECT_EQ(g.pos(), before + QPoint(50, 20));

    Mouse(&g.ImgExit, QEvent::MouseButtonPress, Qt::LeftButton);
    EXPECT_TRUE(SamePixmap(g.ImgExit.Picture(), main->imgImages[1]));
    EXPECT_TRUE(g.Loaded());
    Mouse(&g.ImgExit, QEvent::MouseButtonRelease, Qt::LeftButton, {300, 300});
    EXPECT_FALSE(g.Loaded());
  });
  ASSERT_EQ(zooms.size(), 2u);
  const QPoint origin = main->lbl_Cmd[3]->mapToGlobal(QPoint(2, 2));
  EXPECT_EQ(zooms[0].first.topLeft(), origin);
  EXPECT_EQ(zooms[1].second.topLeft(), origin);  // not where the window was dragged to
}

TEST_F(Gallery, ShowsAllFramesOfALongSplitBeyondSixteenBits) {
  qtplat::SetScreenSizeOverride({1920, 1080});
  const std::string file = dir.File("long.gif");
  WriteAnimation(file, 640, 480, 200);  // a strip of 200 x 482 = 96400 rows
  Source(file);
  main->ChooseOutputType(0);
  Click(main->lbl_Cmd[2]);
  ASSERT_EQ(main->lstFilesModel.ListCount(), 200);
  WithGallery([&](Velkor_G& g) {
    EXPECT_EQ(g.lbl->text().toStdString(), "200 ﾌﾚｰﾑ");
    EXPECT_EQ(g.FramesDrawn(), 200);
    EXPECT_EQ(g.Pic_b2_Box.Height(), 96400);
    EXPECT_EQ(g.VScroll.Max(), 96400 - 720);
    for (int i : {0, 99, 199}) {
      auto pic = platform::LoadPicture(main->lstFilesModel.List(i));
      ASSERT_TRUE(pic);
      for (auto [x, y] : {std::pair{0, 0}, {639, 479}, {320, 240}, {17, 401}}) {
        EXPECT_EQ(g.Pic_b2_Box.Point(x, 482 * i + y), pic->Handle()->ColorAt(x, y))
            << "frame " << i << " at " << x << "," << y;
      }
    }
    g.VScroll.setValue(g.VScroll.Max());
    EXPECT_EQ(g.Pic_b2.pos(), QPoint(0, -(96400 - 720)));
  });
}

TEST_F(Gallery, AStripOverTheBudgetDrawsTheFramesThatFit) {
  OpenMain();
  ListFrames(10, 40, 30);
  // 3 slots of 40 x 32 fit a budget of 4000 pixels.
  Velkor_G g(state, {main->lstFilesModel, main->imgImages, main->MouseIcon});
  g.StripPixelBudget = 4000;
  QTimer::singleShot(0, [&] { g.Unload(); });
  g.ShowModal();
  EXPECT_EQ(g.FramesDrawn(), 3);
  EXPECT_EQ(g.Pic_b2_Box.Height(), 96);
  EXPECT_EQ(g.lbl->text().toStdString(), "10 ﾌﾚｰﾑ");
}

TEST_F(Gallery, ANarrowGalleryClosesWhereverItsCloseButtonIsPressed) {
  // In a gallery for a 20-pixel-wide GIF the frame count lies over the close
  // button; presses go through the caption to the button, as the window
  // system routes them (QWidget::childAt).
  qtplat::SetScreenSizeOverride({800, 600});
  const std::string file = dir.File("narrow.gif");
  WriteAnimation(file, 20, 12, 3);
  for (const bool split : {true, false}) {
    Source(file);
    if (split) {
      main->ChooseOutputType(0);
      Click(main->lbl_Cmd[2]);
      ASSERT_EQ(main->lstFilesModel.ListCount(), 3);
    } else {
      main->lstFilesModel.Clear();  // the empty gallery after a split that wrote nothing
      main->lbl_Cmd[3]->setEnabled(true);
    }
    WithGallery([&](Velkor_G& g) {
      ASSERT_EQ(g.width(), 39);
      const QPoint corner = g.ImgExit.geometry().topLeft() + QPoint(1, 1);
      ASSERT_TRUE(g.lbl->geometry().contains(corner)) << "the caption no longer covers the button";
      QWidget* under = g.childAt(corner);
      ASSERT_EQ(under, &g.ImgExit);
      const QPoint local = under->mapFrom(&g, corner);
      Mouse(under, QEvent::MouseButtonPress, Qt::LeftButton, local);
      Mouse(under, QEvent::MouseButtonRelease, Qt::LeftButton, local);
      EXPECT_FALSE(g.Loaded());
    });
  }
}
