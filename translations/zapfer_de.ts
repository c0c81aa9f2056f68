<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>ContextMenus</name>
    <message>
        <source>Add to Send List</source>
        <translation>Zur Sendeliste hinzufügen</translation>
    </message>
    <message>
        <source>Rename...</source>
        <translation>Umbenennen...</translation>
    </message>
    <message>
        <source>Properties...</source>
        <translation>Eigenschaften...</translation>
    </message>
    <message>
        <source>Move...</source>
        <translation>Verschieben...</translation>
    </message>
    <message>
        <source>Copy To...</source>
        <translation>Kopieren nach...</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>Öffnen</translation>
    </message>
    <message>
        <source>Run...</source>
        <translation>Ausführen...</translation>
    </message>
    <message>
        <source>New Folder...</source>
        <translation>Neuer Ordner...</translation>
    </message>
    <message>
        <source>Select All</source>
        <translation>Alle auswählen</translation>
    </message>
    <message>
        <source>De-Select All</source>
        <translation>Auswahl aufheben</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>Löschen</translation>
    </message>
    <message>
        <source>History...</source>
        <translation>Verlauf...</translation>
    </message>
</context>
<context>
    <name>FileList</name>
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>Size</source>
        <translation>Größe</translation>
    </message>
    <message>
        <source>Date</source>
        <translation>Datum</translation>
    </message>
</context>
<context>
    <name>FileOperationProgress</name>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
</context>
<context>
    <name>FileProperties</name>
    <message>
        <source>%1 Bytes</source>
        <translation>%1 Bytes</translation>
    </message>
    <message>
        <source>Unavailable</source>
        <translation>Nicht verfügbar</translation>
    </message>
</context>
<context>
    <name>HistoryTexts</name>
    <message>
        <source>Sent</source>
        <translation>Gesendet</translation>
    </message>
    <message>
        <source>Received</source>
        <translation>Empfangen</translation>
    </message>
    <message>
        <source>Completed</source>
        <translation>Abgeschlossen</translation>
    </message>
    <message>
        <source>Refused (code %1)</source>
        <translation>Abgelehnt (Code %1)</translation>
    </message>
    <message>
        <source>Refused</source>
        <translation>Abgelehnt</translation>
    </message>
    <message>
        <source>Aborted</source>
        <translation>Abgebrochen</translation>
    </message>
    <message>
        <source>Failed</source>
        <translation>Fehlgeschlagen</translation>
    </message>
    <message>
        <source>Stored</source>
        <translation>Gespeichert</translation>
    </message>
    <message>
        <source>Skipped as unreadable</source>
        <translation>Übersprungen, nicht lesbar</translation>
    </message>
    <message>
        <source>%1 s</source>
        <translation>%1 s</translation>
    </message>
</context>
<context>
    <name>LinkError</name>
    <message>
        <source>%1 is not a serial link.</source>
        <translation>%1 ist keine serielle Verbindung.</translation>
    </message>
    <message>
        <source>No serial device is set for %1.</source>
        <translation>Für %1 ist kein serielles Gerät eingestellt.</translation>
    </message>
    <message>
        <source>The serial device %1 does not exist.</source>
        <translation>Das serielle Gerät %1 ist nicht vorhanden.</translation>
    </message>
    <message>
        <source>No permission to open the serial device %1.</source>
        <translation>Keine Berechtigung, das serielle Gerät %1 zu öffnen.</translation>
    </message>
    <message>
        <source>The serial device %1 is busy: another program is using it.</source>
        <translation>Das serielle Gerät %1 ist belegt: Ein anderes Programm verwendet es.</translation>
    </message>
    <message>
        <source>%1 is not a serial device.</source>
        <translation>%1 ist kein serielles Gerät.</translation>
    </message>
    <message>
        <source>Cannot open the serial device %1: %2.</source>
        <translation>Das serielle Gerät %1 kann nicht geöffnet werden: %2.</translation>
    </message>
    <message>
        <source>Cannot set the line settings of the serial device %1: %2.</source>
        <translation>Die Leitungseinstellungen des seriellen Geräts %1 können nicht gesetzt werden: %2.</translation>
    </message>
    <message>
        <source>The serial device %1 has gone away.</source>
        <translation>Das serielle Gerät %1 ist nicht mehr vorhanden.</translation>
    </message>
