#include "run/SyncRefiner.h"

#include <exception>
#include <iostream>

#include "wavfile_t.h"

namespace Trelis {

SyncRefiner::~SyncRefiner() {
    for (wavfile_t* reader : wavFiles) {
        delete reader;
    }
}

bool SyncRefiner::refineClusters() {
    std::cout << "REFINEMENT" << std::endl;
    for (const ClusterSet* cluster : *clusters) {
        std::cout << "CLUSTER" << std::endl;
        int reference = -1;
        std::vector<std::uint32_t> lengths;
        for (const MCClusterElem* elem : *cluster) {
            elem->print();
            if (elem->offset == 0.0f) {
                reference = elem->fileId;
            }
            // Every member is opened as WAVE, decoded media too, which the aligner reads; those
            // fail here with the reader's message.
            const std::string path = idToPath[elem->fileId];
            try {
                auto* reader = new wavfile_t(path, 1, 1, 16000);
                wavFiles.push_back(reader);
                lengths.push_back(reader->numFrames);
            } catch (const std::exception& e) {
                std::cout << "[ERROR]: Could not load: " << path << std::endl;
                std::cout << "Exception: " << e.what() << "\n";
            }
        }
        if (reference == -1) {
            std::cerr << "ERROR: Could not find the reference file. Cannot refine the sync "
                         "estimates.  Something bad happened."
                      << std::endl;
            return false;
        }
        std::cout << "Reference ID:" << reference << std::endl;
    }
    std::cout << "\n\n[COMPLETED CORRELATION]" << std::endl;
    return true;
}

}  // namespace Trelis
