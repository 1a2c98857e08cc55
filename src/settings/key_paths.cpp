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

bool SaveSetting(std::string_view name, std::string_view value, std::uint8_t edition,
                 const Store& store) {
    return StoreSetting(name, value, edition, store) != SavedTo::Nowhere;
}

}  // namespace quillon::settings
