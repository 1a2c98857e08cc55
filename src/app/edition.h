// Edition selection from the product label, and the build stamps.
#pragma once

#include <string>
#include <string_view>

#include "ui/windows.h"

namespace quillon::app {

// Searches the label for keywords group by group; the first group with a match decides.
// Matching is an exact, case-sensitive substring test.
ui::Edition SelectEdition(std::string_view label);

// The label this executable was built with.
const std::string& ProductLabel();
// "Mmm dd yyyy" (day right-aligned in two places) and "hh:mm:ss", fixed at build time.
const std::string& BuildDate();
const std::string& BuildTime();

}  // namespace quillon::app
