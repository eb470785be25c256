// The skin engine: the carried library and skins, where and how they are written, what the
// library agrees to apply, and the fatal report when it cannot be called.

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include "app/SkinEngine.h"
#include "platform/FatalError.h"
#include "text/CodePage.h"

using namespace velmora;

namespace {

const QByteArray kSkinMagic(".SHE\0", 5);

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WriteAll(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

bool IsSymbolicLink(const QString& path) {
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISLNK(info.st_mode);
}

ino_t Inode(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : 0;
}

}  // namespace

class SkinEngineTest : public QObject {
    Q_OBJECT

    QTemporaryDir directory;
    SkinEngine engine{QStringLiteral(VELMORA_SKIN_ENGINE_PATH)};

    QString Path(const char* name) const { return directory.filePath(QString::fromUtf8(name)); }

private slots:
    void init() {
        QVERIFY(directory.isValid());
        qApp->setStyleSheet(QStringLiteral("QLabel { color: #123456; }"));
    }

    void cleanup() {
        engine.Detach();
        QDir(directory.path()).removeRecursively();
        QDir().mkpath(directory.path());
    }

    void carriesFiftySixDistinctSkins() {
        QSet<QByteArray> seen;
        for (int number = 1; number <= kSkinCount; ++number) {
            QByteArray skin = CarriedSkin(number);
            QVERIFY2(skin.startsWith(kSkinMagic), qPrintable(QString::number(number)));
            QVERIFY(skin.size() > kSkinMagic.size() + 100);
            seen.insert(skin);
        }
        QCOMPARE(seen.size(), kSkinCount);
        QVERIFY(CarriedSkin(0).isEmpty());
        QVERIFY(CarriedSkin(kSkinCount + 1).isEmpty());
    }

    void installReplacesAnOlderCopyWithALoadableLibrary() {
        QVERIFY(WriteAll(Path("hrttp.dll"), "an older, different library"));
        InstallSkinEngine(directory.path());
        QByteArray written = ReadAll(Path("hrttp.dll"));
        QCOMPARE(written, CarriedSkinEngineImage());
        QVERIFY(
            written.startsWith("\x7f"
                               "ELF"));
        void* library =
            ::dlopen(QFile::encodeName(Path("hrttp.dll")).constData(), RTLD_NOW | RTLD_LOCAL);
        QVERIFY2(library != nullptr, ::dlerror());
        QVERIFY(::dlsym(library, "SkinH_AttachEx") != nullptr);
        auto detach = reinterpret_cast<int (*)()>(::dlsym(library, "SkinH_Detach"));
        QVERIFY(detach != nullptr);

        // Another start while this copy is loaded: the loaded file is never written into (a
        // mapped library cut short under a running program would crash it); a new file takes
        // its name.
        ino_t loadedFile = Inode(Path("hrttp.dll"));
        InstallSkinEngine(directory.path());
        QVERIFY(Inode(Path("hrttp.dll")) != loadedFile);
        QCOMPARE(ReadAll(Path("hrttp.dll")), CarriedSkinEngineImage());
        QCOMPARE(detach(), 1);
        ::dlclose(library);
        // Nothing but the library is left behind.
        QCOMPARE(QDir(directory.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 QStringList({QStringLiteral("hrttp.dll")}));
    }

    void installIntoAMissingDirectoryIsSilent() {
        InstallSkinEngine(Path("missing/run"));
        QVERIFY(!QFile::exists(Path("missing/run/hrttp.dll")));
    }

    void attachWritesTheSkinAndAppliesIt() {
        AttachSkin(engine, kMainWindowSkin, directory.path());
        QByteArray skin = CarriedSkin(kMainWindowSkin);
        QCOMPARE(ReadAll(Path("1.she")), skin);
        QCOMPARE(qApp->styleSheet().toUtf8(), skin.mid(kSkinMagic.size()));
        // A second attach replaces the sheet; detach restores the look from before the first.
        AttachSkin(engine, 3, directory.path());
        QCOMPARE(qApp->styleSheet().toUtf8(), CarriedSkin(3).mid(kSkinMagic.size()));
        engine.Detach();
        QCOMPARE(qApp->styleSheet(), QStringLiteral("QLabel { color: #123456; }"));
        QVERIFY(QFile::exists(Path("1.she")));
    }

    void attachReplacesAPlantedLinkInsteadOfWritingThroughIt_data() {
        QTest::addColumn<bool>("targetExists");
        QTest::newRow("link to a file of the user") << true;
        QTest::newRow("link to a file not yet there") << false;
    }

    void attachReplacesAPlantedLinkInsteadOfWritingThroughIt() {
        QFETCH(bool, targetExists);
        if (targetExists) QVERIFY(WriteAll(Path("victim"), "precious"));
        QVERIFY(QFile::link(Path("victim"), Path("1.she")));
        AttachSkin(engine, kMainWindowSkin, directory.path());
        QVERIFY(!IsSymbolicLink(Path("1.she")));
        QCOMPARE(ReadAll(Path("1.she")), CarriedSkin(kMainWindowSkin));
        QCOMPARE(QFile::exists(Path("victim")), targetExists);
        if (targetExists) QCOMPARE(ReadAll(Path("victim")), QByteArray("precious"));
    }

    void attachWithANumberOutsideTheSetWritesNothing_data() {
        QTest::addColumn<int>("number");
        QTest::newRow("0") << 0;
        QTest::newRow("57") << kSkinCount + 1;
        QTest::newRow("-19") << -19;
    }

    void attachWithANumberOutsideTheSetWritesNothing() {
        QFETCH(int, number);
        QByteArray earlier = CarriedSkin(7);
        QVERIFY(WriteAll(Path("1.she"), earlier));
        ::chmod(QFile::encodeName(Path("1.she")).constData(), 0600);
        AttachSkin(engine, number, directory.path());
        QCOMPARE(ReadAll(Path("1.she")), earlier);
        // The file that is there is attached all the same.
        QCOMPARE(qApp->styleSheet().toUtf8(), earlier.mid(kSkinMagic.size()));
    }

    void libraryAppliesOnlyRealSkinFiles_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("no magic") << QStringLiteral("no magic");
        QTest::newRow("magic without its NUL") << QStringLiteral("short magic");
        QTest::newRow("a link to a good skin") << QStringLiteral("link");
        QTest::newRow("larger than any skin") << QStringLiteral("huge");
        QTest::newRow("a directory") << QStringLiteral("directory");
        QTest::newRow("missing") << QStringLiteral("missing");
    }

