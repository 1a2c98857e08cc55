#include "ui/setup_dialog.h"

namespace quillon::ui {

TForm3::TForm3() {
    window.name = "TForm3";
    window.caption = "Setup";
    window.client_width = 456;
    window.client_height = 94;
}

}  // namespace quillon::ui
