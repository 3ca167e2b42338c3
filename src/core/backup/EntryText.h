#pragma once

#include <cstdint>
#include <string>

// How the file list shows a file's size and time; the windows and the command line share these texts.
namespace marrowick {

// "N MB" from 1 MiB, "N KB" from 1 KiB, else "N bytes"; divisions truncate.
[[nodiscard]] std::string SizeText(std::uint64_t size);

// "N bytes" below 1 KiB, else one decimal in KB, MB or GB ("12.0 MB", "1.5 GB"), rounded to the nearest tenth.
[[nodiscard]] std::string ReadableSizeText(std::uint64_t bytes);

// Local "YYYY-MM-DD hh:mm" for times from 1989-12-27 00:00:00 UTC on; "" for earlier ones or unknown ones.
[[nodiscard]] std::string TimeText(std::int64_t mtime);

} // namespace marrowick
