#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

class PaperArchive;

// tellumo-printer's web page, drawn on the server: it reads the same with
// scripts off (the paper as pictures, the panel as text), and its script
// only swaps in the same fragments, fresh, and adds the new lines.
namespace WebPage {

// The paper is shown at this many screen pixels per dot, whole pixels so
// that every dot stays square.
inline constexpr int Zoom = 2;

// What the page shows besides the paper: the printer's `state`, and the
// last events, oldest first.
struct View {
    QJsonObject state;
    QStringList events;
    qint64 version = 0;
};

QByteArray page(const View& view, const PaperArchive& paper);
// The lamps, the settings, the buffer, the clients and the last events.
QString panel(const View& view);
// The torn-off receipts, newest first, with their pages and text.
QString receipts(const PaperArchive& paper);
// What the page's script needs to follow the roll, and the fragments.
QByteArray update(const View& view, const PaperArchive& paper);

} // namespace WebPage
