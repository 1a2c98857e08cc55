// The Qt widgets of the "Version .." dialog (TForm4): the list of images and "&Ok", placed
// on the dialog's client area that the Binding made. Every time the dialog's window is
// shown the model refills its list from the catalog and the list widget follows it.
#pragma once

#include <QObject>

#include "catalog/preparation.h"
#include "ui/qt/binding.h"
#include "ui/version_dialog.h"

class QListWidget;
class QPushButton;

namespace quillon::ui::qt {

class VersionDialogView : public QObject {
public:
    // `catalog` must outlive the view; it is only read.
    VersionDialogView(Binding& binding, Shell& shell, const catalog::CatalogState& catalog);
    VersionDialogView(const VersionDialogView&) = delete;
    VersionDialogView& operator=(const VersionDialogView&) = delete;

    QListWidget* list() const { return list_; }
    QPushButton* ok_button() const { return ok_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void sync();

    Binding& binding_;
    Shell& shell_;
    const catalog::CatalogState& catalog_;
    QWidget* form_ = nullptr;
    QListWidget* list_ = nullptr;
    QPushButton* ok_ = nullptr;
};

}  // namespace quillon::ui::qt
