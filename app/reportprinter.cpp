#include "app/reportprinter.h"

#include <algorithm>

#include <QFont>
#include <QFontMetrics>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <QStringList>

#include "core/globals.h"
#include "core/kinds.h"
#include "core/text.h"

namespace qb {

namespace {
QString qs(const std::string& cp1252) { return QString::fromStdString(toUtf8(cp1252)); }

// Cuts a line of text into pieces no wider than width, at blanks where it can.
QStringList wrapToWidth(const QString& text, const QFontMetrics& fm, int width) {
    QStringList out;
    QString rest = text;
    // No piece holds more characters than this many of the narrowest.
    const int most = width / std::max(1, fm.horizontalAdvance(QLatin1Char('.'))) + 1;
    while (fm.horizontalAdvance(rest.left(most + 1)) > width) {
        // The longest start that fits, then back to its last blank.
        int lo = 1, hi = std::min(static_cast<int>(rest.size()), most);
        while (lo < hi) {
            const int mid = (lo + hi + 1) / 2;
            if (fm.horizontalAdvance(rest.left(mid)) <= width) lo = mid;
            else hi = mid - 1;
        }
        int cut = lo;
        const int blank = static_cast<int>(rest.lastIndexOf(QLatin1Char(' '), lo));
        if (blank > 0) cut = blank;
        out << rest.left(cut);
        rest = rest.mid(cut);
        if (rest.startsWith(QLatin1Char(' '))) rest.remove(0, 1);
    }
    out << rest;
    return out;
}
} // namespace

PagedReport::PagedReport(QPagedPaintDevice* device) : device_(device) {}
PagedReport::~PagedReport() {
    if (painter_ && painter_->isActive()) painter_->end();
}

bool PagedReport::begin(const std::string& title) {
    painter_ = std::make_unique<QPainter>();
    failed_ = false;
    if (!painter_->begin(device_)) {
        failed_ = true;
        return false;
    }
    width_ = device_->width();
    height_ = device_->height();
    QFont f(QStringLiteral("DejaVu Sans Mono"));
    f.setStyleHint(QFont::Monospace);
    f.setPointSize(9);
    painter_->setFont(f);
    lineHeight_ = painter_->fontMetrics().lineSpacing();
    pages_ = 1;
    y_ = 0;
    QFont big = f;
    big.setPointSize(14);
    big.setBold(true);
    painter_->setFont(big);
    const int titleHeight = painter_->fontMetrics().lineSpacing();
    painter_->drawText(QRect(0, 0, width_, titleHeight), Qt::AlignHCenter | Qt::AlignTop, qs(title));
    painter_->setFont(f);
    y_ = titleHeight + lineHeight_;
    return true;
}

void PagedReport::newPage() {
    if (!device_->newPage()) failed_ = true;
    ++pages_;
    y_ = 0;
}

void PagedReport::line(const QString& text, bool bold) {
    QFont f = painter_->font();
    f.setBold(bold);
    painter_->setFont(f);
    for (const QString& piece : wrapToWidth(text, painter_->fontMetrics(), width_)) {
        if (y_ + lineHeight_ > height_) newPage();
        painter_->drawText(0, y_ + painter_->fontMetrics().ascent(), piece);
        y_ += lineHeight_;
    }
}

bool PagedReport::add(const ReportEntry& e) {
    if (!painter_ || !painter_->isActive() || failed_) return false;
    // A message starts on a new page when its fields would not fit.
    if (y_ + 7 * lineHeight_ > height_) newPage();
    line(QStringLiteral("Number:  ") + qs(e.number), true);
    line(QStringLiteral("Date:    ") + qs(e.date));
    line(QStringLiteral("Subject: ") + qs(e.subject), true);
    line(QStringLiteral("From:    ") + qs(e.from));
    line(QStringLiteral("To:      ") + qs(e.to));
    line(QString());
    QString text = qs(e.text);
    text.remove(QLatin1Char('\r'));
    while (text.endsWith(QLatin1Char('\n'))) text.chop(1);
    for (const QString& l : text.split(QLatin1Char('\n'))) line(QString(l).replace(QLatin1Char('\t'), QStringLiteral("    ")));
    line(QString());
    if (y_ + lineHeight_ <= height_) {
        painter_->drawLine(0, y_ - lineHeight_ / 2, width_, y_ - lineHeight_ / 2);
    }
    return !failed_;
}

bool PagedReport::end() {
    if (!painter_) return false;
    const bool ok = painter_->isActive() && painter_->end() && !failed_;
    painter_.reset();
    return ok;
}

long long printScope(ReportSink& sink, const PrintRequest& r) {
    setReportSink(&sink);
    uint8_t more = PrintMsg(1, r.scope, 1, r.messageId, r.fromDate, r.toDate, r.flags);
    while (more) more = PrintMsg(1, r.scope, 2, r.messageId, r.fromDate, r.toDate, r.flags);
    PrintMsg(1, r.scope, 3, r.messageId, r.fromDate, r.toDate, r.flags);
    setReportSink(nullptr);
    return printStatus().failed ? -1 : static_cast<long long>(printStatus().count);
}

long long printToPdf(const std::string& path, const PrintRequest& r) {
    QPdfWriter pdf(QString::fromStdString(path));
    pdf.setResolution(300);
    pdf.setPageSize(QPageSize(QPageSize::A4));
    pdf.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
    pdf.setTitle(qs(reportTitle(Mem.ForumType == KindMail)));
    PagedReport report(&pdf);
    return printScope(report, r);
}

} // namespace qb
