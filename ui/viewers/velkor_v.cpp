#include "ui/viewers/velkor_v.h"

#include <new>

#include "engine/run.h"
#include "platform/system/system.h"
#include "ui/viewers/effects.h"

namespace {

// The frames of a split go into the main window's list once their files are
// there; a frame that could not be written is told on the diagnostic line.
class ListSink : public ExportSink {
 public:
  explicit ListSink(platform::ListBox& list) : list_(list) {}
  void FrameExported(const ExportedFrame& frame) override {
    if (frame.written) {
      list_.AddItem(frame.path);
    } else {
      sys::Diagnostic(frame.path + ": cannot write: " + frame.reason);
    }
  }

 private:
  platform::ListBox& list_;
};

}  // namespace

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
  state_.DecoderPath = state_.SourcePath;
  PrepareRunBoxes(state_.DecoderPath, boxes->Display, boxes->Master);

  Resize(boxes->Display.Width(), boxes->Display.Height());
  wsys::CentreWindowInTwips(*this);

  engine_ = std::make_shared<clsGif24bit>(boxes->Master, &boxes->Display);
  engine_->ImageCtl(boxes->Master);
  engine_->Options = RunOptionsOf(state_);

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
  ListSink sink(lstFiles_);
  RunResult result;
  state_.NotAnimatedFlag = 0;
  try {
    result = PerformRun(*engine, &sink);
  } catch (const std::bad_alloc&) {
    // The break-out and the frame loop refuse what they cannot allocate;
    // memory that runs out anywhere else in the run ends it as a file that
    // cannot be broken into frames.
    result.breakOut = {BreakOutReason::OutOfMemory};
  }
  if (!result.BrokenOut()) {
    state_.NotAnimatedFlag = -1;
    // The message says only that it is no animation; the line says why.
    sys::Diagnostic(state_.DecoderPath + ": cannot be split: " + DescribeFailure(result.breakOut));
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
