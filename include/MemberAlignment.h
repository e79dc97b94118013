// MemberAlignment: where one member of a cluster starts after the alignment.
//
// `offset` is in seconds after the start of the cluster's earliest member, measured on the clock
// of the cluster's reference (the earliest member whose offset was measured); a member that
// could not be measured keeps `frameOffset`, the frame-accurate offset of clustering, placed
// against the reference as clustering placed it, and says why in `reason`. `driftPpm` is how
// much faster the member's clock runs than the reference's; it is known only when
// `driftMeasured`, that is when the member's overlaps tell it to within 10 ppm. A Grouped member
// was measured only against members that are not linked to the reference (the cluster joined two
// events): it is sample-accurate against its own group, and the group sits where the
// frame-accurate offsets put it on average; its error is against its group's first member.
// Errors are one standard deviation against the reference. `confidence`, in [0, 1], is that of the
// weakest measured pair on the member's strongest path to the reference (1 for the reference
// itself).
#pragma once

#include "AlignReason.h"

namespace Trelis {

struct MemberAlignment {
    enum class Status { Reference, Refined, Grouped, Unrefined };

    int fileId = 0;
    Status status = Status::Unrefined;
    AlignReason reason = AlignReason::None;  // why Unrefined
    double frameOffset = 0.0;                // seconds, from clustering
    double offset = 0.0;                     // seconds
    double offsetError = 0.0;                // seconds; 0 for the reference and unrefined members
    bool driftMeasured = false;
    double driftPpm = 0.0;
    double driftError = 0.0;  // ppm
    double confidence = 0.0;
    int groupReference = -1;  // for a Grouped member: the file id whose clock its group is on
};

}  // namespace Trelis
