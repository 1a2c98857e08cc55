#include "ui/version_dialog.h"

#include "catalog/listing.h"

namespace quillon::ui {

namespace {
constexpr int kListFontHeight = 11;  // pixels, character height
constexpr int kListItemHeight = 13;  // pixels per line
}  // namespace

TForm4::TForm4() {
    window.name = "TForm4";
    window.caption = "Version ..";  // the opener replaces it before showing
    window.client_width = 396;
    window.client_height = 234;

    ListBox1.name = "ListBox1";
    ListBox1.rect = {8, 10, 373, 184};
    // A fixed-pitch font lines up the six-character family names and the columns.
    ListBox1.font.family = "Courier";
    ListBox1.font.height = kListFontHeight;
    ListBox1.item_height = kListItemHeight;
    ListBox1.tab_order = 1;

    Button1.name = "Button1";
    Button1.rect = {303, 204, 75, 26};
    Button1.text = "&Ok";
    Button1.focused = true;  // tab order 0: Enter and Space close the dialog at once
    button1_tab_order = 0;
}

ControlList TForm4::controls() {
    // "&Ok" first: it comes first in the tab order.
    return {Listed(window, Button1, &Commands::button1_click), Listed(window, ListBox1)};
}

void TForm4::FormShow(const catalog::CatalogState& catalog) {
    ListBox1.items.clear();
    catalog::ListCatalog(catalog, ListBox1.items);
}

void TForm4::Button1Click() {
    window.visible = false;
}

void ShowVersionDialog(TForm4& form, const catalog::CatalogState& catalog,
                       const std::string& caption) {
    form.window.caption = caption;
    form.FormShow(catalog);
    form.window.visible = true;
}

}  // namespace quillon::ui
