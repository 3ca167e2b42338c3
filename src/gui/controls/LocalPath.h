#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <string>

namespace marrowick {

// A path as the file system names it (bytes, which need not be UTF-8), as Qt's text.
[[nodiscard]] inline QString LocalPathText(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

} // namespace marrowick