</context>
<context>
    <name>NewFolder</name>
    <message>
        <source>New Folder</source>
        <translation>Neuer Ordner</translation>
    </message>
    <message>
        <source>New Folder(%1)</source>
        <translation>Neuer Ordner(%1)</translation>
    </message>
</context>
<context>
    <name>PathButton</name>
    <message>
        <source>My Computer</source>
        <translation>Arbeitsplatz</translation>
    </message>
    <message>
        <source>Show</source>
        <translation>Anzeigen</translation>
    </message>
</context>
<context>
    <name>SendList</name>
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>Size</source>
        <translation>Größe</translation>
    </message>
    <message>
        <source>Pathname</source>
        <translation>Pfad</translation>
    </message>
</context>
<context>
    <name>SortButton</name>
    <message>
        <source>Sort By</source>
        <translation>Sortieren nach</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>Date</source>
        <translation>Datum</translation>
    </message>
    <message>
        <source>Size</source>
        <translation>Größe</translation>
    </message>
    <message>
        <source>Type</source>
        <translation>Typ</translation>
    </message>
</context>
<context>
    <name>StringTable</name>
    <message>
        <source>Files: %1  Bytes: %2</source>
        <translation>Dateien: %1  Bytes: %2</translation>
    </message>
    <message>
        <source>Are you sure you want to remove the folder &apos;%1&apos; and all of its contents?</source>
        <translation>Möchten Sie den Ordner „%1“ mit seinem gesamten Inhalt wirklich entfernen?</translation>
    </message>
    <message>
        <source>Confirm Folder Delete</source>
        <translation>Löschen des Ordners bestätigen</translation>
    </message>
    <message>
        <source>Are you sure you want to delete &apos;%1&apos;?</source>
        <translation>Möchten Sie „%1“ wirklich löschen?</translation>
    </message>
    <message>
        <source>Are you sure you want to delete these %1 items?</source>
        <translation>Möchten Sie diese %1 Elemente wirklich löschen?</translation>
    </message>
    <message>
        <source>Confirm Multiple File Delete</source>
        <translation>Löschen mehrerer Dateien bestätigen</translation>
    </message>
    <message>
        <source>Delete File(s)</source>
        <translation>Datei(en) löschen</translation>
    </message>
    <message>
        <source>Not all of the files were deleted successfully</source>
        <translation>Nicht alle Dateien konnten gelöscht werden</translation>
    </message>
    <message>
        <source>Unable to open the communications port; please close any applications which may be using the same port.  Zapfer will continue to monitor the port and open it when available.</source>
        <translation>Die Schnittstelle kann nicht geöffnet werden. Bitte beenden Sie alle Programme, die dieselbe Schnittstelle verwenden.  Zapfer überwacht die Schnittstelle weiter und öffnet sie, sobald sie frei ist.</translation>
    </message>
    <message>
        <source>Cannot rename &apos;%1&apos;:

 A file with the name you specified already exists.  Specify a different Name.</source>
        <translation>„%1“ kann nicht umbenannt werden:

 Eine Datei mit dem angegebenen Namen ist bereits vorhanden.  Geben Sie einen anderen Namen an.</translation>
    </message>
    <message>
        <source>Error Renaming File</source>
        <translation>Fehler beim Umbenennen</translation>
    </message>
    <message>
        <source>%1 of %2 Files</source>
        <translation>%1 von %2 Dateien</translation>
    </message>
    <message>
        <source>%1 of %2 Bytes</source>
        <translation>%1 von %2 Bytes</translation>
    </message>
    <message>
        <source>%1 of %2 Total Bytes</source>
        <translation>%1 von insgesamt %2 Bytes</translation>
    </message>
    <message>
        <source>%1 bytes per second</source>
        <translation>%1 Bytes pro Sekunde</translation>
    </message>
    <message>
        <source>Not all of the files were moved successfully</source>
        <translation>Nicht alle Dateien konnten verschoben werden</translation>
    </message>
    <message>
        <source>Move File(s)</source>
        <translation>Datei(en) verschieben</translation>
    </message>
    <message>
        <source>Not all of the files were copied successfully</source>
        <translation>Nicht alle Dateien konnten kopiert werden</translation>
    </message>
    <message>
        <source>Copy File(s)</source>
        <translation>Datei(en) kopieren</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>The source and destination directory cannot be the same</source>
        <translation>Quell- und Zielordner dürfen nicht derselbe sein</translation>
    </message>
    <message>
        <source>%1 of %2 files sent successfully</source>
        <translation>%1 von %2 Dateien erfolgreich gesendet</translation>
    </message>
    <message>
        <source>Send File(s)</source>
        <translation>Datei(en) senden</translation>
    </message>
    <message>
        <source>%1 of %2 files received successfully</source>
        <translation>%1 von %2 Dateien erfolgreich empfangen</translation>
    </message>
    <message>
        <source>Receive File(s)</source>
        <translation>Datei(en) empfangen</translation>
    </message>
    <message>
        <source>A maximum of 100 files can be sent at one time.</source>
        <translation>Es können höchstens 100 Dateien auf einmal gesendet werden.</translation>
    </message>
    <message>
        <source>&apos;%1&apos; cannot be sent: files of 2 GB or more are too large for a transfer.</source>
        <translation>„%1“ kann nicht gesendet werden: Dateien ab 2 GB sind für eine Übertragung zu groß.</translation>
    </message>
    <message>
        <source>&apos;%1&apos; cannot be sent: its name is longer than 125 characters.</source>
        <translation>„%1“ kann nicht gesendet werden: Der Name ist länger als 125 Zeichen.</translation>
    </message>
    <message>
        <source>&apos;%1&apos; cannot be sent: its name holds a control character or a backslash, which the receiver would refuse or take for a folder.</source>
        <translation>„%1“ kann nicht gesendet werden: Der Name enthält ein Steuerzeichen oder einen umgekehrten Schrägstrich, den der Empfänger ablehnen oder für einen Ordner halten würde.</translation>
    </message>
    <message>
        <source>Cannot rename &apos;%1&apos;:

 A name cannot be empty, &quot;.&quot; or &quot;..&quot; or contain &quot;/&quot;.</source>
        <translation>„%1“ kann nicht umbenannt werden:

 Ein Name darf nicht leer, „.“ oder „..“ sein und kein „/“ enthalten.</translation>
    </message>
    <message>
        <source>The help pages cannot be found. They are installed as %1.</source>
        <translation>Die Hilfeseiten wurden nicht gefunden. Sie werden als %1 installiert.</translation>
    </message>
    <message>
        <source>The recipient&apos;s machine does not have enough storage space to receive all of the selected files.</source>
        <translation>Auf dem Rechner des Empfängers ist nicht genug Speicherplatz für alle ausgewählten Dateien.</translation>
    </message>
    <message>
        <source>One or more file names conflict with existing files on the recipient&apos;s machine.</source>
        <translation>Eine oder mehrere Dateien sind auf dem Rechner des Empfängers bereits unter demselben Namen vorhanden.</translation>
    </message>
    <message>
        <source>The receiver is unable to create the destination file; the send operation has been aborted.</source>
        <translation>Der Empfänger kann die Zieldatei nicht anlegen; das Senden wurde abgebrochen.</translation>
    </message>
    <message>
        <source>IRDA</source>
        <translation>IRDA</translation>
    </message>
    <message>
        <source>USB</source>
        <translation>USB</translation>
    </message>
    <message>
        <source>COM1</source>
        <translation>COM1</translation>
    </message>
    <message>
        <source>COM2</source>
        <translation>COM2</translation>
    </message>
    <message>
        <source>RAW IR</source>
        <translation>RAW IR</translation>
    </message>
    <message>
        <source>LAN</source>
        <translation>LAN</translation>
    </message>
    <message>
        <source>WAN / Internet</source>
        <translation>WAN / Internet</translation>
    </message>
    <message>
        <source>Sending Files</source>
        <translation>Dateien werden gesendet</translation>
    </message>
    <message>
        <source>Receiving Files</source>
        <translation>Dateien werden empfangen</translation>
    </message>
    <message>
        <source>This cannot be undone: nothing is moved to a trash folder.</source>
        <translation>Dies kann nicht rückgängig gemacht werden: Nichts wird in einen Papierkorb verschoben.</translation>
    </message>
    <message>
        <source>The read-only setting of &apos;%1&apos; cannot be changed:

