// Trelis: identifies, groups and synchronizes recordings of the same event.
//
// The umbrella header: everything a host application of the library needs.
#pragma once

#include "AlignReason.h"
#include "ClusterAlignment.h"
#include "ClusterResult.h"
#include "Landmark.h"
#include "MCAlignParams.h"
#include "MCClusterAligner.h"
#include "MCClusterElem.h"
#include "MCClusterSync.h"
#include "MCClusterSyncParams.h"
#include "MCExtractParams.h"
#include "MCFile.h"
#include "MCFileSet.h"
#include "MCInput.h"
#include "MCLandmarkExtract.h"
#include "MCProgress.h"
#include "MCRecordingSource.h"
#include "MemberAlignment.h"
#include "OrderedClusterElements.h"
#include "PairAlignment.h"
#include "TrelisExport.h"
#include "WavInput.h"
#include "array.h"
#include "wavfile_t.h"
