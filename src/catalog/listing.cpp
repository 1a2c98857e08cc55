#include "catalog/listing.h"

#include <algorithm>
#include <cstdio>

namespace quillon::catalog {

namespace {

constexpr std::uint8_t kResMarkerBit = 0x80;
constexpr std::uint8_t kPreparationNameMask = 0x6F;
constexpr int kRowsWithOldDefault = 6;  // rows below this show "ZRA_R02" for an unknown print
constexpr int kUnknownPrintName = 0;
constexpr int kOldDefaultPrintName = 2;

// The listed chip rows in their listing order.
std::vector<const ChipFamily*> ListedFamilies() {
    std::vector<const ChipFamily*> listed;
    for (const ChipFamily& f : kChipFamilies)
        if (f.listing_place != 0) listed.push_back(&f);
    std::sort(listed.begin(), listed.end(), [](const ChipFamily* a, const ChipFamily* b) {
        return a->listing_place < b->listing_place;
    });
    return listed;
}

}  // namespace

void ListCatalog(const CatalogState& state, std::vector<std::string>& lines) {
    lines.emplace_back(kListingHeader);
    lines.emplace_back(kListingSeparator);
    int row = 0;
    auto list = [&](const ChipFamily& f, int group) {
        const FirmwareImage& r = state.at(group, f.column);
        if (r.PayloadLength <= 1) return false;
        // The image's own descriptor bytes, whatever the record's plain flag and codes say.
        const ImageCodes codes = DescriptorCodes(r.Payload, r.PayloadLength, f.descriptor);
        lines.push_back(FormatCatalogRow(static_cast<std::int8_t>(row), std::string(f.listing_name),
                                         static_cast<std::int8_t>(codes.print), codes.preparation));
        ++row;
        return true;
    };
    for (const ChipFamily* f : ListedFamilies()) {
        if (list(*f, 0)) continue;
        for (int group : f->listing_rows) list(*f, group);
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
