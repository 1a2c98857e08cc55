#include "ui/version_dialog.h"

namespace quillon::ui {

TForm4::TForm4() {
    window.name = "TForm4";
    window.caption = "Version ..";
    window.client_width = 396;
    window.client_height = 234;
}

}  // namespace quillon::ui
