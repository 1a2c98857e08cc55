#include "catalog/listing.h"

#include <cstdio>

namespace quillon::catalog {

namespace {

constexpr std::uint8_t kResMarkerBit = 0x80;
constexpr std::uint8_t kPreparationNameMask = 0x6F;
constexpr int kRowsWithOldDefault = 6;  // rows below this show "ZRA_R02" for an unknown print
constexpr int kUnknownPrintName = 0;
constexpr int kOldDefaultPrintName = 2;

// A family's listed records: the default image, or else these print rows in this order.
struct ListedFamily {
    int family;
    const char* name;  // six characters: the fixed-pitch columns line up
    std::vector<int> rows;
};

const std::vector<ListedFamily>& ListedFamilies() {
    static const std::vector<ListedFamily> families = {
        {kFamily64, "24HJ64", {5, 6, 7, 8, 11, 16, 19}},
        {kFamily2580, "2580  ", {2, 4, 5, 6}},
        {kFamily258, "258   ", {2, 4, 5, 6}},
        {kFamily2480, "2480  ", {}},
        {kFamily248, "248   ", {}},
        {kFamily2320, "2320  ", {}},
        {kFamily24J10, "24J10 ", {}},
    };
    return families;
}

}  // namespace

void ListCatalog(const CatalogState& state, std::vector<std::string>& lines) {
    lines.emplace_back(kListingHeader);
    lines.emplace_back(kListingSeparator);
    int row = 0;
    auto list = [&](const ListedFamily& f, int group) {
        const FirmwareImage& r = state.at(group, f.family);
        if (r.PayloadLength <= 1) return false;
        // The image's own descriptor bytes, whatever the record's plain flag and codes say.
        const ImageCodes codes =
            DescriptorCodes(r.Payload, r.PayloadLength, DescriptorOffsetOfFamily(f.family));
        lines.push_back(FormatCatalogRow(static_cast<std::int8_t>(row), f.name,
                                         static_cast<std::int8_t>(codes.print), codes.preparation));
        ++row;
        return true;
    };
    for (const ListedFamily& f : ListedFamilies()) {
        if (list(f, 0)) continue;
        for (int group : f.rows) list(f, group);
    }
}

std::string FormatCatalogRow(std::int8_t row, const std::string& family_name,
                             std::int8_t print_code, std::uint8_t preparation_code) {
    const char* print_name;
    const char* connector;
    const char* marker = " ";
    const char* preparation = "UNKNOWN";
    if (print_code >= 1 && print_code < kPrintNameCount) {
        print_name = PrintNames[static_cast<std::size_t>(print_code)];
        connector = ConnectorNames[static_cast<std::size_t>(print_code)];
        if (preparation_code & kResMarkerBit) marker = "RES";
        const int index = preparation_code & kPreparationNameMask;
        if (index >= 1 && index < kPreparationNameCount)
            preparation = PreparationNames[static_cast<std::size_t>(index)];
    } else if (row < kRowsWithOldDefault) {
        print_name = PrintNames[kOldDefaultPrintName];
        connector = "14PIN";
    } else {
        print_name = PrintNames[kUnknownPrintName];
        connector = "16PIN";
    }
    const char* format = "%s - %s[%s] - %s  %s[Code:%02x]";
    const unsigned code = preparation_code;
    const int size = std::snprintf(nullptr, 0, format, family_name.c_str(), print_name, connector,
                                   preparation, marker, code);
    std::string line(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    std::snprintf(line.data(), line.size() + 1, format, family_name.c_str(), print_name, connector,
                  preparation, marker, code);
    return line;
}

}  // namespace quillon::catalog
