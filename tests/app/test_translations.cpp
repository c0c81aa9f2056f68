// The German translation: complete in its source file and in the compiled
// one, its placeholders those of the English texts, and loaded by the
// window for a German locale while an English one keeps the source texts.

#include "about_dialog.h"
#include "context_menus.h"
#include "control_ids.h"
#include "engine_events.h"
#include "feedback_recorder.h"
#include "file_list_model.h"
#include "link_error_text.h"
#include "send_list_model.h"
#include "settings_dialog.h"
#include "string_table.h"
#include "translator_scope.h"
#include "window_fixture.h"
#include "window_parts.h"

#include <QFile>
#include <QHeaderView>
#include <QMenu>
#include <QRegularExpression>
#include <QSet>
#include <QXmlStreamReader>

using namespace zapfer;
using namespace zapfer::test;

namespace {

struct TsMessage {
    QString context;
    QString source;
    QString translation;
    QString type; // "unfinished", "vanished", "obsolete" or empty
};

std::vector<TsMessage> readTs(const QString& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    std::vector<TsMessage> out;
    QXmlStreamReader xml(&file);
    QString context;
    TsMessage message;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement())
            continue;
        if (xml.name() == QLatin1String("name")) {
            context = xml.readElementText();
        } else if (xml.name() == QLatin1String("message")) {
            message = TsMessage{context, {}, {}, {}};
        } else if (xml.name() == QLatin1String("source")) {
            message.source = xml.readElementText();
        } else if (xml.name() == QLatin1String("translation")) {
            message.type = xml.attributes().value(QLatin1String("type")).toString();
            message.translation = xml.readElementText();
            out.push_back(message);
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    return out;
}

// The numbered arguments a text takes: a translation must fill the same ones.
QSet<QString> placeholders(const QString& text) {
    QSet<QString> out;
    static const QRegularExpression argument(QStringLiteral("%[0-9]+"));
    for (auto it = argument.globalMatch(text); it.hasNext();)
        out.insert(it.next().captured());
    return out;
}

TEST(GermanTranslation, EveryMessageOfTheSourceFileIsTranslated) {
    const std::vector<TsMessage> messages = readTs(QStringLiteral(ZAPFER_TS_DIR "/zapfer_de.ts"));
    ASSERT_GT(messages.size(), 100u);
    for (const TsMessage& m : messages) {
        const std::string where = (m.context + QStringLiteral(": ") + m.source).toStdString();
        EXPECT_TRUE(m.type.isEmpty()) << m.type.toStdString() << " " << where;
        EXPECT_FALSE(m.translation.trimmed().isEmpty()) << where;
        EXPECT_EQ(placeholders(m.translation), placeholders(m.source)) << where;
        // Paragraph breaks of a message box survive the translation.
        EXPECT_EQ(m.translation.count(QLatin1Char('\n')), m.source.count(QLatin1Char('\n')))
            << where;
    }
}

TEST(GermanTranslation, EveryTextOfTheStringTableIsInTheCompiledFile) {
    QTranslator german;
    ASSERT_TRUE(german.load(QStringLiteral("zapfer_de"), QStringLiteral(ZAPFER_QM_DIR)));
    int translated = 0;
    for (int id : stringIds()) {
        if (id == str::ProductName || id == str::InstanceName)
            continue; // names, never translated
        const QString source = sourceString(id);
        const QString text = german.translate("StringTable", source.toUtf8().constData());
        EXPECT_FALSE(text.isEmpty()) << id << " " << source.toStdString();
        translated += text.isEmpty() ? 0 : 1;
    }
    EXPECT_GT(translated, 50);
}

TEST(StringTable, EveryNumberNamesOneText) {
    const std::vector<int> ids = stringIds();
    ASSERT_FALSE(ids.empty());
    EXPECT_TRUE(std::adjacent_find(ids.begin(), ids.end(), [](int a, int b) { return a >= b; }) ==
                ids.end());
    // The two failures of a rename and the refusal of an unsafe name are
    // three texts: the rename with the system's reason shows that reason.
    EXPECT_TRUE(loadString(str::RenameSystemError).contains(QStringLiteral("%2")));
    EXPECT_TRUE(loadString(str::NameUnsafe).contains(QStringLiteral("cannot be sent")));
    EXPECT_NE(loadString(str::RenameSystemError), loadString(str::NameUnsafe));
    for (int commandId : kCommandButtonIds)
        EXPECT_FALSE(loadString(commandId + str::CommandNameOffset).isEmpty()) << commandId;
}

class TranslatedWindow : public WindowTest {};

TEST_F(TranslatedWindow, AGermanLocaleShowsGermanCaptions) {
    TranslatorScope german(QLocale(QLocale::German, QLocale::Germany));
    ASSERT_TRUE(german.found());
    m_settings.sort = 2;
    MainWindow& w = window();

    EXPECT_EQ(statusLineOf(w)->text(), QStringLiteral("Dateien: 0  Bytes: 0"));
    QTreeView* fileList = browserOf(w).fileList();
    EXPECT_EQ(fileList->model()->headerData(FileListModel::SizeColumn, Qt::Horizontal).toString(),
              QStringLiteral("Größe"));
    EXPECT_EQ(sendListOf(w)
                  .view()
                  ->model()
                  ->headerData(SendListModel::PathColumn, Qt::Horizontal)
                  .toString(),
              QStringLiteral("Pfad"));
    EXPECT_EQ(menusOf(w).sortButton()->caption(), QStringLiteral("Größe"));
    EXPECT_EQ(commandButtonOf(w, 2)->toolTip(), QStringLiteral("Senden"));
    EXPECT_EQ(commandButtonOf(w, 0)->accessibleName(), QStringLiteral("Zur Sendeliste hinzufügen"));
    QAction* remove = menusOf(w).contextMenus()->singleItem(id::Delete);
    ASSERT_NE(remove, nullptr);
    EXPECT_EQ(remove->text(), QStringLiteral("Löschen"));
    EXPECT_EQ(loadString(str::Error), QStringLiteral("Fehler"));

    SettingsDialog settings(m_settings, m_volumes, &w);
    EXPECT_EQ(settings.windowTitle(), QStringLiteral("Einstellungen"));
    EXPECT_TRUE(AboutDialog::builtText().startsWith(QStringLiteral("Erstellt: ")));
}

TEST_F(TranslatedWindow, AnEnglishLocaleKeepsTheSourceTexts) {
    TranslatorScope english(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_FALSE(english.found());
    MainWindow& w = window();
    EXPECT_EQ(statusLineOf(w)->text(), QStringLiteral("Files: 0  Bytes: 0"));
    EXPECT_EQ(commandButtonOf(w, 0)->toolTip(), QStringLiteral("Add to Send List"));
    EXPECT_EQ(menusOf(w).contextMenus()->singleItem(id::Rename)->text(),
              QStringLiteral("Rename..."));
    EXPECT_EQ(loadString(str::MaxFiles),
              QStringLiteral("A maximum of 100 files can be sent at one time."));
}

// A link that cannot be opened is worded by the window, in the user's
// language: the message box, and the cause a refused send names.
TEST_F(TranslatedWindow, LinkFailuresAreShownTranslated) {
    TranslatorScope german(QLocale(QLocale::German, QLocale::Germany));
    ASSERT_TRUE(german.found());
    FeedbackRecorder feedback;
    MainWindow& w = window();
    w.engineEvents().linkFailed({LinkFault::Busy, CommType::Com1, "/dev/ttyS0", EBUSY});
    w.engineEvents().linkFailed({LinkFault::InfraredUnavailable, CommType::Irda, {}, 0});
    ASSERT_TRUE(QTest::qWaitFor([&] { return feedback.messages.size() == 2; }, 5000));
    EXPECT_TRUE(feedback.messages[0].startsWith(
        QStringLiteral("Die Schnittstelle kann nicht geöffnet werden.")));
    EXPECT_EQ(feedback.titles[0], QStringLiteral("COM1"));
    EXPECT_TRUE(feedback.messages[1].startsWith(
        QStringLiteral("Infrarot-Sockets sind auf diesem System nicht verfügbar.")));
    EXPECT_EQ(feedback.titles[1], QStringLiteral("IRDA"));

    const QString missing =
        linkErrorText({LinkFault::DeviceMissing, CommType::Usb, "/dev/ttyUSB0", ENOENT});
    EXPECT_TRUE(missing.contains(QStringLiteral("/dev/ttyUSB0"))) << missing.toStdString();
    EXPECT_NE(missing, QStringLiteral("The serial device /dev/ttyUSB0 does not exist."));
}

// A language Zapfer has no translation for leaves the window in English.
TEST_F(TranslatedWindow, ALanguageWithoutATranslationFallsBackToEnglish) {
    TranslatorScope finnish(QLocale(QLocale::Finnish, QLocale::Finland));
    EXPECT_FALSE(finnish.found());
    EXPECT_EQ(commandButtonOf(window(), 6)->toolTip(), QStringLiteral("Exit"));
}

TEST(TranslationDirs, BesideTheProgramFirstThenTheDataFolders) {
    const QStringList dirs = translationDirs(QStringLiteral("/opt/zapfer/bin"));
    ASSERT_FALSE(dirs.isEmpty());
    EXPECT_EQ(dirs.first(), QStringLiteral("/opt/zapfer/share/zapfer/translations"));
    for (const QString& dir : dirs)
        EXPECT_TRUE(dir.endsWith(QStringLiteral("/zapfer/translations"))) << dir.toStdString();
}

} // namespace
