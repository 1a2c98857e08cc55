#include "ui/texts.h"

#include <cstdio>

#include "catalog/catalog.h"

namespace quillon::ui {

std::string BlockText(std::int32_t address) {
    char text[40];
    std::snprintf(text, sizeof text, "Program %05d (%05x)", static_cast<int>(address),
                  static_cast<unsigned>(address));
    return text;
}

std::string EepromText(int index) {
    char text[32];
    std::snprintf(text, sizeof text, "Program EEP %d", index);
    return text;
}

std::string TryText(int attempt) {
    char text[24];
    std::snprintf(text, sizeof text, "Try %d", attempt);
    return text;
}

std::string ResendText(int resend) {
    char text[32];
    std::snprintf(text, sizeof text, "Resend %d", resend);
    return text;
}

std::string LoaderHardwareText(std::uint8_t print_code, std::uint8_t preparation) {
    const std::string name = catalog::NameOfPrint(print_code);
    char text[80];
    std::snprintf(text, sizeof text, "%s - 0x%02x", name.c_str(), preparation);
    return text;
}

std::string LoaderBiosText(std::uint8_t bios) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02x", bios);
    return text;
}

std::string NotSuitableText(std::uint8_t image_print, std::uint8_t image_preparation) {
    const std::string name = catalog::NameOfPrint(image_print);
    char text[96];
    std::snprintf(text, sizeof text, "%s - Preparation %x", name.c_str(),
                  static_cast<unsigned>(image_preparation));
    return text;
}

}  // namespace quillon::ui
