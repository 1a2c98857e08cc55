// Win32 backend (being written).
#include "serial/backend.h"

namespace quillon::serial {

std::shared_ptr<Backend> MakePlatformBackend() {
    return nullptr;
}

}  // namespace quillon::serial
