// The receiver's view of a file table: the table checks, each entry's name
// and size, and the name that would be created in the destination folder.
//
// Input: a flags byte (bit 0: replace the CRC below by the right one, so
// that the fuzzer reaches the entries), the count byte, the 4-byte CRC, then
// the entry bytes as received (possibly short).

#include "crc.h"
#include "fuzz_check.h"
#include "protocol.h"

#include <algorithm>
#include <string>

namespace {

void checkSafeName(const std::string& name) {
    FUZZ_CHECK(!name.empty());
    FUZZ_CHECK(name != "." && name != "..");
    FUZZ_CHECK(name.size() <= zapfer::kMaxFileNamePart);
    for (const char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        FUZZ_CHECK(c != '/' && c != '\\');
        FUZZ_CHECK(c >= 0x20 && c != 0x7F);
    }
}

void checkEntry(const uint8_t* bytes) {
    const zapfer::TransferEntry entry = zapfer::DecodeTransferEntry(bytes);
    FUZZ_CHECK(entry.name.size() <= zapfer::kNameFieldBytes / 2);
    FUZZ_CHECK(entry.name.find('\0') == std::string::npos);
    FUZZ_CHECK(entry.size == int32_t(zapfer::getLe32(bytes + zapfer::kNameFieldBytes)));

    const std::string wireName = zapfer::FileNamePart(entry.name, zapfer::PathSource::Wire);
    FUZZ_CHECK(wireName.size() <= zapfer::kMaxFileNamePart);
    FUZZ_CHECK(entry.name.ends_with(wireName));
    const std::string localName = zapfer::FileNamePart(entry.name, zapfer::PathSource::Local);
    FUZZ_CHECK(localName.ends_with(wireName));

    if (!zapfer::isSafeReceivedName(wireName))
        return;
    checkSafeName(wireName);

    // A name that is safe to receive travels back unchanged when this machine
    // sends a file of that name.
    zapfer::EntryBytes encoded;
    const zapfer::EntryError error =
        zapfer::EncodeTransferEntry(wireName, std::max(entry.size, 0), encoded);
    if (wireName.size() > zapfer::kMaxNameUnits) {
        FUZZ_CHECK(error == zapfer::EntryError::NameTooLong);
        return;
    }
    FUZZ_CHECK(error == zapfer::EntryError::None);
    const zapfer::TransferEntry back = zapfer::DecodeTransferEntry(encoded.data());
    FUZZ_CHECK(back.name == wireName);
    FUZZ_CHECK(back.size == std::max(entry.size, 0));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 6)
        return 0;
    const bool fixCrc = data[0] & 1;
    const uint8_t count = data[1];
    const std::span<const uint8_t> received(data + 6, size - 6);
    const size_t tableBytes = std::min(received.size(), size_t(count) * zapfer::kEntrySize);
    const uint32_t crc =
        fixCrc ? zapfer::BlockCrc(received.data(), tableBytes) : zapfer::getLe32(data + 2);

    const zapfer::TableCheck check = zapfer::CheckFileTable(count, crc, received);
    if (count > zapfer::kMaxEntries)
        FUZZ_CHECK(check == zapfer::TableCheck::TooManyEntries);
    else if (received.size() < size_t(count) * zapfer::kEntrySize)
        FUZZ_CHECK(check == zapfer::TableCheck::Short);
    if (check != zapfer::TableCheck::Valid)
        return 0;
    FUZZ_CHECK(zapfer::BlockCrc(received.data(), size_t(count) * zapfer::kEntrySize) == crc);
    for (size_t i = 0; i < count; ++i)
        checkEntry(received.data() + i * zapfer::kEntrySize);
    return 0;
}
