#include "ui/qt/binding.h"

#include <qdrawutil.h>
#include <QAction>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <algorithm>

namespace quillon::ui::qt {
namespace {

// Progress-bar chunk colours of the three states.
const QColor kProgressNormal(0x06, 0xB0, 0x25);
const QColor kProgressPaused(0xDA, 0xCB, 0x26);
const QColor kProgressError(0xDA, 0x26, 0x26);

// A progress bar drawn as the Windows control is: a sunken frame and a solid bar in the
// state's colour (the palette's highlight). The desktop styles animate stripes across a
// partly full bar, repainting it 60 times a second for as long as it stays partly full,
// and each of those paints costs more than the device takes to answer a packet.
class PlainProgressBar : public QProgressBar {
public:
    using QProgressBar::QProgressBar;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        const QRect r = rect();
        qDrawShadePanel(&p, r, palette(), /*sunken=*/true, kFrameWidth);
        const QRect inside = r.adjusted(kFrameWidth, kFrameWidth, -kFrameWidth, -kFrameWidth);
        p.fillRect(inside, palette().color(QPalette::Base));
        const qint64 span = qint64(maximum()) - minimum();
        const qint64 done = qint64(value()) - minimum();  // negative after reset()
        if (span <= 0 || done <= 0) return;
        const int width = int(qint64(inside.width()) * std::min(done, span) / span);
        p.fillRect(QRect(inside.left(), inside.top(), width, inside.height()),
                   palette().color(QPalette::Highlight));
    }

private:
    static constexpr int kFrameWidth = 1;
};

QString Q(const std::string& s) {
    return QString::fromLatin1(s.data(), qsizetype(s.size()));
}

// Windows fonts of the layouts mapped to what any desktop has.
QFont ToQFont(const Font& f) {
    QFont q;
    if (f.family == "Times") {
        q.setFamilies({"Times New Roman", "Liberation Serif", "DejaVu Serif", "Serif"});
        q.setStyleHint(QFont::Serif);
    } else {
        q.setFamilies({Q(f.family), "Liberation Sans", "DejaVu Sans", "Sans Serif"});
        q.setStyleHint(QFont::SansSerif);
    }
    q.setBold(f.bold);
    q.setItalic(f.italic);
    q.setPixelSize(std::max(1, f.height));
    if (f.kind == HeightKind::Cell) {
        // A cell height includes the internal leading: shrink until the line fits the cell.
        const int line = QFontMetrics(q).height();
        if (line > f.height) q.setPixelSize(std::max(1, f.height * f.height / line));
    }
    return q;
}

Qt::Alignment ToQAlign(Align a) {
    switch (a) {
        case Align::Centre:
            return Qt::AlignHCenter | Qt::AlignVCenter;
        case Align::Right:
            return Qt::AlignRight | Qt::AlignVCenter;
        case Align::Left:
            break;
    }
    return Qt::AlignLeft | Qt::AlignVCenter;
}

class ClickLabel : public QLabel {
public:
    using QLabel::QLabel;
    std::function<void()> double_clicked;

protected:
    void mouseDoubleClickEvent(QMouseEvent* e) override {
        if (double_clicked) double_clicked();
        QLabel::mouseDoubleClickEvent(e);
    }
};

QWidget* ParentOf(const Control& c, QWidget* client) {
    if (c.parent.empty()) return client;
    auto* p = client->findChild<QWidget*>(Q(c.parent));
    return p ? p : client;
}

void Place(QWidget* w, const Control& c) {
    w->setObjectName(Q(c.name));
    w->setGeometry(c.rect.x, c.rect.y, c.rect.w, c.rect.h);
}

void SetPalette(QWidget* w, QPalette::ColorRole role, const QColor& c) {
    QPalette p = w->palette();
    if (p.color(role) == c) return;
    p.setColor(role, c);
    w->setPalette(p);
}

}  // namespace

QColor ToQColor(Colour c) {
    const Colour rgb = ResolveColour(c);
    return QColor(int(rgb & 0xFF), int((rgb >> 8) & 0xFF), int((rgb >> 16) & 0xFF));
}

