// Uses the installed library through its umbrella header: exits 0 only when the exported
// classes behave as their defaults say.
#include <Trelis.h>

#include <iostream>

int main() {
    Trelis::MCExtractParams extract;
    Trelis::MCClusterSyncParams cluster(extract);
    Trelis::MCFileSet set;
    Trelis::MCFile* file = set.addFile(new Trelis::MCFile(3));
    file->addLandmark(new Trelis::Landmark{7, file, 42u});
    file->computeCLF();
    const bool ok = extract.getFftSize() == 512 && cluster.getFramesPerSecond() == 31.25f &&
                    file->countLandmarks(0, 100) == 1 && set.getFiles().size() == 1;
    std::cout << (ok ? "consumer ok" : "consumer FAILED") << std::endl;
    return ok ? 0 : 1;
}
