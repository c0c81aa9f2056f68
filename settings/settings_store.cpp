#include "settings_store.h"

#include "comm_type.h"
#include "default_destination.h"
#include "pairing_code.h"
#include "pairing_key_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zapfer {

namespace {

constexpr uint32_t kPathPopupOpenBit = 1;
constexpr uint32_t kPreferenceBit1 = 2;
constexpr uint32_t kPromptDeleteBit = 4;
constexpr uint32_t kShowResultsBit = 8;

// A value that is absent or not a number leaves the field's default.
void readNumber(QSettings& store, const QString& key, uint32_t* field) {
    const QVariant value = store.value(key);
    if (!value.isValid())
        return;
    bool ok = false;
    const qulonglong number = value.toULongLong(&ok);
    if (ok && number <= 0xFFFFFFFFu)
        *field = uint32_t(number);
}

std::string pairingKeyFileOf(const QSettings& store) {
    return pairingKeyFileBeside(QFile::encodeName(store.fileName()).toStdString());
}

void readText(QSettings& store, const QString& key, QString* field) {
    const QVariant value = store.value(key);
    if (value.isValid() && value.canConvert<QString>())
        *field = value.toString();
}

void readDevice(QSettings& store, const QString& key, std::optional<std::string>* field) {
    const QVariant value = store.value(key);
    if (value.isValid() && value.canConvert<QString>())
        *field = QFile::encodeName(value.toString()).toStdString();
}

// The file at `path` exists with mode 0600. QSettings writes through a
// temporary file that takes the mode of the file it replaces, so once this
// holds the code never lies in a file others may read, not even for a moment.
bool restrictToOwner(const QString& path) {
    if (path.isEmpty() || !QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const bool ok = ::fchmod(fd, 0600) == 0;
    ::close(fd);
    return ok;
}

} // namespace

uint32_t Settings::preferences() const {
    return (pathPopupOpen ? kPathPopupOpenBit : 0) | (preferenceBit1 ? kPreferenceBit1 : 0) |
           (promptDelete ? kPromptDeleteBit : 0) | (showResults ? kShowResultsBit : 0) |
           (nameConflict == NameConflict::Replace ? kOverwriteFilesBit : 0);
}

void Settings::setPreferences(uint32_t bits) {
    pathPopupOpen = bits & kPathPopupOpenBit;
    preferenceBit1 = bits & kPreferenceBit1;
    promptDelete = bits & kPromptDeleteBit;
    showResults = bits & kShowResultsBit;
    nameConflict = storedNameConflict(uint32_t(nameConflict), bits);
}

bool Settings::acceptsPairedPeersOnly() const {
    return acceptFrom.trimmed() == QLatin1String(kAcceptPairedPeers);
}

bool Settings::pairedSending() const {
    const auto type = commTypeFromIndex(commType);
    return !pairingCode.isEmpty() && (type == CommType::Lan || type == CommType::Wan);
}

AcceptList Settings::acceptList() const {
    // Without a code nobody can be paired, and nobody gets in: better than
    // turning the choice into "anyone".
    if (acceptsPairedPeersOnly())
        return AcceptList{AcceptFrom::PairedPeers, {}};
    const std::string text = acceptFrom.toStdString();
    const AcceptListParse parsed = parseAcceptList(text);
    if (parsed.list)
        return *parsed.list;
    AcceptList list;
    list.kind = AcceptFrom::ListedAddresses;
    for (const QString& entry : acceptFrom.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        if (const std::optional<Ipv4Network> network = parseNetwork(entry.toStdString()))
            list.networks.push_back(*network);
    return list;
}

QString defaultTransferDir() {
    return QFile::decodeName(QByteArray::fromStdString(defaultDestination()));
}

std::optional<KnownPairingKey> KeptPairingKey(const Settings& s, const QSettings& store) {
    if (s.pairingCode.isEmpty())
        return std::nullopt;
    return readPairingKeyFile(pairingKeyFileOf(store), s.pairingCode.toStdString());
}

Settings LoadSettings(QSettings& store) {
    Settings s;
    s.curDir = defaultTransferDir();
    s.destDir = s.curDir;
    readNumber(store, QStringLiteral("Sort"), &s.sort);
    readNumber(store, QStringLiteral("PeerIP"), &s.peerIp);
    readNumber(store, QStringLiteral("CommType"), &s.commType);
    uint32_t preferences = s.preferences();
    readNumber(store, QStringLiteral("Preferences"), &preferences);
    s.setPreferences(preferences);
    const bool preferencesStored = store.contains(QStringLiteral("Preferences"));
    // Absent or unreadable, the number stays one no choice has.
    uint32_t nameConflict = ~uint32_t(0);
    readNumber(store, QStringLiteral("NameConflict"), &nameConflict);
    s.nameConflict = storedNameConflict(
        nameConflict, preferencesStored ? std::optional<uint32_t>(preferences) : std::nullopt);
    readText(store, QStringLiteral("AcceptFrom"), &s.acceptFrom);
    readText(store, QStringLiteral("PairingCode"), &s.pairingCode);
    s.pairingCode = s.pairingCode.trimmed();
    if (const ParsedPairingCode code = parsePairingCode(s.pairingCode.toStdString()); code.valid())
        s.pairingCode = QString::fromStdString(code.code);
    else if (code.problem == PairingCodeProblem::Empty)
        s.pairingCode.clear();
    readText(store, QStringLiteral("DestDir"), &s.destDir);
    readText(store, QStringLiteral("CurDir"), &s.curDir);
    readDevice(store, QStringLiteral("UsbPort"), &s.serialPorts.usb);
    readDevice(store, QStringLiteral("Com1Port"), &s.serialPorts.com1);
    readDevice(store, QStringLiteral("Com2Port"), &s.serialPorts.com2);
    readDevice(store, QStringLiteral("RawIrPort"), &s.serialPorts.rawIr);
    if (!commTypeFromIndex(s.commType))
        s.commType = Settings{}.commType;
    return s;
}

void SaveSettings(const Settings& s, QSettings& store) {
    store.setValue(QStringLiteral("Sort"), s.sort);
    store.setValue(QStringLiteral("PeerIP"), s.peerIp);
    store.setValue(QStringLiteral("CommType"), s.commType);
    store.setValue(QStringLiteral("Preferences"), s.preferences());
    store.setValue(QStringLiteral("NameConflict"), uint32_t(s.nameConflict));
    store.setValue(QStringLiteral("AcceptFrom"), s.acceptFrom);
    store.setValue(QStringLiteral("DestDir"), s.destDir);
    store.setValue(QStringLiteral("CurDir"), s.curDir);
    // An unset device path is left out, so it is looked up afresh each time.
    const auto writeDevice = [&store](const QString& key, const std::optional<std::string>& path) {
        if (path)
            store.setValue(key, QFile::decodeName(QByteArray::fromStdString(*path)));
        else
            store.remove(key);
    };
    writeDevice(QStringLiteral("UsbPort"), s.serialPorts.usb);
    writeDevice(QStringLiteral("Com1Port"), s.serialPorts.com1);
    writeDevice(QStringLiteral("Com2Port"), s.serialPorts.com2);
    writeDevice(QStringLiteral("RawIrPort"), s.serialPorts.rawIr);
    // A key kept for another code would only be ignored; a cleared code
    // leaves nothing made from it behind.
    if (s.pairingCode.isEmpty() || !KeptPairingKey(s, store))
        removePairingKeyFile(pairingKeyFileOf(store));
    if (s.pairingCode.isEmpty()) {
        store.remove(QStringLiteral("PairingCode"));
    } else {
        // Not written at all where the file cannot be kept to its owner.
        if (!restrictToOwner(store.fileName())) {
            store.remove(QStringLiteral("PairingCode"));
            store.sync();
            return;
        }
        store.setValue(QStringLiteral("PairingCode"), s.pairingCode);
    }
    store.sync();
    if (!s.pairingCode.isEmpty())
        restrictToOwner(store.fileName()); // a direct write keeps the mode too
}

} // namespace zapfer
