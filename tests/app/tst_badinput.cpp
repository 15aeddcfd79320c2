// Bad input through the real windows: ports mapped to things that are no
// port, and what an operator may type or paste into the setting dialogs'
// entries. Each gives the connection's error or the command's documented
// bytes, and nothing else changes or goes anywhere.
#include "app/Application.h"
#include "app/Forms.h"
#include "app/LinkWiring.h"
#include "commands/Form11.h"
#include "commands/Form15.h"
#include "commands/Form8.h"
#include "connection/Disconnect.h"
#include "connection/FarEnd.h"
#include "connection/Form3.h"
#include "connection/Form9.h"
#include "link/LinkState.h"
#include "link/Primitives.h"
#include "windowkit/Messages.h"

#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Entry = Messages::Recorder::Entry;

const QString SerialError =
    QStringLiteral("Erro ao Conectar na Serial - Outro aplicativo já está utilizando esta porta");
const QString ParallelError = QStringLiteral("Não foi possível abrir o driver da porta paralela");

// A pseudo-terminal that another program holds, as a serial program holds
// its port: locked, and in the tty's exclusive mode.
class HeldTerminal {
public:
    HeldTerminal() {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
            qFatal("no pseudo-terminal");
        char name[128];
        ::ptsname_r(master_, name, sizeof name);
        path = QString::fromLocal8Bit(name);
        terminal_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (terminal_ < 0 || ::flock(terminal_, LOCK_EX | LOCK_NB) != 0 ||
            ::ioctl(terminal_, TIOCEXCL) != 0)
            qFatal("cannot hold the terminal");
    }
    ~HeldTerminal() {
        ::close(terminal_);
        ::close(master_);
    }
    // Whether anything was written to the terminal.
    bool written() const {
        pollfd p{master_, POLLIN, 0};
        return ::poll(&p, 1, 20) > 0 && (p.revents & POLLIN);
    }
    QString path;

private:
    int master_ = -1;
    int terminal_ = -1;
};

// Types text as a keyboard would, one character (code point) per key.
// "[0176]" is Alt held while 0, 1, 7, 6 are pressed on the keypad.
void typeAltCode(QLineEdit* edit, QStringView digits) {
    const auto send = [edit](QEvent::Type type, int key, Qt::KeyboardModifiers modifiers,
                             const QString& text = {}) {
        QKeyEvent event(type, key, modifiers, text);
        QApplication::sendEvent(edit, &event);
    };
    send(QEvent::KeyPress, Qt::Key_Alt, Qt::AltModifier);
    for (const QChar d : digits) {
        const int key = Qt::Key_0 + d.digitValue();
        send(QEvent::KeyPress, key, Qt::AltModifier | Qt::KeypadModifier, d);
        send(QEvent::KeyRelease, key, Qt::AltModifier | Qt::KeypadModifier, d);
    }
    send(QEvent::KeyRelease, Qt::Key_Alt, Qt::NoModifier);
}

void type(QLineEdit* edit, const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'[') {
            const qsizetype end = text.indexOf(u']', i);
            typeAltCode(edit, QStringView(text).sliced(i + 1, end - i - 1));
            i = end;
            continue;
        }
        const qsizetype n = text[i].isHighSurrogate() ? 2 : 1;
        QKeyEvent key(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, text.mid(i, n));
        QApplication::sendEvent(edit, &key);
        i += n - 1;
    }
}

} // namespace

class BadInputTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    std::unique_ptr<FarEnd> farEnd;
    LinkSleep::Sleeper previousSleeper;

