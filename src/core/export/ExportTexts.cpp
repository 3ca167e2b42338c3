#include "core/export/ExportEngine.h"

#include "core/platform/ErrorText.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace marrowick {

namespace {

constexpr std::size_t FileTextLineBytes = 70;
constexpr std::uint64_t BytesPerMegabyte = 1048576;

// Device names may hold line breaks and other control bytes; a one-line-per-failure summary shows them escaped.
std::string OneLine(std::string_view text) {
    std::string line;
    line.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\n') {
            line += "\\n";
        } else if (c == '\r') {
            line += "\\r";
        } else if (c == '\\') {
            line += "\\\\";
        } else if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            line += escaped;
        } else {
            line += c;
        }
    }
    return line;
}

// What stands at a target name that is not a file the export may replace.
std::string TargetProblem(const Failure& problem) {
    switch (problem.Cause) {
    case FailureCause::Link:
        return "a symbolic link stands at the target and is not followed";
    case FailureCause::NotRegularFile:
        return "something that is not a regular file stands at the target";
    case FailureCause::NotFolder:
        return "a file that is not a folder stands at the target";
    case FailureCause::Folder:
        return "a folder stands at the target";
    default:
        return CauseText(problem);
    }
}

std::string NotInBackupDetail(const Failure& problem) {
    switch (problem.Cause) {
    case FailureCause::Link:
        return "its stored file is a symbolic link, which is not followed";
    case FailureCause::Folder:
    case FailureCause::NotRegularFile:
        return "its stored file is not a regular file";
    case FailureCause::System:
        return "no stored file";
    default:
        return CauseText(problem);
    }
}

std::string FolderProblem(const Failure& problem) {
    if (problem.Cause == FailureCause::ParentFailed) {
        return CauseText(problem);
    }
    if (problem.Step == FailureStep::Create) {
        return "the folder cannot be created: " + CauseText(problem);
    }
    if (problem.Step == FailureStep::Open) {
        return "the target folder cannot be opened: " + CauseText(problem);
    }
    return "the folder cannot be used: " + TargetProblem(problem);
}

std::string CopyProblem(const Failure& problem) {
    switch (problem.Step) {
    case FailureStep::Open:
        return "the stored file cannot be read: " + CauseText(problem);
    case FailureStep::Check:
    case FailureStep::Create:
        return "the file cannot be written: " + TargetProblem(problem);
    case FailureStep::Replace:
        return "the copy cannot be put in place: " + CauseText(problem);
    case FailureStep::SetTime:
        return "the file was copied but its time cannot be set: " + CauseText(problem);
    default:
        return "the copy failed: " + CauseText(problem);
    }
}

} // namespace

std::string ExportFailureReason(const ExportFailure& failure) {
    const Failure& problem = failure.Problem;
    switch (failure.Kind) {
    case ExportFailureKind::NotInBackup:
        if (problem.Cause == FailureCause::DeviceLink) {
            return "a link to " + (problem.Path.empty() ? std::string("an unknown target") : problem.Path) +
                   ", not exported";
        }
        return "the backup does not hold this entry's content (" + NotInBackupDetail(problem) + ")";
    case ExportFailureKind::UnsafeName:
        return "its name would leave the target folder, so it was not written";
    case ExportFailureKind::FolderFailed:
        return FolderProblem(problem);
    case ExportFailureKind::CopyFailed:
        return CopyProblem(problem);
    }
    return CauseText(problem);
}

std::string ExportingFileText(std::string_view path) {
    std::string text = "Exporting: ";
    text += path.substr(0, FileTextLineBytes);
    text += "\r\n";
    if (path.size() > FileTextLineBytes) {
        text += path.substr(FileTextLineBytes);
    }
    return text;
}

int ProgressPercent(std::uint64_t doneBytes, std::uint64_t totalBytes) {
    if (totalBytes == 0) {
        return 0;
    }
    return static_cast<int>(static_cast<long double>(doneBytes) * 100 / static_cast<long double>(totalBytes));
}

std::string FinishedStatusText(int percent, std::uint64_t doneBytes, std::uint64_t totalBytes) {
    char text[96];
    std::snprintf(text, sizeof text, "Finished: %2d%% (%3lluMB/%3lluMB)", percent,
                  static_cast<unsigned long long>(doneBytes / BytesPerMegabyte),
                  static_cast<unsigned long long>(totalBytes / BytesPerMegabyte));
    return text;
}

std::string DiskFullMessage(int error) {
    return "Failed to export file!\r\nReason: " + ErrorText(error);
}

std::string ExportFailureSummary(const ExportResult& result) {
    if (result.TargetInsideBackup) {
        return std::string(TargetInsideBackupText) + "\n";
    }
    if (result.Stopped) {
        return "The export stopped (" + CauseText(*result.Stopped) + "); some entries were not exported.\n";
    }
    if (result.FailedCount == 0) {
        return {};
    }
    std::string text = std::to_string(result.FailedCount) +
                       (result.FailedCount == 1 ? " entry was not exported" : " entries were not exported");
    if (result.NotInBackupCount != 0) {
        text += " (" + std::to_string(result.NotInBackupCount) + " of them because the backup does not hold " +
                (result.NotInBackupCount == 1 ? "its content)" : "their content)");
    }
    text += ":\n";
    for (const ExportFailure& failure : result.Failures) {
        text += OneLine(failure.DevicePath) + ": " + OneLine(ExportFailureReason(failure)) + "\n";
    }
    if (result.FailedCount > result.Failures.size()) {
        text += "and " + std::to_string(result.FailedCount - result.Failures.size()) + " more.\n";
    }
    return text;
}

} // namespace marrowick
