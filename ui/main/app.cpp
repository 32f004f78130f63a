#include "ui/main/app.h"

#include "ui/viewers/velkor_g.h"
#include "ui/viewers/velkor_v.h"

void WireWindows(Velkor_M& main, SharedState& state) {
  // Each command loads a fresh window; it is destroyed once its modal display
  // has returned, which is after any run inside it has finished.
  main.ShowPreviewWindow = [&main, &state] {
    Velkor_V window(state, main.lstFilesModel, main.MouseIcon);
    window.ShowModal();
  };
  main.ShowGalleryWindow = [&main, &state] {
    Velkor_G window(state, {main.lstFilesModel, main.imgImages, main.MouseIcon});
    window.ShowModal();
  };
}
