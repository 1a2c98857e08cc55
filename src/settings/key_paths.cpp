#include "settings/settings.h"

#include "edition/edition.h"

namespace quillon::settings {

std::string_view KeyPath(std::uint8_t edition) {
    return editions::ForCode(edition).settings_key;
}

bool SaveSetting(std::string_view name, std::string_view value, std::uint8_t edition,
                 const Store& store) {
    return StoreSetting(name, value, edition, store) != SavedTo::Nowhere;
}

}  // namespace quillon::settings
