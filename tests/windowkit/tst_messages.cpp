#include "windowkit/MessageBoxes.h"
#include "windowkit/Messages.h"

#include <QLabel>
#include <QMessageBox>

#include <QTest>

class MessagesTest : public QObject {
    Q_OBJECT
private slots:
    void exceptionTextAddsFullStopOnlyAfterLaterCharacters_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        QTest::newRow("letter") << "abc"
                                << "abc.";
        QTest::newRow("full stop") << "abc."
                                   << "abc.";
        QTest::newRow("exclamation") << "abc!"
                                     << "abc!";
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("digit") << "code 5"
                               << "code 5.";
        QTest::newRow("closing bracket") << "(x)"
                                         << "(x)";
        QTest::newRow("accented") << "ação"
                                  << "ação.";
    }
    void exceptionTextAddsFullStopOnlyAfterLaterCharacters() {
        QFETCH(QString, message);
        QFETCH(QString, shown);
        QCOMPARE(Messages::exceptionText(message), shown);
    }

    void eachFormCarriesItsTitle() {
        Messages::Recorder recorder;
        Messages::plainMessage(QStringLiteral("<b>1</b>"));
        Messages::warningBox(QStringLiteral("b"));
        Messages::openErrorBox(QStringLiteral("c"));
        Messages::showException(QStringLiteral("d"));
        using F = Messages::Form;
        const QList<Messages::Recorder::Entry> expected{
            {F::Plain, QStringLiteral("Tellumo"), QStringLiteral("<b>1</b>")},
            {F::Warning, QStringLiteral("ATENÇÃO"), QStringLiteral("b")},
            {F::OpenError, QString(), QStringLiteral("c")},
            {F::Exception, QStringLiteral("Tellumo"), QStringLiteral("d.")},
        };
        QCOMPARE(recorder.entries, expected);
        const QMessageBox::Icon icons[] = {QMessageBox::NoIcon, QMessageBox::Warning,
                                           QMessageBox::NoIcon, QMessageBox::Critical};
        for (int i = 0; i < expected.size(); ++i) {
            const auto& [form, title, text] = expected[i];
            const auto box = MessageBoxSink::box(form, title, text);
            QCOMPARE(box->windowTitle(), title);
            QCOMPARE(box->icon(), icons[i]);
            QCOMPARE(box->text(), text);
            QCOMPARE(box->textFormat(), Qt::PlainText);
        }
    }

    // A short reply still shows its title in a window manager's title bar,
    // and no sentence of a long message is broken over two lines.
    void aBoxShowsItsTitleAndBreaksNoLine_data() {
        QTest::addColumn<int>("form");
        QTest::addColumn<QString>("text");
        QTest::newRow("status reply") << int(Messages::Form::Plain) << "PLF110VN";
        QTest::newRow("in use") << int(Messages::Form::Warning)
                                << "Erro ao Conectar na Serial - Outro aplicativo já está "
                                   "utilizando esta porta";
        QTest::newRow("no permission")
            << int(Messages::Form::Warning)
            << "Erro ao Conectar na Serial\n/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-"
               "if00-port0: sem permissão para o usuário joao.\nAdicione-o ao grupo dialout com o "
               "comando: sudo adduser joao dialout\nA entrada no grupo só vale depois de sair e "
               "entrar de novo na sessão.";
    }
    void aBoxShowsItsTitleAndBreaksNoLine() {
        QFETCH(int, form);
        QFETCH(QString, text);
        const QString title = form == int(Messages::Form::Plain) ? "Tellumo" : "ATENÇÃO";
        const auto box = MessageBoxSink::box(Messages::Form(form), title, text);
        box->show();
        QVERIFY(QTest::qWaitForWindowExposed(box.get()));
        QFont titleFont = box->font();
        titleFont.setBold(true);
        QVERIFY2(box->width() >= QFontMetrics(titleFont).horizontalAdvance(title) + 120,
                 qPrintable(QString::number(box->width())));
        auto* label = box->findChild<QLabel*>("qt_msgbox_label");
        QVERIFY(label);
        for (const QString& line : text.split('\n'))
            QVERIFY2(label->contentsRect().width() >= label->fontMetrics().horizontalAdvance(line),
                     qPrintable(line));
    }

    void recorderRestoresThePreviousSink() {
        Messages::Recorder outer;
        {
            Messages::Recorder inner;
            Messages::plainMessage(QStringLiteral("inner"));
            QCOMPARE(inner.texts(), QStringList{QStringLiteral("inner")});
        }
        Messages::plainMessage(QStringLiteral("outer"));
        QCOMPARE(outer.texts(), QStringList{QStringLiteral("outer")});
    }
};

QTEST_MAIN(MessagesTest)
#include "tst_messages.moc"
