#pragma once

#include <string_view>

// What each fuzzer feeds its input to. The ordinary test suite replays the corpus through the same functions.
namespace marrowick::fuzz {

// The summary readers: the Status.plist date, dates by key, Info.plist values and Manifest.plist's encryption keys,
// binary and XML.
void FuzzSummaryPlist(std::string_view data);

// The Manifest.mbdb record parser, building a tree.
void FuzzManifestMbdb(std::string_view data);

// The decoder of a Manifest.db row's record, into one record reused as the reader reuses it.
void FuzzEntryRecord(std::string_view data);

// The keybag parser of encrypted backups.
void FuzzKeybag(std::string_view data);

// What the preview makes of a stored file's bytes: its kind, its text, its bytes in hexadecimal, a binary property
// list as XML, and a database's tables and first rows. The shown text is whole UTF-8 within its bound.
void FuzzPreview(std::string_view data);

} // namespace marrowick::fuzz
