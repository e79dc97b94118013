// Writes the seed corpus of the WAVE reader's fuzzer into the folder given as argument: valid
// files of every accepted layout, and broken ones.
#include <cstdio>
#include <string>
#include <vector>

#include "support/WavImage.h"

using TrelisTest::WavImage;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: wavfile_t_seeds <folder>\n");
        return 2;
    }
    const std::string dir = argv[1];
    std::vector<unsigned char> body(96);
    for (std::size_t i = 0; i < body.size(); ++i) {
        body[i] = static_cast<unsigned char>(i * 7);
    }
    const std::vector<std::pair<std::string, WavImage>> seeds = {
        {"mono16", WavImage().riff().fmt(1, 1, 8000, 16).data(body)},
        {"stereo16", WavImage().riff().fmt(1, 2, 8000, 16).data(body)},
        {"mono8", WavImage().riff().fmt(1, 1, 8000, 8).data(body)},
        {"float32", WavImage().riff().fmt(3, 1, 8000, 32).data(body)},
        {"six16", WavImage().riff().fmt(1, 6, 48000, 16, 40).data(body)},
        {"pcm24", WavImage().riff().fmt(1, 1, 8000, 24).data(body)},
        {"chunks", WavImage()
                       .riff()
                       .chunk("JUNK", {1, 2, 3})
                       .fmt(1, 1, 8000, 16, 18)
                       .chunk("fact", {0, 0, 0, 0})
                       .data(body)
                       .chunk("LIST", {9, 9})},
        {"ragged", WavImage().riff().fmt(1, 2, 8000, 16).data({1, 2, 3, 4, 5})},
        {"oversized", WavImage().riff().fmt(1, 1, 8000, 16).data(body, 1 << 30)},
        {"nodata", WavImage().riff().fmt(1, 1, 8000, 16)},
        {"adpcm", WavImage().riff().fmt(2, 1, 8000, 4).data(body)},
        {"notwave", WavImage().riff("RIFF", "AVI ")},
        {"text", WavImage().raw({'h', 'i', '\n'})},
    };
    for (const auto& [name, image] : seeds) {
        image.save(dir + "/" + name + ".wav");
    }
    return 0;
}
