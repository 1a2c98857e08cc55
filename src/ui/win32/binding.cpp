#include "ui/win32/binding.h"

#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "ui/port_selection.h"
#include "ui/version_dialog.h"
#include "ui/win32/resource_ids.h"

namespace quillon::ui::win32 {
namespace {

constexpr const char* kFormClass = "QuillonForm";
constexpr UINT kMenuCommandId = 100;  // the one menu command of every window
constexpr UINT kFirstControlId = 1000;
constexpr int kComboDropHeight = 200;  // pixels of the opened list below the edit field
// The models may change after every packet (a thousand times in two seconds); the windows
// follow them at most this often, about a screen frame. Under Wine each change of a control
// is a round trip to the server and each paint a trip to X, so following every change made
// an update several times slower than its wire time.
constexpr std::chrono::milliseconds kSyncInterval{25};
constexpr UINT_PTR kSyncTimerId = 1;
constexpr UINT_PTR kFrameTimerId = 2;  // the frame pacer's (ui/frame_pacer.h)

// The models' pixels are 96-dpi pixels (100 % display scale). A window's own DPI outside
// the range Windows offers (100 % to 500 %) is taken as its nearest end, and none at all
// as 100 %, so that a broken value never lays a window out at zero or absurd size.
constexpr int kDesignDpi = 96;
constexpr int kHighestDpi = 480;

// The awareness context "per monitor, version 2" (DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2).
const HANDLE kPerMonitorAwareV2 = reinterpret_cast<HANDLE>(-4);

// The DPI calls of user32 that Windows 10 1607 brought, looked up at run time: an older
// system, or a Wine without them, runs with the screen's DPI instead.
struct DpiCalls {
    UINT(WINAPI* dpi_for_window)(HWND) = nullptr;
    BOOL(WINAPI* adjust_window_rect)(RECT*, DWORD, BOOL, DWORD, UINT) = nullptr;
    HANDLE(WINAPI* set_thread_awareness)(HANDLE) = nullptr;
};
template <class F>
void Load(HMODULE module, const char* name, F& f) {
    // Through the generic function pointer type, which converts to any other silently.
    f = reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}
const DpiCalls& Dpi() {
    static const DpiCalls calls = [] {
        DpiCalls c;
        if (const HMODULE user32 = GetModuleHandleA("user32.dll")) {
            Load(user32, "GetDpiForWindow", c.dpi_for_window);
            Load(user32, "AdjustWindowRectExForDpi", c.adjust_window_rect);
            Load(user32, "SetThreadDpiAwarenessContext", c.set_thread_awareness);
        }
        return c;
    }();
    return calls;
}

}  // namespace

int SaneDpi(long dpi) {
    if (dpi <= 0) return kDesignDpi;
    return int(std::clamp(dpi, long(kDesignDpi), long(kHighestDpi)));
}

int ScaleForDpi(int pixels, int dpi) {
    return MulDiv(pixels, dpi, kDesignDpi);
}

int WindowDpi(HWND window) {
    if (Dpi().dpi_for_window && window) return SaneDpi(long(Dpi().dpi_for_window(window)));
    const HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : kDesignDpi;
    if (screen) ReleaseDC(nullptr, screen);
    return SaneDpi(dpi);
}

// One control and what was last set on it. A sync compares the model with these and calls
// into the window system only for what changed: under Wine most of those calls are a round
// trip to the server, and the engine asks for a sync after every packet.
struct Bound {
    ListedControl listed;
    HWND hwnd = nullptr;
    UINT id = 0;
    bool synced = false;  // false until the first sync has set every property
    RECT rect{};          // last place set
    bool visible = false;
    int repaints = -1;  // last repaint request honoured
    Font font;          // last font set (labels change theirs)
    std::string text;   // last text set
    Colour text_colour = 0, background = 0;
    bool opaque = false;
    bool enabled = true;
    bool focused = false;
    bool take_focus = false;  // the model moved the focus here: given once it is shown
    int min = 0, max = 0, position = 0, item_index = -1;
    bool smooth = false;
    ProgressState state = ProgressState::Normal;
    std::vector<std::string> items;
    std::function<void()> click;  // buttons and the clickable label
    HBITMAP picture = nullptr;    // an image's bitmap at the window's DPI, ours to delete