%2</source>
        <translation>Der Schreibschutz von „%1“ kann nicht geändert werden:

%2</translation>
    </message>
    <message>
        <source>Cannot rename &apos;%1&apos;:

%2</source>
        <translation>„%1“ kann nicht umbenannt werden:

%2</translation>
    </message>
    <message>
        <source>about %1 s left</source>
        <translation>noch etwa %1 s</translation>
    </message>
    <message>
        <source>Infrared sockets are not available on this system. Choose another communication type under Settings.</source>
        <translation>Infrarot-Sockets sind auf diesem System nicht verfügbar. Wählen Sie unter „Einstellungen“ eine andere Verbindungsart.</translation>
    </message>
    <message>
        <source>&apos;%1&apos; is not a complete IPv4 address. Enter four numbers from 0 to 255 separated by dots, such as 192.168.1.20.</source>
        <translation>„%1“ ist keine vollständige IPv4-Adresse. Geben Sie vier durch Punkte getrennte Zahlen von 0 bis 255 ein, zum Beispiel 192.168.1.20.</translation>
    </message>
    <message>
        <source>About</source>
        <translation>Über Zapfer</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>Send</source>
        <translation>Senden</translation>
    </message>
    <message>
        <source>Go Up to a Folder</source>
        <translation>Zu einem übergeordneten Ordner</translation>
    </message>
    <message>
        <source>Remove from Send List</source>
        <translation>Aus der Sendeliste entfernen</translation>
    </message>
    <message>
        <source>Add to Send List</source>
        <translation>Zur Sendeliste hinzufügen</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Hilfe</translation>
    </message>
    <message>
        <source>Sort By</source>
        <translation>Sortieren nach</translation>
    </message>
    <message>
        <source>That address is this computer. Enter the address of the computer that is to receive the files under Settings.</source>
        <translation>Diese Adresse gehört zu diesem Computer. Geben Sie unter „Einstellungen“ die Adresse des Computers ein, der die Dateien empfangen soll.</translation>
    </message>
    <message>
        <source>The receiver did not acknowledge a block of the file being sent, however often it was sent again; the send operation has been aborted.</source>
        <translation>Der Empfänger hat einen Block der gesendeten Datei trotz wiederholten Sendens nicht bestätigt; das Senden wurde abgebrochen.</translation>
    </message>
    <message>
        <source>&apos;%1&apos; is not an IPv4 address or network. Enter addresses such as 198.18.0.7 and networks such as 198.18.0.0/24, separated by spaces.</source>
        <translation>„%1“ ist keine IPv4-Adresse und kein Netz. Geben Sie Adressen wie 198.18.0.7 und Netze wie 198.18.0.0/24 ein, durch Leerzeichen getrennt.</translation>
    </message>
    <message>
        <source>Enter at least one address or network to accept files from, or choose Anyone.</source>
        <translation>Geben Sie mindestens eine Adresse oder ein Netz ein, von dem Dateien angenommen werden, oder wählen Sie „Von allen“.</translation>
    </message>
    <message>
        <source>%1 stored as %2</source>
        <translation>%1 gespeichert als %2</translation>
    </message>
    <message>
        <source>The peer does not accept paired transfers</source>
        <translation>Die Gegenstelle nimmt keine gekoppelten Übertragungen an</translation>
    </message>
    <message>
        <source>The peer has a different pairing code</source>
        <translation>Die Gegenstelle hat einen anderen Kopplungscode</translation>
    </message>
    <message>
        <source>The peer did not answer</source>
        <translation>Die Gegenstelle hat nicht geantwortet</translation>
    </message>
    <message>
        <source>%1 (paired)</source>
        <translation>%1 (gekoppelt)</translation>
    </message>
    <message>
        <source>&apos;%1&apos; is not a pairing code: &apos;%2&apos; (character %3) is none of the letters A to Z and digits 2 to 7 that a code is made of.</source>
        <translation>&apos;%1&apos; ist kein Kopplungscode: &apos;%2&apos; (Zeichen %3) gehört nicht zu den Buchstaben A bis Z und Ziffern 2 bis 7, aus denen ein Code besteht.</translation>
    </message>
    <message>
        <source>&apos;%1&apos; is not a pairing code: it has %2 letters and digits instead of 12. Spaces and dashes do not count.</source>
        <translation>&apos;%1&apos; ist kein Kopplungscode: Er hat %2 Buchstaben und Ziffern statt 12. Leerzeichen und Bindestriche zählen nicht.</translation>
    </message>
    <message>
        <source>Only paired peers needs a pairing code. Enter the code the other computer shows or choose New code, or choose whom else to accept files from.</source>
        <translation>„Nur gekoppelten Gegenstellen“ braucht einen Kopplungscode. Geben Sie den Code ein, den der andere Computer zeigt, oder wählen Sie „Neuer Code“, oder wählen Sie, von wem sonst Dateien angenommen werden.</translation>
    </message>
    <message>
        <source>No new pairing code could be made: the system gives no random numbers.</source>
        <translation>Es konnte kein neuer Kopplungscode erzeugt werden: Das System liefert keine Zufallszahlen.</translation>
    </message>
