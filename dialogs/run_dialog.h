#pragma once

#include <QDialog>
#include <QStringList>

class QLineEdit;

namespace zapfer {

// "Run": names the program and asks for its arguments (at most 255
// characters). The field starts empty every time.
class RunDialog : public QDialog {
    Q_OBJECT
public:
    RunDialog(const QString& programName, QWidget* parent = nullptr);
    QString arguments() const;
    QLineEdit* argumentsField() const { return m_arguments; }

private:
    QLineEdit* m_arguments = nullptr;
};

// `text` cut into arguments as a POSIX shell would: blanks separate, single
// quotes keep everything, double quotes keep all but a backslash before
// \ " $ or `, and a backslash outside quotes keeps the next character.
// Nothing is expanded.
QStringList splitArguments(const QString& text);

// Starts the program at `path` with `arguments` split as a shell would
// (quotes group, backslashes escape), detached, in the current folder.
// False when it could not be started.
bool runProgram(const QString& path, const QString& arguments);

} // namespace zapfer