    void libraryAppliesOnlyRealSkinFiles() {
        QFETCH(QString, kind);
        QString path = Path("candidate.she");
        QByteArray good = CarriedSkin(kMainWindowSkin);
        if (kind == QLatin1String("no magic")) WriteAll(path, good.mid(kSkinMagic.size()));
        if (kind == QLatin1String("short magic"))
            WriteAll(path, ".SHE" + good.mid(kSkinMagic.size()));
        if (kind == QLatin1String("link")) {
            WriteAll(Path("good.she"), good);
            QFile::link(Path("good.she"), path);
        }
        if (kind == QLatin1String("huge"))
            WriteAll(path, kSkinMagic + QByteArray(2 << 20, ' ') + "QWidget { color: red; }");
        if (kind == QLatin1String("directory")) QDir().mkdir(path);
        QCOMPARE(engine.AttachEx(path), 0);
        QCOMPARE(qApp->styleSheet(), QStringLiteral("QLabel { color: #123456; }"));
    }

    void aFailedSkinCallEndsTheProgramWithTheFatalReport_data() {
        QTest::addColumn<QString>("library");
        QTest::addColumn<QString>("call");
        QTest::addColumn<QString>("message");
        QString missing = Path("nowhere/hrttp.dll");
        QTest::newRow("library lacks the function")
            << QStringLiteral(VELMORA_SKIN_WITHOUT_DETACH_PATH) << QStringLiteral("detach")
            << QStringLiteral("无法找到指定DLL库文件中的输出命令“SkinH_Detach”");
        QTest::newRow("library missing")
            << missing << QStringLiteral("attach")
            << QStringLiteral("无法找到指定DLL库文件“%1”中的输出命令“SkinH_AttachEx”").arg(missing);
    }

    void aFailedSkinCallEndsTheProgramWithTheFatalReport() {
        QFETCH(QString, library);
        QFETCH(QString, call);
        QFETCH(QString, message);
        QProcess child;
        child.start(QStringLiteral(VELMORA_SKIN_CALL_PATH), {library, call});
        QVERIFY(child.waitForFinished(60000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 255);
        QString report = QString::fromStdString(
            SystemToUtf8(FatalErrorText(Utf8ToSystem(message.toStdString()))));
        QCOMPARE(QString::fromUtf8(child.readAllStandardOutput()),
                 QStringLiteral("信息：\n") + report);
    }

    void theWorkingLibraryIsCalledWithoutAReport() {
        QProcess child;
        child.start(QStringLiteral(VELMORA_SKIN_CALL_PATH),
                    {QStringLiteral(VELMORA_SKIN_ENGINE_PATH), QStringLiteral("detach")});
        QVERIFY(child.waitForFinished(60000));
        QCOMPARE(child.exitCode(), 0);
        QCOMPARE(child.readAllStandardOutput(), QByteArray());
    }
};

QTEST_MAIN(SkinEngineTest)
#include "SkinEngineTest.moc"
