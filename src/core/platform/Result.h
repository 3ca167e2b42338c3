#pragma once

#include <cassert>
#include <optional>
#include <string>
#include <utility>
#include <variant>

// The one way the core reports that something failed: a Failure, alone or instead of a value (Result). The core
// states facts; the windows and the command line make the texts a person reads from them (FailureText and the
// texts of each concern).
namespace marrowick {

// What the core was doing.
enum class FailureStep {
    Open,    // opening a file or folder to read it
    Read,    // reading a file or listing a folder
    Create,  // making a new file or folder
    Write,   // writing a file's content
    Replace, // putting a new file in the place of the old one
    Rename,  // renaming a file or folder
    Link,    // making a symbolic link
    SetTime, // setting a file's time
    Query,   // asking a database
    Check,   // checking what stands at a path before changing anything
};

// Why, when the system's errno does not say it.
enum class FailureCause {
    System,           // Error holds the errno
    Library,          // a library refused; Detail holds its words
    Link,             // a symbolic link stands where a file was expected, and links are not followed
    NotRegularFile,   // a FIFO, a device or a socket stands where a file was expected
    Folder,           // a folder stands where a file was expected
    NotFolder,        // a file stands where a folder was expected
    TooLarge,         // far larger than such a file can be
    NotPlainTable,    // a database's table is a view, a virtual table or has computed columns
    TooMuchWork,      // a database asks for far more work than its size allows
    OutOfMemory,      // memory ran out
    Exception,        // an unexpected error; Detail holds its message
    NotAbsolute,      // a path that must start with "/" does not
    ControlCharacter, // a path holds a line break or another control character
    Changed,          // what is on disk is no longer what was read before
    Inside,           // a path lies inside a folder it must stay out of
    Taken,            // something already stands where a new name would go
    NoLocalTime,      // the local time cannot be read
    Encrypted,        // the backup is encrypted
    NoStoredFileId,   // a manifest entry names no stored file
    BadStoredFileId,  // a manifest entry's file id is not a stored file's name
    DeviceLink,       // the entry is a symbolic link on the device, whose content a backup does not hold
    ParentFailed,     // the folder it belongs in was not written
    // Opening an encrypted backup:
    NotEncrypted,         // a password was given for a backup that is not encrypted
    DamagedManifestPlist, // Manifest.plist is no property list holding a dictionary
    DamagedKeybag,        // the keybag is missing, cut or lacks what unlocking needs, or unlocks only in part
    WrongPassword,        // no class key of the keybag unwraps with the password
    DamagedManifestKey,   // the key of Manifest.db is missing, malformed or of a class the keybag does not unlock
    DamagedManifestDb,    // Manifest.db does not decrypt to an SQLite database
    MissingFileKey,       // a file's record holds no key
    DamagedFileKey,       // a file's key is malformed or does not unwrap
    DamagedStoredFile,    // a stored file's length or padding shows it does not decrypt
};

struct Failure {
    FailureStep Step = FailureStep::Open;
    std::string Path; // the file or folder it concerns; "" when none
    FailureCause Cause = FailureCause::System;
    int Error = 0;              // the errno when Cause is System
    std::string Detail;         // a library's own words (SQLite's message, an exception's), when there are some
    std::string OtherPath = {}; // the second path of a rename or a link; "" when none

    // The usual failure: a system call on a path gave errno error.
    [[nodiscard]] static Failure System(FailureStep step, std::string path, int error) {
        return Failure{step, std::move(path), FailureCause::System, error, {}};
    }
    [[nodiscard]] static Failure Because(FailureStep step, std::string path, FailureCause cause) {
        return Failure{step, std::move(path), cause, 0, {}};
    }
    // An exception caught at a thread's edge, with its message ("" when it had none).
    [[nodiscard]] static Failure Unexpected(FailureStep step, std::string what) {
        return Failure{step, {}, FailureCause::Exception, 0, std::move(what)};
    }
};

// A value of T, or the Failure that kept it from being made.
template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {} // NOLINT(google-explicit-constructor)
    Result(Failure failure)
        : state_(std::in_place_index<1>, std::move(failure)) {} // NOLINT(google-explicit-constructor)

    [[nodiscard]] bool Ok() const { return state_.index() == 0; }
    explicit operator bool() const { return Ok(); }

    [[nodiscard]] T& Value() {
        assert(Ok());
        return std::get<0>(state_);
    }
    [[nodiscard]] const T& Value() const {
        assert(Ok());
        return std::get<0>(state_);
    }
    T& operator*() { return Value(); }
    const T& operator*() const { return Value(); }
    T* operator->() { return &Value(); }
    const T* operator->() const { return &Value(); }

    [[nodiscard]] const Failure& Error() const {
        assert(!Ok());
        return std::get<1>(state_);
    }

private:
    std::variant<T, Failure> state_;
};

// Nothing on success, the Failure otherwise.
template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Failure failure) : failure_(std::move(failure)) {} // NOLINT(google-explicit-constructor)

    [[nodiscard]] bool Ok() const { return !failure_.has_value(); }
    explicit operator bool() const { return Ok(); }
    [[nodiscard]] const Failure& Error() const {
        assert(!Ok());
        return *failure_;
    }

private:
    std::optional<Failure> failure_;
};

} // namespace marrowick
