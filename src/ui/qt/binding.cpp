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

template <class W, class M>
struct Pair {
    M* model;
    W* widget;
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

struct Binding::View {
    Window* model = nullptr;
    Commands commands;
    std::unique_ptr<FormWidget> form;
    std::vector<Pair<QLabel, Label>> labels;
    std::vector<Pair<QPushButton, Button>> buttons;
    std::vector<Pair<QLabel, Image>> images;
    std::vector<Pair<QFrame, Bevel>> bevels;
    std::vector<Pair<QFrame, Panel>> panels;
    std::vector<Pair<QProgressBar, ProgressBar>> bars;
    std::vector<std::pair<StatusBar*, QFrame*>> status;
    std::vector<int> label_repaints;
    std::vector<Font> label_fonts;  // last font rendered: fonts are costly to rebuild
    std::vector<int> status_repaints;

    explicit View(Window& w) : model(&w), form(std::make_unique<FormWidget>(w, commands)) {}
    QWidget* client() const { return form->client(); }

    void add(Panel& m) {
        auto* f = new QFrame(ParentOf(m, client()));
        Place(f, m);
        f->setFrameStyle(m.sunken ? (QFrame::Panel | QFrame::Sunken) : QFrame::NoFrame);
        f->setLineWidth(2);
        f->setAutoFillBackground(true);
        panels.push_back({&m, f});
    }
    void add(Bevel& m) {
        auto* f = new QFrame(ParentOf(m, client()));
        Place(f, m);
        f->setFrameStyle(QFrame::Box | QFrame::Sunken);
        f->lower();
        bevels.push_back({&m, f});
    }
    QLabel* add(Label& m) {
        auto* l = new ClickLabel(ParentOf(m, client()));
        Place(l, m);
        l->setFont(ToQFont(m.font));
        labels.push_back({&m, l});
        label_repaints.push_back(-1);
        label_fonts.push_back(m.font);
        return l;
    }
    void add(Button& m, std::function<void()>& click) {
        auto* b = new QPushButton(ParentOf(m, client()));
        Place(b, m);
        b->setFont(ToQFont(m.font));  // button fonts never change
        QObject::connect(b, &QPushButton::clicked, b, [&click] {
            if (click) click();
        });
        buttons.push_back({&m, b});
    }
    void add(Image& m) {
        auto* l = new QLabel(ParentOf(m, client()));
        Place(l, m);
        QPixmap pm = BrandPicture(m.picture, QSize(m.rect.w, m.rect.h));
        l->setPixmap(pm);
        l->setScaledContents(m.stretch);
        l->setAlignment(m.centre ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignTop);
        images.push_back({&m, l});
    }
    void add(ProgressBar& m) {
        auto* b = new PlainProgressBar(ParentOf(m, client()));
        Place(b, m);
        b->setTextVisible(false);
        bars.push_back({&m, b});
    }
    void add(StatusBar& m) {
        auto* f = new QFrame(client());
        Place(f, m);
        int x = 0;
        for (std::size_t i = 0; i < m.panels.size(); ++i) {
            auto* p = new QLabel(f);
            p->setObjectName(QString("panel%1").arg(i));
            p->setFrameStyle(QFrame::Panel | QFrame::Sunken);
            p->setGeometry(x, 2, m.panels[i].width, m.rect.h - 2);
            x += m.panels[i].width;
        }
        status.push_back({&m, f});
        status_repaints.push_back(-1);
    }

