// The catalog listing of the "Version .." dialog: one line per listed image with the print
// and preparation its descriptor bytes state.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "catalog/preparation.h"

namespace quillon::catalog {

inline constexpr const char* kListingHeader = "Device - Print          - Preparation";
inline constexpr const char* kListingSeparator = "-------------------------------------";

// Appends the header, the separator and one line per listed image to `lines`.
void ListCatalog(const CatalogState& state, std::vector<std::string>& lines);

// One listing line for row number `row` (0 for the first image line).
std::string FormatCatalogRow(std::int8_t row, const std::string& family_name,
                             std::int8_t print_code, std::uint8_t preparation_code);

}  // namespace quillon::catalog
