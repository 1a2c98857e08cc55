// The generated tables against the handed-over HEX files and manifests: unscrambling every
// payload block with the key of its start address gives back exactly the HEX file's flash
// bytes; EEPROM and fix bytes are carried as given.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "catalog/catalog.h"
#include "catalog/catalog_tables.h"

namespace quillon::catalog {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint32_t kEepromHexBase = 0xF00000;

// A small Intel HEX reader of the test's own (data, extended linear address, end records).
std::map<std::uint32_t, std::uint8_t> ReadHex(const std::string& path) {
    std::ifstream in(path);
    EXPECT_TRUE(in) << path;
    std::map<std::uint32_t, std::uint8_t> bytes;
    std::uint32_t upper = 0;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        Bytes r;
        for (std::size_t i = 1; i + 1 < line.size(); i += 2)
            r.push_back(static_cast<std::uint8_t>(std::stoul(line.substr(i, 2), nullptr, 16)));
        std::uint8_t sum = 0;
        for (std::uint8_t b : r) sum = static_cast<std::uint8_t>(sum + b);
        EXPECT_EQ(sum, 0) << path << ": " << line;
        const std::uint32_t address = (r[1] << 8) | r[2];
        if (r[3] == 0x04) upper = ((r[4] << 8) | r[5]) << 16;
        if (r[3] == 0x00)
            for (std::size_t i = 0; i < r[0]; ++i) bytes[upper + address + i] = r[4 + i];
    }
    return bytes;
}

struct Manifest {
    int group = -1, family = -1;
    std::string hex;
    Bytes fix;
    int print = -1, preparation = -1;
};

Manifest ReadManifest(const std::string& path) {
    std::ifstream in(path);
    EXPECT_TRUE(in) << path;
    Manifest m;
    std::string line;
    while (std::getline(in, line)) {
        line = line.substr(0, line.find('#'));
        const auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::istringstream key_in(line.substr(0, eq)), value(line.substr(eq + 1));
        std::string key;
        key_in >> key;
        if (key == "record") value >> m.group >> m.family;
        if (key == "hex") value >> m.hex;
        if (key == "print_code") value >> std::hex >> m.print;
        if (key == "preparation_code") value >> std::hex >> m.preparation;
        if (key == "fix")
            for (unsigned b; value >> std::hex >> b;) m.fix.push_back(static_cast<std::uint8_t>(b));
    }
    return m;
}

const RecordDefinition* FindRecord(const CatalogDefinition& d, int group, int family) {
    for (const RecordDefinition& r : d.records)
        if (r.PrintGroup == group && r.FamilyIndex == family) return &r;
    return nullptr;
}

Bytes ArrayBytes(const CatalogDefinition& d, std::int16_t index, std::int32_t count) {
    if (index < 0) return {};
    const ImageArray& a = d.arrays[static_cast<std::size_t>(index)];
    EXPECT_LE(count, a.size);
    return Bytes(a.bytes, a.bytes + count);
}

TEST(GeneratedTables, UnscrambleToTheHexFilesBytes) {
    const CatalogDefinition d = BuildCatalog();
    const std::string dir = QUILLON_CATALOG_IMAGES;
    for (const char* name : {"hj64_default.manifest", "k80_default.manifest"}) {
        SCOPED_TRACE(name);
        const Manifest m = ReadManifest(dir + "/" + name);
        const RecordDefinition* r = FindRecord(d, m.group, m.family);
        ASSERT_NE(r, nullptr);
        const auto hex = ReadHex(dir + "/" + m.hex);

        Bytes flash, eeprom;
        for (auto [address, byte] : hex) {
            Bytes& target = address >= kEepromHexBase ? eeprom : flash;
            const std::uint32_t at = address >= kEepromHexBase ? address - kEepromHexBase : address;
            if (target.size() <= at) target.resize(at + 1, 0xFF);
            target[at] = byte;
        }

        const bool wide = m.family == kFamily64 || m.family == kFamily128;
        const std::int32_t unit = wide ? 2 : 1;
        const std::int32_t block = wide ? 256 : 64;
        const std::int32_t descriptor = wide ? 1024 : 14;
        Bytes payload = ArrayBytes(d, r->payload_array, r->PayloadLength);
        ASSERT_EQ(payload.size(), flash.size());
        for (std::size_t i = 0; i < payload.size(); ++i) {
            const std::uint32_t block_start = static_cast<std::uint32_t>(i / block * block / unit);
            payload[i] ^= ScrambleKey(static_cast<std::uint8_t>(block_start & 0xFF), 1);
        }
        EXPECT_EQ(payload, flash);
        EXPECT_EQ(ArrayBytes(d, r->eeprom_array, r->EepromCount), eeprom);
        EXPECT_EQ(ArrayBytes(d, r->fix_array, r->FixCount), m.fix);

        // The codes the manifest states are the ones the image carries.
        const std::size_t offset = static_cast<std::size_t>(descriptor);
        EXPECT_EQ(flash[offset], m.print);
        EXPECT_EQ(flash[offset + 1], m.preparation);
        EXPECT_TRUE(r->has_codes);
        EXPECT_EQ(r->PrintCode, m.print);
        EXPECT_EQ(r->PreparationCode, m.preparation);
        EXPECT_EQ(r->PlainFlag, 0);
    }
}

TEST(GeneratedTables, EveryRecordFitsItsArrays) {
    const CatalogDefinition d = BuildCatalog();
    EXPECT_EQ(d.records.size(), 26u);  // 2 images, 23 declared empty, 1 shared
    for (const RecordDefinition& r : d.records) {
        ASSERT_GE(r.payload_array, 0);
        EXPECT_LE(r.PayloadLength, d.arrays[static_cast<std::size_t>(r.payload_array)].size);
        EXPECT_LT(r.PrintGroup, kPrintGroups);
        EXPECT_LT(r.FamilyIndex, kFamiliesInUse);
        if (r.PayloadLength <= 1) {
            EXPECT_EQ(r.PayloadLength, 1);
            EXPECT_EQ(d.arrays[static_cast<std::size_t>(r.payload_array)].bytes[0], 0);
        }
    }
}

}  // namespace
}  // namespace quillon::catalog
