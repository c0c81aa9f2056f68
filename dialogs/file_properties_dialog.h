#pragma once

#include "file_properties.h"

#include <QDialog>

class QCheckBox;

namespace zapfer {

// File Properties for one FileList entry: icon, name, size, the three time
// stamps and the attribute boxes. Only Readonly can be changed; OK applies it
// when it differs from what was read, Esc or closing writes nothing. A
// change that fails is reported.
class FilePropertiesDialog : public QDialog {
    Q_OBJECT
public:
    FilePropertiesDialog(QString curDir, const QString& name, QWidget* owner);

    const FileProperties& properties() const { return m_properties; }

public Q_SLOTS:
    void accept() override;

private:
    QString m_curDir;
    FileProperties m_properties;
    QCheckBox* m_readOnly;
};

} // namespace zapfer
