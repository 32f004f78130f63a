// Velkor_V: the window a preview or split run happens in. It takes the size of
// the chosen picture, zooms open from the pointer, breaks the file into frames
// on its first timer tick and lets the engine play (and, in a split run,
// export) them once; a press anywhere stops the run and closes the window.
#pragma once

#include <cstdint>
#include <memory>

#include "engine/gif24bit.h"
#include "engine/run.h"
#include "platform/controls/controls.h"
#include "platform/window/window.h"
#include "settings/settings.h"
#include "ui/viewers/run_options.h"

class Velkor_V : public wsys::Form {
 public:
  // `lstFiles` and `mouseIcon` are the main window's: the list the exported
  // files are added to and the hand pointer `Master` shows.
  Velkor_V(SharedState& state, platform::ListBox& lstFiles, const wsys::Cursor& mouseIcon);
  ~Velkor_V() override;

  // The boxes the engine draws into. A run holds them (and the engine) for as
  // long as it lasts, whatever happens to the window meanwhile.
  using Boxes = RunBoxes;

  wsys::Timer Timer1;
  std::shared_ptr<Boxes> boxes;
  wsys::PictureBoxView Master;  // shows boxes->Master
  wsys::Label* lbl1 = nullptr;  // "Preview", beneath Master

  std::int16_t OriginX = 0, OriginY = 0;
  std::shared_ptr<clsGif24bit> Engine() const { return engine_; }

  void Timer1_Timer();

 protected:
  void Form_Load() override;
  void Form_QueryUnload() override;
  void Form_Unload() override;

 private:
  SharedState& state_;
  platform::ListBox& lstFiles_;
  wsys::Cursor mouseIcon_;
  std::shared_ptr<clsGif24bit> engine_;
};
