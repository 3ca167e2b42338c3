#include "gui/preview/PreviewWindow.h"

#include "gui/controls/DialogUnits.h"
#include "gui/preview/PreviewPane.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace marrowick {

CPreviewWindow::CPreviewWindow(QWidget* owner)
    : QDialog(owner, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint), pane_(new CPreviewPane(this)),
      openWith_(new QPushButton(QStringLiteral("Open with..."), this)) {
    setWindowTitle(QStringLiteral("Preview"));
    openWith_->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(openWith_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(DialogMargins(*this));
    layout->addWidget(pane_, 1);
    layout->addLayout(buttons);
    resize(DialogUnits(*this, 300, 282));
}

CPreviewWindow::~CPreviewWindow() = default;

void CPreviewWindow::PlaceBeside(const QWidget& owner) {
    if (placed_) {
        return;
    }
    placed_ = true;
    const QRect frame = owner.frameGeometry();
    move(frame.right() + 1, frame.top());
}

} // namespace marrowick
