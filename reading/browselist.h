// The rows a browse list holds: a window of consecutive rows of one view,
// read page by page in key order from its ends, never the whole table. The
// list window of the program shows these rows and moves the window as the
// user scrolls.
#pragma once
#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>
#include <vector>

#include "reading/browseview.h"

namespace qb {

struct BrowseRow {
    ViewRow row;          // the row of the view's table
    uint32_t id = 0;      // MAI:MAILID or MSG:MSGNUMBER
    bool found = false;   // the header row was read (always, but for links to messages gone)
    MailRec mail{};
    MsgNmbrRec msg{};
    std::vector<std::string> cols;  // display texts, Windows-1252
};

class BrowseList {
public:
    static constexpr size_t kMaxRows = 150;   // rows kept at most
    static constexpr size_t kPage = 50;       // rows read at a time

    explicit BrowseList(bool mail) : mail_(mail) {}
    bool mail() const { return mail_; }

    static std::vector<std::string> columnTitles(bool mail);

    // Starts the view at its first row.
    void setView(const ViewSpec& spec);
    const ViewSpec& spec() const { return spec_; }

    size_t size() const { return rows_.size(); }
    const BrowseRow& at(size_t i) const { return rows_[i]; }
    bool atStart() const { return atStart_; }
    bool atEnd() const { return atEnd_; }

    void toFirst();
    void toLast();
    // Reads up to n rows beyond the last (first) row; returns how many came.
    size_t fetchAfter(size_t n = kPage);
    size_t fetchBefore(size_t n = kPage);
    // The same in two steps, for a list view that must be told how many rows
    // come before they are added.
    std::vector<BrowseRow> readAfter(size_t n, bool& end);
    std::vector<BrowseRow> readBefore(size_t n, bool& start);  // in view order
    void appendRows(std::vector<BrowseRow>&& rows, bool end);
    void prependRows(std::vector<BrowseRow>&& rows, bool start);
    // Drops rows from the front or the back of the window.
    void dropFront(size_t n);
    void dropBack(size_t n);
    // Makes a window around the given row (kept in the middle where the view
    // has rows around it); returns its index in the window.
    size_t centreOn(const ViewRow& row);
    // Positions on the first row at or after the key values of rec (the last
    // row when there is none); returns its index in the window.
    size_t seek(const void* rec);
    // Brings the message with this ID into the window; its index, or -1 when
    // it is not in the view.
    long locateId(uint32_t id);
    // Re-reads the rows of the window (after a status change).
    void refresh();

    // The record count of the header table.
    int64_t headerCount() const;

private:
    BrowseRow makeRow(const ViewRow& r);
    std::string personText(uint32_t id);
    std::string headingText(uint32_t threadId, const Str<10>& alpha);

    bool mail_;
    ViewSpec spec_;
    ViewCursor cursor_;
    std::deque<BrowseRow> rows_;
    bool atStart_ = true, atEnd_ = true;
    std::unordered_map<uint32_t, std::string> persons_, headings_;
};

} // namespace qb
