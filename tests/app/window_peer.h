#pragma once

// A zapfer-cli peer for the window tests, run while the test's event loop
// keeps going; every wait is bounded and the process is killed on every way out.

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTest>

class CliPeer {
public:
    CliPeer() { m_process.setProcessChannelMode(QProcess::SeparateChannels); }
    ~CliPeer() { stop(); }
    CliPeer(const CliPeer&) = delete;
    CliPeer& operator=(const CliPeer&) = delete;

    // `zapfer-cli receive` into `dest` on free ports; the TCP port, or 0.
    uint16_t receive(const QString& dest) {
        m_process.start(QStringLiteral(ZAPFER_CLI_PATH),
                        {QStringLiteral("receive"), QStringLiteral("--port"), QStringLiteral("0"),
                         QStringLiteral("--echo-port"), QStringLiteral("0"),
                         QStringLiteral("--dest"), dest});
        if (!m_process.waitForStarted(5000))
            return 0;
        const QString lead = QStringLiteral("listening on port ");
        QString line;
        if (!QTest::qWaitFor([&] { return readLine(lead, &line); }, 20000))
            return 0;
        return uint16_t(line.mid(lead.size()).trimmed().toUInt());
    }

    // `zapfer-cli send` of `files` to 127.0.0.1:`port`; returns at once.
    bool send(uint16_t port, const QStringList& files) {
        m_process.start(QStringLiteral(ZAPFER_CLI_PATH),
                        QStringList{QStringLiteral("send"), QStringLiteral("--to"),
                                    QStringLiteral("127.0.0.1"), QStringLiteral("--port"),
                                    QString::number(port)} +
                            files);
        return m_process.waitForStarted(5000);
    }

    // Waits (bounded) for the next output line that starts with `prefix`.
    bool waitForLine(const QString& prefix, int timeoutMs = 30000) {
        QString line;
        return QTest::qWaitFor([&] { return readLine(prefix, &line); }, timeoutMs);
    }

    // The exit code, or -1 when it did not end in time.
    int waitExit(int timeoutMs = 30000) {
        if (!QTest::qWaitFor([this] { return m_process.state() == QProcess::NotRunning; },
                             timeoutMs))
            return -1;
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -2;
    }

    void stop() {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(10000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    QString output() const { return m_output; }

private:
    bool readLine(const QString& prefix, QString* line) {
        m_output += QString::fromUtf8(m_process.readAllStandardOutput());
        while (true) {
            const qsizetype end = m_output.indexOf(QLatin1Char('\n'), m_cursor);
            if (end < 0)
                return false;
            const QString next = m_output.mid(m_cursor, end - m_cursor);
            m_cursor = end + 1;
            if (next.startsWith(prefix)) {
                *line = next;
                return true;
            }
        }
    }

    QProcess m_process;
    QString m_output;
    qsizetype m_cursor = 0;
};
