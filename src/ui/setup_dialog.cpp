#include "ui/setup_dialog.h"

#include <cctype>
#include <cstdio>

namespace quillon::ui {

TForm3::TForm3() {
    window.name = "TForm3";
    window.caption = "Setup";
    window.client_width = 456;
    window.client_height = 94;

    Label1.name = "Label1";
    Label1.rect = {9, 19, 28, 13};
    Label1.text = "Port :";

    ComboBox1.name = "ComboBox1";
    ComboBox1.rect = {41, 16, 408, 21};
    for (int i = 1; i <= 12; ++i) ComboBox1.items.push_back("COM" + std::to_string(i));

    Button1.name = "Button1";
    Button1.rect = {293, 56, 75, 25};
    Button1.text = "&Ok";
    Button1.focused = true;  // tab order 0

    Button2.name = "Button2";
    Button2.rect = {373, 56, 75, 25};
    Button2.text = "&Cancel";

    ComboBox2.name = "ComboBox2";
    ComboBox2.rect = {0, 56, 41, 21};
    ComboBox2.visible = false;
}

ControlList TForm3::controls() {
    const Window& w = window;
    return {Listed(w, Label1), Listed(w, ComboBox1), Listed(w, Button1, &Commands::button1_click),
            Listed(w, Button2, &Commands::button2_click), Listed(w, ComboBox2)};
}

void SelectEntry(ComboBox& box, int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= box.items.size()) {
        box.item_index = -1;
        box.text.clear();
        return;
    }
    box.item_index = index;
    box.text = box.items[static_cast<std::size_t>(index)];
}

void FillPortLists(TForm3& form, const PortLister& list_ports) {
    form.ComboBox1.items.clear();
    form.ComboBox2.items.clear();
    SelectEntry(form.ComboBox1, -1);
    SelectEntry(form.ComboBox2, -1);
    if (!list_ports) return;
    for (const serial::PortEntry& e : list_ports()) {
        form.ComboBox1.items.push_back(e.friendly_name);
        form.ComboBox2.items.push_back(e.port_name);
    }
}

std::int16_t FindPortEntry(const TForm3& form, std::int16_t port) {
    char want[16];
    std::snprintf(want, sizeof want, "COM%d", port + 1);
    const std::string_view w(want);
    const auto& items = form.ComboBox2.items;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const std::string& e = items[i];
        if (e.size() != w.size()) continue;
        bool same = true;
        for (std::size_t k = 0; k < e.size() && same; ++k)
            same = std::toupper(static_cast<unsigned char>(e[k])) == w[k];
        if (same) return static_cast<std::int16_t>(i);
    }
    return 0;
}

std::int16_t PortFromEntry(const TForm3& form, std::int16_t position) {
    const auto& items = form.ComboBox2.items;
    if (position < 0 || static_cast<std::size_t>(position) >= items.size()) return 0;
    const std::string& entry = items[static_cast<std::size_t>(position)];
    if (entry.empty()) return 0;
    // Split at the letters C, O and M and read the first piece left. Splitting at
    // upper-case letters only would turn a listed "com4" into -1 ("no port"); the
    // letters are matched in any case, so "com4" gives 3 like "COM4".
    auto is_split = [](char c) {
        const char u = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return u == 'C' || u == 'O' || u == 'M';
    };
    std::size_t b = 0;
    while (b < entry.size() && is_split(entry[b])) ++b;
    if (b == entry.size()) return 0;  // no piece
    std::size_t e = b;
    while (e < entry.size() && !is_split(entry[e])) ++e;
    const std::int32_t n = serial::ReadDecimal(std::string_view(entry).substr(b, e - b));
    return static_cast<std::int16_t>(n - 1);
}

}  // namespace quillon::ui
