#include "ui/windows.h"

#include <string_view>

namespace quillon::ui {
namespace {

Font Sans(int height, bool bold = false) {
    return Font{"MS Sans Serif", height, HeightKind::Character, bold, false};
}
Font Tahoma(int cell_height, bool bold = false) {
    return Font{"Tahoma", cell_height, HeightKind::Cell, bold, false};
}

template <class C>
C Make(const char* name, Rect r, bool visible = true) {
    C c;
    c.name = name;
    c.rect = r;
    c.visible = visible;
    return c;
}

// The captions of an edition's window come from its row of the edition table.
const editions::Facts& Captions(Edition edition) {
    return editions::Of(edition);
}

Button MakeButton(const char* name, Rect r, std::string_view text, Font font, bool visible = true) {
    auto b = Make<Button>(name, r, visible);
    b.text = std::string(text);
    b.font = std::move(font);
    return b;
}

Label MakeLabel(const char* name, Rect r, std::string text, Font font, Align align, bool opaque,
                bool visible = true) {
    auto l = Make<Label>(name, r, visible);
    l.text = std::move(text);
    l.font = std::move(font);
    l.align = align;
    l.opaque = opaque;
    return l;
}

StatusBar MakeStatusBar(int client_w, int client_h, int height, std::initializer_list<int> widths,
                        bool visible = true) {
    auto s = Make<StatusBar>("StatusBar1", {0, client_h - height, client_w, height}, visible);
    for (int w : widths) s.panels.push_back({w, ""});
    return s;
}

Window MakeWindow(const char* name, const char* caption, int left, int top, int w, int h, Font font,
                  const char* menu_name, std::string_view menu_caption) {
    Window win;
    win.name = name;
    win.caption = caption;
    win.left = left;
    win.top = top;
    win.client_width = w;
    win.client_height = h;
    win.font = std::move(font);
    win.menu = {menu_name, std::string(menu_caption), true};
    win.has_menu = menu_name != nullptr && *menu_name != '\0';
    return win;
}

}  // namespace

TForm1::TForm1()
    : window(MakeWindow("TForm1", "RELEASE", 137, 200, 511, 265, Sans(11), "S1",
                        Captions(Edition::Updater).port_command)),
      Button1(MakeButton("Button1", {8, 8, 75, 25}, Captions(Edition::Updater).update_caption,
                         Sans(11))),
      Button2(MakeButton("Button2", {8, 8, 75, 25}, Captions(Edition::Updater).stop_caption,
                         Sans(11), false)),
      Image1(Make<Image>("Image1", {368, 0, 137, 45})),
      Image2(Make<Image>("Image2", {368, 8, 135, 25}, false)),
      Bevel1(Make<Bevel>("Bevel1", {8, 48, 497, 50})),
      Bevel2(Make<Bevel>("Bevel2", {8, 110, 497, 108})),
      Label1(MakeLabel("Label1", {10, 51, 493, 45}, "",
                       Font{"Times", 40, HeightKind::Character, true, false}, Align::Centre, true)),
      Label3(
          MakeLabel("Label3", {13, 119, 484, 29}, "", Sans(24, true), Align::Centre, true, false)),
      Label4(
          MakeLabel("Label4", {13, 156, 484, 20}, "", Sans(16, true), Align::Centre, true, false)),
      Label2(
          MakeLabel("Label2", {13, 182, 484, 29}, "", Sans(24, true), Align::Centre, true, false)),
      ProgressBar1(Make<ProgressBar>("ProgressBar1", {8, 224, 497, 16})),
      StatusBar1(MakeStatusBar(511, 265, 19, {50, 130, 100, 50})) {
    Button1.focused = true;
    Image1.picture = Picture::BrandWide;
    Image1.centre = Image1.stretch = Image1.transparent = true;
    Image2.picture = Picture::BrandSmall;
    Image2.proportional = true;
}

TForm5::TForm5()
    : window(MakeWindow("TForm5", "Upgrade", 274, 100, 630, 181, Sans(11), "SerialPort1",
                        Captions(Edition::Upgrade).port_command)),
      Panel1(Make<Panel>("Panel1", {8, 8, 614, 113})),
      Button1(MakeButton("Button1", {175, 25, 249, 65}, Captions(Edition::Upgrade).update_caption,
                         Sans(33, true))),
      Button2(MakeButton("Button2", {175, 25, 249, 65}, Captions(Edition::Upgrade).stop_caption,
                         Sans(33, true), false)),
      ProgressBar1(Make<ProgressBar>("ProgressBar1", {5, 128, 617, 17})),
      ProgressBar2(Make<ProgressBar>("ProgressBar2", {464, 128, 158, 17}, false)),
      StatusBar1(MakeStatusBar(630, 181, 29, {50, 220, 100, 140, 20})) {
    window.maximise_button = true;
    Panel1.sunken = true;
    Button1.parent = Button2.parent = "Panel1";
    Button1.focused = true;
    ProgressBar1.smooth = ProgressBar2.smooth = true;
}

TForm6::TForm6()
    : window(MakeWindow("TForm6", "Loader", 183, 150, 635, 255,
                        Font{"Tahoma", 11, HeightKind::Character, false, false}, "ChangePort1",
                        Captions(Edition::Loader).port_command)),
      Button1(MakeButton("Button1", {8, 8, 161, 33}, Captions(Edition::Loader).update_caption,
                         Tahoma(11))),
      Button2(MakeButton("Button2", {8, 47, 161, 33}, Captions(Edition::Loader).stop_caption,
                         Tahoma(11))),
      Bevel1(Make<Bevel>("Bevel1", {187, 13, 440, 120})),
      Label2(MakeLabel("Label2", {192, 25, 97, 32}, "FW :", Tahoma(32), Align::Right, false)),
      Label3(MakeLabel("Label3", {192, 55, 97, 32}, "HW :", Tahoma(32), Align::Right, false)),
      Label4(MakeLabel("Label4", {192, 85, 97, 32}, "BS :", Tahoma(32), Align::Right, false)),
      Label5(MakeLabel("Label5", {287, 25, 330, 32}, "-", Tahoma(32, true), Align::Centre, false)),
      Label6(MakeLabel("Label6", {287, 55, 330, 32}, "-", Tahoma(25), Align::Centre, false)),
      Label7(MakeLabel("Label7", {287, 85, 330, 32}, "-", Tahoma(25), Align::Centre, false)),
      Image1(Make<Image>("Image1", {18, 93, 137, 45})),
      Label1(MakeLabel("Label1", {8, 165, 617, 32}, "", Tahoma(25), Align::Left, false)),
      ProgressBar1(Make<ProgressBar>("ProgressBar1", {8, 203, 617, 33})),
      StatusBar1(MakeStatusBar(635, 255, 13, {50, 220, 100, 140, 20}, false)),
      Label8(MakeLabel("Label8", {8, 238, 617, 16}, "",
                       Font{"Tahoma", 11, HeightKind::Character, false, false}, Align::Left, false,
                       false)) {
    Button1.font = Button2.font = window.font;
    Button1.focused = true;
    Button2.enabled = false;
    Image1.picture = Picture::BrandLoader;
    Image1.centre = Image1.stretch = Image1.transparent = true;
    ProgressBar1.smooth = true;
}

ControlList TForm1::controls() {
    const Window& w = window;
    return {Listed(w, Bevel1),
            Listed(w, Bevel2),
            Listed(w, Button1, &Commands::button1_click),
            Listed(w, Button2, &Commands::button2_click),
            Listed(w, Image1),
            Listed(w, Image2),
            Listed(w, Label1, &Commands::label1_double_click),
            Listed(w, Label3),
            Listed(w, Label4),
            Listed(w, Label2),
            Listed(w, ProgressBar1),
            Listed(w, StatusBar1)};
}

ControlList TForm5::controls() {
    const Window& w = window;
    return {Listed(w, Panel1),  // before the buttons placed on it
            Listed(w, Button1, &Commands::button1_click),
            Listed(w, Button2, &Commands::button2_click),
            Listed(w, ProgressBar1),
            Listed(w, ProgressBar2),
            Listed(w, StatusBar1)};
}

ControlList TForm6::controls() {
    const Window& w = window;
    return {Listed(w, Bevel1),
            Listed(w, Button1, &Commands::button1_click),
            Listed(w, Button2, &Commands::button2_click),
            Listed(w, Label2),
            Listed(w, Label3),
            Listed(w, Label4),
            Listed(w, Label5),
            Listed(w, Label6),
            Listed(w, Label7),
            Listed(w, Image1),
            Listed(w, Label1),
            Listed(w, ProgressBar1),
            Listed(w, StatusBar1),
            Listed(w, Label8)};
}

namespace {

EditionWindow ViewOf(TForm1& f) {
    return {
        &f.window, &f.StatusBar1,     &f.ProgressBar1,  &f.Button1,           &f.Button2,
        &f.Label2, LineStyle::Banner, RunButtons::Swap, &f.Label1.background, &f.Label1.repaints};
}

EditionWindow ViewOf(TForm5& f) {
    return {&f.window, &f.StatusBar1,     &f.ProgressBar1,  &f.Button1,           &f.Button2,
            nullptr,   LineStyle::Banner, RunButtons::Swap, &f.Panel1.background, nullptr};
}

EditionWindow ViewOf(TForm6& f) {
    return {&f.window, &f.StatusBar1,           &f.ProgressBar1,    &f.Button1, &f.Button2,
            &f.Label1, LineStyle::ColouredText, RunButtons::Enable, nullptr,    nullptr};
}

}  // namespace

std::vector<Window*> Shell::windows() {
    std::vector<Window*> all;
    if (running.window && form1 && running.window != &form1->window) all.push_back(running.window);
    for (Window* w : {form1 ? &form1->window : nullptr, form3 ? &form3->window : nullptr,
                      form4 ? &form4->window : nullptr})
        if (w) all.push_back(w);
    return all;
}

ControlList Shell::controls_of(const Window& w) {
    if (form5 && &w == &form5->window) return form5->controls();
    if (form6 && &w == &form6->window) return form6->controls();
    if (form1 && &w == &form1->window) return form1->controls();
    if (form3 && &w == &form3->window) return form3->controls();
    if (form4 && &w == &form4->window) return form4->controls();
    return {};
}

void CreateWindows(Shell& shell, Edition edition) {
    shell.edition_value = edition;
    // The edition's window comes first: it is the application's main window.
    switch (editions::Of(edition).window) {
        case editions::WindowKind::Upgrade:
            shell.form5 = std::make_unique<TForm5>();
            shell.running = ViewOf(*shell.form5);
            break;
        case editions::WindowKind::Loader:
            shell.form6 = std::make_unique<TForm6>();
            shell.running = ViewOf(*shell.form6);
            break;
        case editions::WindowKind::Main:
            break;
    }
    shell.form1 = std::make_unique<TForm1>();
    if (!shell.running.window) shell.running = ViewOf(*shell.form1);
    shell.form3 = std::make_unique<TForm3>();
    shell.form4 = std::make_unique<TForm4>();
}

Colour ResolveColour(Colour c) {
    if ((c >> 24) == 0xFF) {
        // The only system colour in use is the button face; others fall back to it too.
        return 0xF0F0F0;
    }
    return c & 0xFFFFFF;
}

void FocusButton(Button& target, std::initializer_list<Button*> others) {
    for (Button* b : others) b->focused = false;
    target.focused = true;
}

}  // namespace quillon::ui
