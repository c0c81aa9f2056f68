#include "settings_dialog.h"

#include "center_dialog.h"
#include "directory_picker_dialog.h"
#include "pairing_code.h"
#include "string_table.h"
#include "user_feedback.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkInterface>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QStandardItemModel>

namespace zapfer {

namespace {

// The types offered, in this order; RAW IR is kept when stored but not offered.
constexpr CommType kOffered[] = {CommType::Irda, CommType::Usb, CommType::Com1,
                                 CommType::Com2, CommType::Lan, CommType::Wan};

std::optional<std::string>* storedDevice(StoredSerialDevices& devices, CommType type) {
    switch (type) {
    case CommType::Usb:
        return &devices.usb;
    case CommType::Com1:
        return &devices.com1;
    case CommType::Com2:
        return &devices.com2;
    case CommType::RawIr:
        return &devices.rawIr;
    default:
        return nullptr;
    }
}

// The places of "Accept files from".
enum AcceptChoice { AcceptAnyone = 0, AcceptListed = 1, AcceptPaired = 2 };

ParsedPairingCode parseTyped(const QString& typed) {
    return parsePairingCode(typed.toUtf8().toStdString());
}

// The code as the field shows it: in groups when it is one, else as stored
// (a hand-edited file), so that OK names what is wrong with it.
QString shownCode(const QString& stored) {
    const ParsedPairingCode parsed = parseTyped(stored);
    return parsed.valid() ? QString::fromStdString(formatPairingCode(parsed.code)) : stored;
}

} // namespace

QString pairingCodeProblemText(const QString& typed) {
    const ParsedPairingCode parsed = parseTyped(typed);
    switch (parsed.problem) {
    case PairingCodeProblem::None:
    case PairingCodeProblem::Empty:
        return {};
    case PairingCodeProblem::BadCharacter: {
        // The parser counts bytes of UTF-8; the user counts characters.
        const QByteArray bytes = typed.toUtf8();
        const qsizetype at = QString::fromUtf8(bytes.left(qsizetype(parsed.position))).size();
        const qsizetype length = at + 1 < typed.size() && typed[at].isHighSurrogate() ? 2 : 1;
        return loadString(str::PairingCodeBadCharacter)
            .arg(typed, typed.mid(at, length))
            .arg(at + 1);
    }
    case PairingCodeProblem::WrongLength:
        return loadString(str::PairingCodeLength).arg(typed).arg(parsed.length);
    }
    return {};
}

std::optional<uint32_t> parsePeerAddress(const QString& text) {
    if (text.isEmpty())
        return 0u;
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return std::nullopt;
    uint32_t address = 0;
    for (const QString& part : parts) {
        bool ok = false;
        const uint value = part.toUInt(&ok);
        if (!ok || part.isEmpty() || part.size() > 3 || value > 255 || !part[0].isDigit())
            return std::nullopt;
        address = (address << 8) | value;
    }
    return address;
}

QString acceptListText(const QString& typed) {
    const AcceptListParse parsed = parseAcceptList(typed.toStdString());
    return parsed.list ? QString::fromStdString(parsed.list->text()) : typed.simplified();
}

QString formatPeerAddress(uint32_t address) {
    if (address == 0)
        return {};
    return QStringLiteral("%1.%2.%3.%4")
        .arg(address >> 24)
        .arg((address >> 16) & 0xFF)
        .arg((address >> 8) & 0xFF)
        .arg(address & 0xFF);
}

QString localAddressText() {
    for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces()) {
        const auto flags = interface.flags();
        if (!(flags & QNetworkInterface::IsUp) || (flags & QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry& entry : interface.addressEntries()) {
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
                return entry.ip().toString();
        }
    }
    return {};
}

SettingsDialog::SettingsDialog(const Settings& settings, QStringList volumes, QWidget* owner)
    : QDialog(owner), m_settings(settings), m_volumes(std::move(volumes)) {
    setWindowTitle(tr("Settings"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    auto* grid = new QGridLayout(this);
    int row = 0;
    auto* destTitle = new QLabel(tr("Destination for Received Files"), this);
    destTitle->setObjectName(QStringLiteral("1002"));
    destTitle->setAlignment(Qt::AlignCenter);
    grid->addWidget(destTitle, row++, 0, 1, 3);
    m_destDir = new QLineEdit(m_settings.destDir, this);
    m_destDir->setObjectName(QStringLiteral("1001"));
    m_destDir->setReadOnly(true);
    destTitle->setBuddy(m_destDir);
    grid->addWidget(m_destDir, row, 0, 1, 2);
    auto* browseButton = new QPushButton(tr("Browse"), this);
    browseButton->setObjectName(QStringLiteral("1012"));
    browseButton->setAutoDefault(false);
    connect(browseButton, &QPushButton::clicked, this, &SettingsDialog::browse);
    grid->addWidget(browseButton, row++, 2);

    const auto check = [this, grid, &row](int id, const QString& text, bool on) {
        auto* box = new QCheckBox(text, this);
        box->setObjectName(QString::number(id));
        box->setChecked(on);
        grid->addWidget(box, row++, 0, 1, 3);
        return box;
    };
    m_promptDelete = check(1011, tr("Prompt for deletion of files"), m_settings.promptDelete);
    m_showResults =
        check(1013, tr("Display results after sending/receiving files"), m_settings.showResults);

    grid->addWidget(new QLabel(tr("If a name exists:"), this), row, 0);
    m_nameConflict = new QComboBox(this);
    m_nameConflict->setObjectName(QStringLiteral("1014"));
    m_nameConflict->setToolTip(tr("When a file of the same name exists"));
    m_nameConflict->addItem(tr("Refuse the transfer"), uint(NameConflict::Refuse));
    m_nameConflict->addItem(tr("Replace the file"), uint(NameConflict::Replace));
    m_nameConflict->addItem(tr("Keep both"), uint(NameConflict::KeepBoth));
    m_nameConflict->setCurrentIndex(m_nameConflict->findData(uint(m_settings.nameConflict)));
    grid->addWidget(m_nameConflict, row++, 1, 1, 2);

    auto* codeLabel = new QLabel(tr("Pairing code:"), this);
    grid->addWidget(codeLabel, row, 0);
    m_pairingCode = new QLineEdit(shownCode(m_settings.pairingCode), this);
    m_pairingCode->setObjectName(QStringLiteral("PairingCode"));
    m_pairingCode->setAccessibleName(tr("Pairing code"));
    m_pairingCode->setToolTip(
        tr("The same code on both computers sends files encrypted, and only between them"));
    m_pairingCode->setPlaceholderText(tr("none"));
    codeLabel->setBuddy(m_pairingCode);
    grid->addWidget(m_pairingCode, row, 1);
    m_newCode = new QPushButton(tr("New code"), this);
    m_newCode->setObjectName(QStringLiteral("NewPairingCode"));
    m_newCode->setAutoDefault(false);
    connect(m_newCode, &QPushButton::clicked, this, &SettingsDialog::newCode);
    grid->addWidget(m_newCode, row++, 2);

    auto* acceptLabel = new QLabel(tr("Accept files from:"), this);
    grid->addWidget(acceptLabel, row, 0);
    m_acceptFrom = new QComboBox(this);
    acceptLabel->setBuddy(m_acceptFrom);
    m_acceptFrom->setObjectName(QStringLiteral("AcceptFrom"));
    m_acceptFrom->addItem(tr("Anyone"), uint(AcceptFrom::Anyone));
    m_acceptFrom->addItem(tr("Only these addresses"), uint(AcceptFrom::ListedAddresses));
    m_acceptFrom->addItem(tr("Only paired peers"), uint(AcceptFrom::PairedPeers));
    const bool paired = m_settings.acceptsPairedPeersOnly();
    const bool listed = !paired && !m_settings.acceptFrom.trimmed().isEmpty();
    m_acceptFrom->setCurrentIndex(paired ? AcceptPaired : listed ? AcceptListed : AcceptAnyone);
    grid->addWidget(m_acceptFrom, row++, 1, 1, 2);
    m_acceptList = new QLineEdit(listed ? m_settings.acceptFrom : QString(), this);
    m_acceptList->setObjectName(QStringLiteral("AcceptList"));
    m_acceptList->setAccessibleName(tr("Addresses and networks to accept files from"));
    m_acceptList->setPlaceholderText(QStringLiteral("198.18.0.7 198.18.0.0/24"));
    m_acceptList->setEnabled(listed);
    grid->addWidget(m_acceptList, row++, 1, 1, 2);
    connect(m_acceptFrom, &QComboBox::currentIndexChanged, this,
            [this](int index) { m_acceptList->setEnabled(index == AcceptListed); });
    connect(m_pairingCode, &QLineEdit::textChanged, this, &SettingsDialog::updatePairedChoice);
    updatePairedChoice();

    auto* typeLabel = new QLabel(tr("Communication Type:"), this);
    grid->addWidget(typeLabel, row, 0);
    m_commType = new QComboBox(this);
    typeLabel->setBuddy(m_commType);
    m_commType->setObjectName(QStringLiteral("1020"));
    const auto current = commTypeFromIndex(m_settings.commType);
    for (CommType type : kOffered) {
        m_commType->addItem(loadString(str::CommTypeBase + int(type)), uint(type));
        if (current == type)
            m_commType->setCurrentIndex(m_commType->count() - 1);
    }
    if (current == CommType::RawIr || !current)
        m_commType->setCurrentIndex(-1);
    connect(m_commType, &QComboBox::activated, this, &SettingsDialog::onTypeChosen);
    grid->addWidget(m_commType, row, 1);
    auto* ok = new QPushButton(tr("OK"), this);
    ok->setObjectName(QStringLiteral("1"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &SettingsDialog::accept);
    grid->addWidget(ok, row++, 2);

    auto* deviceLabel = new QLabel(tr("Device:"), this);
    grid->addWidget(deviceLabel, row, 0);
    m_device = new QLineEdit(this);
    deviceLabel->setBuddy(m_device);
    m_device->setObjectName(QStringLiteral("SerialDevice"));
    grid->addWidget(m_device, row++, 1, 1, 2);

    auto* myIpLabel = new QLabel(tr("My IP address:"), this);
    grid->addWidget(myIpLabel, row, 0);
    m_myIp = new QLineEdit(localAddressText(), this);
    myIpLabel->setBuddy(m_myIp);
    m_myIp->setObjectName(QStringLiteral("1022"));
    m_myIp->setReadOnly(true);
    m_myIp->setEnabled(false);
    grid->addWidget(m_myIp, row++, 1);

    auto* peerIpLabel = new QLabel(tr("Peer IP address:"), this);
    grid->addWidget(peerIpLabel, row, 0);
    m_peerIp = new QLineEdit(formatPeerAddress(m_settings.peerIp), this);
    peerIpLabel->setBuddy(m_peerIp);
    m_peerIp->setObjectName(QStringLiteral("1021"));
    // Every prefix of a dotted address with octets up to 255, nothing else.
    const QString octet = QStringLiteral("(?:25[0-5]|2[0-4]\\d|1\\d\\d|[1-9]?\\d)");
    const QString pattern =
        QStringLiteral("(?:%1(?:\\.(?:%1(?:\\.(?:%1(?:\\.%1?)?)?)?)?)?)?").arg(octet);
    m_peerIp->setValidator(new QRegularExpressionValidator(QRegularExpression(pattern), m_peerIp));
    m_peerIp->setEnabled(current == CommType::Wan);
    grid->addWidget(m_peerIp, row++, 1);

    m_deviceType = current;
    showDevice(current);
    CenterDialog(this);
}

std::optional<CommType> SettingsDialog::selectedType() const {
    const int index = m_commType->currentIndex();
    if (index < 0)
        return std::nullopt;
    return commTypeFromIndex(m_commType->itemData(index).toUInt());
}

void SettingsDialog::onTypeChosen() {
    const std::optional<CommType> type = selectedType();
    m_peerIp->setEnabled(type == CommType::Wan);
    keepDeviceText(m_deviceType);
    m_deviceType = type;
    showDevice(type);
}

void SettingsDialog::keepDeviceText(std::optional<CommType> type) {
    if (!type)
        return;
    std::optional<std::string>* stored = storedDevice(m_settings.serialPorts, *type);
    if (!stored)
        return;
    const std::string text = QFile::encodeName(m_device->text()).toStdString();
    const std::string lookedUp = serialDeviceFor(*type, FindPorts(StoredSerialDevices{}));
    if (text.empty())
        stored->reset(); // looked up afresh
    else if (*stored || text != lookedUp)
        *stored = text;
}

void SettingsDialog::showDevice(std::optional<CommType> type) {
    const bool serial = type && isSerial(*type);
    m_device->setEnabled(serial);
    m_device->setText(serial ? QFile::decodeName(QByteArray::fromStdString(
                                   serialDeviceFor(*type, FindPorts(m_settings.serialPorts))))
                             : QString());
}

void SettingsDialog::newCode() {
    const std::optional<std::string> code = newPairingCode();
    if (!code) {
        showMessage(this, QMessageBox::Critical, loadString(str::Error),
                    loadString(str::NoPairingCode));
        return;
    }
    m_pairingCode->setText(QString::fromStdString(formatPairingCode(*code)));
}

void SettingsDialog::updatePairedChoice() {
    // Left chosen when the code is taken away: OK then says what is missing,
    // instead of the choice quietly turning into one that lets more in.
    if (auto* model = qobject_cast<QStandardItemModel*>(m_acceptFrom->model()))
        if (QStandardItem* item = model->item(AcceptPaired))
            item->setEnabled(parseTyped(m_pairingCode->text()).valid());
}

void SettingsDialog::browse() {
    QString path = m_settings.destDir;
    if (SelectDirectoryDialog(this, path, m_volumes, m_settings.sort) == DialogResult::Ok) {
        m_settings.destDir = path;
        m_destDir->setText(path);
    }
}

Settings SettingsDialog::chosen() const {
    Settings s = m_settings;
    if (const std::optional<CommType> type = selectedType())
        s.commType = uint32_t(*type);
    if (const std::optional<uint32_t> address = parsePeerAddress(m_peerIp->text()))
        s.peerIp = *address;
    s.promptDelete = m_promptDelete->isChecked();
    s.showResults = m_showResults->isChecked();
    s.nameConflict =
        nameConflictFromIndex(m_nameConflict->currentData().toUInt()).value_or(s.nameConflict);
    switch (m_acceptFrom->currentIndex()) {
    case AcceptListed:
        s.acceptFrom = acceptListText(m_acceptList->text());
        break;
    case AcceptPaired:
        s.acceptFrom = QLatin1String(kAcceptPairedPeers);
        break;
    default:
        s.acceptFrom.clear();
    }
    // A text that is not a code keeps the code in force (OK refuses it).
    if (const ParsedPairingCode code = parseTyped(m_pairingCode->text()); code.valid())
        s.pairingCode = QString::fromStdString(code.code);
    else if (code.problem == PairingCodeProblem::Empty)
        s.pairingCode.clear();
    s.destDir = m_destDir->text();
    return s;
}

void SettingsDialog::accept() {
    if (m_peerIp->isEnabled() && !parsePeerAddress(m_peerIp->text())) {
        showMessage(this, QMessageBox::Critical, loadString(str::Error),
                    loadString(str::BadPeerAddress).arg(m_peerIp->text()));
        m_peerIp->setFocus();
        return;
    }
    if (m_acceptList->isEnabled()) {
        const AcceptListParse parsed = parseAcceptList(m_acceptList->text().toStdString());
        QString problem;
        if (!parsed.list)
            problem = loadString(str::BadAcceptEntry).arg(QString::fromStdString(parsed.badEntry));
        else if (parsed.list->networks.empty())
            problem = loadString(str::EmptyAcceptList);
        if (!problem.isEmpty()) {
            showMessage(this, QMessageBox::Critical, loadString(str::Error), problem);
            m_acceptList->setFocus();
            return;
        }
    }
    const QString codeProblem = pairingCodeProblemText(m_pairingCode->text());
    if (!codeProblem.isEmpty()) {
        showMessage(this, QMessageBox::Critical, loadString(str::Error), codeProblem);
        m_pairingCode->setFocus();
        return;
    }
    if (m_acceptFrom->currentIndex() == AcceptPaired &&
        !parseTyped(m_pairingCode->text()).valid()) {
        showMessage(this, QMessageBox::Critical, loadString(str::Error),
                    loadString(str::PairedPeersNeedCode));
        m_pairingCode->setFocus();
        return;
    }
    keepDeviceText(m_deviceType);
    QDialog::accept();
}

} // namespace zapfer
