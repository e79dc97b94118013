// MCFileSet: the fingerprints that one clustering run works on, keyed by file id, with the base
// name and path of every file in both directions.
//
// The set owns the MCFile records added to it and deletes them, with their landmarks, when it is
// destroyed. The extractor's runAll fills the name maps directly; clustering reads them. Ids are
// the creator's choice; an id already present is never replaced. Not copyable.
#pragma once

#include <map>
#include <string>

#include "TrelisExport.h"

namespace Trelis {

class MCFile;
struct Landmark;

class TRELIS_EXPORT MCFileSet {
public:
    MCFileSet();
    ~MCFileSet();

    MCFileSet(const MCFileSet&) = delete;
    MCFileSet& operator=(const MCFileSet&) = delete;

    // Takes ownership of `file` unless its id is already present (the earlier record stays and
    // the caller keeps the new one). Returns `file`; null for a null file.
    MCFile* addFile(MCFile* file);

    std::map<int, MCFile*>& getFiles() { return files; }

    // Adds a landmark to the record most recently passed to addFile, which owns it from then on.
    // A null landmark is ignored; without such a record the landmark stays the caller's.
    void addLandmark(Landmark* landmark);

    std::map<std::string, int> nameToId;  // base name -> id (a later file of that name wins)
    std::map<int, std::string> idToName;  // id -> base name
    std::map<int, std::string> idToPath;  // id -> path as given to runAll
    std::map<int, MCFile*> files;         // id -> record, owned
    int currentId;                        // id of the file most recently added
};

}  // namespace Trelis
