// The skin engine: the carried library and skins, where and how they are written, what the
// library agrees to apply, and the fatal report when it cannot be called or is not to be
// trusted (and, through the same child program, when a fatal error arises on another thread).

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <string_view>

#include "app/SkinEngine.h"
#include "platform/FatalError.h"
#include "text/CodePage.h"
#include "window/MainWindowForm.h"

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
        // mapped library cut short under a running program would crash it); being the carried
        // image, it is the one to load, as it is.
        ino_t loadedFile = Inode(Path("hrttp.dll"));
        QCOMPARE(InstallSkinEngine(directory.path()), Path("hrttp.dll"));
        QCOMPARE(Inode(Path("hrttp.dll")), loadedFile);
        QCOMPARE(detach(), 1);
        ::dlclose(library);
        // Nothing but the library is left behind.
        QCOMPARE(QDir(directory.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 QStringList({QStringLiteral("hrttp.dll")}));
    }

    // Sanitizers and debuggers read a loaded library's file by the name it was loaded under.
    void theLoadedLibraryStillNamesItsFile() {
        engine.Detach();
        struct Loaded {
            ino_t file;
            int namesOfIt = 0;
        } loaded{Inode(QStringLiteral(VELMORA_SKIN_ENGINE_PATH))};
        ::dl_iterate_phdr(
            [](dl_phdr_info* info, size_t, void* data) {
                auto& state = *static_cast<Loaded*>(data);
                if (std::string_view(info->dlpi_name).starts_with("/proc/self/fd/") &&
                    Inode(QString::fromUtf8(info->dlpi_name)) == state.file)
                    ++state.namesOfIt;
                return 0;
            },
            &loaded);
        QCOMPARE(loaded.namesOfIt, 1);
    }

    void installIntoAMissingDirectoryIsSilent() {
        InstallSkinEngine(Path("missing/run"));
        QVERIFY(!QFile::exists(Path("missing/run/hrttp.dll")));
    }

    void attachWritesTheSkinAndAppliesIt() {
        AttachSkin(engine, kMainWindowSkin, {directory.path()});
        QByteArray skin = CarriedSkin(kMainWindowSkin);
        QCOMPARE(ReadAll(Path("1.she")), skin);
        QCOMPARE(qApp->styleSheet().toUtf8(), skin.mid(kSkinMagic.size()));
        // A second attach replaces the sheet; detach restores the look from before the first.
        AttachSkin(engine, 3, {directory.path()});
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
        AttachSkin(engine, kMainWindowSkin, {directory.path()});
        QVERIFY(!IsSymbolicLink(Path("1.she")));
        QCOMPARE(ReadAll(Path("1.she")), CarriedSkin(kMainWindowSkin));
        QCOMPARE(QFile::exists(Path("victim")), targetExists);
        if (targetExists) QCOMPARE(ReadAll(Path("victim")), QByteArray("precious"));
    }

    void anotherUsersSkinFileSendsTheSkinToTheUsersOwnFolder_data() {
        QTest::addColumn<bool>("planted");
        QTest::newRow("another user's skin file") << false;
        QTest::newRow("another user's link") << true;
    }

    void anotherUsersSkinFileSendsTheSkinToTheUsersOwnFolder() {
        QFETCH(bool, planted);
        if (::geteuid() != 0) QSKIP("making another user's file needs root");
        constexpr uid_t kAnotherUser = 65534;
        QString shared = Path("shared");
        QString own = Path("own");
        QVERIFY(QDir().mkdir(shared) && QDir().mkdir(own));
        ::chmod(QFile::encodeName(shared).constData(), 01777);  // as the machine's /tmp
        QString theirs = shared + QStringLiteral("/1.she");
        QVERIFY(WriteAll(Path("their-skin"), CarriedSkin(7)));
        QVERIFY(planted ? QFile::link(Path("their-skin"), theirs)
                        : QFile::copy(Path("their-skin"), theirs));
        QCOMPARE(::lchown(QFile::encodeName(theirs).constData(), kAnotherUser, kAnotherUser), 0);

        AttachSkin(engine, kMainWindowSkin, {shared, own});
        QCOMPARE(ReadAll(own + QStringLiteral("/1.she")), CarriedSkin(kMainWindowSkin));
        QCOMPARE(qApp->styleSheet().toUtf8(), CarriedSkin(kMainWindowSkin).mid(kSkinMagic.size()));
        // Theirs is left as it was.
        QCOMPARE(IsSymbolicLink(theirs), planted);
        QCOMPARE(ReadAll(theirs), CarriedSkin(7));
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
        AttachSkin(engine, number, {directory.path()});
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

    void aFatalConditionEndsTheProgramWithTheReport_data() {
        QTest::addColumn<QString>("library");
        QTest::addColumn<QString>("making");  // how the library file at `library` is made
        QTest::addColumn<QString>("call");
        QTest::addColumn<QString>("message");
        auto noExport = [](const QString& library) {
            return QStringLiteral("无法找到指定DLL库文件“%1”中的输出命令“SkinH_AttachEx”")
                .arg(library);
        };
        QString missing = Path("nowhere/hrttp.dll");
        QString untrusted = Path("hrttp.dll");
        QTest::newRow("library lacks the function")
            << QStringLiteral(VELMORA_SKIN_WITHOUT_DETACH_PATH) << QString()
            << QStringLiteral("detach")
            << QStringLiteral("无法找到指定DLL库文件中的输出命令“SkinH_Detach”");
        QTest::newRow("library missing")
            << missing << QString() << QStringLiteral("attach") << noExport(missing);
        QTest::newRow("library writable by its group")
            << untrusted << QStringLiteral("mode 0775") << QStringLiteral("attach")
            << noExport(untrusted);
        QTest::newRow("library writable by others")
            << untrusted << QStringLiteral("mode 0757") << QStringLiteral("attach")
            << noExport(untrusted);
        QTest::newRow("a link to the library") << untrusted << QStringLiteral("link")
                                               << QStringLiteral("attach") << noExport(untrusted);
        QTest::newRow("another user's library") << untrusted << QStringLiteral("another user")
                                                << QStringLiteral("attach") << noExport(untrusted);
        QTest::newRow("a fatal error on another thread")
            << QString() << QString() << QStringLiteral("thread")
            << QStringLiteral("不能求余数于零");
    }

    // The report is a plain box with the default caption, on the window's thread, and the
    // program then ends with -1.
    void aFatalConditionEndsTheProgramWithTheReport() {
        QFETCH(QString, library);
        QFETCH(QString, making);
        QFETCH(QString, call);
        QFETCH(QString, message);
        const QString working = QStringLiteral(VELMORA_SKIN_ENGINE_PATH);
        const QByteArray file = QFile::encodeName(library);
        if (making == QLatin1String("link")) QVERIFY(QFile::link(working, library));
        if (making.startsWith(QLatin1String("mode"))) {
            QVERIFY(QFile::copy(working, library));
            QCOMPARE(::chmod(file.constData(), making.mid(5).toUInt(nullptr, 8)), 0);
        }
        if (making == QLatin1String("another user")) {
            if (::geteuid() != 0) QSKIP("making another user's file needs root");
            QVERIFY(QFile::copy(working, library));
            QCOMPARE(::chmod(file.constData(), 0755), 0);
            QCOMPARE(::chown(file.constData(), 65534, 65534), 0);
        }
        QProcess child;
        child.start(QStringLiteral(VELMORA_FATAL_REPORT_PATH), {call, library});
        QVERIFY(child.waitForFinished(60000));
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 255);
        QString report = QString::fromStdString(
            SystemToUtf8(FatalErrorText(Utf8ToSystem(message.toStdString()))));
        QCOMPARE(QString::fromUtf8(child.readAllStandardOutput()),
                 QStringLiteral("信息：\n0x0\nwindow thread\n") + report);
    }

    void theWorkingLibraryIsCalledWithoutAReport() {
        QProcess child;
        child.start(QStringLiteral(VELMORA_FATAL_REPORT_PATH),
                    {QStringLiteral("detach"), QStringLiteral(VELMORA_SKIN_ENGINE_PATH)});
        QVERIFY(child.waitForFinished(60000));
        QCOMPARE(child.exitCode(), 0);
        QCOMPARE(child.readAllStandardOutput(), QByteArray());
    }
};

QTEST_MAIN(SkinEngineTest)
#include "SkinEngineTest.moc"