    template <class T>
    T* as() const {
        return listed.as<T>();
    }
};

namespace {

std::string Family(const std::string& f) {
    if (f == "Times") return "Times New Roman";
    if (f == "Courier") return "Courier New";
    return f;
}

// The kind of face, so that a system without the named font (a fresh Wine prefix has no
// Times New Roman) still picks a serif or a fixed-pitch one.
BYTE PitchAndFamily(const std::string& f) {
    if (f == "Times") return DEFAULT_PITCH | FF_ROMAN;
    if (f == "Courier") return FIXED_PITCH | FF_MODERN;
    return DEFAULT_PITCH | FF_DONTCARE;
}

// Keeps every brush of a colour once, for the colour messages.
HBRUSH BrushFor(Colour c) {
    static std::map<Colour, HBRUSH> brushes;
    auto [it, added] = brushes.try_emplace(c, nullptr);
    if (added) it->second = CreateSolidBrush(ToColorRef(c));
    return it->second;
}

int ResourceOf(Picture p) {
    switch (p) {
        case Picture::BrandSmall:
            return QUILLON_IDB_BRAND_SMALL;
        case Picture::BrandLoader:
            return QUILLON_IDB_BRAND_LOADER;
        case Picture::BrandWide:
            break;
    }
    return QUILLON_IDB_BRAND_WIDE;
}

// A brand picture at `dpi`: the 96-dpi bitmap of the resources resampled bilinearly to its
// scaled size, so that it stays smooth where a plain stretch would show blocks. The caller
// owns the bitmap; null when the resource cannot be read.
HBITMAP ScaledPicture(Picture p, int dpi) {
    const HBITMAP source =
        static_cast<HBITMAP>(LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(ResourceOf(p)),
                                        IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (!source) return nullptr;
    BITMAP info{};
    GetObjectA(source, sizeof info, &info);
    const int sw = info.bmWidth, sh = std::abs(info.bmHeight);
    if (dpi == kDesignDpi || sw <= 0 || sh <= 0) return source;
    // Both pictures as top-down 32-bit rows (B, G, R, unused).
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = sw;
    bi.bmiHeader.biHeight = -sh;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    std::vector<std::uint8_t> in(std::size_t(sw) * std::size_t(sh) * 4);
    const HDC screen = GetDC(nullptr);
    const int rows = GetDIBits(screen, source, 0, UINT(sh), in.data(), &bi, DIB_RGB_COLORS);
    DeleteObject(source);
    const int dw = std::max(1, ScaleForDpi(sw, dpi)), dh = std::max(1, ScaleForDpi(sh, dpi));
    // 24 bits: a 32-bit picture would be drawn with its unused byte taken as transparency.
    BITMAPINFO out_info = bi;
    out_info.bmiHeader.biWidth = dw;
    out_info.bmiHeader.biHeight = -dh;
    out_info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    const HBITMAP out = rows == sh
                            ? CreateDIBSection(screen, &out_info, DIB_RGB_COLORS, &bits, nullptr, 0)
                            : nullptr;
    ReleaseDC(nullptr, screen);
    if (!out || !bits) return out;
    const std::size_t stride = (std::size_t(dw) * 3 + 3) & ~std::size_t(3);
    auto* dst = static_cast<std::uint8_t*>(bits);
    for (int y = 0; y < dh; ++y) {
        // The source point under the centre of the target pixel, clamped to the edges.
        const double fy = std::clamp((y + 0.5) * sh / dh - 0.5, 0.0, double(sh - 1));
        const int y0 = int(fy), y1 = std::min(y0 + 1, sh - 1);
        const double ty = fy - y0;
        for (int x = 0; x < dw; ++x) {
            const double fx = std::clamp((x + 0.5) * sw / dw - 0.5, 0.0, double(sw - 1));
            const int x0 = int(fx), x1 = std::min(x0 + 1, sw - 1);
            const double tx = fx - x0;
            for (int ch = 0; ch < 3; ++ch) {
                auto at = [&](int px, int py) {
                    return double(in[(std::size_t(py) * std::size_t(sw) + std::size_t(px)) * 4 +
                                     std::size_t(ch)]);
                };
                const double top = at(x0, y0) * (1 - tx) + at(x1, y0) * tx;
                const double bottom = at(x0, y1) * (1 - tx) + at(x1, y1) * tx;
                dst[std::size_t(y) * stride + std::size_t(x) * 3 + std::size_t(ch)] =
                    std::uint8_t(std::lround(top * (1 - ty) + bottom * ty));
            }
        }
    }
    return out;
}

// No WS_CLIPCHILDREN: the form's face is painted under its children too, because an etched
// frame (a bevel) draws only its edge and would otherwise show what was there before
// (black on a fresh X11 window under Wine).
DWORD FormStyle(const Window& w) {
    DWORD s = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    if (w.maximise_button) s |= WS_MAXIMIZEBOX;
    return s;
}
DWORD FormExStyle(const Window& w) {
    return w.tool_window ? WS_EX_TOOLWINDOW : WS_EX_CONTROLPARENT;
}

void SetText(HWND h, std::string& last, const std::string& text) {
    if (last == text) return;
    last = text;
    SetWindowTextA(h, text.c_str());
}

}  // namespace

COLORREF ToColorRef(Colour c) {
    return COLORREF(ResolveColour(c));  // both are 0x00BBGGRR
}

HFONT FontFor(const Font& f) {
    static std::map<std::tuple<std::string, int, bool, bool, bool>, HFONT> fonts;
    const bool cell = f.kind == HeightKind::Cell;
    auto [it, added] = fonts.try_emplace({f.family, f.height, cell, f.bold, f.italic}, nullptr);
    if (added) {
        // A negative height asks for the character height, a positive one for the cell.
        const int h = std::max(1, f.height);
        it->second =
            CreateFontA(cell ? h : -h, 0, 0, 0, f.bold ? FW_BOLD : FW_NORMAL, f.italic, FALSE,
                        FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                        DEFAULT_QUALITY, PitchAndFamily(f.family), Family(f.family).c_str());
    }
    return it->second;
}

struct Binding::View {
    Binding& binding;
    Window* model;
    Commands commands;
    // Enter and Escape of a dialog (the dialog manager's IDOK and IDCANCEL); unset: none.
    std::function<void()> on_enter, on_escape;
    HWND hwnd = nullptr;
    HMENU menu = nullptr;
    std::vector<Bound> controls;
    std::string caption;
    bool tool_window = false;
    bool shown = false;  // the model's visibility at the last sync
    bool menu_enabled = true;
    int left = 0, top = 0;  // the model's place at the last sync
    int dpi = kDesignDpi;   // the DPI the window is laid out for
    std::function<void()> on_show;
    std::function<void()> extra_sync;
    std::map<UINT, std::function<void(WORD code)>> handlers;

