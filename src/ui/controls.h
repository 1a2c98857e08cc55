// Toolkit-free models of the controls a window is made of. A model holds exactly the
// properties the program sets; the bindings (ui/qt, ui/win32) render them and never own
// state. Each window model lists its controls once (controls()), and the bindings and tests
// walk that list.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <variant>
#include <vector>

#include "ui/colour.h"
#include "ui/window_commands.h"

namespace quillon::ui {

// Resolves a system colour to plain RGB (button face is the classic light grey).
Colour ResolveColour(Colour c);

struct Rect {
    int x = 0, y = 0, w = 0, h = 0;
    friend bool operator==(const Rect&, const Rect&) = default;
};

// Font height is either the character height (glyph alone) or the cell height (glyph plus
// internal leading), in pixels.
enum class HeightKind { Character, Cell };
struct Font {
    std::string family = "MS Sans Serif";
    int height = 11;
    HeightKind kind = HeightKind::Character;
    bool bold = false;
    bool italic = false;
    friend bool operator==(const Font&, const Font&) = default;
};

enum class Align { Left, Centre, Right };

struct Control {
    std::string name;
    Rect rect;  // relative to `parent`, or to the client area when it is empty
    std::string parent;
    bool visible = true;
};

struct Label : Control {
    std::string text;
    Font font;
    Align align = Align::Left;
    Colour text_colour = colour::kBlack;
    Colour background = colour::kButtonFace;
    bool opaque = false;  // draws its background; transparent labels show the window face
    int repaints = 0;     // immediate repaints requested (the binding repaints at once)
};

struct Button : Control {
    std::string text;
    Font font;
    bool enabled = true;
    bool focused = false;
};

// Which of our own brand pictures an image shows.
enum class Picture { BrandWide, BrandSmall, BrandLoader };
struct Image : Control {
    Picture picture = Picture::BrandWide;
    bool stretch = false;  // stretched to the box
    bool centre = false;
    bool proportional = false;  // scaled keeping its aspect ratio
    bool transparent = false;
};

struct Bevel : Control {};

struct Panel : Control {
    Colour background = colour::kButtonFace;
    bool sunken = false;
};

enum class ProgressState { Normal, Paused, Error };
struct ProgressBar : Control {
    int min = 0;
    int max = 100;
    int position = 0;
    bool smooth = false;
    ProgressState state = ProgressState::Normal;
};

struct StatusPanel {
    int width = 0;
    std::string text;
};
// Sits at the bottom edge of its window; rect.h is its height.
struct StatusBar : Control {
    std::vector<StatusPanel> panels;
    int repaints = 0;
};

// An editable drop-down list.
struct ComboBox : Control {
    std::vector<std::string> items;
    int item_index = -1;  // the selected position; -1 when none (or the text was edited)
    std::string text;     // what the edit field shows
    bool editable = true;
};

// A list of text lines in a fixed font.
struct ListBox : Control {
    std::vector<std::string> items;
    Font font;
    int item_height = 0;  // pixels per line
    int tab_order = 0;
};

struct MenuCommand {
    std::string name;
    std::string caption;
    bool enabled = true;
};

struct Window {
    std::string name;
    std::string caption;
    int left = 0, top = 0;  // screen position
    int client_width = 0, client_height = 0;
    bool maximise_button = false;  // system menu and minimise are always there
    bool tool_window = false;      // tool-window border style
    Colour face = colour::kButtonFace;
    Font font;
    bool visible = false;
    MenuCommand menu;  // every window of ours has one menu command
    bool has_menu = false;
};

// A control of a window by its kind: one alternative per kind of control.
using ControlModel = std::variant<Label*, Button*, Image*, Bevel*, Panel*, ProgressBar*, StatusBar*,
                                  ComboBox*, ListBox*>;

// One entry of a window's control list (each window model's controls()), which the
// bindings create and update their controls from and the tests read the windows through.
struct ListedControl {
    ControlModel model;          // the control, by its kind
    Control* control = nullptr;  // the same control, by what every kind has
    // The font it is drawn in: its own, or its window's for a kind without one.
    const Font* font = nullptr;
    // The window command its click (a label's: its double click) runs; null: none.
    std::function<void()> Commands::*command = nullptr;

    const std::string& name() const { return control->name; }
    // Its place in 96-dpi pixels, relative to its parent control or the client area.
    const Rect& rect() const { return control->rect; }
    // The control as kind T, or null when it is of another kind.
    template <class T>
    T* as() const {
        T* const* m = std::get_if<T*>(&model);
        return m ? *m : nullptr;
    }
};
// A window's controls in creation order, which is also their tab order.
using ControlList = std::vector<ListedControl>;

// The entry of `control` on `window`, with the command its click runs, if any.
template <class C>
ListedControl Listed(const Window& window, C& control,
                     std::function<void()> Commands::*command = nullptr) {
    const Font* font = &window.font;
    if constexpr (requires { control.font; }) font = &control.font;
    return {&control, &control, font, command};
}

// Visits a variant with one overload per alternative: std::visit(Overloaded{...}, v).
template <class... F>
struct Overloaded : F... {
    using F::operator()...;
};

// Gives `target` the keyboard focus and takes it from the other buttons of its window.
void FocusButton(Button& target, std::initializer_list<Button*> others);

}  // namespace quillon::ui
