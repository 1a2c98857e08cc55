// The engine's fixed failure messages for link results.
#pragma once

#include <string_view>

#include "engine/protocol.h"

namespace quillon::engine {

inline constexpr std::string_view kNoResponseText = " not Response ";
inline constexpr std::string_view kUserAbortText = " User Abort !! ";
inline constexpr std::string_view kChecksumErrorText = " CHK Error !! ";
inline constexpr std::string_view kIncompatibleText = " Incompatible Bootloader !! ";

// The text of a link result; empty for LinkOk and unknown codes.
std::string_view LinkErrorText(LinkResult result);

}  // namespace quillon::engine