</context>
<context>
    <name>zapfer::AboutDialog</name>
    <message>
        <source>About zapfer</source>
        <translation>Über Zapfer</translation>
    </message>
    <message>
        <source>Zapfer Version 1.0</source>
        <translation>Zapfer Version 1.0</translation>
    </message>
    <message>
        <source>Beams files between two machines</source>
        <translation>Überträgt Dateien zwischen zwei Rechnern</translation>
    </message>
    <message>
        <source>over a LAN, the Internet or a serial line.</source>
        <translation>über ein LAN, das Internet oder eine serielle Leitung.</translation>
    </message>
    <message>
        <source>Written by the Quorvel Zapfer team.</source>
        <translation>Geschrieben vom Zapfer-Team von Quorvel.</translation>
    </message>
    <message>
        <source>Free to use and to share.</source>
        <translation>Frei zu nutzen und weiterzugeben.</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Built: %1</source>
        <translation>Erstellt: %1</translation>
    </message>
</context>
<context>
    <name>zapfer::ConnectingDialog</name>
    <message>
        <source>Connecting...</source>
        <translation>Verbindung wird hergestellt...</translation>
    </message>
    <message>
        <source>Looking for receiving device...</source>
        <translation>Empfangsgerät wird gesucht...</translation>
    </message>
    <message>
        <source>(Align infrared ports)</source>
        <translation>(Infrarot-Schnittstellen aufeinander ausrichten)</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
