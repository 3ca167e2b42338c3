#pragma once

#include "gui/controls/ThemeHelper.h"

#include <QDialog>
#include <QString>

class QLabel;

namespace marrowick {

class CThemedButton;

inline constexpr auto ProductPageAddress = "http://www.marrowick.example/";

// Product name and version, a rights notice ending with the current year, and a contact line.
class CAboutDlg final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CAboutDlg)

public:
    explicit CAboutDlg(QWidget* parent = nullptr);
    ~CAboutDlg() override;

    [[nodiscard]] QLabel* ProductLine() const { return productLine_; }
    [[nodiscard]] QLabel* RightsLine() const { return rightsLine_; }
    [[nodiscard]] QLabel* ContactLine() const { return contactLine_; }
    [[nodiscard]] CThemedButton* OkButton() const { return okButton_; }

private:
    CThemeHelper themeHelper_;
    QLabel* productLine_ = nullptr;
    QLabel* rightsLine_ = nullptr;
    QLabel* contactLine_ = nullptr;
    CThemedButton* okButton_ = nullptr;
};

// "Marrowick V" and the program's version, as the About box names the product.
[[nodiscard]] QString ProductVersionText();

// Help → Help: the product's web page in the default browser; a failing launch is not reported.
void OpenProductPage();

} // namespace marrowick
