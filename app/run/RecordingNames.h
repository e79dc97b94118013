// The names recordings go by in every report, timeline and synchronized file: the base name
// ("clip" for .../clip.mp4); where base names collide (clip.mp4 beside clip.mkv), the file name;
// where those collide too (GX010001.MP4 on two cards of a -recursive run), the path within the
// folder searched.
#pragma once

#include <string>
#include <vector>

namespace Trelis {

class MCFileSet;

// The name of each of `paths`, all of them files under `folder`.
std::vector<std::string> recordingNames(const std::vector<std::string>& paths,
                                        const std::string& folder);

// Renames the files of `set`: file id k + 1 takes names[k].
void nameRecordings(MCFileSet& set, const std::vector<std::string>& names);

}  // namespace Trelis