</context>
<context>
    <name>zapfer::CopyToDialog</name>
    <message>
        <source>Destination Directory</source>
        <translation>Zielordner</translation>
    </message>
    <message>
        <source>Browse</source>
        <translation>Durchsuchen</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
</context>
<context>
    <name>zapfer::DesktopNotifier</name>
    <message>
        <source>1 file received from %1</source>
        <translation>1 Datei von %1 empfangen</translation>
    </message>
    <message>
        <source>%1 files received from %2</source>
        <translation>%1 Dateien von %2 empfangen</translation>
    </message>
    <message>
        <source>Open folder</source>
        <translation>Ordner öffnen</translation>
    </message>
    <message>
        <source>Trust this address</source>
        <translation>Dieser Adresse vertrauen</translation>
    </message>
    <message>
        <source>Refused 1 file (%1) from %2</source>
        <translation>1 Datei (%1) von %2 abgelehnt</translation>
    </message>
    <message>
        <source>Refused %1 files (%2) from %3</source>
        <translation>%1 Dateien (%2) von %3 abgelehnt</translation>
    </message>
    <message>
        <source>A paired connection from %1 failed: a different pairing code, or not a paired peer</source>
        <translation>Eine gekoppelte Verbindung von %1 ist gescheitert: ein anderer Kopplungscode oder keine gekoppelte Gegenstelle</translation>
    </message>
</context>
<context>
    <name>zapfer::DirectoryPickerDialog</name>
    <message>
        <source>Select Directory</source>
        <translation>Ordner auswählen</translation>
    </message>
