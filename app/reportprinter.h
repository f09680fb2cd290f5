// The printed report of messages: draws what PrintMsg hands over on a
// printer or into a PDF file, a title on the first page, each message with
// its fields and its text, long texts carried over to the next pages.
#pragma once
#include <memory>
#include <string>

#include "app/gui.h"
#include "reading/export.h"

#include <QString>

class QPagedPaintDevice;
class QPainter;
class QPrinter;

namespace qb {

class PagedReport : public ReportSink {
public:
    // The device must outlive the report (a QPrinter, or a QPdfWriter).
    explicit PagedReport(QPagedPaintDevice* device);
    ~PagedReport() override;
    bool begin(const std::string& title) override;
    bool add(const ReportEntry& entry) override;
    bool end() override;
    int pages() const { return pages_; }

private:
    void line(const QString& text, bool bold = false);
    void newPage();
    QPagedPaintDevice* device_;
    std::unique_ptr<QPainter> painter_;
    int y_ = 0, height_ = 0, width_ = 0, lineHeight_ = 0;
    int pages_ = 0;
    bool failed_ = false;
};

// Runs PrintMsg over the scope into the report; the number of messages
// printed, or -1 when printing failed. progress is called after each batch.
long long printScope(ReportSink& sink, const PrintRequest& r);

// Writes the report into a PDF file; -1 on failure.
long long printToPdf(const std::string& path, const PrintRequest& r);

} // namespace qb
