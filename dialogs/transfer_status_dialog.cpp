#include "transfer_status_dialog.h"

#include "center_dialog.h"
#include "string_table.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>

namespace zapfer {

namespace {

int percent(int64_t part, int64_t whole) {
    if (whole <= 0)
        return 0;
    return int(std::clamp<int64_t>(part * 100 / whole, 0, 100));
}

} // namespace

std::optional<StatusTexts> statusTexts(const TransferProgress& p, int64_t elapsedMs) {
    if (p.fileBlocks == 0 || p.fileIndex < 0)
        return std::nullopt;
    StatusTexts t;
    t.files = loadString(str::FilesOfFormat).arg(p.fileIndex + 1).arg(p.fileCount);
    // The last block is usually short: never claim more bytes than the file has.
    const int64_t fileBytes = std::min(int64_t(p.blockSize) * p.blocksDone, p.fileSize);
    t.bytes = loadString(str::BytesOfFormat).arg(fileBytes).arg(p.fileSize);
    t.filePercent = percent(p.blocksDone, p.fileBlocks);
    if (p.totalBytes != 0) {
        t.hasTotal = true;
        t.totalPercent = percent(p.bytesDone, p.totalBytes);
        t.totalBytes = loadString(str::TotalBytesOfFormat).arg(p.bytesDone).arg(p.totalBytes);
    }
    // A started second counts as a whole one.
    const int64_t seconds = std::max<int64_t>((std::max<int64_t>(elapsedMs, 0) + 999) / 1000, 1);
    const int64_t rate = p.bytesDone / seconds;
    t.rate = loadString(str::RateFormat).arg(rate);
    const int64_t left = p.totalBytes - p.bytesDone;
    if (rate > 0 && left > 0)
        t.timeLeft = loadString(str::TimeLeftFormat).arg((left + rate - 1) / rate);
    return t;
}

TransferStatusDialog::TransferStatusDialog(bool receiving, QWidget* owner) : QDialog(owner) {
    setWindowTitle(tr("File Xfer Status"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    const auto label = [this](int id, const QString& text) {
        auto* l = new QLabel(text, this);
        l->setObjectName(QString::number(id));
        l->setAlignment(Qt::AlignCenter);
        l->setTextFormat(Qt::PlainText);
        return l;
    };
    const auto bar = [this](int id) {
        auto* b = new QProgressBar(this);
        b->setObjectName(QString::number(id));
        b->setRange(0, 100);
        b->setValue(0);
        b->setTextVisible(false);
        return b;
    };
    // One column: it fits a narrow screen as well as a wide one.
    auto* grid = new QGridLayout(this);
    grid->addWidget(
        label(1008, loadString(receiving ? str::ReceivingFilesTitle : str::SendingFilesTitle)), 0,
        0);
    m_files = label(1002, QStringLiteral("."));
    grid->addWidget(m_files, 1, 0);
    m_name = new QLineEdit(this);
    m_name->setObjectName(QStringLiteral("1001"));
    m_name->setReadOnly(true);
    m_name->setAccessibleName(tr("File"));
    grid->addWidget(m_name, 2, 0);
    m_bytes = label(1005, QStringLiteral("."));
    grid->addWidget(m_bytes, 3, 0);
    m_fileBar = bar(1003);
    m_fileBar->setAccessibleName(tr("Progress of the file"));
    grid->addWidget(m_fileBar, 4, 0);
    m_total = label(1006, QStringLiteral("."));
    grid->addWidget(m_total, 5, 0);
    m_totalBar = bar(1004);
    m_totalBar->setAccessibleName(tr("Progress of all files"));
    grid->addWidget(m_totalBar, 6, 0);
    m_rate = label(1007, tr("bytes per second"));
    grid->addWidget(m_rate, 7, 0);
    m_timeLeft = label(0, QString());
    m_timeLeft->setObjectName(QStringLiteral("TimeLeft"));
    grid->addWidget(m_timeLeft, 8, 0);
    auto* cancel = new QPushButton(tr("Cancel"), this);
    cancel->setObjectName(QStringLiteral("2"));
    connect(cancel, &QPushButton::clicked, this, &TransferStatusDialog::reject);
    grid->addWidget(cancel, 9, 0, Qt::AlignHCenter);
    setMinimumWidth(fontMetrics().horizontalAdvance(QLatin1Char('x')) * 40);
    m_started.start();
    CenterDialog(this);
}

void TransferStatusDialog::setFileName(const QString& name) {
    m_name->setText(name);
}

void TransferStatusDialog::refresh(const TransferProgress& progress) {
    const std::optional<StatusTexts> t = statusTexts(progress, m_started.elapsed());
    if (!t)
        return;
    m_files->setText(t->files);
    m_bytes->setText(t->bytes);
    m_fileBar->setValue(t->filePercent);
    if (t->hasTotal) {
        m_totalBar->setValue(t->totalPercent);
        m_total->setText(t->totalBytes);
    }
    m_rate->setText(t->rate);
    m_timeLeft->setText(t->timeLeft);
}

} // namespace zapfer
