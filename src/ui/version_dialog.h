// The "Version .." dialog: the listing of the catalog's images.
#pragma once

#include "ui/controls.h"

namespace quillon::ui {

struct TForm4 {
    Window window;
    TForm4();
};

}  // namespace quillon::ui
