#include "app/startup.h"

#include <exception>

namespace quillon::app {

int RunGuarded(const std::function<void()>& body,
               const std::function<void(const std::string& message)>& show_error) {
    try {
        body();
    } catch (const std::exception& e) {
        show_error(e.what());
    } catch (...) {
        show_error(std::string());
    }
    return kExitCode;
}

}  // namespace quillon::app
