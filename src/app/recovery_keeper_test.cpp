#include "app/recovery_keeper.h"

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <memory>

#include "app/modrin_application.h"
#include "app/testing/file_bytes.h"
#include "app/testing/scripted_dialogs.h"
#include "model/project_file.h"
#include "model/recovery_store.h"

using modrin::app::ModrinApplication;
using modrin::app::RecoveryIntervalMs;
using modrin::app::RecoveryQuestion;
using modrin::app::UserDialogs;
using modrin::app::testing::ReadAll;
using modrin::app::testing::ScriptedDialogs;
using modrin::app::testing::WriteAll;
namespace fs = std::filesystem;

namespace {

// A project file with `objects` objects.
QByteArray ProjectText(int objects) {
  modrin::model::Project project;
  for (int i = 0; i < objects; ++i) project.AddObject("Object " + std::to_string(i));
  return QByteArray::fromStdString(modrin::model::WriteProjectText(project));
}

}  // namespace

class RecoveryKeeperTest : public QObject {
  Q_OBJECT

 private:
  // The program with scripted dialogs, not started yet; `intervalMs` between copies.
  void MakeApp(const char* intervalMs = nullptr) {
    auto dialogs = std::make_unique<ScriptedDialogs>();
    dialogs_ = dialogs.get();
    if (intervalMs != nullptr) qputenv("MODRIN_RECOVERY_INTERVAL_MS", intervalMs);
    app_ = std::make_unique<ModrinApplication>(std::move(dialogs));
    qunsetenv("MODRIN_RECOVERY_INTERVAL_MS");
  }
  void StartApp(const QString& projectPath = {}) {
    MakeApp();
    app_->Start(projectPath);
  }
  QString Path(const QString& name) const { return dir_->filePath(name); }
  QString CopyOf(const QString& projectPath) const {
    return QString::fromStdString(app_->recovery().CopyPath(projectPath.toStdString()));
  }
  // Leaves a copy of `projectPath` with one object, as a session killed after an edit would,
  // written a minute after the project file.
  QString LeaveCopy(const QString& projectPath) {
    const std::string folder = modrin::model::RecoveryFolder();
    fs::create_directories(folder);
    const QString copy = QString::fromStdString(
        folder + "/" + modrin::model::RecoveryFileName(projectPath.toStdString()));
    WriteAll(copy, ProjectText(1));
    fs::last_write_time(copy.toStdString(),
                        fs::file_time_type::clock::now() + std::chrono::minutes(1));
    return copy;
  }
  // Whether the project holds an object named `name`.
  bool HasObject(const std::string& name) const {
    for (const auto& object : app_->project().objects) {
      if (object->name == name) return true;
    }
    return false;
  }
  // Makes an edit through the document and waits until its copy is written.
  void EditAndCopy() {
    app_->project().AddObject("Edit");
    app_->document().SetModified(true);
    app_->recovery().WriteIfChanged();
    app_->recovery().WaitForWrite();
  }

  std::unique_ptr<QTemporaryDir> dir_;
  ScriptedDialogs* dialogs_ = nullptr;
  std::unique_ptr<ModrinApplication> app_;

 private slots:
  void init() {
    QSettings(QSettings::NativeFormat, QSettings::UserScope, "Modrin", "Modrin").clear();
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    qputenv("XDG_STATE_HOME", Path("state").toUtf8());
    WriteAll(Path("house.mpj"), ProjectText(0));
  }
  void cleanup() {
    app_.reset();
    dir_.reset();
  }

