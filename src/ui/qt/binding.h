// Renders the window models of ui/ as real Qt widgets at their pixel positions and keeps
// them in step: the models own every property, widgets are redrawn from them by sync().
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "ui/window_commands.h"
#include "ui/windows.h"

class QLabel;
class QPushButton;
class QProgressBar;
class QFrame;
class QAction;
class QMenuBar;
class QTimer;

namespace quillon::ui::qt {

// A fixed-size top-level window: menu bar above a client area of the model's size.
class FormWidget : public QWidget {
    Q_OBJECT
public:
    FormWidget(Window& model, Commands& commands);
    QWidget* client() const { return client_; }
    QMenuBar* menu_bar() const { return menu_bar_; }
    QAction* menu_action() const { return menu_action_; }
    void sync();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    Window& model_;
    Commands& commands_;
    QMenuBar* menu_bar_ = nullptr;
    QAction* menu_action_ = nullptr;
    QWidget* client_ = nullptr;
};

class Binding {
public:
    // Creates the widgets of every window that exists in `shell`, hidden, and installs
    // itself as the shell's repaint hook.
    explicit Binding(Shell& shell);
    ~Binding();
    Binding(const Binding&) = delete;
    Binding& operator=(const Binding&) = delete;

    // How a sync draws what a model asked to be repainted at once: now (the caller goes on
    // without running window events, so the screen must show it before), or with the
    // window's next paint, one paint for every widget that changed (a frame's sync, which
    // runs inside the window events).
    enum class Paint { Now, WithWindow };
    // Brings every widget in line with its model.
    void sync(Paint paint = Paint::Now);
    // Syncs done so far.
    int syncs() const { return syncs_; }

    // The top-level widget of a window model (null when the window does not exist).
    FormWidget* form(const Window& model) const;
    Commands& commands(const Window& model);
    // Extra work for sync(): dialogs that bind their own controls register it here.
    void on_sync(std::function<void()> fn) { extra_sync_.push_back(std::move(fn)); }

private:
    struct View;
    // Creates a window and the widgets of the controls it lists.
    void add_view(Window& window, const ControlList& controls);

    Shell& shell_;
    std::vector<std::unique_ptr<View>> views_;
    std::vector<std::function<void()>> extra_sync_;
    bool syncing_ = false;
    std::unique_ptr<QTimer> frame_timer_;  // the frame pacer's timer (ui/frame_pacer.h)
    int syncs_ = 0;
};

// Converts a model colour to a QColor (system colours resolved).
QColor ToQColor(Colour c);
// Our own brand pictures, drawn at the given size.
QPixmap BrandPicture(Picture which, QSize size);

}  // namespace quillon::ui::qt
