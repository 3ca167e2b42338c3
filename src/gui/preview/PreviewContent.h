#pragma once

#include "core/backup/ManifestKind.h"
#include "core/preview/EntryContent.h"
#include "core/preview/SqlitePreview.h"

#include <QImage>
#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <stop_token>
#include <string>

namespace marrowick {

// What the preview pane shows of one entry, made on a worker from the entry's content.
struct PreviewContent {
    enum class Shape {
        Message, // Message says why there is nothing else to show
        Image,
        Text,  // text, or a property list as XML text
        Table, // a database: its tables, and the rows of Tables[Table]
        Bytes, // Message names the size and kind; Text is the hex dump of the first bytes
    };
    Shape Kind = Shape::Message;
    // Shown only until the content itself is ready: a photo's stored thumbnail.
    bool Early = false;
    QString Message;
    QImage Image;
    QString Text;
    QStringList Tables;
    int Table = -1;
    QStringList Columns;
    QList<QStringList> Rows;
    bool MoreRows = false;
    // The open database, for the rows of another table; used by one thread at a time.
    std::shared_ptr<SqlitePreview> Database;
};

// Text shown whole up to this; a longer file is cut.
inline constexpr std::size_t MaxShownTextBytes = std::size_t{1} << 20;
inline constexpr std::size_t ShownRows = 100;
inline constexpr std::size_t ShownHexBytes = 512;

// Takes an Early content to show while the content itself is made.
using EarlyContent = std::function<void(PreviewContent early)>;

// Reads entry and makes what the pane shows of it; an image is fitted into fitInto. Never throws but for lack of
// memory; a read stopped through stop gives a Message nobody needs to show.
[[nodiscard]] PreviewContent MakePreviewContent(const EntryToRead& entry, const std::string& backupFolder,
                                                ManifestKind manifestKind, const QSize& fitInto,
                                                const std::stop_token& stop, const EarlyContent& early = {});

// The content shown of bytes once read, by their kind (name is the entry's name, a hint of its kind).
[[nodiscard]] PreviewContent PreviewOfBytes(std::string bytes, std::string_view name, const QSize& fitInto,
                                            const EarlyContent& early = {});

// The first rows of database's table (an index into its Tables), as a Table content holding nothing else.
[[nodiscard]] PreviewContent TableContent(const std::shared_ptr<SqlitePreview>& database, int table);

} // namespace marrowick
