#include "ui/viewers/velkor_v.h"

#include <new>

#include "engine/run.h"
#include "ui/viewers/effects.h"

Velkor_V::Velkor_V(SharedState& state, platform::ListBox& lstFiles, const wsys::Cursor& mouseIcon)
    : boxes(std::make_shared<Boxes>()),
      Master(&boxes->Master, this),
      state_(state),
      lstFiles_(lstFiles),
      mouseIcon_(mouseIcon) {
  Caption("Velkor_Main");
  lbl1 = new wsys::Label(this, "Preview", gdi::RGB(255, 255, 255));
  lbl1->Move(8, 4, 44, 13);
  lbl1->ZOrder(1);
  // Disabled, so that presses on the picture reach the window.
  Master.Enabled(false);
  // A press anywhere stops the run and closes the window.
  Mouse.MouseDown = [this](const wsys::MouseArgs&) {
    if (engine_) engine_->StopRender(-1);
    Unload();
  };
  Timer1.Enabled(false);
  Timer1.Interval(1);
  Timer1.Tick = [this] { Timer1_Timer(); };
}

Velkor_V::~Velkor_V() { Master.SetModel(nullptr); }

void Velkor_V::Form_Load() {
  Master.Move(0, 0);
  Master.MouseIcon(mouseIcon_);
  BackColor(gdi::RGB(0, 0, 0));

  // The picture sizes Display and Master; one that cannot be loaded leaves
  // their design size of 32 x 32.
  PrepareRunBoxes(state_, boxes->Display, boxes->Master);

  Resize(boxes->Display.Width(), boxes->Display.Height());
  wsys::CentreWindowInTwips(*this);

  engine_ = std::make_shared<clsGif24bit>(boxes->Master, state_, &boxes->Display, &lstFiles_);
  engine_->ImageCtl(boxes->Master);

  Timer1.Enabled(true);
  TakeOrigin(OriginX, OriginY);
  ZoomOpen(this, OriginX, OriginY);
}

void Velkor_V::Timer1_Timer() {
  Timer1.Enabled(false);  // first of all: the run pumps events, and must not start twice
  // The run keeps the engine and its boxes alive even when the window is
  // closed (and lets go of them) while the frames play.
  const std::shared_ptr<clsGif24bit> engine = engine_;
  const std::shared_ptr<Boxes> held = boxes;
  if (!engine) return;
  wsys::Alive<Velkor_V> self(this);
  bool run = false;
  try {
    run = PerformRun(*engine, state_);
  } catch (const std::bad_alloc&) {
    // The break-out and the frame loop refuse what they cannot allocate;
    // memory that runs out anywhere else in the run ends it as a file that
    // cannot be broken into frames.
    run = false;
  }
  if (!run) {
    if (self && Loaded()) {
      wsys::MsgBox(this, "ｱﾆﾒｰｼｮﾝ Gifﾌｧｲﾙではありません！", "Velkor", 48);
    }
  }
  if (self) Unload();  // does nothing when the window has closed meanwhile
}

void Velkor_V::Form_QueryUnload() {
  if (engine_) engine_->StopRender(-1);
}

void Velkor_V::Form_Unload() {
  Timer1.Enabled(false);
  ZoomClose(this, OriginX, OriginY);
  engine_.reset();
  // Nothing more is drawn into the closed window.
  Master.SetModel(nullptr);
}
