// AlignReason: why the alignment left a member at its frame-accurate offset, or a pair without a
// measurement.
#pragma once

namespace Trelis {

enum class AlignReason {
    None,          // measured
    Unreadable,    // the recording could not be opened or read
    NoPartner,     // no other member of the cluster could be read
    ShortOverlap,  // the overlap is shorter than the alignment's minimum
    NoAgreement,   // too few windows agreed on one offset and drift
    NotLinked,     // measured only against members that are not linked to the reference
    Outlier,       // the measurement does not close with the cluster's other pairs
    Disabled,      // the caller did not ask for alignment
};

// The words the reports use for a reason.
inline const char* describe(AlignReason reason) {
    switch (reason) {
        case AlignReason::None:
            return "measured";
        case AlignReason::Unreadable:
            return "unreadable";
        case AlignReason::NoPartner:
            return "no readable member to measure against";
        case AlignReason::ShortOverlap:
            return "overlap too short";
        case AlignReason::NoAgreement:
            return "no window agreed";
        case AlignReason::NotLinked:
            return "measured only against members not linked to the reference";
        case AlignReason::Outlier:
            return "does not close with the other pairs";
        case AlignReason::Disabled:
            return "refinement off";
    }
    return "unknown";
}

}  // namespace Trelis
