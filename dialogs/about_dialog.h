#pragma once

#include <QDialog>

namespace zapfer {

// "About zapfer": the version, four credit lines, the icon, the build date.
// Only OK closes it; Esc does not.
class AboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent = nullptr);

    // "Built: " and the release date of the source (SOURCE_DATE_EPOCH when
    // the build was given one), e.g. "Built: Dec  7 2026".
    static QString builtText();

public Q_SLOTS:
    void reject() override;
};

} // namespace zapfer
