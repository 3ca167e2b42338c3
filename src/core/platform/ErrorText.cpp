#include "core/platform/ErrorText.h"

#include <cerrno>
#include <cstring>
#include <type_traits>

namespace marrowick {

std::string ErrorText(int error) {
    char buffer[256];
    // The GNU strerror_r returns its text, which need not be in buffer; the XSI one fills buffer.
    if constexpr (std::is_same_v<decltype(strerror_r(0, buffer, sizeof buffer)), char*>) {
        return strerror_r(error, buffer, sizeof buffer);
    } else {
        if (strerror_r(error, buffer, sizeof buffer) != 0) { // NOLINT(modernize-use-nullptr): this variant returns int
            return "Unknown error " + std::to_string(error);
        }
        return buffer;
    }
}

namespace {

std::string CausePhrase(FailureCause cause) {
    switch (cause) {
    case FailureCause::System:
    case FailureCause::Library:
        return {};
    case FailureCause::Link:
        return "it is a symbolic link, which is not followed";
    case FailureCause::NotRegularFile:
        return "it is not a regular file";
    case FailureCause::Folder:
        return "it is a folder, not a file";
    case FailureCause::NotFolder:
        return "it is a file, not a folder";
    case FailureCause::TooLarge:
        return "it is far larger than such a file can be";
    case FailureCause::NotPlainTable:
        return "the file list is not a plain table, so it is not read";
    case FailureCause::TooMuchWork:
        return "reading stopped, as the file list asks for far more work than its size allows";
    case FailureCause::OutOfMemory:
        return "there is not enough memory";
    case FailureCause::Exception:
        return "an unexpected error";
    case FailureCause::NotAbsolute:
        return "it is not a full path (it must start with \"/\")";
    case FailureCause::ControlCharacter:
        return "it holds a line break or another control character";
    case FailureCause::Changed:
        return "it changed since it was read";
    case FailureCause::Inside:
        return "it lies inside a folder it must stay out of";
    case FailureCause::Taken:
        return ErrorText(EEXIST);
    case FailureCause::NoLocalTime:
        return "the local time cannot be read";
    case FailureCause::Encrypted:
        return "the backup is encrypted";
    case FailureCause::NoStoredFileId:
        return "it has no stored-file id";
    case FailureCause::BadStoredFileId:
        return "its file id is not a file name";
    case FailureCause::DeviceLink:
        return "a symbolic link on the device";
    case FailureCause::ParentFailed:
        return "the folder it belongs in was not written";
    case FailureCause::NotEncrypted:
        return "the backup is not encrypted";
    case FailureCause::DamagedManifestPlist:
        return "the backup's Manifest.plist is damaged";
    case FailureCause::DamagedKeybag:
        return "the backup's keybag is missing or damaged";
    case FailureCause::WrongPassword:
        return "wrong password";
    case FailureCause::DamagedManifestKey:
        return "the key of the backup's file list is missing or damaged";
    case FailureCause::DamagedManifestDb:
        return "the backup's file list does not decrypt: it or its key is damaged";
    case FailureCause::MissingFileKey:
        return "the backup holds no key for this file";
    case FailureCause::DamagedFileKey:
        return "this file's key is damaged";
    case FailureCause::DamagedStoredFile:
        return "the stored file is damaged: it does not decrypt";
    }
    return {};
}

} // namespace

std::string CauseText(const Failure& failure) {
    std::string text = failure.Cause == FailureCause::System ? ErrorText(failure.Error) : CausePhrase(failure.Cause);
    if (!failure.Detail.empty()) {
        text += text.empty() ? failure.Detail : ": " + failure.Detail;
    }
    return text;
}

std::string FailureText(const Failure& failure) {
    return failure.Path.empty() ? CauseText(failure) : failure.Path + ": " + CauseText(failure);
}

} // namespace marrowick
