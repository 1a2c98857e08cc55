#include "app/edition.h"

#include <array>
#include <initializer_list>

namespace quillon::app {
namespace {

struct KeywordGroup {
    std::initializer_list<std::string_view> keywords;
    ui::Edition edition;
};

// Order matters: "KP740" (group 2) is tested before "KP" (group 3).
const std::array<KeywordGroup, 3> kGroups = {{
    {{"KVD", "PXR", "ZNB", "DRASK", "HWM", "JT4", "FVQ", "MZL", "TQX", "NYB"},
     ui::Edition::Upgrade},
    {{"KP740"}, ui::Edition::Updater},
    {{"KP", "LUV", "WRD", "VANTEL", "GDF", "YCM", "PLOSK", "PLOSF", "B.", "J.", "FANTO", "DWELMAR",
      "JB."},
     ui::Edition::Loader},
}};

}  // namespace

ui::Edition SelectEdition(std::string_view label) {
    for (const auto& group : kGroups)
        for (std::string_view word : group.keywords)
            if (label.find(word) != std::string_view::npos) return group.edition;
    return ui::Edition::Updater;
}

const std::string& ProductLabel() {
    static const std::string label = QUILLON_PRODUCT_LABEL;
    return label;
}

// __DATE__ already has the wanted form: "Dec  9 2026".
const std::string& BuildDate() {
    static const std::string date = __DATE__;
    return date;
}

const std::string& BuildTime() {
    static const std::string time = __TIME__;
    return time;
}

}  // namespace quillon::app