QPixmap BrandPicture(Picture which, QSize size) {
    // Drawn here: a quill over a chip outline with the product name, in our own colours.
    QPixmap pm(size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor ink =
        which == Picture::BrandLoader ? QColor(0x1F, 0x4E, 0x79) : QColor(0x7A, 0x1F, 0x5C);
    const qreal h = size.height(), w = size.width();
    // chip
    const QRectF chip(h * 0.15, h * 0.2, h * 0.6, h * 0.6);
    p.setPen(QPen(ink, std::max<qreal>(1, h / 20)));
    p.setBrush(QColor(0xF2, 0xE8, 0xD5));
    p.drawRoundedRect(chip, 2, 2);
    for (int i = 0; i < 3; ++i) {
        const qreal y = chip.top() + chip.height() * (i + 1) / 4;
        p.drawLine(QPointF(chip.left() - h * 0.1, y), QPointF(chip.left(), y));
        p.drawLine(QPointF(chip.right(), y), QPointF(chip.right() + h * 0.1, y));
    }
    // quill
    QPainterPath quill;
    quill.moveTo(chip.center() + QPointF(-h * 0.15, h * 0.2));
    quill.cubicTo(chip.center() + QPointF(0, -h * 0.1), chip.topRight() + QPointF(0, -h * 0.1),
                  chip.topRight() + QPointF(h * 0.15, -h * 0.18));
    quill.cubicTo(chip.center() + QPointF(h * 0.2, 0), chip.center() + QPointF(0, h * 0.15),
                  chip.center() + QPointF(-h * 0.15, h * 0.2));
    p.setBrush(ink);
    p.drawPath(quill);
    // name
    QFont f({"DejaVu Sans", "Sans Serif"});
    f.setBold(true);
    f.setPixelSize(std::max(6, int(h * 0.45)));
    const QString name = which == Picture::BrandLoader ? "QUILLON" : "Quillon";
    const qreal room = w - h * 1.05;
    while (f.pixelSize() > 6 && QFontMetrics(f).horizontalAdvance(name) > room)
        f.setPixelSize(f.pixelSize() - 1);
    p.setFont(f);
    p.setPen(ink);
    p.drawText(QRectF(h * 1.0, 0, w - h * 1.0, h), Qt::AlignVCenter | Qt::AlignLeft, name);
    return pm;
}

FormWidget::FormWidget(Window& model, Commands& commands) : model_(model), commands_(commands) {
    setObjectName(Q(model.name));
    Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                            Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                            Qt::WindowCloseButtonHint;
    if (model.maximise_button) flags |= Qt::WindowMaximizeButtonHint;
    setWindowFlags(flags);
    int menu_h = 0;
    if (model.has_menu) {
        menu_bar_ = new QMenuBar(this);
        menu_bar_->setNativeMenuBar(false);
        menu_action_ = menu_bar_->addAction(Q(model.menu.caption));
        menu_action_->setObjectName(Q(model.menu.name));
        QObject::connect(menu_action_, &QAction::triggered, this, [this] {
            if (commands_.menu_click) commands_.menu_click();
        });
        menu_h = menu_bar_->sizeHint().height();
        menu_bar_->setGeometry(0, 0, model.client_width, menu_h);
    }
    client_ = new QWidget(this);
    client_->setObjectName("client");
    client_->setGeometry(0, menu_h, model.client_width, model.client_height);
    client_->setAutoFillBackground(true);
    setFixedSize(model.client_width, model.client_height + menu_h);
    move(model.left, model.top);
    setFont(ToQFont(model.font));
}

void FormWidget::sync() {
    if (windowTitle() != Q(model_.caption)) setWindowTitle(Q(model_.caption));
    SetPalette(client_, QPalette::Window, ToQColor(model_.face));
    if (menu_action_) {
        menu_action_->setText(Q(model_.menu.caption));
        menu_action_->setEnabled(model_.menu.enabled);
    }
    Qt::WindowFlags flags = windowFlags();
    const bool tool = flags.testFlag(Qt::Tool);
    if (tool != model_.tool_window) {
        setWindowFlag(Qt::Tool, model_.tool_window);
    }
    if (pos() != QPoint(model_.left, model_.top)) move(model_.left, model_.top);
    if (isVisible() != model_.visible) setVisible(model_.visible);
}

void FormWidget::closeEvent(QCloseEvent* event) {
    if (commands_.form_close) commands_.form_close();
    model_.visible = false;
    event->accept();
}

// One control's widget and what was last drawn of it.
struct Item {
    ListedControl listed;
    QWidget* widget = nullptr;
    int repaints = -1;  // the last repaint request honoured
    Font font;          // the last font set: fonts are costly to rebuild
};

struct Binding::View {
    Window* model = nullptr;
    Commands commands;
    std::unique_ptr<FormWidget> form;
    std::vector<Item> items;
    Binding::Paint paint = Binding::Paint::Now;  // of the sync under way

    explicit View(Window& w) : model(&w), form(std::make_unique<FormWidget>(w, commands)) {}
    QWidget* client() const { return form->client(); }

    // Creates the widget of a list entry, and connects its click to the entry's command.
    void add(const ListedControl& c) {
        Item item{c, nullptr, -1, *c.font};
        std::function<void()>* command = c.command ? &(commands.*c.command) : nullptr;
        item.widget = std::visit([&](auto* m) { return create(*m, command); }, c.model);
        if (!item.widget) return;
        Place(item.widget, *c.control);
        items.push_back(std::move(item));
    }

    QWidget* create(Panel& m, std::function<void()>*) {
        auto* f = new QFrame(ParentOf(m, client()));
        f->setFrameStyle(m.sunken ? (QFrame::Panel | QFrame::Sunken) : QFrame::NoFrame);
        f->setLineWidth(2);
        f->setAutoFillBackground(true);
        return f;
    }
    QWidget* create(Bevel& m, std::function<void()>*) {
        auto* f = new QFrame(ParentOf(m, client()));
        f->setFrameStyle(QFrame::Box | QFrame::Sunken);
        f->lower();
        return f;
    }
    QWidget* create(Label& m, std::function<void()>* double_click) {
        auto* l = new ClickLabel(ParentOf(m, client()));
        l->setFont(ToQFont(m.font));
        if (double_click)
            l->double_clicked = [double_click] {
                if (*double_click) (*double_click)();
            };
        return l;
    }
    QWidget* create(Button& m, std::function<void()>* click) {
        auto* b = new QPushButton(ParentOf(m, client()));
        b->setFont(ToQFont(m.font));  // button fonts never change
        QObject::connect(b, &QPushButton::clicked, b, [click] {
            if (click && *click) (*click)();
        });
        return b;
    }
    QWidget* create(Image& m, std::function<void()>*) {
        auto* l = new QLabel(ParentOf(m, client()));
        QPixmap pm = BrandPicture(m.picture, QSize(m.rect.w, m.rect.h));
        l->setPixmap(pm);
        l->setScaledContents(m.stretch);
        l->setAlignment(m.centre ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignTop);
        return l;
    }
    QWidget* create(ProgressBar& m, std::function<void()>*) {
        auto* b = new PlainProgressBar(ParentOf(m, client()));
        b->setTextVisible(false);
        return b;
    }
    QWidget* create(StatusBar& m, std::function<void()>*) {
        auto* f = new QFrame(client());
        int x = 0;
        for (std::size_t i = 0; i < m.panels.size(); ++i) {
            auto* p = new QLabel(f);
            p->setObjectName(QString("panel%1").arg(i));
            p->setFrameStyle(QFrame::Panel | QFrame::Sunken);
            p->setGeometry(x, 2, m.panels[i].width, m.rect.h - 2);
            x += m.panels[i].width;
        }
        return f;
    }
    // Drop-down lists and list boxes are only on the dialogs, whose views make and update
    // their widgets (setup_dialog_view.h, version_dialog_view.h): none here.
    QWidget* create(ComboBox&, std::function<void()>*) { return nullptr; }
    QWidget* create(ListBox&, std::function<void()>*) { return nullptr; }

    void sync(Binding::Paint how) {
        form->sync();
        // A hidden window's controls are brought in line when it is shown (this same call
        // when the model shows it): a sync during blocks then costs the shown window only.
        if (!model->visible) return;
        paint = how;
        for (Item& item : items) {
            const Rect& r = item.listed.rect();  // the name was set at creation
            item.widget->setGeometry(r.x, r.y, r.w, r.h);
            std::visit([&](auto* m) { sync(item, *m); }, item.listed.model);
        }
    }

    // A repaint the model asked for is done at once, and put on the screen at once. A
    // frame's sync leaves drawing to the window's next paint instead, one paint for every
    // change: a widget whose text or value changed has asked for it already, and one that
    // did not change needs no drawing.
    void draw_if_asked(Item& item, int repaints) {
        if (item.repaints == repaints) return;
        item.repaints = repaints;
        if (paint == Binding::Paint::Now && item.widget->isVisible()) item.widget->repaint();
    }

    void sync(Item& item, const Label& m) {
        auto* w = static_cast<QLabel*>(item.widget);
        if (w->text() != Q(m.text)) w->setText(Q(m.text));
        if (!(item.font == m.font)) {
            item.font = m.font;
            w->setFont(ToQFont(m.font));
        }
        w->setAlignment(ToQAlign(m.align));
        w->setAutoFillBackground(m.opaque);
        SetPalette(w, QPalette::Window, ToQColor(m.opaque ? m.background : model->face));
        SetPalette(w, QPalette::WindowText, ToQColor(m.text_colour));
        w->setVisible(m.visible);
        draw_if_asked(item, m.repaints);
    }
    void sync(Item& item, const Button& m) {
        auto* w = static_cast<QPushButton*>(item.widget);
        if (w->text() != Q(m.text)) w->setText(Q(m.text));
        w->setEnabled(m.enabled);
        w->setVisible(m.visible);
        if (m.focused && m.visible && m.enabled && !w->hasFocus()) w->setFocus();
    }
    void sync(Item& item, const Image& m) { item.widget->setVisible(m.visible); }
    void sync(Item& item, const Bevel& m) { item.widget->setVisible(m.visible); }
    void sync(Item& item, const Panel& m) {
        SetPalette(item.widget, QPalette::Window, ToQColor(m.background));
        item.widget->setVisible(m.visible);
    }
    void sync(Item& item, const ProgressBar& m) {
        auto* w = static_cast<QProgressBar*>(item.widget);
        const int lo = std::min(m.min, m.max), hi = std::max(m.min, m.max);
        if (w->minimum() != lo || w->maximum() != hi) w->setRange(lo, hi);
        const int pos = std::clamp(m.position, lo, hi);
        if (w->value() != pos) {
            // A progress bar repaints itself at once when its value changes; a frame's sync
            // leaves that to the window's one paint of all its changes.
            if (paint == Binding::Paint::WithWindow) w->setUpdatesEnabled(false);
            w->setValue(pos);
            if (paint == Binding::Paint::WithWindow) w->setUpdatesEnabled(true);  // update()
        }
        const QColor& chunk = m.state == ProgressState::Error    ? kProgressError
                              : m.state == ProgressState::Paused ? kProgressPaused
                                                                 : kProgressNormal;
        SetPalette(w, QPalette::Highlight, chunk);
        w->setProperty("state", int(m.state));
        w->setVisible(m.visible);
    }
    void sync(Item& item, const StatusBar& m) {
        const auto panels = item.widget->findChildren<QLabel*>(Qt::FindDirectChildrenOnly);
        for (std::size_t k = 0; k < m.panels.size() && k < std::size_t(panels.size()); ++k) {
            QLabel* p = panels[qsizetype(k)];
            if (p->text() != Q(m.panels[k].text)) {
                p->setText(Q(m.panels[k].text));
                p->setToolTip(p->text());  // the whole text when the panel cuts it
            }
        }
        item.widget->setVisible(m.visible);
        draw_if_asked(item, m.repaints);
    }
    void sync(Item&, const ComboBox&) {}
    void sync(Item&, const ListBox&) {}
};

Binding::Binding(Shell& shell) : shell_(shell) {
    // The dialogs' widgets are made by their views, on the client areas made here.
    for (Window* w : shell.windows()) {
        const bool dialog = w == &shell.form3->window || w == &shell.form4->window;
        add_view(*w, dialog ? ControlList{} : shell.controls_of(*w));
    }
    frame_timer_ = std::make_unique<QTimer>();
    frame_timer_->setSingleShot(true);
    frame_timer_->setTimerType(Qt::PreciseTimer);
    QObject::connect(frame_timer_.get(), &QTimer::timeout, [this] { shell_.frames.Quiet(); });
    shell_.repaint = [this] { sync(); };
    // The pacer's drawings run inside the engine's work, before a wait: the widgets are
    // painted by the window's next paint, in that wait, while the packet is on the wire.
    shell_.frames.bind({[this] { sync(Paint::WithWindow); },
                        [this](std::chrono::steady_clock::duration after) {
                            frame_timer_->start(
                                std::chrono::ceil<std::chrono::milliseconds>(after));
                        }});
    sync();
}

void Binding::add_view(Window& window, const ControlList& controls) {
    auto v = std::make_unique<View>(window);
    for (const ListedControl& c : controls) v->add(c);
    views_.push_back(std::move(v));
}

Binding::~Binding() {
    shell_.repaint = nullptr;
    shell_.frames.unbind();
}

void Binding::sync(Paint paint) {
    if (syncing_) return;  // a repaint request from inside a sync changes nothing new
    syncing_ = true;
    for (auto& v : views_) v->sync(paint);
    for (auto& fn : extra_sync_) fn();
    shell_.frames.Synced();
    ++syncs_;
    syncing_ = false;
}

FormWidget* Binding::form(const Window& model) const {
    for (auto& v : views_)
        if (v->model == &model) return v->form.get();
    return nullptr;
}

Commands& Binding::commands(const Window& model) {
    for (auto& v : views_)
        if (v->model == &model) return v->commands;
    throw std::logic_error("no such window");
}

}  // namespace quillon::ui::qt
