#pragma once

#include <QDialog>

class QPushButton;

namespace marrowick {

class CPreviewPane;

// The file manager's preview, a window of its own beside it: the pane, and "Open with..." for the file shown.
class CPreviewWindow final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CPreviewWindow)

public:
    explicit CPreviewWindow(QWidget* owner);
    ~CPreviewWindow() override;

    [[nodiscard]] CPreviewPane* Pane() const { return pane_; }
    [[nodiscard]] QPushButton* OpenWithButton() const { return openWith_; }

    // Puts the window beside owner's, on its right, unless the person has moved it.
    void PlaceBeside(const QWidget& owner);

private:
    CPreviewPane* pane_;
    QPushButton* openWith_;
    bool placed_ = false;
};

} // namespace marrowick
