// Trelis: clusters and synchronizes the WAVE recordings of one folder.
#include "run/TrelisRun.h"

int main(int argc, char** argv) {
    return Trelis::runTrelis(argc, argv);
}
