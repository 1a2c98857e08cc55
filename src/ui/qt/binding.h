// Renders the window models of ui/ as real Qt widgets at their pixel positions and keeps
// them in step: the models own every property, widgets are redrawn from them by sync().
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "ui/windows.h"

class QLabel;
class QPushButton;
class QProgressBar;
class QFrame;
class QAction;
class QMenuBar;

namespace quillon::ui::qt {

// Commands a window offers; the binding calls them when the user acts. Unset ones do
// nothing.
struct Commands {
    std::function<void()> button1_click;
    std::function<void()> button2_click;
    std::function<void()> menu_click;
    std::function<void()> label1_double_click;
    std::function<void()> form_close;  // the window is closing
};

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

    // Brings every widget in line with its model.
    void sync();

    // The top-level widget of a window model (null when the window does not exist).
    FormWidget* form(const Window& model) const;
    Commands& commands(const Window& model);
    // Extra work for sync(): dialogs that bind their own controls register it here.
    void on_sync(std::function<void()> fn) { extra_sync_.push_back(std::move(fn)); }

private:
    struct View;
    Shell& shell_;
    std::vector<std::unique_ptr<View>> views_;
    std::vector<std::function<void()>> extra_sync_;
    bool syncing_ = false;
};

// Converts a model colour to a QColor (system colours resolved).
QColor ToQColor(Colour c);
// Our own brand pictures, drawn at the given size.
QPixmap BrandPicture(Picture which, QSize size);

}  // namespace quillon::ui::qt
