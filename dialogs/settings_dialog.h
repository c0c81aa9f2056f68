#pragma once

#include "comm_type.h"
#include "settings_store.h"

#include <QDialog>
#include <QStringList>

#include <optional>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace zapfer {

// "Settings": the destination folder (Browse opens the directory picker),
// the two preferences, what to do with a name that exists, the pairing code
// (with "New code"), whom to accept files from, the communication type, the peer address for
// "WAN / Internet", this machine's address and, for a serial type, the
// device it uses. OK is the only way out; Esc does nothing.
class SettingsDialog : public QDialog {
    Q_OBJECT
public:
    SettingsDialog(const Settings& settings, QStringList volumes, QWidget* owner = nullptr);

    // The settings as the dialog has them; what it does not show is kept.
    Settings chosen() const;

    // OK: refused, with a message, while the peer address is incomplete, an
    // entry of the accept list is not an address or network, the pairing
    // code is not a code, or "Only paired peers" is chosen without one.
    void accept() override;
    void reject() override {}

    QComboBox* commTypeList() const { return m_commType; }

private:
    std::optional<CommType> selectedType() const;
    void onTypeChosen();
    void browse();
    // The device field's text into the stored device of `type`.
    void keepDeviceText(std::optional<CommType> type);
    void showDevice(std::optional<CommType> type);
    void newCode();
    // "Only paired peers" can be chosen while the field holds a code.
    void updatePairedChoice();

    Settings m_settings;
    const QStringList m_volumes;
    std::optional<CommType> m_deviceType; // whose device the field shows
    QLineEdit* m_destDir = nullptr;
    QCheckBox* m_promptDelete = nullptr;
    QCheckBox* m_showResults = nullptr;
    QComboBox* m_nameConflict = nullptr; // "1014", the old check box's id
    QComboBox* m_acceptFrom = nullptr;
    QLineEdit* m_acceptList = nullptr;
    QLineEdit* m_pairingCode = nullptr;
    QPushButton* m_newCode = nullptr;
    QComboBox* m_commType = nullptr;
    QLineEdit* m_peerIp = nullptr;
    QLineEdit* m_myIp = nullptr;
    QLineEdit* m_device = nullptr;
};

// A dotted IPv4 address in the PeerIP form (first octet in the top byte);
// an empty text is 0; anything else but four numbers 0..255 is nothing.
std::optional<uint32_t> parsePeerAddress(const QString& text);
// The accept list as typed, in its stored form: entries separated by one
// space, networks without host bits.
QString acceptListText(const QString& typed);
// Why `typed` is not a pairing code, in words; empty when it is one, or when
// it is empty (no code).
QString pairingCodeProblemText(const QString& typed);
// The dotted form; 0 is the empty text.
QString formatPeerAddress(uint32_t address);
// This machine's address as a peer reaches it: the first IPv4 address of an
// interface that is up and not the loopback; empty when there is none.
QString localAddressText();

} // namespace zapfer
