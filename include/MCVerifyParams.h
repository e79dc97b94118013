// Settings of verified matching (MCVerifiedSync).
//
// Candidates: for every pair of files, offsets whose votes stand `minSurprise` orders of
// magnitude above what chance gives two unrelated recordings of their lengths, with the boxes
// tried already counted; at most `candidatesPerPair` of them, counted in boxes wide enough for
// clocks `maxDriftPpm` apart; never where the pair would overlap less than `minOverlap` seconds.
// Verification: each candidate is measured on the audio (MCClusterAligner's pair measurement,
// with `align`'s sample rate, windows and peak level, searched near the candidate) at up to
// `maxWindows` windows; it verifies when its windows agree on one line of offset and drift whose
// strength reaches `minStrength` noise spreads. Short overlaps (four windows or fewer) verify on
// less, by fixed rules calibrated on unrelated recordings: every one of three windows or more
// agreeing, windows that agree with votes 5 orders of magnitude above chance, or the windows'
// correlations added up along one line reaching 8.5 noise spreads with votes 3 orders above
// chance. When two candidates of a pair verify, the stronger is taken only when it is
// `clearMargin` times as strong; otherwise the pair is left unlinked, as ambiguous. Setters refuse
// values outside the ranges their comments give, return false and keep the value they had.
#pragma once

#include "MCAlignParams.h"
#include "TrelisExport.h"

namespace Trelis {

class TRELIS_EXPORT MCVerifyParams {
public:
    MCVerifyParams();

    double getMinSurprise() const { return minSurprise; }
    // -2 to 50.
    bool setMinSurprise(double value);

    unsigned int getCandidatesPerPair() const { return candidatesPerPair; }
    // 1 to 16.
    bool setCandidatesPerPair(unsigned int value);

    double getMaxDriftPpm() const { return maxDriftPpm; }
    // 0 to 2000 ppm.
    bool setMaxDriftPpm(double value);

    double getMinOverlap() const { return minOverlap; }
    // 0.5 to 60 s.
    bool setMinOverlap(double value);

    unsigned int getMaxWindows() const { return maxWindows; }
    // 1 to 64.
    bool setMaxWindows(unsigned int value);

    double getMinStrength() const { return minStrength; }
    // 2 to 1000 noise spreads.
    bool setMinStrength(double value);

    double getClearMargin() const { return clearMargin; }
    // 1 to 100.
    bool setClearMargin(double value);

    const MCAlignParams& getAlign() const { return align; }
    // Any MCAlignParams (their setters keep them valid); its drift is replaced by maxDriftPpm.
    void setAlign(const MCAlignParams& value);

private:
    double minSurprise;
    unsigned int candidatesPerPair;
    double maxDriftPpm;
    double minOverlap;  // seconds
    unsigned int maxWindows;
    double minStrength;
    double clearMargin;
    MCAlignParams align;
};

}  // namespace Trelis
