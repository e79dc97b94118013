#include "media/MediaLoader.h"

#include <dlfcn.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

#include "ClusterResult.h"

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

// The module lies beside the shared library the run uses, in the build tree and installed alike,
// so that a moved or installed tree finds its own module rather than another's, whichever program
// loaded the library (Trelis, or python3 through the Python module).
Loaded load() {
    Loaded loaded;
    Dl_info library{};
    if (dladdr(reinterpret_cast<void*>(&deleteClusterResult), &library) == 0 ||
        library.dli_fname == nullptr) {
        loaded.error = "cannot find the media module: the Trelis library's file is unknown";
        return loaded;
    }
    const std::string path = (std::filesystem::path(library.dli_fname).parent_path() /
                              std::filesystem::path(TRELIS_MEDIA_MODULE).filename())
                                 .lexically_normal()
                                 .string();
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
