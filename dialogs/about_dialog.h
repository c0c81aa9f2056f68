#pragma once

#include <QDialog>

namespace zapfer {

// "About zapfer": the version, four credit lines, the icon, the build date.
// Only OK closes it; Esc does not.
class AboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent = nullptr);

    // "Built: " and the date the program was compiled, e.g. "Built: May  9 2001".
    static QString builtText();

public Q_SLOTS:
    void reject() override;
};

} // namespace zapfer
