#include "sim/serve/WebPage.h"

#include "sim/paper/PaperDots.h"
#include "sim/serve/PaperArchive.h"

#include <QJsonDocument>
#include <QLocale>

namespace {

// The text shown under the paper without scripts; the whole is a link away.
constexpr qint64 PageTextBytes = 256 * 1024;

QString escaped(const QString& text) {
    return text.toHtmlEscaped();
}

QString yesNo(bool on) {
    return on ? QStringLiteral("sim") : QStringLiteral("não");
}

QString lamp(const QString& name, const QJsonValue& on) {
    if (on.isUndefined())
        return QStringLiteral("<li class=\"lamp none\"><span>%1</span> (sem porta)</li>").arg(name);
    return QStringLiteral("<li class=\"lamp %1\"><span>%2</span> %3</li>")
        .arg(on.toBool() ? QStringLiteral("lit") : QStringLiteral("dark"), name,
             on.toBool() ? QStringLiteral("acesa") : QStringLiteral("apagada"));
}

QString row(const QString& name, const QString& value) {
    return QStringLiteral("<tr><th>%1</th><td>%2</td></tr>").arg(name, escaped(value));
}

QString client(const QJsonObject& state, const char* key, const QString& name) {
    const QJsonObject port = state[QLatin1String(key)].toObject();
    if (port.isEmpty())
        return {};
    const QJsonValue who = port[QLatin1String("client")];
    return row(QStringLiteral("%1 %2").arg(name, port[QLatin1String("address")].toString()),
               who.isNull() ? QStringLiteral("nenhum cliente") : who.toString());
}

QString paperImages(const PaperArchive& paper) {
    QString images;
    for (int page = 1; page <= paper.pages(); ++page)
        images += QStringLiteral("<img src=\"/rolls/%1/%2.png?v=%3\" width=\"%4\" "
                                 "alt=\"Papel, página %2\">")
                      .arg(paper.rollId())
                      .arg(page)
                      .arg(paper.lines())
                      .arg(PaperDots::width() * WebPage::Zoom);
    return images;
}

QString pageText(const PaperArchive& paper) {
    const qint64 from = std::max<qint64>(0, paper.textSize() - PageTextBytes);
    QString text = QString::fromUtf8(paper.text(paper.rollId(), from).value_or(QByteArray()));
    if (from > 0)
        text = QStringLiteral("[…]\n") + text.mid(text.indexOf(QLatin1Char('\n')) + 1);
    return escaped(text);
}

} // namespace

