#pragma once

#include "core/platform/Result.h"

#include <string>
#include <string_view>

namespace marrowick {

// A folder of this process's own in $TMPDIR (or /tmp), readable by this user only, removed with all it holds when
// the object goes. Its name is the prefix, the process id and a random part, so that the folders of the same
// prefix that a killed process left behind are found and removed when the next one is made.
class PrivateFolder final {
public:
    explicit PrivateFolder(std::string_view prefix);
    ~PrivateFolder();
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;

    // Makes the folder unless it is made already.
    [[nodiscard]] Result<void> Make();
    // The folder, ending with "/"; "" before Make.
    [[nodiscard]] const std::string& Path() const { return path_; }
    // Where the folder is made, ending with "/".
    [[nodiscard]] const std::string& Base() const { return base_; }

private:
    std::string prefix_;
    std::string base_;
    std::string path_;
};

} // namespace marrowick
