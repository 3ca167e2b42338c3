#include "core/platform/PrivateCopies.h"

#include "core/platform/FileCopy.h"
#include "core/platform/Files.h"

#include <cerrno>
#include <fcntl.h>

namespace marrowick {

PrivateCopies::PrivateCopies() : folder_("marrowick-db") {}

PrivateCopies::~PrivateCopies() = default;

Result<void> PrivateCopies::Add(const std::string& name, int sourceFd) {
    Result<FileDescriptor> copy = CreateUnnamedFile(AT_FDCWD, folder_.Base(), O_RDWR, 0600);
    const bool named = !copy && copy.Error().Error == EOPNOTSUPP;
    if (named) {
        // A file system without unnamed files: the copy is named from the start.
        if (Result<void> made = folder_.Make(); !made) {
            return made;
        }
        FileDescriptor file(::open((folder_.Path() + name).c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600));
        if (!file.IsOpen()) {
            return Failure::System(FailureStep::Create, folder_.Path() + name, errno);
        }
        copy = std::move(file);
    }
    if (!copy) {
        return copy.Error();
    }
    if (const Result<void> copied = CopySparseContent(sourceFd, copy->Get()); !copied) {
        return Failure::System(FailureStep::Write, folder_.Base(), copied.Error().Error);
    }
    copies_.push_back(Copy{name, std::move(*copy), named});
    return {};
}

Result<void> PrivateCopies::Publish() {
    if (Result<void> made = folder_.Make(); !made) {
        return made;
    }
    for (const Copy& copy : copies_) {
        if (copy.Named) {
            continue;
        }
        if (Result<void> named = NameUnnamedFile(copy.Fd.Get(), AT_FDCWD, folder_.Path() + copy.Name); !named) {
            return named;
        }
    }
    return {};
}

} // namespace marrowick
