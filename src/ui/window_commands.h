// What a window's controls do when the user acts, as each front end's binding calls them.
#pragma once

#include <functional>

namespace quillon::ui {

// Commands a window offers; the binding calls them when the user acts. Unset ones do
// nothing.
struct Commands {
    std::function<void()> button1_click;
    std::function<void()> button2_click;
    std::function<void()> menu_click;
    std::function<void()> label1_double_click;
    std::function<void()> form_close;  // the window is closing
};

}  // namespace quillon::ui