    View(Binding& b, Window& w, HWND owner) : binding(b), model(&w) {
        if (w.has_menu) {
            menu = CreateMenu();
            AppendMenuA(menu, MF_STRING, kMenuCommandId, w.menu.caption.c_str());
        }
        tool_window = w.tool_window;
        // Made at its 96-dpi size, then sized for the DPI of the monitor it landed on.
        RECT r{0, 0, w.client_width, w.client_height};
        AdjustWindowRectEx(&r, FormStyle(w), menu != nullptr, FormExStyle(w));
        hwnd = CreateWindowExA(FormExStyle(w), kFormClass, w.caption.c_str(), FormStyle(w), w.left,
                               w.top, r.right - r.left, r.bottom - r.top, owner, menu,
                               GetModuleHandleA(nullptr), this);
        if (!hwnd) throw std::runtime_error("cannot create the window " + w.name);
        caption = w.caption;
        left = w.left;
        top = w.top;
        dpi = WindowDpi(hwnd);
        size_form(nullptr);
        SendMessageA(hwnd, WM_SETFONT, WPARAM(font(w.font)), FALSE);
    }
    ~View() {
        if (hwnd) DestroyWindow(hwnd);
        for (Bound& b : controls)
            if (b.picture) DeleteObject(b.picture);
    }

    // A length in the models' 96-dpi pixels as pixels at the window's DPI.
    int px(int pixels) const { return ScaleForDpi(pixels, dpi); }
    // The font a model names, its height scaled to the window's DPI.
    HFONT font(const Font& f) const {
        Font scaled = f;
        scaled.height = px(f.height);
        return FontFor(scaled);
    }

    // The rectangle of a control on the client area (a parent's place added), scaled.
    RECT place(const Control& c) const {
        Rect m = c.rect;
        for (const Bound& b : controls)
            if (!c.parent.empty() && b.listed.name() == c.parent) {
                m.x += b.listed.rect().x;
                m.y += b.listed.rect().y;
            }
        // Edges scaled, not sizes: controls that touch at 96 dpi (a status bar on the bottom
        // edge) still touch.
        return RECT{px(m.x), px(m.y), px(m.x + m.w), px(m.y + m.h)};
    }

    // Sizes the window for its DPI: to `suggested` (the system's rectangle for a move to
    // another monitor), or to its scaled client size at its scaled place.
    void size_form(const RECT* suggested) {
        constexpr UINT kFlags = SWP_NOZORDER | SWP_NOACTIVATE;
        if (suggested) {
            SetWindowPos(hwnd, nullptr, suggested->left, suggested->top,
                         suggested->right - suggested->left, suggested->bottom - suggested->top,
                         kFlags);
            return;
        }
        const int cw = px(model->client_width), ch = px(model->client_height);
        const DWORD style = DWORD(GetWindowLongPtrA(hwnd, GWL_STYLE));
        const DWORD ex = DWORD(GetWindowLongPtrA(hwnd, GWL_EXSTYLE));
        RECT r{0, 0, cw, ch};
        if (Dpi().adjust_window_rect)
            Dpi().adjust_window_rect(&r, style, menu != nullptr, ex, UINT(dpi));
        else
            AdjustWindowRectEx(&r, style, menu != nullptr, ex);
        SetWindowPos(hwnd, nullptr, px(left), px(top), r.right - r.left, r.bottom - r.top, kFlags);
        // A menu bar of another height than the one reckoned with (a wrapped one, or a
        // system that reckons the frame at another DPI): correct by what the client missed.
        RECT client{};
        GetClientRect(hwnd, &client);
        const int dw = cw - client.right, dh = ch - client.bottom;
        if (dw != 0 || dh != 0)
            SetWindowPos(hwnd, nullptr, 0, 0, r.right - r.left + dw, r.bottom - r.top + dh,
                         kFlags | SWP_NOMOVE);
    }

