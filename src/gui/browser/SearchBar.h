#pragma once

#include "core/backup/FileNode.h"

#include <QWidget>

class QLabel;
class QLineEdit;

namespace marrowick {

class CEntrySearch;
class SearchResultsModel;

// The file manager's search box: what is typed is searched for by name in the whole backup as it is typed, the
// matches streaming into Results(), and a short text beside the box tells how the search stands.
class CSearchBar final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CSearchBar)

public:
    // root: the backup's tree, which must outlive the bar; null searches nothing. The matches fill results, which
    // the bar takes as its own.
    CSearchBar(const FileNode* root, SearchResultsModel* results, QWidget* parent);
    ~CSearchBar() override;

    [[nodiscard]] QLineEdit* Box() const { return box_; }
    [[nodiscard]] QLabel* Status() const { return status_; }
    [[nodiscard]] SearchResultsModel* Results() const;
    [[nodiscard]] CEntrySearch* Search() const { return search_; }

    // Empties the box and stops the search, without telling ShowResults or Left.
    void Leave();

Q_SIGNALS:
    // Text that finds something was typed: the list is to show Results().
    void ShowResults();
    // The box was emptied: the list is to show the folder again.
    void Left();

private:
    void StopSearching();
    void OnTextChanged(const QString& text);
    void OnFinished(qsizetype count, bool capped);

    const FileNode* root_;
    QLineEdit* box_;
    QLabel* status_;
    CEntrySearch* search_;
};

} // namespace marrowick
