#include "gui/preview/PreviewContent.h"

#include "core/platform/ErrorText.h"
#include "core/preview/ContentKind.h"
#include "core/preview/PlistXml.h"
#include "core/preview/PreviewText.h"
#include "gui/preview/PreviewImage.h"

#include <QByteArray>
#include <QLocale>

#include <algorithm>
#include <utility>

namespace marrowick {
namespace {

using Shape = PreviewContent::Shape;

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

PreviewContent MessageContent(const QString& message) {
    PreviewContent content;
    content.Message = message;
    return content;
}

// The size, the kind when it is known, and why the content is not shown otherwise (when it is not).
PreviewContent BytesContent(std::string_view bytes, std::size_t size, const QString& why = {}) {
    PreviewContent content;
    content.Kind = Shape::Bytes;
    const std::string_view type = GuessFileType(bytes.substr(0, SniffBytes));
    content.Message = QStringLiteral("%1 bytes").arg(QLocale().toString(static_cast<qulonglong>(size)));
    if (!type.empty()) {
        content.Message += QStringLiteral(", ") + FromUtf8(type);
    }
    if (!why.isEmpty()) {
        content.Message += QStringLiteral(". ") + why;
    }
    content.Text = FromUtf8(HexDump(bytes, ShownHexBytes));
    return content;
}

PreviewContent TextContent(std::string_view bytes) {
    PreviewContent content;
    content.Kind = Shape::Text;
    const std::string shown = ShownText(bytes, MaxShownTextBytes);
    content.Text = FromUtf8(shown);
    if (bytes.size() > MaxShownTextBytes) {
        content.Message = QStringLiteral("Only the first %1 of %2 bytes are shown.")
                              .arg(QLocale().toString(static_cast<qulonglong>(shown.size())),
                                   QLocale().toString(static_cast<qulonglong>(bytes.size())));
    }
    return content;
}

PreviewContent ImageContent(std::string_view bytes, const QSize& fitInto, const EarlyContent& early) {
    const QByteArray view = QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()));
    if (early) {
        PreviewContent thumbnail;
        thumbnail.Image = LoadPreviewThumbnail(view, fitInto);
        if (!thumbnail.Image.isNull()) {
            thumbnail.Kind = Shape::Image;
            thumbnail.Early = true;
            early(std::move(thumbnail));
        }
    }
    QString problem;
    PreviewContent content;
    content.Image = LoadPreviewImage(view, fitInto, &problem);
    if (content.Image.isNull()) {
        return BytesContent(bytes, bytes.size(), QStringLiteral("The image does not decode: %1").arg(problem));
    }
    content.Kind = Shape::Image;
    return content;
}

PreviewContent DatabaseContent(std::string bytes) {
    const std::size_t size = bytes.size();
    // Kept for the hex dump: the database takes the bytes.
    const std::string head = bytes.substr(0, ShownHexBytes);
    Result<SqlitePreview> opened = SqlitePreview::Open(std::move(bytes));
    if (!opened) {
        return BytesContent(
            head, size,
            QStringLiteral("The database does not open: %1").arg(QString::fromStdString(FailureText(opened.Error()))));
    }
    auto database = std::make_shared<SqlitePreview>(std::move(*opened));
    if (database->Tables().empty()) {
        return MessageContent(QStringLiteral("The database holds no tables."));
    }
    PreviewContent content = TableContent(database, 0);
    for (const std::string& table : database->Tables()) {
        content.Tables.append(QString::fromStdString(table));
    }
    content.Database = std::move(database);
    return content;
}

} // namespace

PreviewContent TableContent(const std::shared_ptr<SqlitePreview>& database, int table) {
    PreviewContent content;
    content.Kind = Shape::Table;
    content.Table = table;
    const Result<TableRows> rows =
        database->FirstRows(database->Tables().at(static_cast<std::size_t>(table)), ShownRows);
    if (!rows) {
        content.Message =
            QStringLiteral("The table does not read: %1").arg(QString::fromStdString(FailureText(rows.Error())));
        return content;
    }
    for (const std::string& column : rows->Columns) {
        content.Columns.append(QString::fromStdString(column));
    }
    for (const std::vector<std::string>& row : rows->Rows) {
        QStringList& cells = content.Rows.emplace_back();
        for (const std::string& cell : row) {
            cells.append(QString::fromStdString(cell));
        }
    }
    content.MoreRows = rows->More;
    if (rows->More) {
        content.Message = QStringLiteral("The first %1 rows are shown.").arg(ShownRows);
    }
    return content;
}

PreviewContent PreviewOfBytes(std::string bytes, std::string_view name, const QSize& fitInto,
                              const EarlyContent& early) {
    const std::string_view head = std::string_view(bytes).substr(0, SniffBytes);
    switch (SniffContentKind(head, name)) {
    case ContentKind::Image:
    case ContentKind::Heic:
        return ImageContent(bytes, fitInto, early);
    case ContentKind::BinaryPlist: {
        const Result<std::string> xml = BinaryPlistToXml(bytes, MaxShownTextBytes);
        if (!xml) {
            return BytesContent(bytes, bytes.size(), QString::fromStdString(FailureText(xml.Error())));
        }
        return TextContent(*xml);
    }
    case ContentKind::XmlPlist:
    case ContentKind::Text:
        return TextContent(bytes);
    case ContentKind::Sqlite:
        return DatabaseContent(std::move(bytes));
    case ContentKind::Other:
        break;
    }
    return BytesContent(bytes, bytes.size());
}

PreviewContent MakePreviewContent(const EntryToRead& entry, const std::string& backupFolder, ManifestKind manifestKind,
                                  const QSize& fitInto, const std::stop_token& stop, const EarlyContent& early) {
    Result<std::string> bytes = ReadEntryContent(entry, backupFolder, manifestKind, MaxPreviewBytes, stop);
    if (!bytes) {
        return MessageContent(QString::fromStdString(FailureText(bytes.Error())));
    }
    const std::string_view path = entry.Path;
    return PreviewOfBytes(std::move(*bytes), path.substr(path.rfind('/') + 1), fitInto, early);
}

} // namespace marrowick