    // Everything of a control that depends on the DPI: its font, place and size, an image's
    // picture, a status bar's part edges and a list's line height.
    void scale(Bound& b) {
        SendMessageA(b.hwnd, WM_SETFONT, WPARAM(font(*b.listed.font)), FALSE);
        if (const Image* m = b.as<Image>()) {
            const HBITMAP picture = ScaledPicture(m->picture, dpi);
            SendMessageA(b.hwnd, STM_SETIMAGE, IMAGE_BITMAP, LPARAM(picture));
            if (b.picture) DeleteObject(b.picture);
            b.picture = picture;
        }
        if (const StatusBar* m = b.as<StatusBar>()) {
            std::vector<int> edges;
            int x = 0;
            for (const StatusPanel& p : m->panels) edges.push_back(px(x += p.width));
            if (!edges.empty())
                SendMessageA(b.hwnd, SB_SETPARTS, edges.size(), LPARAM(edges.data()));
        }
        if (const ListBox* m = b.as<ListBox>())
            SendMessageA(b.hwnd, LB_SETITEMHEIGHT, 0, px(m->item_height));
        const RECT r = place(*b.listed.control);
        b.rect = r;
        // A drop-down list's height includes its opened list.
        const int h = b.as<ComboBox>() ? px(kComboDropHeight) : r.bottom - r.top;
        MoveWindow(b.hwnd, r.left, r.top, r.right - r.left, h, TRUE);
    }

    // Lays the window and its controls out for `new_dpi`.
    void lay_out(int new_dpi, const RECT* suggested) {
        dpi = SaneDpi(new_dpi);
        size_form(suggested);
        SendMessageA(hwnd, WM_SETFONT, WPARAM(font(model->font)), FALSE);
        for (Bound& b : controls) scale(b);
        InvalidateRect(hwnd, nullptr, TRUE);
    }

