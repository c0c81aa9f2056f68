#pragma once

#include <QObject>

class QSocketNotifier;

namespace zapfer {

// SIGTERM, SIGINT and SIGHUP end the event loop like the Exit command, so a
// logout or a kill still stops the engine and saves the settings. One per
// process.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

private:
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace zapfer
