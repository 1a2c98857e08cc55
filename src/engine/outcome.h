// The engine's fixed failure messages for link results.
#pragma once

#include <string_view>

#include "engine/frontend.h"

namespace quillon::engine {

inline constexpr std::string_view kNoResponseText = " not Response ";
inline constexpr std::string_view kUserAbortText = " User Abort !! ";
inline constexpr std::string_view kChecksumErrorText = " CHK Error !! ";
inline constexpr std::string_view kIncompatibleText = " Incompatible Bootloader !! ";

// The text of a link result; empty for 0, positive and unknown codes.
std::string_view LinkErrorText(int code);
// Shows the result's text as the red outcome (controls back to idle); nothing for a code
// without text.
void ShowLinkError(Frontend& ui, int code);

}  // namespace quillon::engine
