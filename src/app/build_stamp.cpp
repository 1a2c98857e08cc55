#include "app/build_stamp.h"

namespace quillon::app {

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
