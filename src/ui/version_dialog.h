// The "Version .." dialog (TForm4): lists the firmware images the program carries, one line
// per image with its print and preparation. Created hidden at start-up, shown modelessly,
// refilled from the catalog every time it is shown; "&Ok" hides it again.
#pragma once

#include <string>
#include <vector>

#include "catalog/preparation.h"
#include "ui/controls.h"

namespace quillon::ui {

struct TForm4 {
    Window window;
    ListBox ListBox1;  // the listing, "Courier"
    Button Button1;    // "&Ok"
    int button1_tab_order = 0;
    TForm4();
    ControlList controls();

    // Clears ListBox1 and runs ListCatalog over the catalog.
    void FormShow(const catalog::CatalogState& catalog);
    // Closes (hides) the dialog.
    void Button1Click();
};

// Shows the dialog modelessly with the given caption, refilling its list.
void ShowVersionDialog(TForm4& form, const catalog::CatalogState& catalog,
                       const std::string& caption);

}  // namespace quillon::ui
