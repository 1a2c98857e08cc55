#include "ui/qt/setup_dialog_view.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QSignalBlocker>

#include "ui/port_selection.h"

namespace quillon::ui::qt {
namespace {

QString Q(const std::string& s) {
    return QString::fromLatin1(s.data(), qsizetype(s.size()));
}

std::string S(const QString& s) {
    const QByteArray b = s.toLatin1();
    return std::string(b.constData(), std::size_t(b.size()));
}

void Place(QWidget* w, const Control& c) {
    w->setObjectName(Q(c.name));
    w->setGeometry(c.rect.x, c.rect.y, c.rect.w, c.rect.h);
}

}  // namespace

SetupDialogView::SetupDialogView(Binding& binding, Shell& shell, serial::PortSelection& ports,
                                 serial::ChannelTable& channels)
    : binding_(binding), shell_(shell) {
    TForm3& form = *shell.form3;
    QWidget* client = binding.form(form.window)->client();

    label_ = new QLabel(client);
    Place(label_, form.Label1);
    combo1_ = new QComboBox(client);
    Place(combo1_, form.ComboBox1);
    combo1_->setEditable(form.ComboBox1.editable);
    combo1_->setInsertPolicy(QComboBox::NoInsert);
    ok_ = new QPushButton(client);
    Place(ok_, form.Button1);
    cancel_ = new QPushButton(client);
    Place(cancel_, form.Button2);
    combo2_ = new QComboBox(client);
    Place(combo2_, form.ComboBox2);
    QWidget::setTabOrder(ok_, cancel_);

    // The user's choice goes to the model at once: a picked entry selects it, an edited
    // text that names no entry leaves none selected.
    QObject::connect(combo1_, &QComboBox::activated, combo1_,
                     [this](int index) { SelectEntry(shell_.form3->ComboBox1, index); });
    if (QLineEdit* edit = combo1_->lineEdit()) {
        QObject::connect(edit, &QLineEdit::textEdited, edit, [this](const QString& text) {
            ComboBox& m = shell_.form3->ComboBox1;
            m.text = S(text);
            m.item_index = -1;
            for (std::size_t i = 0; i < m.items.size(); ++i)
                if (m.items[i] == m.text) m.item_index = int(i);
        });
    }
    QObject::connect(ok_, &QPushButton::clicked, ok_, [this, &ports, &channels] {
        SetupOkClick(shell_, ports, channels);
        binding_.sync();
    });
    QObject::connect(cancel_, &QPushButton::clicked, cancel_, [this, &ports] {
        SetupCancelClick(shell_, ports);
        binding_.sync();
    });
    // Enter takes the choice and Escape leaves it, as in any dialog, wherever the focus is
    // in it (the list's edit field included). Enter on a focused button presses that
    // button: in a dialog the focused button is the default one.
    QWidget* dialog = binding.form(form.window);
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* enter = new QShortcut(QKeySequence(key), dialog);
        QObject::connect(enter, &QShortcut::activated, ok_, [this] {
            auto* focused = qobject_cast<QPushButton*>(QApplication::focusWidget());
            QPushButton* button = focused == cancel_ ? cancel_ : ok_;
            if (button->isVisible() && button->isEnabled()) button->click();
        });
    }
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), dialog);
    QObject::connect(escape, &QShortcut::activated, cancel_, [this] {
        if (cancel_->isVisible() && cancel_->isEnabled()) cancel_->click();
    });
    binding.on_sync([this] { sync(); });
    sync();
}

void SetupDialogView::sync_combo(QComboBox* w, const ComboBox& m) {
    const QSignalBlocker block(w);
    QStringList items;
    for (const std::string& s : m.items) items << Q(s);
    bool same = w->count() == items.size();
    for (int i = 0; same && i < w->count(); ++i) same = w->itemText(i) == items[i];
    if (!same) {
        w->clear();
        w->addItems(items);
    }
    if (w->currentIndex() != m.item_index) w->setCurrentIndex(m.item_index);
    if (w->isEditable() && w->currentText() != Q(m.text)) w->setEditText(Q(m.text));
    w->setVisible(m.visible);
}

void SetupDialogView::sync() {
    const TForm3& form = *shell_.form3;
    if (label_->text() != Q(form.Label1.text)) label_->setText(Q(form.Label1.text));
    label_->setVisible(form.Label1.visible);
    sync_combo(combo1_, form.ComboBox1);
    sync_combo(combo2_, form.ComboBox2);
    for (auto [w, m] : {std::pair{ok_, &form.Button1}, std::pair{cancel_, &form.Button2}}) {
        if (w->text() != Q(m->text)) w->setText(Q(m->text));
        w->setEnabled(m->enabled);
        w->setVisible(m->visible);
    }
}

}  // namespace quillon::ui::qt
