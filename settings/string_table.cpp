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
    {5000, QT_TRANSLATE_NOOP("StringTable", "Files: %1  Bytes: %2")},
    {5001,
     QT_TRANSLATE_NOOP("StringTable",
                       "Are you sure you want to remove the folder '%1' and all of its contents?")},
    {5002, QT_TRANSLATE_NOOP("StringTable", "Confirm Folder Delete")},
    {5003, QT_TRANSLATE_NOOP("StringTable", "Are you sure you want to delete '%1'?")},
    {5004, QT_TRANSLATE_NOOP("StringTable", "Are you sure you want to delete these %1 items?")},
    {5005, QT_TRANSLATE_NOOP("StringTable", "Confirm Multiple File Delete")},
    {5006, QT_TRANSLATE_NOOP("StringTable", "Delete File(s)")},
    {5007, QT_TRANSLATE_NOOP("StringTable", "Not all of the files were deleted successfully")},
    {5008, QT_TRANSLATE_NOOP(
               "StringTable",
               "Unable to open the communications port; please close any applications which may "
               "be using the same port.  Zapfer will continue to monitor the port and open it when "
               "available.")},
    {5009,
     QT_TRANSLATE_NOOP(
         "StringTable",
         "Cannot rename '%1':\n\n A file with the name you specified already exists.  Specify "
         "a different Name.")},
    {5010, QT_TRANSLATE_NOOP("StringTable", "Error Renaming File")},
    {5011, QT_TRANSLATE_NOOP("StringTable", "%1 of %2 Files")},
    {5012, QT_TRANSLATE_NOOP("StringTable", "%1 of %2 Bytes")},
    {5013, QT_TRANSLATE_NOOP("StringTable", "%1 of %2 Total Bytes")},
    {5014, QT_TRANSLATE_NOOP("StringTable", "%1 bytes per second")},
    {5015, QT_TRANSLATE_NOOP("StringTable", "Not all of the files were moved successfully")},
    {5016, QT_TRANSLATE_NOOP("StringTable", "Move File(s)")},
    {5017, QT_TRANSLATE_NOOP("StringTable", "Not all of the files were copied successfully")},
    {5018, QT_TRANSLATE_NOOP("StringTable", "Copy File(s)")},
    {5022, QT_TRANSLATE_NOOP("StringTable", "Error")},
    {5023,
     QT_TRANSLATE_NOOP("StringTable", "The source and destination directory cannot be the same")},
    {5024, QT_TRANSLATE_NOOP("StringTable", "%1 of %2 files sent successfully")},
    {5025, QT_TRANSLATE_NOOP("StringTable", "Send File(s)")},
    {5026, QT_TRANSLATE_NOOP("StringTable", "%1 of %2 files received successfully")},
    {5027, QT_TRANSLATE_NOOP("StringTable", "Receive File(s)")},
    {5028, QT_TRANSLATE_NOOP("StringTable", "A maximum of 100 files can be sent at one time.")},
    {5029,
     QT_TRANSLATE_NOOP("StringTable",
                       "'%1' cannot be sent: files of 2 GB or more are too large for a transfer.")},
    {5030, QT_TRANSLATE_NOOP("StringTable",
                             "'%1' cannot be sent: its name is longer than 125 characters.")},
    {5031, QT_TRANSLATE_NOOP(
               "StringTable",
               "'%1' cannot be sent: its name holds a control character or a backslash, which the "
               "receiver would refuse or take for a folder.")},
    {5032,
     QT_TRANSLATE_NOOP(
         "StringTable",
         "Cannot rename '%1':\n\n A name cannot be empty, \".\" or \"..\" or contain \"/\".")},
    {5033,
     QT_TRANSLATE_NOOP("StringTable", "The help pages cannot be found. They are installed as %1.")},
    {6001, QT_TRANSLATE_NOOP(
               "StringTable",
               "The recipient's machine does not have enough storage space to receive all of the "
               "selected files.")},
    {6002, QT_TRANSLATE_NOOP(
               "StringTable",
               "One or more file names conflict with existing files on the recipient's machine.")},
    {6003, QT_TRANSLATE_NOOP(
               "StringTable",
               "The receiver is unable to create the destination file; the send operation has been "
               "aborted.")},
    {7000, QT_TRANSLATE_NOOP("StringTable", "IRDA")},
    {7001, QT_TRANSLATE_NOOP("StringTable", "USB")},
    {7002, QT_TRANSLATE_NOOP("StringTable", "COM1")},
    {7003, QT_TRANSLATE_NOOP("StringTable", "COM2")},
    {7004, QT_TRANSLATE_NOOP("StringTable", "RAW IR")},
    {7005, QT_TRANSLATE_NOOP("StringTable", "LAN")},
    {7006, QT_TRANSLATE_NOOP("StringTable", "WAN / Internet")},
    {40017, QT_TRANSLATE_NOOP("StringTable", "Sending Files")},
    {40018, QT_TRANSLATE_NOOP("StringTable", "Receiving Files")},
    {40101, QT_TRANSLATE_NOOP("StringTable",
                              "This cannot be undone: nothing is moved to a trash folder.")},
    {40102,
     QT_TRANSLATE_NOOP("StringTable", "The read-only setting of '%1' cannot be changed:\n\n%2")},
    {40103, QT_TRANSLATE_NOOP("StringTable", "Cannot rename '%1':\n\n%2")},
    {40201, QT_TRANSLATE_NOOP("StringTable", "about %1 s left")},
    {40202, QT_TRANSLATE_NOOP(
                "StringTable",
                "Infrared sockets are not available on this system. Choose another communication "
                "type under Settings.")},
    {40203,
     QT_TRANSLATE_NOOP(
         "StringTable",
         "'%1' is not a complete IPv4 address. Enter four numbers from 0 to 255 separated by "
         "dots, such as 192.168.1.20.")},
    {40220, QT_TRANSLATE_NOOP("StringTable",
                              "That address is this computer. Enter the address of the computer "
                              "that is to receive the files under Settings.")},
    {40221, QT_TRANSLATE_NOOP("StringTable",
                              "The receiver did not acknowledge a block of the file being sent, "
                              "however often it was sent again; the send operation has been "
                              "aborted.")},
    {40222, QT_TRANSLATE_NOOP("StringTable", "The peer does not accept paired transfers")},
    {40223, QT_TRANSLATE_NOOP("StringTable", "The peer has a different pairing code")},
    {40224, QT_TRANSLATE_NOOP("StringTable", "The peer did not answer")},
    {40230, QT_TRANSLATE_NOOP("StringTable", "%1 (paired)")},
    {40301, QT_TRANSLATE_NOOP("StringTable",
                              "'%1' is not an IPv4 address or network. Enter addresses such as "
                              "198.18.0.7 and networks such as 198.18.0.0/24, separated by "
                              "spaces.")},
    {40302, QT_TRANSLATE_NOOP("StringTable", "Enter at least one address or network to accept "
                                             "files from, or choose Anyone.")},
    {40303, QT_TRANSLATE_NOOP("StringTable", "%1 stored as %2")},
    {40310, QT_TRANSLATE_NOOP("StringTable",
                              "'%1' is not a pairing code: '%2' (character %3) is none of the "
                              "letters A to Z and digits 2 to 7 that a code is made of.")},
    {40311, QT_TRANSLATE_NOOP("StringTable",
                              "'%1' is not a pairing code: it has %2 letters and digits instead of "
                              "12. Spaces and dashes do not count.")},
    {40312, QT_TRANSLATE_NOOP("StringTable",
                              "Only paired peers needs a pairing code. Enter the code the other "
                              "computer shows or choose New code, or choose whom else to accept "
                              "files from.")},
    {40313, QT_TRANSLATE_NOOP("StringTable",
                              "No new pairing code could be made: the system gives no random "
                              "numbers.")},
    // The commands' names: tooltips and accessible names of the buttons.
    {42003, QT_TRANSLATE_NOOP("StringTable", "About")},
    {42008, QT_TRANSLATE_NOOP("StringTable", "Settings")},
    {42009, QT_TRANSLATE_NOOP("StringTable", "Exit")},
    {42017, QT_TRANSLATE_NOOP("StringTable", "Send")},
    {42019, QT_TRANSLATE_NOOP("StringTable", "Go Up to a Folder")},
    {42021, QT_TRANSLATE_NOOP("StringTable", "Remove from Send List")},
    {42026, QT_TRANSLATE_NOOP("StringTable", "Add to Send List")},
    {42032, QT_TRANSLATE_NOOP("StringTable", "Help")},
    {42038, QT_TRANSLATE_NOOP("StringTable", "Sort By")},
});

// Strictly ascending: the lookup is a binary search, and a number given twice
// would hide the second text behind the first.
static_assert(std::adjacent_find(kStrings.begin(), kStrings.end(),
                                 [](const StringEntry& a, const StringEntry& b) {
                                     return a.id >= b.id;
                                 }) == kStrings.end());

} // namespace

QString loadString(int id) {
    const auto it = std::lower_bound(kStrings.begin(), kStrings.end(), id,
                                     [](const StringEntry& e, int value) { return e.id < value; });
    if (it == kStrings.end() || it->id != id)
        return {};
    return QCoreApplication::translate("StringTable", it->text);
}

QString sourceString(int id) {
    const auto it = std::lower_bound(kStrings.begin(), kStrings.end(), id,
                                     [](const StringEntry& e, int value) { return e.id < value; });
    if (it == kStrings.end() || it->id != id)
        return {};
    return QString::fromUtf8(it->text);
}

std::vector<int> stringIds() {
    std::vector<int> ids;
    ids.reserve(kStrings.size());
    for (const StringEntry& e : kStrings)
        ids.push_back(e.id);
    return ids;
}

} // namespace zapfer
