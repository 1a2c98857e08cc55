#include "settings/settings.h"

namespace quillon::settings {

std::string_view KeyPath(std::uint8_t edition) {
    switch (edition) {
        case 1:
            return "Software\\Orvanta\\Upgrade\\";
        case 2:
            return "Software\\Brannix\\Loader\\";
        default:
            return "Software\\TAV\\Quillon\\";
    }
}

}  // namespace quillon::settings
