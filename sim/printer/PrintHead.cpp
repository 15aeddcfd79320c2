#include "sim/printer/PrintHead.h"

void PrintHead::print(const PrintQueue::Job& job, qint64 now) {
    using Job = PrintQueue::Job;
    if (job.kind == Job::Kind::Drawer) {
        drawerOpen_ = true;
        drawerClosesAt_ = now + DrawerOpenMs;
        ++drawerOpenings_;
        note(PrinterLogEntry::Kind::Event, job.line.note, QStringLiteral("drawer-open"));
        putOnPaper(job.line);
        return;
    }
    const bool marker = job.kind == Job::Kind::Line && job.line.kind == PaperLine::Kind::Marker;
    if (paperOut_ && !marker) {
        if (!lossWarned_)
            note(PrinterLogEntry::Kind::Warning,
                 QStringLiteral("Sem papel e sensor desligado: impressão perdida"),
                 QStringLiteral("paper-out-loss"));
        lossWarned_ = true;
        return;
    }
    if (job.kind == Job::Kind::Feed) {
        PaperLine blank;
        blank.columnsPerLine = job.line.columnsPerLine;
        putOnPaper(std::move(blank));
        return;
    }
    if (marker && job.line.note == QStringLiteral("Fim de página"))
        note(PrinterLogEntry::Kind::Event, job.line.note, QStringLiteral("page-end"));
    putOnPaper(job.line);
}

void PrintHead::follow(qint64 now) {
    if (drawerOpen_ && now >= drawerClosesAt_) {
        drawerOpen_ = false;
        note(PrinterLogEntry::Kind::Command, QStringLiteral("Gaveta fechada"),
             QStringLiteral("drawer-closed"));
    }
}

void PrintHead::setPaperOut(bool out) {
    paperOut_ = out;
    lossWarned_ = false;
}

void PrintHead::putOnPaper(PaperLine line) {
    paper_.append(std::move(line));
    emit printed(paper_.lines().last());
}

void PrintHead::note(PrinterLogEntry::Kind kind, const QString& text, const QString& name) {
    emit logged(PrinterLogEntry{0, kind, {}, text, name, {}});
}
