#include "link_error_text.h"

#include "string_table.h"

#include <QCoreApplication>

#include <cstring>

namespace zapfer {

QString linkOpenMessage(const LinkError& error) {
    return loadString(error.fault == LinkFault::InfraredUnavailable ? str::IrdaUnavailable
                                                                    : str::PortUnavailable);
}

QString linkErrorText(const LinkError& error) {
    const QString device = QString::fromStdString(error.device);
    const QString cause = QString::fromLocal8Bit(std::strerror(error.error));
    const QString type = loadString(str::CommTypeBase + int(error.type));
    switch (error.fault) {
    case LinkFault::None:
        return {};
    case LinkFault::NotSerial:
        return QCoreApplication::translate("LinkError", "%1 is not a serial link.").arg(type);
    case LinkFault::NoDevice:
        return QCoreApplication::translate("LinkError", "No serial device is set for %1.")
            .arg(type);
    case LinkFault::DeviceMissing:
        return QCoreApplication::translate("LinkError", "The serial device %1 does not exist.")
            .arg(device);
    case LinkFault::NoPermission:
        return QCoreApplication::translate("LinkError",
                                           "No permission to open the serial device %1.")
            .arg(device);
    case LinkFault::Busy:
        return QCoreApplication::translate(
                   "LinkError", "The serial device %1 is busy: another program is using it.")
            .arg(device);
    case LinkFault::NotSerialDevice:
        return QCoreApplication::translate("LinkError", "%1 is not a serial device.").arg(device);
    case LinkFault::OpenFailed:
        return QCoreApplication::translate("LinkError", "Cannot open the serial device %1: %2.")
            .arg(device, cause);
    case LinkFault::LineSettings:
        return QCoreApplication::translate(
                   "LinkError", "Cannot set the line settings of the serial device %1: %2.")
            .arg(device, cause);
    case LinkFault::DeviceGone:
        return QCoreApplication::translate("LinkError", "The serial device %1 has gone away.")
            .arg(device);
    case LinkFault::InfraredUnavailable:
        return loadString(str::IrdaUnavailable);
    }
    return {};
}

} // namespace zapfer
