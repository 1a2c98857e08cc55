// The Qt widgets of the "Setup" dialog (TForm3): a label, the visible list of friendly
// names, OK and Cancel, and the hidden list of port names, placed on the dialog's client
// area that the Binding made. The model owns every property; the widgets follow it at each
// sync and hand the user's choice back to it.
#pragma once

#include "serial/channel.h"
#include "serial/port_selection.h"
#include "ui/qt/binding.h"
#include "ui/setup_dialog.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace quillon::ui::qt {

class SetupDialogView {
public:
    // `ports` and `channels` must outlive the view; OK opens the chosen port through them.
    SetupDialogView(Binding& binding, Shell& shell, serial::PortSelection& ports,
                    serial::ChannelTable& channels);
    SetupDialogView(const SetupDialogView&) = delete;
    SetupDialogView& operator=(const SetupDialogView&) = delete;

    QComboBox* ports_list() const { return combo1_; }
    QComboBox* names_list() const { return combo2_; }
    QPushButton* ok_button() const { return ok_; }
    QPushButton* cancel_button() const { return cancel_; }

private:
    void sync();
    void sync_combo(QComboBox* w, const ComboBox& m);

    Binding& binding_;
    Shell& shell_;
    QLabel* label_ = nullptr;
    QComboBox* combo1_ = nullptr;
    QComboBox* combo2_ = nullptr;
    QPushButton* ok_ = nullptr;
    QPushButton* cancel_ = nullptr;
};

}  // namespace quillon::ui::qt
