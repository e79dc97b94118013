// The media component of a build without FFmpeg: every file that is not WAVE at the extraction
// rate is refused with the reason.
#include <stdexcept>

#include "media/MediaLoader.h"

namespace Trelis {

MediaComponent& mediaComponent() {
    throw std::runtime_error("this Trelis was built without FFmpeg");
}

void setMediaModuleFolder(const std::string&) {}

bool mediaDecoderBuilt() {
    return false;
}

}  // namespace Trelis
