#include "run_dialog.h"

#include "center_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QVBoxLayout>

namespace zapfer {

RunDialog::RunDialog(const QString& programName, QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("Run"));
    auto* layout = new QVBoxLayout(this);
    auto* name = new QLabel(programName, this);
    name->setObjectName(QStringLiteral("1002"));
    name->setTextFormat(Qt::PlainText);
    name->setAlignment(Qt::AlignCenter);
    layout->addWidget(name);
    auto* prompt = new QLabel(tr("Program Arguments"), this);
    prompt->setAlignment(Qt::AlignCenter);
    layout->addWidget(prompt);
    m_arguments = new QLineEdit(this);
    m_arguments->setObjectName(QStringLiteral("1001"));
    m_arguments->setMaxLength(255);
    prompt->setBuddy(m_arguments);
    layout->addWidget(m_arguments);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("1"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("2"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    CenterDialog(this);
}

QString RunDialog::arguments() const {
    return m_arguments->text();
}

QStringList splitArguments(const QString& text) {
    QStringList out;
    QString word;
    bool inWord = false;
    enum class Quote { None, Single, Double } quote = Quote::None;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        switch (quote) {
        case Quote::Single:
            if (c == QLatin1Char('\''))
                quote = Quote::None;
            else
                word += c;
            continue;
        case Quote::Double:
            if (c == QLatin1Char('"')) {
                quote = Quote::None;
            } else if (c == QLatin1Char('\\') && i + 1 < text.size() &&
                       QStringLiteral("\\\"$`").contains(text[i + 1])) {
                word += text[++i];
            } else {
                word += c;
            }
            continue;
        case Quote::None:
            break;
        }
        if (c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n')) {
            if (inWord)
                out.append(word);
            word.clear();
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == QLatin1Char('\''))
            quote = Quote::Single;
        else if (c == QLatin1Char('"'))
            quote = Quote::Double;
        else if (c == QLatin1Char('\\') && i + 1 < text.size())
            word += text[++i];
        else
            word += c;
    }
    if (inWord)
        out.append(word);
    return out;
}

bool runProgram(const QString& path, const QString& arguments) {
    return QProcess::startDetached(path, splitArguments(arguments));
}

} // namespace zapfer
