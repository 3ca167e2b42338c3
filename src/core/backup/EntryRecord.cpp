#include "core/backup/EntryRecord.h"

#include "core/backup/BinaryPlist.h"

#include <algorithm>
#include <array>
#include <limits>
#include <optional>

namespace marrowick {
namespace {

// Keys are 44 bytes; a longer value is no key this program can use.
constexpr std::size_t MaxEncryptionKeyBytes = 64;
constexpr std::uint64_t NoObject = BinaryPlist::NoObject;

// An NSKeyedArchiver archive: a UID k stands for the k-th element of its $objects array, UID 0 for nil.
class KeyedArchive {
public:
    explicit KeyedArchive(const BinaryPlist& plist) : plist_(plist) {}

    // Finds $objects and the root object that $top names; false when the list is no keyed archive.
    [[nodiscard]] bool Open();
    [[nodiscard]] const BinaryPlist& Plist() const { return plist_; }
    [[nodiscard]] std::uint64_t Root() const { return root_; }
    // The object a UID object refers to; NoObject for nil, a UID past $objects or an object that is no UID. Forced
    // inline: each record follows four or five.
    [[nodiscard, gnu::always_inline]] std::uint64_t Follow(std::uint64_t uidObject) const {
        const auto uid = plist_.Uid(uidObject);
        return uid && *uid != 0 ? plist_.Element(objects_, *uid) : NoObject;
    }

private:
    const BinaryPlist& plist_;
    BinaryPlist::Collection objects_;
    std::uint64_t root_ = NoObject;
};

bool KeyedArchive::Open() {
    const auto top = plist_.Dictionary(plist_.TopObject());
    if (!top) {
        return false;
    }
    std::uint64_t objects = NoObject;
    std::uint64_t rootHolder = NoObject;
    plist_.ForEachStringKey(*top, [&](std::string_view name, std::uint64_t value) {
        if (name == "$objects") {
            objects = value;
        } else if (name == "$top") {
            rootHolder = value;
        }
    });
    const auto array = plist_.Array(objects);
    const auto rootUid = plist_.DictionaryValue(rootHolder, "root");
    if (!array || !rootUid) {
        return false;
    }
    objects_ = *array;
    root_ = Follow(*rootUid);
    return root_ != NoObject;
}

// The root's fields this program reads; Other collects every other key.
enum Field : unsigned {
    Other,
    Class,
    Size,
    LastModified,
    Birth,
    Mode,
    ProtectionClass,
    Target,
    EncryptionKey,
    FieldCount
};

// Matched by length first: most of a record's keys are then told apart without comparing a byte.
Field FieldNamed(std::string_view key) {
    switch (key.size()) {
    case 4:
        return key == "Size" ? Size : key == "Mode" ? Mode : Other;
    case 5:
        return key == "Birth" ? Birth : Other;
    case 6:
        return key == "$class" ? Class : key == "Target" ? Target : Other;
    case 12:
        return key == "LastModified" ? LastModified : Other;
    case 13:
        return key == "EncryptionKey" ? EncryptionKey : Other;
    case 15:
        return key == "ProtectionClass" ? ProtectionClass : Other;
    default:
        return Other;
    }
}

// A field that is no integer, or one out of the field's range, reads as absent.
std::uint32_t Unsigned32(const BinaryPlist& plist, std::uint64_t object) {
    const std::int64_t value = plist.Integer(object).value_or(0);
    return value >= 0 && value <= std::numeric_limits<std::uint32_t>::max() ? static_cast<std::uint32_t>(value) : 0;
}

bool IsMbFileClass(const KeyedArchive& archive, std::uint64_t classUid) {
    const auto name = archive.Plist().DictionaryValue(archive.Follow(classUid), "$classname");
    return name && archive.Plist().NarrowString(*name) == "MBFile";
}

// The key's data sits under NS.data, either in place or behind one more UID; nothing else is followed.
void ReadEncryptionKey(const KeyedArchive& archive, std::uint64_t keyUid, std::string& key) {
    const BinaryPlist& plist = archive.Plist();
    const auto data = plist.DictionaryValue(archive.Follow(keyUid), "NS.data");
    if (!data) {
        return;
    }
    auto bytes = plist.Data(*data);
    if (!bytes) {
        bytes = plist.Data(archive.Follow(*data));
    }
    if (bytes && bytes->size() <= MaxEncryptionKeyBytes) {
        key.assign(*bytes);
    }
}

// One pass over the root's keys notes where each field's value is; the fields are read after it in one order, so
// that the processor meets the same branches for every row, whatever the order of its keys.
bool ReadRoot(const KeyedArchive& archive, EntryRecord& record) {
    const BinaryPlist& plist = archive.Plist();
    const auto root = plist.Dictionary(archive.Root());
    if (!root) {
        return false;
    }
    std::array<std::uint64_t, FieldCount> values;
    values.fill(NoObject);
    plist.ForEachStringKey(*root,
                           [&values](std::string_view name, std::uint64_t value) { values[FieldNamed(name)] = value; });
    if (!IsMbFileClass(archive, values[Class])) {
        return false;
    }
    record.Size = static_cast<std::uint64_t>(std::max<std::int64_t>(plist.Integer(values[Size]).value_or(0), 0));
    record.LastModified = plist.Integer(values[LastModified]).value_or(0);
    record.Birth = plist.Integer(values[Birth]).value_or(0);
    record.Mode = Unsigned32(plist, values[Mode]);
    record.ProtectionClass = Unsigned32(plist, values[ProtectionClass]);
    // The record came in cleared, and a target that is no string leaves it so.
    (void)plist.AssignString(archive.Follow(values[Target]), record.Target);
    ReadEncryptionKey(archive, values[EncryptionKey], record.EncryptionKey);
    return true;
}

} // namespace

void EntryRecord::Clear() {
    Size = 0;
    LastModified = 0;
    Birth = 0;
    Mode = 0;
    ProtectionClass = 0;
    Target.clear();
    EncryptionKey.clear();
}

bool DecodeEntryRecord(std::string_view blob, EntryRecord& record) {
    record.Clear();
    if (!BinaryPlist::IsBinary(blob)) {
        return false;
    }
    const BinaryPlist plist(blob);
    KeyedArchive archive(plist);
    if (!plist.Valid() || !archive.Open() || !ReadRoot(archive, record)) {
        record.Clear();
        return false;
    }
    return true;
}

} // namespace marrowick
