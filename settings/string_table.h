#pragma once

#include <QString>

#include <vector>

namespace zapfer {

// Zapfer's user-visible texts, looked up by their string-table number, in
// the language of the installed translators (English when none has the
// text). An unknown number gives an empty text.
QString loadString(int id);
// The English text of `id`, whatever the translators hold.
QString sourceString(int id);
// Every number the table holds, ascending.
std::vector<int> stringIds();

namespace str {
inline constexpr int ProductName = 1;         // "Zapfer"
inline constexpr int InstanceName = 3;        // "ZAPFER"
inline constexpr int StatusLineFormat = 5000; // "Files: %1  Bytes: %2"
inline constexpr int PortUnavailable = 5008;
inline constexpr int Error = 5022;
inline constexpr int RenameExists = 5009; // "Cannot rename '%1': ... already exists"
inline constexpr int RenameTitle = 5010;
inline constexpr int MaxFiles = 5028;
inline constexpr int FileTooLarge = 5029;
inline constexpr int NameTooLong = 5030;
inline constexpr int NameUnsafe = 5031;
inline constexpr int RenameSystemError = 40103; // old name, the system's reason
inline constexpr int RenameBadName = 5032;
inline constexpr int HelpMissing = 5033;
inline constexpr int ReceivedResult = 5026;
inline constexpr int ReceiveResultTitle = 5027;
inline constexpr int RefusalBase = 6000;  // + PeerError
inline constexpr int CommTypeBase = 7000; // + CommType
inline constexpr int SendingFilesTitle = 40017;
inline constexpr int ReceivingFilesTitle = 40018;
inline constexpr int ConfirmFolderDelete = 5001;
inline constexpr int ConfirmFolderDeleteTitle = 5002;
inline constexpr int ConfirmFileDelete = 5003;
inline constexpr int ConfirmMultipleDelete = 5004;
inline constexpr int ConfirmMultipleDeleteTitle = 5005;
inline constexpr int DeleteFilesTitle = 5006;
inline constexpr int DeleteFailed = 5007;
inline constexpr int MoveFailed = 5015;
inline constexpr int MoveFilesTitle = 5016;
inline constexpr int CopyFailed = 5017;
inline constexpr int CopyFilesTitle = 5018;
inline constexpr int SameDirectory = 5023;
inline constexpr int DeletionIsFinal = 40101;
inline constexpr int ReadOnlyNotChanged = 40102; // name, the system's reason
inline constexpr int FilesOfFormat = 5011;       // "%1 of %2 Files"
inline constexpr int BytesOfFormat = 5012;       // "%1 of %2 Bytes"
inline constexpr int TotalBytesOfFormat = 5013;  // "%1 of %2 Total Bytes"
inline constexpr int RateFormat = 5014;          // "%1 bytes per second"
inline constexpr int SentResult = 5024;          // "%1 of %2 files sent successfully"
inline constexpr int SendResultTitle = 5025;
inline constexpr int TimeLeftFormat = 40201; // "about %1 s left"
inline constexpr int IrdaUnavailable = 40202;
inline constexpr int BadPeerAddress = 40203;       // the text entered
inline constexpr int OwnAddress = 40220;           // SendFailure::OwnAddress
inline constexpr int BlockNotAcknowledged = 40221; // SendFailure::BlockNotAcknowledged
inline constexpr int PairedNotAccepted = 40222;    // SendFailure::PairedNotAccepted
inline constexpr int PairingMismatch = 40223;      // SendFailure::PairingMismatch
inline constexpr int PairedNoAnswer = 40224;       // SendFailure::PairedNoAnswer
inline constexpr int PairedLinkFormat = 40230;     // the link's name: "%1 (paired)"
inline constexpr int BadAcceptEntry = 40301;       // the entry
inline constexpr int EmptyAcceptList = 40302;
inline constexpr int StoredAs = 40303;                // name sent, name stored
inline constexpr int PairingCodeBadCharacter = 40310; // typed, character, its place
inline constexpr int PairingCodeLength = 40311;       // typed, characters counted
inline constexpr int PairedPeersNeedCode = 40312;
inline constexpr int NoPairingCode = 40313; // no randomness for a new code
// + command number: the command's name (the seven command buttons, the path
// and sort buttons), for tooltips and accessible names.
inline constexpr int CommandNameOffset = 2000;
} // namespace str

} // namespace zapfer
