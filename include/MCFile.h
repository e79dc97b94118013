// MCFile: the fingerprint of one recording.
//
// Holds every landmark of the recording, grouped by start frame (STFT frames from 0), with the
// cumulative landmark count per frame (the CLF) that counts the landmarks between any two frames
// in two look-ups. The record owns its landmarks and deletes them; it is owned by whoever holds
// it: the caller of the extractor, then the file set it is added to. Nothing here throws but
// std::bad_alloc. Not copyable.
#pragma once

#include <map>
#include <vector>

#include "TrelisExport.h"

namespace Trelis {

struct Landmark;

class TRELIS_EXPORT MCFile {
public:
    explicit MCFile(int id);
    ~MCFile();

    MCFile(const MCFile&) = delete;
    MCFile& operator=(const MCFile&) = delete;

    // Takes ownership; a null landmark is ignored. Makes the CLF stale.
    void addLandmark(Landmark* landmark);

    // Brings the CLF up to date, with an entry for every frame from the first to the last landmark
    // (frames without landmarks get an entry too, and an empty entry in `landmarks`). Does
    // nothing while the CLF is current.
    void computeCLF();

    // Landmarks whose start frame lies in [fromFrame, toFrame]; -1 while the CLF is stale.
    int countLandmarks(int fromFrame, int toFrame);

    // Makes the record count landmarks as another record does without holding them (matching
    // whose landmarks are on other machines): `cumulative[k]` landmarks start at frames up to
    // firstFrame + k, as that record's CLF says. An empty list gives an empty record's counts.
    void setLandmarkCounts(int firstFrame, const std::vector<int>& cumulative);

    int getId() const { return id; }
    int getLastFrame() const { return lastFrame; }
    int getFirstFrame() const { return firstFrame; }

    // Diagnostic: the landmark count of the first ten frame entries on standard output.
    void print() const;

    std::map<int, std::vector<Landmark*>> landmarks;  // start frame -> landmarks, in added order
    std::map<int, int> clf;  // frame -> landmarks whose start frame is at most that frame
    int id;
    int lastFrame;   // largest start frame; the smallest int while empty
    int firstFrame;  // smallest start frame; the largest int while empty
    bool clfDirty;   // the CLF must be recomputed before counting
};

}  // namespace Trelis
