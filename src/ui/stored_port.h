// The remembered port as a window reads it at its creation, by its edition's rules.
#pragma once

#include <cstdint>
#include <string_view>

#include "edition/edition.h"
#include "serial/port_selection.h"

namespace quillon::ui {

using editions::Edition;

// The number in a stored text: decimal, leading blanks and a sign allowed,
// reading stops at the first other character, no digits give 0; its low 16 bits.
// ReadRememberedPort takes a number outside -1..256 (no port, COM1..COM257) as nothing
// stored, rather than its low 16 bits (65540 would be COM5).
std::int16_t StoredPortNumber(std::string_view text);

// Whether a stored text names a port the program can have written: -1 (no port) or
// 0..256 (COM1..COM257).
bool StoredPortInRange(std::string_view text);

// At a window's creation: SelectedPort and OpenedPort from the stored text, by the
// rules of the edition (Updater and Upgrade: OpenedPort = SelectedPort - 1; Loader:
// SelectedPort + 1, or 0 and -1 when nothing was stored).
void ReadRememberedPort(serial::PortSelection& ports, Edition edition, std::string_view text);

}  // namespace quillon::ui