    // Creates the control of a list entry, in the font the entry names, and what its click
    // runs.
    void add(const ListedControl& c) {
        std::visit([&](auto* m) { add(c, *m); }, c.model);
        Bound& b = controls.back();
        scale(b);
        if (c.command)
            b.click = [command = &(commands.*c.command)] {
                if (*command) (*command)();
            };
    }
    Bound& create(const ListedControl& c, const char* cls, DWORD style, DWORD ex = 0) {
        const UINT id = kFirstControlId + UINT(controls.size());
        const RECT r = place(*c.control);
        HWND h = CreateWindowExA(ex, cls, "", WS_CHILD | WS_CLIPSIBLINGS | style, r.left, r.top,
                                 r.right - r.left, r.bottom - r.top, hwnd,
                                 reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)),
                                 GetModuleHandleA(nullptr), nullptr);
        if (!h) throw std::runtime_error("cannot create the control " + c.name());
        Bound b;
        b.listed = c;
        b.hwnd = h;
        b.id = id;
        b.font = *c.font;
        controls.push_back(std::move(b));
        return controls.back();
    }
    // Frames and panels lie under what is placed on them. A new child goes to the bottom
    // of its siblings (creation order is the tab order), so this runs once all exist.
    void frames_to_bottom() {
        for (Bound& b : controls)
            if (b.as<Panel>() || b.as<Bevel>())
                SetWindowPos(b.hwnd, HWND_BOTTOM, 0, 0, 0, 0,
                             SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }

    void add(const ListedControl& c, Panel& m) {
        create(c, "STATIC", SS_OWNERDRAW, m.sunken ? WS_EX_CLIENTEDGE : 0);
    }
    void add(const ListedControl& c, Bevel&) { create(c, "STATIC", SS_ETCHEDFRAME); }
    void add(const ListedControl& c, Label& m) {
        const DWORD align = m.align == Align::Centre  ? SS_CENTER
                            : m.align == Align::Right ? SS_RIGHT
                                                      : SS_LEFT;
        create(c, "STATIC", align | SS_CENTERIMAGE | SS_NOPREFIX | SS_NOTIFY);
    }
    void add(const ListedControl& c, Button&) { create(c, "BUTTON", BS_PUSHBUTTON | WS_TABSTOP); }
    void add(const ListedControl& c, Image&) {
        create(c, "STATIC", SS_BITMAP | SS_CENTERIMAGE | SS_REALSIZECONTROL);
    }
    void add(const ListedControl& c, ProgressBar& m) {
        create(c, PROGRESS_CLASSA, m.smooth ? PBS_SMOOTH : 0);
    }
    void add(const ListedControl& c, StatusBar& m) {
        Bound& b = create(c, STATUSCLASSNAMEA, CCS_NOPARENTALIGN | CCS_NORESIZE);
        b.items.assign(m.panels.size(), std::string());
    }
    void add(const ListedControl& c, ComboBox& m) {
        Bound& b = create(c, "COMBOBOX",
                          (m.editable ? CBS_DROPDOWN : CBS_DROPDOWNLIST) | CBS_AUTOHSCROLL |
                              WS_VSCROLL | WS_TABSTOP);
        handlers[b.id] = [box = &m, h = b.hwnd](WORD code) {
            // The user's choice goes to the model at once.
            if (code == CBN_SELCHANGE) {
                SelectEntry(*box, int(SendMessageA(h, CB_GETCURSEL, 0, 0)));
            } else if (code == CBN_EDITCHANGE) {
                char text[256] = {};
                GetWindowTextA(h, text, sizeof text);
                box->text = text;
                box->item_index = -1;
                for (std::size_t i = 0; i < box->items.size(); ++i)
                    if (box->items[i] == box->text) box->item_index = int(i);
            }
        };
    }
    void add(const ListedControl& c, ListBox&) {
        create(c, "LISTBOX", LBS_NOINTEGRALHEIGHT | LBS_NOSEL | WS_VSCROLL | WS_TABSTOP,
               WS_EX_CLIENTEDGE);
    }

    Bound* find(HWND h) {
        for (Bound& b : controls)
            if (b.hwnd == h) return &b;
        return nullptr;
    }
    Bound* find(std::string_view name) {
        for (Bound& b : controls)
            if (b.listed.name() == name) return &b;
        return nullptr;
    }

    void sync_form() {
        Window& w = *model;
        SetText(hwnd, caption, w.caption);
        if (menu && menu_enabled != w.menu.enabled) {
            menu_enabled = w.menu.enabled;
            EnableMenuItem(menu, kMenuCommandId, w.menu.enabled ? MF_ENABLED : MF_GRAYED);
        }
        if (tool_window != w.tool_window) {
            tool_window = w.tool_window;
            SetWindowLongPtrA(hwnd, GWL_EXSTYLE, FormExStyle(w));
            SetWindowPos(
                hwnd, nullptr, 0, 0, 0, 0,
                SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED | SWP_NOACTIVATE);
        }
        // Moved only when the model's place changed: a window the user dragged stays.
        if (left != w.left || top != w.top) {
            left = w.left;
            top = w.top;
            SetWindowPos(hwnd, nullptr, px(w.left), px(w.top), 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
        if (w.visible && !shown && on_show) on_show();
        if (shown != w.visible) {
            ShowWindow(hwnd, w.visible ? SW_SHOW : SW_HIDE);
            if (w.visible) SetForegroundWindow(hwnd);
        }
        shown = w.visible;
    }

    // Brings one control in line with its model: its place, what its kind shows, its
    // visibility, and a repaint its model asked for.
    void sync_control(Bound& b) {
        const bool first = !b.synced;
        b.synced = true;
        const Control& m = *b.listed.control;
        const RECT r = place(m);
        // A drop-down list keeps the height that includes its opened list.
        if (!b.as<ComboBox>() && (first || !EqualRect(&b.rect, &r))) {
            b.rect = r;
            MoveWindow(b.hwnd, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
        }
        const bool redraw =
            std::visit([&](auto* kind) { return sync(b, *kind, first); }, b.listed.model);
        if (first || b.visible != m.visible) {
            b.visible = m.visible;
            ShowWindow(b.hwnd, b.visible ? SW_SHOWNA : SW_HIDE);
        }
        if (b.take_focus) {
            b.take_focus = false;
            focus(b.hwnd);
        }
        if (redraw && b.visible && shown)
            RedrawWindow(b.hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    }

    // What each kind shows. Each answers whether its model asked for a repaint at once.
    bool sync(Bound& b, const Label& m, bool first) {
        bool changed = first;
        if (!(b.font == m.font)) {
            b.font = m.font;
            SendMessageA(b.hwnd, WM_SETFONT, WPARAM(font(m.font)), FALSE);
            changed = true;
        }
        if (b.text != m.text) changed = true;
        SetText(b.hwnd, b.text, m.text);
        // Colours come with WM_CTLCOLORSTATIC, asked for when the label paints.
        if (b.text_colour != m.text_colour || b.background != m.background ||
            b.opaque != m.opaque) {
            b.text_colour = m.text_colour;
            b.background = m.background;
            b.opaque = m.opaque;
            changed = true;
        }
        if (changed) InvalidateRect(b.hwnd, nullptr, TRUE);
        return TakeRepaint(b, m.repaints);
    }
    bool sync(Bound& b, const Button& m, bool first) {
        SetText(b.hwnd, b.text, m.text);
        if (first || b.enabled != m.enabled) {
            b.enabled = m.enabled;
            EnableWindow(b.hwnd, m.enabled);
        }
        // The focus moves when the model moves it, not on every sync; it is given once the
        // button is shown (sync_control): a hidden window takes no focus.
        const bool focus = m.focused && m.visible && m.enabled;
        b.take_focus = focus && !b.focused;
        b.focused = focus;
        return false;
    }
    bool sync(Bound& b, const Panel& m, bool first) {
        if (first || b.background != m.background) {
            b.background = m.background;
            InvalidateRect(b.hwnd, nullptr, TRUE);
        }
        return false;
    }
    bool sync(Bound& b, const ProgressBar& m, bool first) {
        const int lo = std::min(m.min, m.max), hi = std::max(m.min, m.max);
        if (first || b.min != lo || b.max != hi) {
            b.min = lo;
            b.max = hi;
            SendMessageA(b.hwnd, PBM_SETRANGE32, lo, hi);
            b.position = lo - 1;  // the control clamped it: set it again
        }
        const int pos = std::clamp(m.position, lo, hi);
        if (b.position != pos) {
            b.position = pos;
            SendMessageA(b.hwnd, PBM_SETPOS, pos, 0);
        }
        if (first || b.smooth != m.smooth) {
            b.smooth = m.smooth;
            const LONG_PTR style = GetWindowLongPtrA(b.hwnd, GWL_STYLE);
            SetWindowLongPtrA(b.hwnd, GWL_STYLE,
                              m.smooth ? (style | PBS_SMOOTH) : (style & ~LONG_PTR(PBS_SMOOTH)));
        }
        if (first || b.state != m.state) {
            b.state = m.state;
            const WPARAM state = m.state == ProgressState::Error    ? PBST_ERROR
                                 : m.state == ProgressState::Paused ? PBST_PAUSED
                                                                    : PBST_NORMAL;
            SendMessageA(b.hwnd, PBM_SETSTATE, state, 0);
        }
        return false;
    }
    bool sync(Bound& b, const StatusBar& m, bool) {
        for (std::size_t k = 0; k < m.panels.size() && k < b.items.size(); ++k)
            if (b.items[k] != m.panels[k].text) {
                b.items[k] = m.panels[k].text;
                SendMessageA(b.hwnd, SB_SETTEXTA, k, LPARAM(b.items[k].c_str()));
            }
        return TakeRepaint(b, m.repaints);
    }
    bool sync(Bound& b, const ComboBox& m, bool first) {
        if (first || b.items != m.items) {
            b.items = m.items;
            SendMessageA(b.hwnd, CB_RESETCONTENT, 0, 0);
            for (const std::string& s : m.items)
                SendMessageA(b.hwnd, CB_ADDSTRING, 0, LPARAM(s.c_str()));
            b.item_index = -2;  // the list was refilled: select again
            b.text.clear();
        }
        // The user's choices reach the model through the handlers, so the control differs
        // from the model only when the model was changed.
        if (b.item_index != m.item_index) {
            b.item_index = m.item_index;
            SendMessageA(b.hwnd, CB_SETCURSEL, WPARAM(m.item_index), 0);
            // Selecting puts the entry's text in the edit field.
            if (m.item_index >= 0 && std::size_t(m.item_index) < m.items.size())
                b.text = m.items[std::size_t(m.item_index)];
        }
        if (m.editable && b.text != m.text) {
            char now[256] = {};
            GetWindowTextA(b.hwnd, now, sizeof now);
            if (m.text != now) SetWindowTextA(b.hwnd, m.text.c_str());
            b.text = m.text;
        }
        return false;
    }
    bool sync(Bound& b, const ListBox& m, bool) {
        if (b.items != m.items) {
            b.items = m.items;
            SendMessageA(b.hwnd, WM_SETREDRAW, FALSE, 0);
            SendMessageA(b.hwnd, LB_RESETCONTENT, 0, 0);
            for (const std::string& s : m.items)
                SendMessageA(b.hwnd, LB_ADDSTRING, 0, LPARAM(s.c_str()));
            SendMessageA(b.hwnd, WM_SETREDRAW, TRUE, 0);
            InvalidateRect(b.hwnd, nullptr, TRUE);
        }
        return false;
    }
    bool sync(Bound&, const Image&, bool) { return false; }
    bool sync(Bound&, const Bevel&, bool) { return false; }
    // Whether a repaint was asked for since the last sync.
    static bool TakeRepaint(Bound& b, int repaints) {
        const bool asked = b.repaints != repaints;
        b.repaints = repaints;
        return asked;
    }
    void sync() {
        for (Bound& b : controls) sync_control(b);
        if (extra_sync) extra_sync();
        sync_form();
    }

    // The colour messages: labels draw in their own colours, everything else on the face.
    LRESULT colour(HDC dc, HWND child) {
        Bound* b = find(child);
        if (const Label* label = b ? b->as<Label>() : nullptr) {
            const Label& m = *label;
            SetTextColor(dc, ToColorRef(m.text_colour));
            const Colour back = m.opaque ? m.background : model->face;
            SetBkColor(dc, ToColorRef(back));
            return LRESULT(BrushFor(back));
        }
        Colour back = model->face;
        if (const Panel* panel = b ? b->as<Panel>() : nullptr) back = panel->background;
        SetBkColor(dc, ToColorRef(back));
        return LRESULT(BrushFor(back));
    }

    void command(UINT id, WORD code, HWND child) {
        if (!child && id == kMenuCommandId) {
            if (commands.menu_click) commands.menu_click();
            return;
        }
        if (auto it = handlers.find(id); it != handlers.end()) {
            it->second(code);
            return;
        }
        Bound* b = find(child);
        if (!b && (id == IDOK || id == IDCANCEL)) {
            // Enter or Escape (IsDialogMessage). Enter on a focused button presses that
            // button, as in a dialog, where the focused button is the default one.
            Bound* focused = find(GetFocus());
            if (id == IDOK && focused && focused->as<Button>() && focused->click)
                focused->click();
            else if (id == IDOK && on_enter)
                on_enter();
            else if (id == IDCANCEL && on_escape)
                on_escape();
            return;
        }
        if (!b || !b->click) return;
        if ((b->as<Button>() && code == BN_CLICKED) || (b->as<Label>() && code == STN_DBLCLK))
            b->click();
    }

    // Gives a control the keyboard focus when its window is the active one (an inactive
    // window's focus is set by focus_button when it becomes active).
    void focus(HWND control) {
        if (GetActiveWindow() == hwnd && GetFocus() != control) SetFocus(control);
    }

    // The model's focused button gets the focus whenever the window becomes active.
    void focus_button() {
        for (Bound& b : controls) {
            const Button* m = b.as<Button>();
            if (m && m->focused && m->visible && m->enabled) {
                SetFocus(b.hwnd);
                return;
            }
        }
    }

    // The binding's own timers: a held-back sync, and the line gone quiet during blocks.
    bool timer(HWND h, WPARAM id) {
        if (id == kSyncTimerId) {
            KillTimer(h, kSyncTimerId);
            binding.sync_timer_armed_ = false;
            if (binding.sync_pending_) binding.sync();
            return true;
        }
        if (id == kFrameTimerId) {
            KillTimer(h, kFrameTimerId);
            binding.shell_.frames.Quiet();
            return true;
        }
        return false;
    }

    // A window is hidden, never destroyed: it lives as long as the program.
    void close(HWND h) {
        if (commands.form_close) commands.form_close();
        model->visible = false;
        shown = false;
        ShowWindow(h, SW_HIDE);
    }

    static LRESULT CALLBACK Proc(HWND h, UINT msg, WPARAM wp, LPARAM lp) {
        if (msg == WM_NCCREATE) {
            auto* cs = reinterpret_cast<CREATESTRUCTA*>(lp);
            SetWindowLongPtrA(h, GWLP_USERDATA, LONG_PTR(cs->lpCreateParams));
        }
        auto* v = reinterpret_cast<View*>(GetWindowLongPtrA(h, GWLP_USERDATA));
        if (!v) return DefWindowProcA(h, msg, wp, lp);
        switch (msg) {
            case WM_ERASEBKGND: {
                RECT r;
                GetClientRect(h, &r);
                FillRect(HDC(wp), &r, BrushFor(v->model->face));
                return 1;
            }
            case WM_CTLCOLORSTATIC:
            case WM_CTLCOLORBTN:  // a list box keeps the system's colours
                return v->colour(HDC(wp), HWND(lp));
            case WM_DRAWITEM: {  // the panels: their background colour
                auto* d = reinterpret_cast<DRAWITEMSTRUCT*>(lp);
                if (Bound* b = v->find(d->hwndItem); b && b->as<Panel>())
                    FillRect(d->hDC, &d->rcItem, BrushFor(b->as<Panel>()->background));
                return TRUE;
            }
            case WM_TIMER:
                if (v->timer(h, wp)) return 0;
                break;
            case WM_DPICHANGED:  // moved to a monitor of another scale
                v->lay_out(HIWORD(wp), reinterpret_cast<const RECT*>(lp));
                return 0;
            case WM_COMMAND:
                v->command(LOWORD(wp), HIWORD(wp), HWND(lp));
                return 0;
            case WM_ACTIVATE:
                if (LOWORD(wp) != WA_INACTIVE) {
                    v->focus_button();
                    return 0;
                }
                break;
            case WM_CLOSE:
                v->close(h);
                return 0;
            default:
                break;
        }
        return DefWindowProcA(h, msg, wp, lp);
    }
};

namespace {

void RegisterFormClass() {
    static const bool done = [] {
        INITCOMMONCONTROLSEX icc{sizeof icc,
                                 ICC_WIN95_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
        InitCommonControlsEx(&icc);
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = &Binding::View::Proc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
        wc.hIcon = LoadIcon(nullptr, IDI_APPLICATION);
        wc.lpszClassName = kFormClass;
        return RegisterClassExA(&wc) != 0;
    }();
    if (!done) throw std::runtime_error("cannot register the window class");
}

}  // namespace

Binding::Binding(Shell& shell, serial::PortSelection& ports, serial::ChannelTable& channels,
                 const catalog::CatalogState& catalog)
    : shell_(shell), ports_(ports), channels_(channels), catalog_(catalog) {
    // Every window follows the scale of the monitor it is on, even where the manifest's
    // awareness was not applied.
    if (Dpi().set_thread_awareness) Dpi().set_thread_awareness(kPerMonitorAwareV2);
    RegisterFormClass();
    // The edition's window comes first and owns the dialogs; the main window owns them when
    // it is the edition's window.
    HWND main = nullptr;
    for (Window* w : shell.windows()) {
        if (w == &shell.form3->window) {
            bind_setup(add_view(*w, shell.form3->controls(), main));
        } else if (w == &shell.form4->window) {
            bind_version(add_view(*w, shell.form4->controls(), main));
        } else {
            const HWND hwnd = add_view(*w, shell.controls_of(*w), nullptr).hwnd;
            if (!main) main = hwnd;
        }
    }
    for (auto& v : views_) v->frames_to_bottom();
    shell_.repaint = [this] { request_sync(); };
    // The pacer draws right after the engine's writes, while the packet is on the wire.
    shell_.frames.bind({[this] { sync(); },
                        [this](std::chrono::steady_clock::duration after) {
                            const auto ms = std::chrono::ceil<std::chrono::milliseconds>(after);
                            if (!views_.empty())
                                SetTimer(views_.front()->hwnd, kFrameTimerId, UINT(ms.count()),
                                         nullptr);
                        }});
    sync();
}

Binding::~Binding() {
    shell_.repaint = nullptr;
    shell_.frames.unbind();
}

Binding::View& Binding::add_view(Window& window, const ControlList& controls, HWND owner) {
    auto v = std::make_unique<View>(*this, window, owner);
    for (const ListedControl& c : controls) v->add(c);
    views_.push_back(std::move(v));
    return *views_.back();
}

void Binding::bind_setup(View& v) {
    v.commands.button1_click = [this] {
        SetupOkClick(shell_, ports_, channels_);
        sync();
    };
    v.commands.button2_click = [this] {
        SetupCancelClick(shell_, ports_);
        sync();
    };
    v.on_enter = v.commands.button1_click;
    v.on_escape = v.commands.button2_click;
}

void Binding::bind_version(View& v) {
    v.commands.button1_click = [this] {
        shell_.form4->Button1Click();
        sync();
    };
    // Escape closes it, as "&Ok" does; Enter presses the focused "&Ok".
    v.on_escape = v.commands.button1_click;
    // Every showing of the window refills the list, whoever showed it.
    v.on_show = [this] { shell_.form4->FormShow(catalog_); };
}

void Binding::request_sync() {
    const auto now = std::chrono::steady_clock::now();
    if (now - last_sync_ >= kSyncInterval) {
        sync();
        return;
    }
    sync_pending_ = true;
    if (sync_timer_armed_ || views_.empty()) return;
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(kSyncInterval - (now - last_sync_));
    sync_timer_armed_ =
        SetTimer(views_.front()->hwnd, kSyncTimerId, UINT(left.count()), nullptr) != 0;
    if (!sync_timer_armed_) sync();  // no timer to come back with: follow now
}

void Binding::sync() {
    if (syncing_) return;  // a repaint request from inside a sync changes nothing new
    syncing_ = true;
    sync_pending_ = false;
    last_sync_ = std::chrono::steady_clock::now();
    for (auto& v : views_) v->sync();
    shell_.frames.Synced();
    syncing_ = false;
}

void Binding::lay_out(int dpi) {
    for (auto& v : views_) v->lay_out(dpi, nullptr);
}

int Binding::dpi(const Window& model) const {
    for (auto& v : views_)
        if (v->model == &model) return v->dpi;
    return 0;
}

HWND Binding::form(const Window& model) const {
    for (auto& v : views_)
        if (v->model == &model) return v->hwnd;
    return nullptr;
}

HWND Binding::control(const Window& model, std::string_view name) const {
    for (auto& v : views_)
        if (v->model == &model)
            if (Bound* b = v->find(name)) return b->hwnd;
    return nullptr;
}

Commands& Binding::commands(const Window& model) {
    for (auto& v : views_)
        if (v->model == &model) return v->commands;
    throw std::logic_error("no such window");
}

bool Binding::dialog_message(MSG& msg) {
    if (!msg.hwnd) return false;
    const HWND top = GetAncestor(msg.hwnd, GA_ROOT);
    for (auto& v : views_)
        if (v->hwnd == top) return IsDialogMessageA(top, &msg) != 0;
    return false;
}

void DispatchOne(Binding* binding, MSG& msg) {
    if (binding && binding->dialog_message(msg)) return;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
}

void RunMessageLoop(Binding& binding) {
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchOne(&binding, msg);
}

}  // namespace quillon::ui::win32
