// tellumo-printer's web page in a real browser (web_check.py drives it): live
// paper, the panel's buttons reaching a pyserial client's CTS, refusals; here,
// besides, the browser's pictures of the paper against the --png pages of the
// same bytes, and the paper in the page's screenshot.
#include "sim/paper/PaperPages.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

class PrinterWebTest : public QObject {
    Q_OBJECT

private slots:
    void thePageInABrowser() {
        QTemporaryDir folder;
        // A receipt of every kind of line, and enough lines for a full page
        // and one being printed.
        QProcess script;
        script.start(QStringLiteral("bash"), {QStringLiteral(TELLUMO_SOURCE "/docs/receipt.sh")});
        QVERIFY(script.waitForFinished(10000));
        QByteArray receipt = script.readAllStandardOutput();
        for (int i = 1; i <= 130; ++i)
            receipt += "Linha " + QByteArray::number(i) + " do recibo\n";
        QFile bytes(folder.filePath(QStringLiteral("receipt.bin")));
        QVERIFY(bytes.open(QIODevice::WriteOnly) && bytes.write(receipt + "RECIBO WEB 4711\n"));
        bytes.close();

        const QString png = folder.filePath(QStringLiteral("receipt.png"));
        QProcess printer;
        printer.start(QStringLiteral(TELLUMO_PRINTER),
                      {"--speed", "0", "--http", "0", "--rfc2217", "0", "--png", png, "--control",
                       folder.filePath(QStringLiteral("control"))});
        const QRegularExpression ports(
            QStringLiteral("RFC 2217 em (\\S+),.*\\n.*Página web em http://(\\S+)/"));
        QString said;
        QRegularExpressionMatch found;
        while (!(found = ports.match(said)).hasMatch() && printer.waitForReadyRead(20000))
            said += QString::fromUtf8(printer.readAllStandardOutput());
        QVERIFY2(found.hasMatch(), qPrintable(said));

        QProcess check;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HTTP"), found.captured(2));
        environment.insert(QStringLiteral("RFC2217"), found.captured(1));
        environment.insert(QStringLiteral("FOLDER"), folder.path());
        check.setProcessEnvironment(environment);
        check.setProcessChannelMode(QProcess::MergedChannels);
        check.start(QStringLiteral("/usr/bin/python3"),
                    {QStringLiteral(TELLUMO_SOURCE "/tests/sim/web_check.py")});
        QVERIFY(check.waitForFinished(120000));
        if (check.exitCode() == 77)
            QSKIP("no chromium-headless-shell: scripts/test installs it");
        QVERIFY2(check.exitCode() == 0, check.readAll().constData());

        ::kill(pid_t(printer.processId()), SIGTERM);
        QVERIFY(printer.waitForFinished(20000));
        QCOMPARE(printer.exitStatus(), QProcess::NormalExit);
        QCOMPARE(printer.exitCode(), 0);

        const QString saved = folder.filePath(QStringLiteral("saved-receipt.png"));
        QVERIFY(QFileInfo::exists(PaperPages::pagePath(saved, 2)));
        int page = 1;
        for (; QFileInfo::exists(PaperPages::pagePath(saved, page)); ++page) {
            const QImage shown(folder.filePath(QStringLiteral("web-%1.png").arg(page)));
            QVERIFY2(!shown.isNull(), qPrintable(QStringLiteral("page %1 not shown").arg(page)));
            QCOMPARE(
                shown.convertToFormat(QImage::Format_RGB32),
                QImage(PaperPages::pagePath(saved, page)).convertToFormat(QImage::Format_RGB32));
        }
        QVERIFY(!QFileInfo::exists(folder.filePath(QStringLiteral("web-%1.png").arg(page))));

        // The paper on the screen: paper-white and dot-black inside its box.
        QFile boxFile(folder.filePath(QStringLiteral("paper-box.json")));
        QVERIFY(boxFile.open(QIODevice::ReadOnly));
        const QJsonArray box = QJsonDocument::fromJson(boxFile.readAll()).array();
        const QImage shot(folder.filePath(QStringLiteral("screenshot.png")));
        const QRect paper = QRect(box[0].toInt(), box[1].toInt(), box[2].toInt(), box[3].toInt())
                                .intersected(shot.rect());
        QVERIFY2(paper.width() > 400 && paper.height() > 200, qPrintable(boxFile.fileName()));
        int white = 0, black = 0;
        for (int y = paper.top(); y <= paper.bottom(); ++y)
            for (int x = paper.left(); x <= paper.right(); ++x) {
                const QRgb pixel = shot.pixel(x, y);
                white += pixel == qRgb(255, 255, 255);
                black += pixel == qRgb(0, 0, 0);
            }
        QVERIFY(black > 1000 && white > 10 * black);
    }
};

QTEST_GUILESS_MAIN(PrinterWebTest)
#include "tst_printerweb.moc"