  void intervalIsBoundedByAMinute() {
    QCOMPARE(RecoveryIntervalMs(nullptr), 60'000);
    QCOMPARE(RecoveryIntervalMs("500ms"), 60'000);
    QCOMPARE(RecoveryIntervalMs("500"), 500);
    QCOMPARE(RecoveryIntervalMs("3600000"), 60'000);
    QCOMPARE(RecoveryIntervalMs("1"), 100);
  }

  void questionNamesTheFileAndTheTime() {
    const QDateTime when(QDate(2026, 3, 4), QTime(15, 6));
    const QString time = QLocale().toString(when, QLocale::ShortFormat);
    QCOMPARE(RecoveryQuestion("/p/50%2 house.mpj", when),
             "Unsaved changes to /p/50%2 house.mpj from " + time + " were found. Recover them?");
    QCOMPARE(RecoveryQuestion("", when),
             "Unsaved changes to untitled from " + time + " were found. Recover them?");
  }

  void copiesOnlyChangesNotYetCopied() {
    MakeApp("100");
    app_->Start(Path("house.mpj"));
    const QString copy = CopyOf(Path("house.mpj"));
    // Opened from the command line the project counts as modified, yet holds nothing new.
    QTest::qWait(300);
    QVERIFY(!QFileInfo::exists(copy));
    // The timer copies an edit.
    app_->project().AddObject("Edit");
    app_->document().SetModified(true);
    QTRY_VERIFY(QFileInfo::exists(copy));
    app_->recovery().WaitForWrite();
    QCOMPARE(ReadAll(copy),
             QByteArray::fromStdString(modrin::model::WriteProjectText(app_->project())));
    // What a copy holds already is not written again.
    QFile::remove(copy);
    QTest::qWait(300);
    QVERIFY(!QFileInfo::exists(copy));

    // Undone back to the file's state, the changes a copy would hold are gone.
    app_->project().AddObject("Another");
    QVERIFY(app_->document().RecordStep("New Object"));
    QTRY_VERIFY(QFileInfo::exists(copy));
    app_->recovery().WaitForWrite();
    // The one step holds both objects: the first was added behind the history's back.
    QVERIFY(app_->document().Undo());
    QVERIFY(!app_->document().modified());
    QTRY_VERIFY(!QFileInfo::exists(copy));
  }

  void offerAtStartAnswers_data() {
    QTest::addColumn<UserDialogs::Answer>("answer");
    QTest::addColumn<bool>("recovered");
    QTest::addColumn<bool>("copyKept");
    QTest::newRow("Yes recovers") << UserDialogs::Answer::Yes << true << true;
    QTest::newRow("No removes the copy") << UserDialogs::Answer::No << false << false;
    QTest::newRow("Cancel keeps it for later") << UserDialogs::Answer::Cancel << false << true;
  }
  void offerAtStartAnswers() {
    QFETCH(UserDialogs::Answer, answer);
    QFETCH(bool, recovered);
    QFETCH(bool, copyKept);
    const QString copy = LeaveCopy(Path("house.mpj"));
    MakeApp("100");
    dialogs_->recoverAnswer = answer;
    // The copy timer fires several times while the question waits: the project still in
    // memory (modified, for one named on the command line) must not be copied over the copy
    // offered.
    dialogs_->recoverDelayMs = 400;
    app_->Start(Path("house.mpj"));
    QCOMPARE(dialogs_->recoverQuestions.size(), 1);
    QVERIFY(dialogs_->recoverQuestions[0].startsWith("Unsaved changes to " + Path("house.mpj") +
                                                     " from "));
    QCOMPARE(HasObject("Object 0"), recovered);
    QCOMPARE(QString::fromStdString(app_->document().projectPath()), Path("house.mpj"));
    QVERIFY(app_->document().modified());
    QCOMPARE(QFileInfo::exists(copy), copyKept);
    QCOMPARE(app_->recentFiles().entries(), QStringList{Path("house.mpj")});
    // Saving the recovered work writes it over the original file and removes the copy.
    app_->Save();
    QCOMPARE(ReadAll(Path("house.mpj")).contains("\"Object 0\""), recovered);
    QVERIFY(!QFileInfo::exists(copy));
  }

  void openAndOpenRecentOffer() {
    StartApp();
    QCOMPARE(dialogs_->recoverQuestions.size(), 0);
    LeaveCopy(Path("house.mpj"));
    dialogs_->openName = Path("house.mpj");
    app_->Open();
    QCOMPARE(dialogs_->recoverQuestions.size(), 1);
    app_->OpenRecentFile(0);
    QCOMPARE(dialogs_->recoverQuestions.size(), 2);
    QVERIFY(!HasObject("Object 0"));
  }

  void untitledCopyIsOfferedAtAnEmptyStart() {
    const QString copy = LeaveCopy("");
    QCOMPARE(QFileInfo(copy).fileName(), QString("untitled"));
    MakeApp();
    dialogs_->recoverAnswer = UserDialogs::Answer::Yes;
    app_->Start({});
    QCOMPARE(dialogs_->recoverQuestions.size(), 1);
    QVERIFY(dialogs_->recoverQuestions[0].startsWith("Unsaved changes to untitled from "));
    QVERIFY(HasObject("Object 0"));
    QVERIFY(app_->document().projectPath().empty());
    QVERIFY(app_->document().modified());
    // Letting the recovered work go on a clean exit removes it.
    dialogs_->answer = UserDialogs::Answer::No;
    QVERIFY(app_->SaveAllModified());
    QVERIFY(!QFileInfo::exists(copy));
  }

  void unreadableCopyIsReportedAndKept() {
    const QString copy = LeaveCopy(Path("house.mpj"));
    WriteAll(copy, "not a project\n");
    fs::last_write_time(copy.toStdString(),
                        fs::file_time_type::clock::now() + std::chrono::minutes(1));
    StartApp(Path("house.mpj"));
    QCOMPARE(dialogs_->recoverQuestions.size(), 0);
    QCOMPARE(dialogs_->errors.size(), 1);
    QVERIFY(dialogs_->errors[0].contains("\"" + copy + "\""));
    QVERIFY(dialogs_->errors[0].contains("not a Modrin project file"));
    QCOMPARE(QString::fromStdString(app_->document().projectPath()), Path("house.mpj"));
    dialogs_->answer = UserDialogs::Answer::No;
    QVERIFY(app_->SaveAllModified());
    QVERIFY(QFileInfo::exists(copy));
  }

  void cleanExitRemovesOnlyThisSessionsCopy() {
    // A copy kept for later (Cancel) outlives a clean exit without edits.
    const QString kept = LeaveCopy(Path("house.mpj"));
    StartApp(Path("house.mpj"));
    dialogs_->answer = UserDialogs::Answer::No;
    QVERIFY(app_->SaveAllModified());
    QVERIFY(QFileInfo::exists(kept));
    app_.reset();
    QFile::remove(kept);

    // The copy of an edit goes when the edit is let go at exit.
    StartApp(Path("house.mpj"));
    EditAndCopy();
    const QString copy = CopyOf(Path("house.mpj"));
    QVERIFY(QFileInfo::exists(copy));
    dialogs_->answer = UserDialogs::Answer::No;
    QVERIFY(app_->SaveAllModified());
    QVERIFY(!QFileInfo::exists(copy));
  }

  void saveAsToANewNameRemovesTheUntitledCopy() {
    StartApp();
    EditAndCopy();
    const QString untitled = CopyOf({});
    QVERIFY(QFileInfo::exists(untitled));
    dialogs_->saveName = Path("new.mpj");
    app_->Save();
    QVERIFY(!QFileInfo::exists(untitled));
    QVERIFY(!QFileInfo::exists(CopyOf(Path("new.mpj"))));
  }
};

QTEST_MAIN(RecoveryKeeperTest)
#include "recovery_keeper_test.moc"
