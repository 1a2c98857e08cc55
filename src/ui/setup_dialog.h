// The "Setup" dialog: choice of the serial port.
#pragma once

#include "ui/controls.h"

namespace quillon::ui {

struct TForm3 {
    Window window;
    TForm3();
};

}  // namespace quillon::ui
