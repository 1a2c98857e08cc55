// The "Setup" dialog (TForm3): choice of the serial port among those present.
// The visible list ComboBox1 holds the friendly names, the hidden list ComboBox2 the port
// names, entry i of one belonging to entry i of the other.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "serial/ports.h"
#include "ui/controls.h"

namespace quillon::ui {

struct TForm3 {
    Window window;
    Label Label1;        // "Port :"
    ComboBox ComboBox1;  // friendly names
    Button Button1;      // "&Ok"
    Button Button2;      // "&Cancel"
    ComboBox ComboBox2;  // port names, never visible
    TForm3();
    ControlList controls();
};

// Gives the present ports in the platform's order (serial::ListPorts in the program).
using PortLister = std::function<std::vector<serial::PortEntry>()>;

// Selects position `index` of a list (-1: none), with its text in the edit field.
void SelectEntry(ComboBox& box, int index);

// FillPortLists: both lists emptied, then one entry per listed port.
void FillPortLists(TForm3& form, const PortLister& list_ports);
// FindPortEntry: the position of "COM<port+1>" in the hidden list, ignoring case; 0 when
// it is not there.
std::int16_t FindPortEntry(const TForm3& form, std::int16_t port);
// PortFromEntry: the port number named by the hidden list's entry at `position`: the
// number after "COM" (in any case) minus 1; 0 when there is no entry there.
std::int16_t PortFromEntry(const TForm3& form, std::int16_t position);

}  // namespace quillon::ui
