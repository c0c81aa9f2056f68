#pragma once

#include <QAbstractButton>

namespace zapfer {

// One of the seven 32 x 32 command buttons: its glyph on an up or pressed
// frame; a disabled button shows the crossed-out beam on the up frame.
class CommandButton : public QAbstractButton {
    Q_OBJECT
public:
    CommandButton(int commandId, int glyph, QWidget* parent);
    int commandId() const { return m_commandId; }
    // The glyph and frame a paint shows in the current state.
    int shownGlyph() const;
    bool shownPressed() const;
    QSize sizeHint() const override { return {32, 32}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_commandId;
    int m_glyph;
};

// PathButton and SortButton: a bold caption with a drop-down arrow after it.
// The path caption starts at the left edge, the sort caption ends at the
// right edge.
class CaptionButton : public QAbstractButton {
    Q_OBJECT
public:
    enum class Align { Left, Right };
    CaptionButton(int commandId, Align align, QWidget* parent);
    void setCaption(const QString& caption);
    QString caption() const { return m_caption; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Align m_align;
    QString m_caption;
};

} // namespace zapfer