    void sync(Binding::Paint paint) {
        // A repaint the model asked for is done at once, and put on the screen at once. A
        // frame's sync leaves drawing to the window's next paint instead, one paint for
        // every change: a widget whose text or value changed has asked for it already, and
        // one that did not change needs no drawing.
        const auto draw = [paint](QWidget* w) {
            if (paint == Binding::Paint::Now) w->repaint();
        };
        form->sync();
        // A hidden window's controls are brought in line when it is shown (this same call
        // when the model shows it): a sync during blocks then costs the shown window only.
        if (!model->visible) return;
        for (std::size_t i = 0; i < labels.size(); ++i) {
            auto [m, w] = labels[i];
            Place(w, *m);
            if (w->text() != Q(m->text)) w->setText(Q(m->text));
            if (!(label_fonts[i] == m->font)) {
                label_fonts[i] = m->font;
                w->setFont(ToQFont(m->font));
            }
            w->setAlignment(ToQAlign(m->align));
            w->setAutoFillBackground(m->opaque);
            SetPalette(w, QPalette::Window, ToQColor(m->opaque ? m->background : model->face));
            SetPalette(w, QPalette::WindowText, ToQColor(m->text_colour));
            w->setVisible(m->visible);
            if (label_repaints[i] != m->repaints) {
                label_repaints[i] = m->repaints;
                if (w->isVisible()) draw(w);
            }
        }
        for (auto [m, w] : buttons) {
            Place(w, *m);
            if (w->text() != Q(m->text)) w->setText(Q(m->text));
            w->setEnabled(m->enabled);
            w->setVisible(m->visible);
            if (m->focused && m->visible && m->enabled && !w->hasFocus()) w->setFocus();
        }
        for (auto [m, w] : images) {
            Place(w, *m);
            w->setVisible(m->visible);
        }
        for (auto [m, w] : bevels) {
            Place(w, *m);
            w->setVisible(m->visible);
        }
        for (auto [m, w] : panels) {
            Place(w, *m);
            SetPalette(w, QPalette::Window, ToQColor(m->background));
            w->setVisible(m->visible);
        }
        for (auto [m, w] : bars) {
            Place(w, *m);
            const int lo = std::min(m->min, m->max), hi = std::max(m->min, m->max);
            if (w->minimum() != lo || w->maximum() != hi) w->setRange(lo, hi);
            const int pos = std::clamp(m->position, lo, hi);
            if (w->value() != pos) {
                // A progress bar repaints itself at once when its value changes; a frame's
                // sync leaves that to the window's one paint of all its changes.
                if (paint == Binding::Paint::WithWindow) w->setUpdatesEnabled(false);
                w->setValue(pos);
                if (paint == Binding::Paint::WithWindow) w->setUpdatesEnabled(true);  // update()
            }
            const QColor& chunk = m->state == ProgressState::Error    ? kProgressError
                                  : m->state == ProgressState::Paused ? kProgressPaused
                                                                      : kProgressNormal;
            SetPalette(w, QPalette::Highlight, chunk);
            w->setProperty("state", int(m->state));
            w->setVisible(m->visible);
        }
        for (std::size_t i = 0; i < status.size(); ++i) {
            auto [m, f] = status[i];
            const auto panels = f->findChildren<QLabel*>(Qt::FindDirectChildrenOnly);
            for (std::size_t k = 0; k < m->panels.size() && k < std::size_t(panels.size()); ++k) {
                QLabel* p = panels[qsizetype(k)];
                if (p->text() != Q(m->panels[k].text)) {
                    p->setText(Q(m->panels[k].text));
                    p->setToolTip(p->text());  // the whole text when the panel cuts it
                }
            }
            f->setVisible(m->visible);
            if (status_repaints[i] != m->repaints) {
                status_repaints[i] = m->repaints;
                if (f->isVisible()) draw(f);
            }
        }
    }
};

Binding::Binding(Shell& shell) : shell_(shell) {
    if (shell.form5) {
        TForm5& f = *shell.form5;
        auto v = std::make_unique<View>(f.window);
        v->add(f.Panel1);
        v->add(f.Button1, v->commands.button1_click);
        v->add(f.Button2, v->commands.button2_click);
        v->add(f.ProgressBar1);
        v->add(f.ProgressBar2);
        v->add(f.StatusBar1);
        views_.push_back(std::move(v));
    }
    if (shell.form6) {
        TForm6& f = *shell.form6;
        auto v = std::make_unique<View>(f.window);
        v->add(f.Bevel1);
        v->add(f.Button1, v->commands.button1_click);
        v->add(f.Button2, v->commands.button2_click);
        for (Label* l : {&f.Label2, &f.Label3, &f.Label4, &f.Label5, &f.Label6, &f.Label7})
            v->add(*l);
        v->add(f.Image1);
        v->add(f.Label1);
        v->add(f.ProgressBar1);
        v->add(f.StatusBar1);
        views_.push_back(std::move(v));
    }
    if (shell.form1) {
        TForm1& f = *shell.form1;
        auto v = std::make_unique<View>(f.window);
        v->add(f.Bevel1);
        v->add(f.Bevel2);
        v->add(f.Button1, v->commands.button1_click);
        v->add(f.Button2, v->commands.button2_click);
        v->add(f.Image1);
        v->add(f.Image2);
        auto* label1 = static_cast<ClickLabel*>(v->add(f.Label1));
        label1->double_clicked = [cmds = &v->commands] {
            if (cmds->label1_double_click) cmds->label1_double_click();
        };
        v->add(f.Label3);
        v->add(f.Label4);
        v->add(f.Label2);
        v->add(f.ProgressBar1);
        v->add(f.StatusBar1);
        views_.push_back(std::move(v));
    }
    if (shell.form3) views_.push_back(std::make_unique<View>(shell.form3->window));
    if (shell.form4) views_.push_back(std::make_unique<View>(shell.form4->window));
    frame_timer_ = std::make_unique<QTimer>();
    frame_timer_->setSingleShot(true);
    frame_timer_->setTimerType(Qt::PreciseTimer);
    QObject::connect(frame_timer_.get(), &QTimer::timeout, [this] { sync(Paint::WithWindow); });
    shell_.repaint = [this] { sync(); };
    shell_.repaint_soon = [this] { sync_soon(); };
    sync();
}

Binding::~Binding() {
    shell_.repaint = nullptr;
    shell_.repaint_soon = nullptr;
}

void Binding::sync(Paint paint) {
    if (syncing_) return;  // a repaint request from inside a sync changes nothing new
    syncing_ = true;
    frame_timer_->stop();  // what a pending frame would draw is drawn now
    for (auto& v : views_) v->sync(paint);
    for (auto& fn : extra_sync_) fn();
    last_sync_ = clock_();
    ++syncs_;
    syncing_ = false;
}

void Binding::sync_soon() {
    // Never at once: the session writes progress just before it sends a packet, and
    // drawing then would hold the packet back. A frame-old sync is due at the next window
    // events, which run in the wait for the answer while the packet is still on the wire.
    const auto since = clock_() - last_sync_;
    if (since >= kFrame) {
        frame_timer_->start(std::chrono::milliseconds(0));
        return;
    }
    // Within a frame: the first write after the frame's end brings the sync forward as
    // above; this timer only draws the last write when no other follows.
    if (!frame_timer_->isActive())
        frame_timer_->start(std::chrono::ceil<std::chrono::milliseconds>(kLastWriteDelay - since));
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
