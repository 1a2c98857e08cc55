#include "engine/outcome.h"

namespace quillon::engine {

std::string_view LinkErrorText(LinkResult result) {
    switch (result) {
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

}  // namespace quillon::engine
