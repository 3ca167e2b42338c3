#include "core/backup/EntryRecord.h"

namespace marrowick {

void EntryRecord::Clear() {
    *this = EntryRecord{};
}

// Not decoded yet: every row is read as one without a record.
bool DecodeEntryRecord(std::string_view /*blob*/, EntryRecord& record) {
    record.Clear();
    return false;
}

} // namespace marrowick