namespace WebPage {

QString panel(const View& view) {
    const QJsonObject& s = view.state;
    const QJsonObject buffer = s[QLatin1String("buffer")].toObject();
    const auto text = [&s](const char* key) {
        return s[QLatin1String(key)].toVariant().toString();
    };
    const auto flag = [&s](const char* key) { return yesNo(s[QLatin1String(key)].toBool()); };
    QString html =
        QStringLiteral("<ul class=\"lamps\">") +
        lamp(QStringLiteral("Pronta"), s[QLatin1String("ready")]) +
        lamp(QStringLiteral("Papel"), s[QLatin1String("paper")].toString() == QLatin1String("in")) +
        lamp(QStringLiteral("CTS (RFC 2217)"),
             s[QLatin1String("rfc2217")].toObject().value(QLatin1String("cts"))) +
        QStringLiteral("</ul><table class=\"settings\">");
    html += row(QStringLiteral("Modelo"), text("model")) +
            row(QStringLiteral("Off-line"), flag("offline")) +
            row(QStringLiteral("Velocidade (linhas/s)"), text("speed")) +
            row(QStringLiteral("Colunas"), text("columns")) +
            row(QStringLiteral("Impressão"), text("style")) +
            row(QStringLiteral("Linhas por página"), text("page")) +
            row(QStringLiteral("Sensor de papel"), flag("sensor")) +
            row(QStringLiteral("Teclado"), flag("keyboard")) +
            row(QStringLiteral("Sinal RTS"), text("rts")) +
            row(QStringLiteral("Modo dump"), flag("dump")) +
            row(QStringLiteral("Gaveta aberta"), flag("drawer")) +
            row(QStringLiteral("Linha"), text("line")) +
            row(QStringLiteral("Buffer"), QStringLiteral("%1 de %2 bytes, %3 perdidos")
                                              .arg(buffer[QLatin1String("fill")].toInt())
                                              .arg(buffer[QLatin1String("size")].toInt())
                                              .arg(buffer[QLatin1String("lost")].toInt()));
    const QJsonObject terminal = s[QLatin1String("terminal")].toObject();
    html += QStringLiteral("</table><table class=\"clients\">") +
            row(QStringLiteral("Terminal %1").arg(terminal[QLatin1String("path")].toString()),
                terminal[QLatin1String("open")].toBool() ? QStringLiteral("aberto")
                                                         : QStringLiteral("fechado")) +
            client(s, "listen", QStringLiteral("TCP")) +
            client(s, "rfc2217", QStringLiteral("RFC 2217")) + QStringLiteral("</table>");
    html += QStringLiteral("<h3>Últimos eventos</h3><ol class=\"events\">");
    for (const QString& event : view.events)
        html += QStringLiteral("<li>%1</li>").arg(escaped(event));
    return html + QStringLiteral("</ol>");
}

QString receipts(const PaperArchive& paper) {
    if (paper.receipts().isEmpty())
        return QStringLiteral("<p>Nenhum recibo destacado.</p>");
    QString html = QStringLiteral("<ol class=\"receipts\">");
    for (const PaperArchive::Receipt& receipt : paper.receipts()) {
        html += QStringLiteral("<li><time>%1</time> %2 linha(s):")
                    .arg(QLocale(QLocale::Portuguese, QLocale::Brazil)
                             .toString(receipt.torn, QStringLiteral("dd/MM/yyyy HH:mm:ss")))
                    .arg(receipt.lines);
        for (int page = 1; page <= receipt.pages; ++page)
            html += QStringLiteral(" <a href=\"/rolls/%1/%2.png\">PNG %2</a>")
                        .arg(receipt.id)
                        .arg(page);
        html += QStringLiteral(" <a href=\"/rolls/%1.txt\">texto</a></li>").arg(receipt.id);
    }
    return html + QStringLiteral("</ol>");
}

QByteArray update(const View& view, const PaperArchive& paper) {
    const QJsonObject roll{{QStringLiteral("id"), paper.rollId()},
                           {QStringLiteral("pages"), paper.pages()},
                           {QStringLiteral("lines"), paper.lines()},
                           {QStringLiteral("text"), paper.textSize()},
                           {QStringLiteral("unfinished"), paper.unfinishedText()}};
    return QJsonDocument(QJsonObject{{QStringLiteral("version"), view.version},
                                     {QStringLiteral("roll"), roll},
                                     {QStringLiteral("panel"), panel(view)},
                                     {QStringLiteral("receipts"), receipts(paper)}})
        .toJson(QJsonDocument::Compact);
}

QByteArray page(const View& view, const PaperArchive& paper) {
    QString html = QStringLiteral(
        "<!DOCTYPE html>\n<html lang=\"pt-BR\"><head><meta charset=\"utf-8\">"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
        "<title>Impressora virtual</title><link rel=\"stylesheet\" href=\"/style.css\">"
        "<script src=\"/app.js\" defer></script>"
        // Without scripts the page reloads itself, the newest line in view.
        "<noscript><meta http-equiv=\"refresh\" content=\"5; url=/#fim\"></noscript></head>");
    html += QStringLiteral("<body><main><section class=\"roll\">"
                           "<h1>Impressora virtual</h1><div id=\"paper\" class=\"paper\">%1"
                           "<span id=\"fim\"></span></div><h2>Texto do papel</h2>"
                           "<pre id=\"text\">%2</pre><p><a href=\"/paper.txt\">Texto completo"
                           "</a></p></section><section class=\"side\"><h2>Painel</h2>")
                .arg(paperImages(paper), pageText(paper));
    html += QStringLiteral("<form id=\"buttons\" method=\"post\" action=\"/command\">"
                           "<button name=\"do\" value=\"paper-out\">Sem papel</button>"
                           "<button name=\"do\" value=\"paper-in\">Com papel</button>"
                           "<button name=\"do\" value=\"offline-on\">Off-line</button>"
                           "<button name=\"do\" value=\"offline-off\">On-line</button>"
                           "<button name=\"do\" value=\"reset\">Reset</button>"
                           "<button name=\"do\" value=\"tear\">Destacar o papel</button></form>"
                           "<p id=\"message\" role=\"status\"></p>");
    html += QStringLiteral("<div id=\"panel\">%1</div><h2>Recibos destacados</h2>"
                           "<div id=\"receipts\">%2</div></section></main></body></html>\n")
                .arg(panel(view), receipts(paper));
    return html.toUtf8();
}

} // namespace WebPage