</context>
<context>
    <name>zapfer::FilePropertiesDialog</name>
    <message>
        <source>Readonly</source>
        <translation>Schreibgeschützt</translation>
    </message>
    <message>
        <source>File Properties</source>
        <translation>Dateieigenschaften</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>Hidden</source>
        <translation>Versteckt</translation>
    </message>
    <message>
        <source>Archive</source>
        <translation>Archiv</translation>
    </message>
    <message>
        <source>System</source>
        <translation>System</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Size:</source>
        <translation>Größe:</translation>
    </message>
    <message>
        <source>Created:</source>
        <translation>Erstellt:</translation>
    </message>
    <message>
        <source>Modified:</source>
        <translation>Geändert:</translation>
    </message>
    <message>
        <source>Accessed:</source>
        <translation>Letzter Zugriff:</translation>
    </message>
</context>
<context>
    <name>zapfer::HistoryDialog</name>
    <message>
        <source>History</source>
        <translation>Verlauf</translation>
    </message>
    <message>
        <source>Time</source>
        <translation>Zeit</translation>
    </message>
    <message>
        <source>Direction</source>
        <translation>Richtung</translation>
    </message>
    <message>
        <source>Link</source>
        <translation>Verbindung</translation>
    </message>
    <message>
        <source>Peer</source>
        <translation>Gegenstelle</translation>
    </message>
    <message>
        <source>Outcome</source>
        <translation>Ausgang</translation>
    </message>
    <message>
        <source>Files</source>
        <translation>Dateien</translation>
    </message>
    <message>
        <source>Bytes</source>
        <translation>Bytes</translation>
    </message>
    <message>
        <source>Duration</source>
        <translation>Dauer</translation>
    </message>
    <message>
        <source>Transfers</source>
        <translation>Übertragungen</translation>
    </message>
    <message>
        <source>&amp;Transfers, newest first</source>
        <translation>Ü&amp;bertragungen, neueste zuerst</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>Result</source>
        <translation>Ergebnis</translation>
    </message>
    <message>
        <source>Size</source>
        <translation>Größe</translation>
    </message>
    <message>
        <source>Done</source>
        <translation>Übertragen</translation>
    </message>
    <message>
        <source>CRC-32</source>
        <translation>CRC-32</translation>
    </message>
    <message>
        <source>Stored as</source>
        <translation>Gespeichert als</translation>
    </message>
    <message>
        <source>Files of the selected transfer</source>
        <translation>Dateien der gewählten Übertragung</translation>
    </message>
    <message>
        <source>&amp;Files of the selected transfer</source>
        <translation>&amp;Dateien der gewählten Übertragung</translation>
    </message>
    <message>
        <source>&amp;Open Folder</source>
        <translation>&amp;Ordner öffnen</translation>
    </message>
    <message>
        <source>&amp;Send Again</source>
        <translation>Erneut &amp;senden</translation>
    </message>
    <message>
        <source>Reading the history...</source>
        <translation>Der Verlauf wird gelesen...</translation>
    </message>
    <message>
        <source>%1 of %2</source>
        <translation>%1 von %2</translation>
    </message>
    <message>
        <source>The history cannot be read: %1</source>
        <translation>Der Verlauf kann nicht gelesen werden: %1</translation>
    </message>
    <message>
        <source>No transfers have been recorded yet.</source>
        <translation>Es wurden noch keine Übertragungen aufgezeichnet.</translation>
    </message>
    <message>
        <source>The folder %1 does not exist any more.</source>
        <translation>Den Ordner %1 gibt es nicht mehr.</translation>
    </message>
    <message>
        <source>1 file put back into the Send List.</source>
        <translation>1 Datei wieder in die Sendeliste gestellt.</translation>
    </message>
    <message>
        <source>%1 files put back into the Send List.</source>
        <translation>%1 Dateien wieder in die Sendeliste gestellt.</translation>
    </message>
    <message>
        <source>%1 of %2 files put back into the Send List; the others are in it already, do not exist any more or do not fit.</source>
        <translation>%1 von %2 Dateien wieder in die Sendeliste gestellt; die übrigen sind schon darin, existieren nicht mehr oder passen nicht hinein.</translation>
    </message>
