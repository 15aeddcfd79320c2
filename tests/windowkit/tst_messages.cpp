#include "windowkit/MessageBoxes.h"
#include "windowkit/Messages.h"

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
