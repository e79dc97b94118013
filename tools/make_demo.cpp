// Writes a demo event into a folder: a minute of synthesized music-like sound recorded by four
// cameras started at different moments, each with its own gain, noise and echo, plus one
// unrelated recording, as 8000 Hz WAVE files, and truth.xml beside the folder's files.
// Usage: make_demo <folder>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "synth/Synth.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_demo <folder>\n");
        return 2;
    }
    const std::string folder = argv[1];
    std::filesystem::create_directories(folder);
    const auto event = TrelisSynth::musicLike(2027, 75.0);
    const std::vector<TrelisSynth::Device> cameras = {
        {"cam1", 3.0, 50.0, 0.8, 0.01, 0.012},
        {"cam2", 0.0, 45.0, 0.5, 0.03, 0.021},
        {"cam3", 11.4375, 55.0, 1.1, 0.005, 0.0},
        {"cam4", 17.03, 40.0, 0.6, 0.04, 0.034},
    };
    std::uint32_t seed = 1;
    for (const auto& camera : cameras) {
        TrelisSynth::writeWav(folder + "/" + camera.name + ".wav",
                              TrelisSynth::record(event, camera, seed++));
    }
    TrelisSynth::writeWav(folder + "/street.wav", TrelisSynth::musicLike(99, 30.0));

    std::ofstream truth(folder + "/../truth.xml");
    truth << "<truth>\n  <cluster>\n";
    char line[128];
    for (const auto& camera : cameras) {
        std::snprintf(line, sizeof line, "    <file name=\"%s.wav\" offset=\"%.6f\"/>\n",
                      camera.name.c_str(), camera.start);
        truth << line;
    }
    truth << "  </cluster>\n  <cluster>\n    <file name=\"street.wav\" offset=\"0.000000\"/>\n"
          << "  </cluster>\n</truth>\n";
    std::printf("demo event written to %s, ground truth to %s/../truth.xml\n", folder.c_str(),
                folder.c_str());
    return truth ? 0 : 1;
}
