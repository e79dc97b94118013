// An MCRecordingSource over recordings in memory, by file id, counting what it opens and closes.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "MCRecordingSource.h"
#include "support/MemoryInput.h"

namespace TrelisTest {

class MemorySource : public Trelis::MCRecordingSource {
public:
    Trelis::MCInput* open(int fileId, std::string& error) override {
        const auto found = recordings.find(fileId);
        if (found == recordings.end()) {
            error = "no such recording";
            return nullptr;
        }
        ++opened;
        return new MemoryInput(found->second);
    }
    void close(Trelis::MCInput* input) override {
        ++closed;
        delete static_cast<MemoryInput*>(input);
    }

    std::map<int, std::vector<float>> recordings;
    int opened = 0;
    int closed = 0;
};

}  // namespace TrelisTest
