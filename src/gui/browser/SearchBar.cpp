#include "gui/browser/SearchBar.h"

#include "core/search/SearchQuery.h"
#include "gui/browser/EntrySearch.h"
#include "gui/browser/SearchResultsModel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QShortcut>

namespace marrowick {

CSearchBar::CSearchBar(const FileNode* root, SearchResultsModel* results, QWidget* parent)
    : QWidget(parent), root_(root), box_(new QLineEdit(this)), status_(new QLabel(this)),
      search_(new CEntrySearch(results, this)) {
    box_->setPlaceholderText(QStringLiteral("Search (Ctrl+F)"));
    box_->setClearButtonEnabled(true);
    box_->setEnabled(root_ != nullptr);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(status_);
    layout->addWidget(box_, 1);

    // Ctrl+F anywhere in the window.
    auto* find = new QShortcut(QKeySequence::Find, parent);
    connect(find, &QShortcut::activated, this, [this] {
        box_->setFocus(Qt::ShortcutFocusReason);
        box_->selectAll();
    });
    connect(box_, &QLineEdit::textChanged, this, &CSearchBar::OnTextChanged);
    connect(search_, &CEntrySearch::Finished, this, &CSearchBar::OnFinished);
}

CSearchBar::~CSearchBar() = default;

SearchResultsModel* CSearchBar::Results() const {
    return search_->Model();
}

void CSearchBar::Leave() {
    const QSignalBlocker blocker(box_);
    box_->clear();
    StopSearching();
}

void CSearchBar::StopSearching() {
    search_->Start(nullptr, QString());
    status_->clear();
}

void CSearchBar::OnTextChanged(const QString& text) {
    if (root_ == nullptr) {
        return;
    }
    if (SearchQuery(text.toStdString()).Empty()) {
        StopSearching();
        Q_EMIT Left();
        return;
    }
    status_->setText(QStringLiteral("Searching..."));
    search_->Start(root_, text);
    Q_EMIT ShowResults();
}

void CSearchBar::OnFinished(qsizetype count, bool capped) {
    if (SearchQuery(box_->text().toStdString()).Empty()) {
        return;
    }
    const QString shown = QLocale().toString(count);
    status_->setText(capped       ? QStringLiteral("first %1 shown").arg(shown)
                     : count == 1 ? QStringLiteral("1 found")
                                  : QStringLiteral("%1 found").arg(shown));
}

} // namespace marrowick