</context>
<context>
    <name>zapfer::HistoryReader</name>
    <message>
        <source>There is no place for the history: neither XDG_DATA_HOME nor a home folder is set.</source>
        <translation>Es gibt keinen Ort für den Verlauf: weder XDG_DATA_HOME noch ein Home-Ordner ist gesetzt.</translation>
    </message>
</context>
<context>
    <name>zapfer::RunDialog</name>
    <message>
        <source>Run</source>
        <translation>Ausführen</translation>
    </message>
    <message>
        <source>Program Arguments</source>
        <translation>Programmargumente</translation>
    </message>
</context>
<context>
    <name>zapfer::SettingsDialog</name>
    <message>
        <source>Settings</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>Destination for Received Files</source>
        <translation>Ziel für empfangene Dateien</translation>
    </message>
    <message>
        <source>Browse</source>
        <translation>Durchsuchen</translation>
    </message>
    <message>
        <source>Prompt for deletion of files</source>
        <translation>Vor dem Löschen von Dateien nachfragen</translation>
    </message>
    <message>
        <source>Display results after sending/receiving files</source>
        <translation>Ergebnis nach dem Senden/Empfangen anzeigen</translation>
    </message>
    <message>
        <source>Communication Type:</source>
        <translation>Verbindungsart:</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Device:</source>
        <translation>Gerät:</translation>
    </message>
    <message>
        <source>My IP address:</source>
        <translation>Meine IP-Adresse:</translation>
    </message>
    <message>
        <source>Peer IP address:</source>
        <translation>IP-Adresse der Gegenstelle:</translation>
    </message>
    <message>
        <source>If a name exists:</source>
        <translation>Wenn der Name existiert:</translation>
    </message>
    <message>
        <source>When a file of the same name exists</source>
        <translation>Wenn eine Datei gleichen Namens vorhanden ist</translation>
    </message>
    <message>
        <source>Refuse the transfer</source>
        <translation>Übertragung ablehnen</translation>
    </message>
    <message>
        <source>Replace the file</source>
        <translation>Datei ersetzen</translation>
    </message>
    <message>
        <source>Keep both</source>
        <translation>Beide behalten</translation>
    </message>
    <message>
        <source>Accept files from:</source>
        <translation>Dateien annehmen von:</translation>
    </message>
    <message>
        <source>Anyone</source>
        <translation>Von allen</translation>
    </message>
    <message>
        <source>Only these addresses</source>
        <translation>Nur diesen Adressen</translation>
    </message>
    <message>
        <source>Addresses and networks to accept files from</source>
        <translation>Adressen und Netze, von denen Dateien angenommen werden</translation>
    </message>
    <message>
        <source>Pairing code:</source>
        <translation>Kopplungscode:</translation>
    </message>
    <message>
        <source>Pairing code</source>
        <translation>Kopplungscode</translation>
    </message>
    <message>
        <source>The same code on both computers sends files encrypted, and only between them</source>
        <translation>Derselbe Code auf beiden Computern sendet Dateien verschlüsselt und nur zwischen ihnen</translation>
    </message>
    <message>
        <source>none</source>
        <translation>keiner</translation>
    </message>
    <message>
        <source>New code</source>
        <translation>Neuer Code</translation>
    </message>
    <message>
        <source>Only paired peers</source>
        <translation>Nur gekoppelten Gegenstellen</translation>
    </message>
</context>
<context>
    <name>zapfer::TransferRecording</name>
    <message>
        <source>Transfer history</source>
        <translation>Übertragungsverlauf</translation>
    </message>
    <message>
        <source>Transfers are not recorded in the history: %1</source>
        <translation>Übertragungen werden nicht im Verlauf festgehalten: %1</translation>
    </message>
</context>
<context>
    <name>zapfer::TransferStatusDialog</name>
    <message>
        <source>File Xfer Status</source>
        <translation>Dateiübertragung</translation>
    </message>
    <message>
        <source>File</source>
        <translation>Datei</translation>
    </message>
    <message>
        <source>Progress of the file</source>
        <translation>Fortschritt der Datei</translation>
    </message>
    <message>
        <source>Progress of all files</source>
        <translation>Fortschritt aller Dateien</translation>
    </message>
    <message>
        <source>bytes per second</source>
        <translation>Bytes pro Sekunde</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
</context>
</TS>
