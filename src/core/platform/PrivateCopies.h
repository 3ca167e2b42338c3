#pragma once

#include "core/platform/FileDescriptor.h"
#include "core/platform/PrivateFolder.h"
#include "core/platform/Result.h"

#include <string>
#include <vector>

namespace marrowick {

// Private copies of files, for a library that must open them by name (SQLite replays a database's side file only
// beside it). The copies are written unnamed (O_TMPFILE) in $TMPDIR, or /tmp, and get names only from Publish, in a
// folder of their own; the destructor removes the names and the folder again, while descriptors that the library
// holds keep the data. So the copies are on disk under a name only while the object lives after Publish, and any
// that a killed process left there are removed by the next one.
class PrivateCopies final {
public:
    PrivateCopies();
    ~PrivateCopies();
    PrivateCopies(const PrivateCopies&) = delete;
    PrivateCopies& operator=(const PrivateCopies&) = delete;

    // Copies the regular file open as sourceFd, holes kept as holes.
    [[nodiscard]] Result<void> Add(const std::string& name, int sourceFd);
    // Gives every copy its name in a new private folder.
    [[nodiscard]] Result<void> Publish();
    // The folder that Publish made, ending with "/"; "" before.
    [[nodiscard]] const std::string& Folder() const { return folder_.Path(); }

private:
    struct Copy {
        std::string Name;
        FileDescriptor Fd;
        bool Named = false; // made under its name, where the file system has no unnamed files
    };
    PrivateFolder folder_;
    std::vector<Copy> copies_;
};

} // namespace marrowick
