#include "ui/qt/version_dialog_view.h"

#include <QEvent>
#include <QFont>
#include <QKeySequence>
#include <QListWidget>
#include <QPushButton>
#include <QShortcut>

namespace quillon::ui::qt {
namespace {

QString Q(const std::string& s) {
    return QString::fromLatin1(s.data(), qsizetype(s.size()));
}

void Place(QWidget* w, const Control& c) {
    w->setObjectName(Q(c.name));
    w->setGeometry(c.rect.x, c.rect.y, c.rect.w, c.rect.h);
}

// The listing's fixed-pitch font: "Courier" where present, else the system's monospace.
QFont ListFont(const Font& f) {
    QFont q(QStringList{Q(f.family), "Courier New", "DejaVu Sans Mono", "Monospace"});
    q.setStyleHint(QFont::TypeWriter);
    q.setFixedPitch(true);
    q.setPixelSize(std::max(1, f.height));
    return q;
}

}  // namespace

VersionDialogView::VersionDialogView(Binding& binding, Shell& shell,
                                     const catalog::CatalogState& catalog)
    : binding_(binding), shell_(shell), catalog_(catalog) {
    TForm4& form = *shell.form4;
    FormWidget* widget = binding.form(form.window);
    form_ = widget;
    QWidget* client = widget->client();

    ok_ = new QPushButton(client);
    Place(ok_, form.Button1);
    list_ = new QListWidget(client);
    Place(list_, form.ListBox1);
    list_->setFont(ListFont(form.ListBox1.font));
    list_->setUniformItemSizes(true);  // one fixed item height
    // Tab order of the form: "&Ok" first, then the list.
    QWidget::setTabOrder(ok_, list_);

    QObject::connect(ok_, &QPushButton::clicked, ok_, [this] {
        shell_.form4->Button1Click();
        binding_.sync();
    });
    // Enter presses "&Ok" and Escape closes the dialog as "&Ok" does, wherever the focus is
    // in it.
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
        auto* shortcut = new QShortcut(QKeySequence(key), form_);
        QObject::connect(shortcut, &QShortcut::activated, ok_, [this] {
            if (ok_->isVisible() && ok_->isEnabled()) ok_->click();
        });
    }
    // FormShow: every showing of the window refills the list, whoever showed it.
    form_->installEventFilter(this);
    binding.on_sync([this] { sync(); });
    sync();
}

bool VersionDialogView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == form_ && event->type() == QEvent::Show) {
        shell_.form4->FormShow(catalog_);
        sync();
        // The model's focused button has the focus from the moment the dialog shows.
        if (shell_.form4->Button1.focused && ok_->isEnabled()) ok_->setFocus();
    }
    return QObject::eventFilter(watched, event);
}

void VersionDialogView::sync() {
    const TForm4& form = *shell_.form4;
    QStringList items;
    for (const std::string& s : form.ListBox1.items) items << Q(s);
    bool same = list_->count() == items.size();
    for (int i = 0; same && i < list_->count(); ++i) same = list_->item(i)->text() == items[i];
    if (!same) {
        list_->clear();
        list_->addItems(items);
        for (int i = 0; i < list_->count(); ++i)
            list_->item(i)->setSizeHint(QSize(0, form.ListBox1.item_height));
    }
    list_->setVisible(form.ListBox1.visible);
    if (ok_->text() != Q(form.Button1.text)) ok_->setText(Q(form.Button1.text));
    ok_->setEnabled(form.Button1.enabled);
    ok_->setVisible(form.Button1.visible);
}

}  // namespace quillon::ui::qt
