#include "media/MediaLoader.h"

#include <dlfcn.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

namespace Trelis {

namespace {

struct Loaded {
    MediaComponent* component = nullptr;
    std::string error;
};

std::string lastError() {
    const char* error = dlerror();
    return error != nullptr ? error : "no reason given";
}

// The folder a host other than the program named (setMediaModuleFolder); empty for the program.
std::string& hostFolder() {
    static std::string folder;
    return folder;
}

// The module lies where the build and the installation both put it, relative to the program's
// own file, so that a moved or installed tree finds its own module rather than another's.
Loaded load() {
    Loaded loaded;
    std::string path;
    if (!hostFolder().empty()) {
        path = (std::filesystem::path(hostFolder()) /
                std::filesystem::path(TRELIS_MEDIA_MODULE).filename())
                   .lexically_normal()
                   .string();
    } else {
        std::error_code code;
        const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", code);
        if (code) {
            loaded.error = "cannot find the media module: /proc/self/exe: " + code.message();
            return loaded;
        }
        path = (program.parent_path() / TRELIS_MEDIA_MODULE).lexically_normal().string();
    }
    // Never closed: the objects it makes live until the program ends.
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        loaded.error = "cannot load the media module " + path + " (" + lastError() + ")";
        return loaded;
    }
    void* symbol = dlsym(module, TRELIS_MEDIA_COMPONENT_SYMBOL);
    if (symbol == nullptr) {
        loaded.error = "cannot load the media module " + path + " (" + lastError() + ")";
        return loaded;
    }
    loaded.component = reinterpret_cast<TrelisMediaComponentFn>(symbol)(kMediaInterfaceVersion);
    if (loaded.component == nullptr) {
        loaded.error =
            "cannot load the media module " + path + " (it was built for another Trelis)";
    }
    return loaded;
}

}  // namespace

void setMediaModuleFolder(const std::string& folder) {
    hostFolder() = folder;
}

MediaComponent& mediaComponent() {
    static const Loaded loaded = load();
    if (loaded.component == nullptr) {
        throw std::runtime_error(loaded.error);
    }
    return *loaded.component;
}

bool mediaDecoderBuilt() {
    return true;
}

}  // namespace Trelis
