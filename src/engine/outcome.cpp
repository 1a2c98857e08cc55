#include "engine/outcome.h"

#include "engine/protocol.h"

namespace quillon::engine {

std::string_view LinkErrorText(int code) {
    switch (code) {
        case LinkNoResponse:
            return kNoResponseText;
        case LinkUserAbort:
            return kUserAbortText;
        case LinkChecksumError:
            return kChecksumErrorText;
        case LinkIncompatible:
            return kIncompatibleText;
        default:
            return {};
    }
}

void ShowLinkError(Frontend& ui, int code) {
    const std::string_view text = LinkErrorText(code);
    if (!text.empty()) ui.ShowOutcome(text, colour::kRed, 0);
}

}  // namespace quillon::engine
