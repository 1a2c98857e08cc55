// The build's stamps: the product label and the build date and time.
#pragma once

#include <string>

namespace quillon::app {

// The label this executable was built with; it names the release and selects the edition.
const std::string& ProductLabel();
// "Mmm dd yyyy" (day right-aligned in two places) and "hh:mm:ss", fixed at build time.
const std::string& BuildDate();
const std::string& BuildTime();

}  // namespace quillon::app