private slots:
    void initTestCase() {
        QVERIFY(dir.isValid());
        previousSleeper = LinkSleep::setSleeper([](int) {});
    }
    void cleanupTestCase() { LinkSleep::setSleeper(previousSleeper); }
    void init() {
        LinkState = TLinkState{};
        farEnd = std::make_unique<FarEnd>();
    }
    void cleanup() {
        disconnectBoth();
        for (QWidget* dialog : std::initializer_list<QWidget*>{Form8, Form11, Form15})
            dialog->hide();
        farEnd.reset();
        LinkState = TLinkState{};
    }

    void aPortMappedToWhatIsNoPortFailsAndTouchesNothing_data() {
        QTest::addColumn<bool>("parallel");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("cause"); // the box's second line, after the device
        const QString notSerial = QStringLiteral("não é um terminal serial");
        const QString notParallel = QStringLiteral("não é uma porta paralela");
        const QString missing = QStringLiteral("dispositivo não encontrado");
        const QList<std::pair<const char*, QStringList>> targets{
            {"a regular file", {notSerial, notParallel}},
            {"a directory", {notSerial, notParallel}},
            {"a FIFO", {notSerial, notParallel}},
            {"a missing path", {missing, missing}},
            {"a terminal another program holds",
             {QStringLiteral("em uso por outro programa"), notParallel}},
        };
        for (const bool parallel : {false, true})
            for (const auto& [target, causes] : targets)
                QTest::addRow("%s mapped to %s", parallel ? "LPT1" : "COM2", target)
                    << parallel << QString(target) << causes[parallel];
    }
    void aPortMappedToWhatIsNoPortFailsAndTouchesNothing() {
        QFETCH(bool, parallel);
        QFETCH(QString, target);
        QFETCH(QString, cause);
        const QString file = dir.filePath(QStringLiteral("recibo.txt"));
        const QByteArray contents("conteúdo\n");
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write(contents) == contents.size());
        out.close();
        const QDateTime modified = QFileInfo(file).lastModified();
        HeldTerminal terminal;
        const QString fifo = dir.filePath(QStringLiteral("fila"));
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0 || errno == EEXIST);
        const QString device = target == "a regular file"   ? file
                               : target == "a directory"    ? dir.path()
                               : target == "a FIFO"         ? fifo
                               : target == "a missing path" ? dir.filePath(QStringLiteral("nada"))
                                                            : terminal.path;
        // What is no device is not even opened.
        const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        QVERIFY(watch >= 0);
        const auto closeWatch = qScopeGuard([watch] { ::close(watch); });
        if (target != "a missing path" && target != "a terminal another program holds")
            QVERIFY(::inotify_add_watch(watch, QFile::encodeName(device).constData(), IN_OPEN) >=
                    0);
        PortMap::map(QStringLiteral("COM2"), device);
        LptMap::map(QStringLiteral("LPT1"), device);
        LptMap::map(QStringLiteral("LPT2"), dir.filePath(QStringLiteral("nada")));

        // Only a holder keeps the serial box's "another program" line.
        QString text = parallel                   ? ParallelError
                       : cause.contains("em uso") ? SerialError
                       : cause.isEmpty()          ? SerialError
                                                  : QStringLiteral("Erro ao Conectar na Serial");
        if (!cause.isEmpty())
            text += '\n' + device + QStringLiteral(": ") + cause;
        Messages::Recorder recorder;
        (parallel ? Form9->BitBtn1 : Form3->BitBtn2)->click();
        QCOMPARE(recorder.entries, (QList<Entry>{{Messages::Form::Warning, "ATENÇÃO", text}}));
        QVERIFY(!LinkState.SerialConnected && !LinkState.ParallelConnected);
        QVERIFY(!terminal.written());
        char event[sizeof(inotify_event) + NAME_MAX + 1];
        QCOMPARE(::read(watch, event, sizeof event), ssize_t(-1));
        QFile in(file);
        QVERIFY(in.open(QIODevice::ReadOnly));
        QCOMPARE(in.readAll(), contents);
        QCOMPARE(QFileInfo(file).lastModified(), modified);
    }

    // Typed with the keyboard or pasted, an entry holds what its limit lets
    // in; what it holds goes out by the dialog's rule.
    void entriesTakeWhatTheirLimitAllows_data() {
        QTest::addColumn<QWidget*>("dialog");
        QTest::addColumn<bool>("pasted");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("sent"); // in hexadecimal
        struct Row {
            const char* name;
            QWidget* dialog;
            bool pasted;
            QString text;
            QByteArray sent;
        };
        const QByteArray forty = QByteArray("78 ").repeated(40);
        const Row rows[] = {
            {"page size, blanks", Form11, false, "  ", "1b 64 1e"},
            {"page size, blank and digit", Form11, false, " 7", "1b 64 07"},
            {"page size, plus sign", Form11, false, "+7", "1b 64 07"},
            {"page size, pasted 123", Form11, true, "123", "1b 64 0c"},
            {"page size, Arabic-Indic three", Form11, false, QStringLiteral("٣"), "1b 64 1e"},
            {"line feeds, blanks", Form15, false, "  ", "1b 61 00"},
            {"line feeds, minus five", Form15, false, "-5", "1b 61 fb"},
            {"line feeds, pasted 300", Form15, true, "300", "1b 61 1e"},
            {"line feeds, full-width digits", Form15, true, QStringLiteral("１２"), "1b 61 00"},
            {"authentication, blanks", Form8, false, "   ", "1b 63 00 20 20 20 0a"},
            {"authentication, Alt and keypad codes", Form8, false, "[0176][65]x[300][066][0]",
             "1b 63 00 b0 41 78 42 20 0a"},
            {"line feeds, Alt and keypad code", Form15, false, "[055]", "1b 61 07"},
            {"authentication, outside the code page", Form8, false, QStringLiteral("€ Привет 😀"),
             "1b 63 00 80 20 3f 3f 3f 3f 3f 3f 20 3f 0a"},
            {"authentication, pasted beyond 40", Form8, true, QString(50, u'x'),
             "1b 63 00 " + forty + "0a"},
            {"authentication, pasted with line breaks and ESC", Form8, true,
             QStringLiteral("Pago\r\nhoje\x1b@"),
             "1b 63 00 50 61 67 6f 20 20 68 6f 6a 65 20 40 0a"},
        };
        for (const Row& row : rows)
            QTest::newRow(row.name)
                << row.dialog << row.pasted << row.text << QByteArray::fromHex(row.sent);
    }
    void entriesTakeWhatTheirLimitAllows() {
        QFETCH(QWidget*, dialog);
        QFETCH(bool, pasted);
        QFETCH(QString, text);
        QFETCH(QByteArray, sent);
        Messages::Recorder quiet;
        Form9->BitBtn1->click();
        farEnd->received.clear();
        auto* form = static_cast<TSettingForm*>(dialog);
        form->showForm();
        auto* edit = form->findChild<QLineEdit*>(QStringLiteral("Edit1"));
        edit->clear();
        if (pasted) {
            QGuiApplication::clipboard()->setText(text);
            edit->paste();
        } else {
            type(edit, text);
        }
        form->BitBtn1->click();
        QVERIFY(quiet.entries.isEmpty());
        QCOMPARE(farEnd->received, sent);
    }
};

int main(int argc, char* argv[]) {
    TApplication app(argc, argv);
    createForms();
    wireLinkDevices();
    BadInputTest test;
    const int result = QTest::qExec(&test, argc, argv);
    unwireLinkDevices();
    destroyForms();
    return result;
}

#include "tst_badinput.moc"
