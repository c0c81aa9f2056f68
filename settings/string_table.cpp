#include "string_table.h"

#include <QCoreApplication>

#include <algorithm>
#include <array>

namespace zapfer {

namespace {

struct StringEntry {
    int id;
    const char* text;
};

// Printf conversions of the original table are written as Qt's numbered
// arguments (%1, %2 ...), filled with QString::arg in the same order.
constexpr std::array kStrings = std::to_array<StringEntry>({
    {1, "Zapfer"},
    {3, "ZAPFER"},
    {5000, "Files: %1  Bytes: %2"},
    {5001, "Are you sure you want to remove the folder '%1' and all of its contents?"},
    {5002, "Confirm Folder Delete"},
    {5003, "Are you sure you want to delete '%1'?"},
    {5004, "Are you sure you want to delete these %1 items?"},
    {5005, "Confirm Multiple File Delete"},
    {5006, "Delete File(s)"},
    {5007, "Not all of the files were deleted successfully"},
    {5008, "Unable to open the communications port; please close any applications which may "
           "be using the same port.  Zapfer will continue to monitor the port and open it when "
           "available."},
    {5009, "Cannot rename '%1':\n\n A file with the name you specified already exists.  Specify "
           "a different Name."},
    {5010, "Error Renaming File"},
    {5011, "%1 of %2 Files"},
    {5012, "%1 of %2 Bytes"},
    {5013, "%1 of %2 Total Bytes"},
    {5014, "%1 bytes per second"},
    {5015, "Not all of the files were moved successfully"},
    {5016, "Move File(s)"},
    {5017, "Not all of the files were copied successfully"},
    {5018, "Copy File(s)"},
    {5022, "Error"},
    {5023, "The source and destination directory cannot be the same"},
    {5024, "%1 of %2 files sent successfully"},
    {5025, "Send File(s)"},
    {5026, "%1 of %2 files received successfully"},
    {5027, "Receive File(s)"},
    {5028, "A maximum of 100 files can be sent at one time."},
    {5029, "'%1' cannot be sent: files of 2 GB or more are too large for a transfer."},
    {5030, "'%1' cannot be sent: its name is longer than 125 characters."},
    {5031, "'%1' cannot be sent: its name holds a control character or a backslash, which the "
           "receiver would refuse or take for a folder."},
    {5031, "Cannot rename '%1':\n\n%2"},
    {5032, "Cannot rename '%1':\n\n A name cannot be empty, \".\" or \"..\" or contain \"/\"."},
    {5033, "The help pages cannot be found. They are installed as %1."},
    {6001, "The recipient's machine does not have enough storage space to receive all of the "
           "selected files."},
    {6002, "One or more file names conflict with existing files on the recipient's machine."},
    {6003, "The receiver is unable to create the destination file; the send operation has been "
           "aborted."},
    {7000, "IRDA"},
    {7001, "USB"},
    {7002, "COM1"},
    {7003, "COM2"},
    {7004, "RAW IR"},
    {7005, "LAN"},
    {7006, "WAN / Internet"},
    {40017, "Sending Files"},
    {40018, "Receiving Files"},
    {40101, "This cannot be undone: nothing is moved to a trash folder."},
    {40102, "The read-only setting of '%1' cannot be changed:\n\n%2"},
    {40201, "about %1 s left"},
    {40202, "Infrared sockets are not available on this system. Choose another communication "
            "type under Settings."},
    {40203, "'%1' is not a complete IPv4 address. Enter four numbers from 0 to 255 separated by "
            "dots, such as 192.168.1.20."},
    {40220, "That address is this computer. Enter the address of the computer that is to "
            "receive the files under Settings."},
    {40221, "The receiver did not acknowledge a block of the file being sent, however often it "
            "was sent again; the send operation has been aborted."},
    {40301, "'%1' is not an IPv4 address or network. Enter addresses such as 198.18.0.7 and "
            "networks such as 198.18.0.0/24, separated by spaces."},
    {40302, "Enter at least one address or network to accept files from, or choose Anyone."},
    {40303, "%1 stored as %2"},
});

static_assert(std::is_sorted(kStrings.begin(), kStrings.end(),
                             [](const StringEntry& a, const StringEntry& b) {
                                 return a.id < b.id;
                             }));

} // namespace

QString loadString(int id) {
    const auto it = std::lower_bound(kStrings.begin(), kStrings.end(), id,
                                     [](const StringEntry& e, int value) { return e.id < value; });
    if (it == kStrings.end() || it->id != id)
        return {};
    return QCoreApplication::translate("zapfer", it->text);
}

} // namespace zapfer
