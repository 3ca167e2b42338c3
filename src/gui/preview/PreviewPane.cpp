#include "gui/preview/PreviewPane.h"

#include <QComboBox>
#include <QFontDatabase>
#include <QHeaderView>
#include <QLabel>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QTableWidget>
#include <QVBoxLayout>

#include <utility>

namespace marrowick {
namespace {

// A result quicker than this replaces the one before without a busy indicator in between.
constexpr int BusyDelayMs = 150;
// Images are decoded to fit the pane, but never smaller than this, so that widening the pane a little keeps them
// sharp.
constexpr QSize SmallestImageBox(640, 480);

using Shape = PreviewContent::Shape;

QPlainTextEdit* ReadOnlyText(QWidget* parent, bool fixedFont) {
    auto* text = new QPlainTextEdit(parent);
    text->setReadOnly(true);
    text->setUndoRedoEnabled(false);
    // Property lists indent with tabs: four spaces' width, not the default eighty pixels.
    text->setTabStopDistance(4 * text->fontMetrics().horizontalAdvance(u' '));
    if (fixedFont) {
        text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        text->setLineWrapMode(QPlainTextEdit::NoWrap);
    }
    return text;
}

QWidget* BusyPage(QWidget* parent) {
    auto* page = new QWidget(parent);
    auto* layout = new QVBoxLayout(page);
    auto* bar = new QProgressBar(page);
    bar->setRange(0, 0);
    bar->setTextVisible(false);
    layout->addStretch();
    layout->addWidget(new QLabel(QStringLiteral("Reading..."), page), 0, Qt::AlignHCenter);
    layout->addWidget(bar);
    layout->addStretch();
    return page;
}

} // namespace

CPreviewPane::CPreviewPane(QWidget* parent) : QWidget(parent) {
    BuildPages();
    busyTimer_.setSingleShot(true);
    busyTimer_.setInterval(BusyDelayMs);
    connect(&busyTimer_, &QTimer::timeout, this, [this] {
        if (Loading()) {
            note_->hide();
            pages_->setCurrentIndex(static_cast<int>(Page::Busy));
        }
    });
    connect(this, &CPreviewPane::Made, this, &CPreviewPane::OnMade, Qt::QueuedConnection);
    connect(&jobs_, &CNewestJobs::Failed, this, &CPreviewPane::OnFailed);
    connect(tables_, &QComboBox::currentIndexChanged, this, &CPreviewPane::OnTableChosen);
}

CPreviewPane::~CPreviewPane() {
    stop_.request_stop();
}

void CPreviewPane::BuildPages() {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    note_ = new QLabel(this);
    note_->setObjectName(QStringLiteral("previewNote"));
    note_->setWordWrap(true);
    note_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    note_->hide();
    pages_ = new QStackedWidget(this);
    layout->addWidget(note_);
    layout->addWidget(pages_, 1);

    message_ = new QLabel(pages_);
    message_->setObjectName(QStringLiteral("previewMessage"));
    message_->setAlignment(Qt::AlignCenter);
    message_->setWordWrap(true);
    image_ = new QLabel(pages_);
    image_->setObjectName(QStringLiteral("previewImage"));
    image_->setAlignment(Qt::AlignCenter);
    // The pixmap follows the pane's size, never the other way round.
    image_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    text_ = ReadOnlyText(pages_, false);
    text_->setObjectName(QStringLiteral("previewText"));
    auto* tablePage = new QWidget(pages_);
    auto* tableLayout = new QVBoxLayout(tablePage);
    tableLayout->setContentsMargins(0, 0, 0, 0);
    tables_ = new QComboBox(tablePage);
    tables_->setObjectName(QStringLiteral("previewTables"));
    rows_ = new QTableWidget(tablePage);
    rows_->setObjectName(QStringLiteral("previewRows"));
    rows_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    rows_->verticalHeader()->setDefaultSectionSize(rows_->fontMetrics().height() + 4);
    tableLayout->addWidget(tables_);
    tableLayout->addWidget(rows_, 1);
    bytes_ = ReadOnlyText(pages_, true);
    bytes_->setObjectName(QStringLiteral("previewBytes"));
    // In the order of Page.
    for (QWidget* page : {static_cast<QWidget*>(message_), BusyPage(pages_), static_cast<QWidget*>(image_),
                          static_cast<QWidget*>(text_), tablePage, static_cast<QWidget*>(bytes_)}) {
        pages_->addWidget(page);
    }
}

CPreviewPane::Page CPreviewPane::CurrentPage() const {
    return static_cast<Page>(pages_->currentIndex());
}

void CPreviewPane::ShowEntry(const FileNode* node, const std::string& backupFolder, ManifestKind manifestKind) {
    stop_.request_stop();
    stop_ = std::stop_source();
    // The tables shown until the new result comes belong to the entry before: choosing one reads nothing.
    database_.reset();
    if (node == nullptr || node->IsFolder()) {
        jobs_.DropWaiting();
        shown_ = ++wanted_;
        busyTimer_.stop();
        ShowMessage(node == nullptr ? QString() : QStringLiteral("A folder."));
        Q_EMIT Shown();
        return;
    }
    const QSize box = ImageBox();
    Request(
        [entry = EntryToRead::Of(*node), backupFolder, manifestKind, box](const std::stop_token& stop,
                                                                          const EarlyContent& early) {
            return MakePreviewContent(entry, backupFolder, manifestKind, box, stop, early);
        },
        false);
}

void CPreviewPane::Request(Job job, bool readsDatabase) {
    const std::uint64_t request = ++wanted_;
    busyTimer_.start();
    jobs_.Ask(
        request,
        [this, job = std::move(job), stop = stop_.get_token(), request] {
            const auto early = [this, request](PreviewContent content) {
                Q_EMIT Made(std::make_shared<PreviewContent>(std::move(content)), request, QPrivateSignal());
            };
            auto content = std::make_shared<PreviewContent>(job(stop, early));
            Q_EMIT Made(content, request, QPrivateSignal());
        },
        readsDatabase);
}

void CPreviewPane::OnMade(const std::shared_ptr<PreviewContent>& content, std::uint64_t request) {
    if (request != wanted_) {
        return;
    }
    busyTimer_.stop();
    Display(*content);
    if (content->Early) {
        Q_EMIT ThumbnailShown();
        return;
    }
    shown_ = request;
    Q_EMIT Shown();
}

void CPreviewPane::OnFailed(std::uint64_t request, const QString& what) {
    if (request != wanted_) {
        return;
    }
    shown_ = request;
    busyTimer_.stop();
    ShowMessage(QStringLiteral("The preview failed: %1").arg(what.isEmpty() ? QStringLiteral("out of memory") : what));
    Q_EMIT Shown();
}

void CPreviewPane::Display(PreviewContent& content) {
    note_->setText(content.Message);
    note_->setVisible(content.Kind != Shape::Message && !content.Message.isEmpty());
    switch (content.Kind) {
    case Shape::Message:
        ShowMessage(content.Message);
        return;
    case Shape::Image:
        shownImage_ = std::move(content.Image);
        ShowScaledImage();
        break;
    case Shape::Text:
        text_->setPlainText(content.Text);
        break;
    case Shape::Table:
        if (content.Database) {
            database_ = std::move(content.Database);
            const QSignalBlocker quiet(tables_);
            tables_->clear();
            tables_->addItems(content.Tables);
            tables_->setCurrentIndex(content.Table);
        }
        DisplayRows(content);
        break;
    case Shape::Bytes:
        bytes_->setPlainText(content.Text);
        break;
    }
    if (content.Kind != Shape::Image) {
        shownImage_ = QImage();
        image_->clear();
    }
    if (content.Kind != Shape::Table) {
        database_.reset();
    }
    pages_->setCurrentIndex(static_cast<int>(content.Kind == Shape::Image   ? Page::Image
                                             : content.Kind == Shape::Text  ? Page::Text
                                             : content.Kind == Shape::Table ? Page::Table
                                                                            : Page::Bytes));
}

void CPreviewPane::DisplayRows(const PreviewContent& content) {
    rows_->clear();
    rows_->setColumnCount(static_cast<int>(content.Columns.size()));
    rows_->setRowCount(static_cast<int>(content.Rows.size()));
    rows_->setHorizontalHeaderLabels(content.Columns);
    for (int row = 0; row < content.Rows.size(); ++row) {
        const QStringList& cells = content.Rows[row];
        for (int column = 0; column < cells.size(); ++column) {
            rows_->setItem(row, column, new QTableWidgetItem(cells[column]));
        }
    }
    // As wide as the cells shown, but no column wider than half the pane.
    rows_->resizeColumnsToContents();
    for (int column = 0; column < rows_->columnCount(); ++column) {
        rows_->setColumnWidth(column, std::min(rows_->columnWidth(column), width() / 2));
    }
}

void CPreviewPane::ShowMessage(const QString& text) {
    note_->hide();
    message_->setText(text);
    shownImage_ = QImage();
    image_->clear();
    database_.reset();
    pages_->setCurrentIndex(static_cast<int>(Page::Message));
}

void CPreviewPane::ShowScaledImage() {
    if (shownImage_.isNull()) {
        return;
    }
    // The stack's size: a page not shown before keeps a stale size until the next layout.
    const QSize box = pages_->size() * image_->devicePixelRatioF();
    QPixmap pixmap = QPixmap::fromImage(shownImage_.width() > box.width() || shownImage_.height() > box.height()
                                            ? shownImage_.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                                            : shownImage_);
    pixmap.setDevicePixelRatio(image_->devicePixelRatioF());
    image_->setPixmap(pixmap);
}

void CPreviewPane::OnTableChosen(int table) {
    if (!database_ || table < 0) {
        return;
    }
    Request([database = database_, table](const std::stop_token&,
                                          const EarlyContent&) { return TableContent(database, table); },
            true);
}

QSize CPreviewPane::ImageBox() const {
    return (pages_->size() * devicePixelRatioF()).expandedTo(SmallestImageBox);
}

void CPreviewPane::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (CurrentPage() == Page::Image) {
        ShowScaledImage();
    }
}

} // namespace marrowick
