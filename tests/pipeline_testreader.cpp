#include "tests/pipeline_testreader.h"

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "core/dates.h"
#include "core/tables.h"
#include "import/parser.h"

namespace qb::test {

namespace {

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        size_t p = line.find('|', start);
        out.push_back(line.substr(start, p == std::string::npos ? std::string::npos : p - start));
        if (p == std::string::npos) break;
        start = p + 1;
    }
    return out;
}

int32_t date(const std::string& s) {
    if (s.size() != 10) return 0;
    return dayNumber(std::stoi(s.substr(0, 4)), std::stoi(s.substr(5, 2)), std::stoi(s.substr(8, 2)));
}

std::string text(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size() && s[i + 1] == 'n') {
            out += "\r\n";
            ++i;
        } else {
            out += s[i];
        }
    }
    return out;
}

class TestParser : public Parser {
public:
    ParseStatus begin(const std::string& path, ImportContext&) override {
        in_.open(path, std::ios::binary);
        std::string first;
        if (!in_ || !std::getline(in_, first)) {
            failText_ = path + " cannot be opened\r\nThis file will be skipped!";
            return ParseStatus::Failed;
        }
        if (!first.empty() && first.back() == '\r') first.pop_back();
        if (first != "#QBTEST") {
            failText_ = path + " is not a test file!\r\nThis file will be skipped!";
            return ParseStatus::NotThisReader;
        }
        return ParseStatus::More;
    }

    ParseStatus step(ImportContext& ctx, int batch) override {
        std::string line;
        for (int i = 0; i < batch; ++i) {
            if (!std::getline(in_, line)) return ParseStatus::Done;
            ctx.progress = static_cast<uint64_t>(in_.tellg());
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.empty()) continue;
            std::vector<std::string> f = fields(line);
            if (f[0] == "F" && f.size() == 13) forum(ctx, f);
            else if (f[0] == "M" && f.size() == 10) mail(ctx, f);
            else ctx.skip();
        }
        return ParseStatus::More;
    }

private:
    void forum(ImportContext& ctx, const std::vector<std::string>& f) {
        NewHR.clearBuffer();
        NHR.FOR_DESCRIPTION.set(f[1]);
        NHR.SECTIONNUMBER = static_cast<uint8_t>(std::stoi(f[2]));
        NHR.SEC_DESCRIPTION.set(f[3]);
        NHR.MSGNUMBER = static_cast<uint32_t>(std::stoul(f[4]));
        NHR.REFNUMBER = static_cast<uint32_t>(std::stoul(f[5]));
        NHR.HEADING.set(f[6]);
        NHR.S_NAME.set(f[7]);
        NHR.S_CISADRESS.set(f[8]);
        NHR.R_NAME.set(f[9]);
        NHR.R_CISADRESS.set(f[10]);
        NHR.DATE = date(f[11]);
        NHR.TIME = clockTime(12, 0, 0);
        NHR_MSGTEXT = text(f[12]);
        Route r = ctx.route(f[1], KindForum);
        ctx.store(KindForum, r);
    }

    void mail(ImportContext& ctx, const std::vector<std::string>& f) {
        NewHR.clearBuffer();
        uint32_t id = ctx.newId();
        NHR.MSGNUMBER = id;
        NHR.REFNUMBER = id;
        NHR.HEADING.set(f[1]);
        NHR.S_NAME.set(f[2]);
        NHR.S_CISADRESS.set(f[3]);
        NHR.R_NAME.set(f[4]);
        NHR.R_CISADRESS.set(f[5]);
        NHR.MAILTYPE = static_cast<uint8_t>(std::stoi(f[6]));
        NHR.DATE = date(f[7]);
        NHR.TIME = clockTime(9, 30, 0);
        NHR.RECIPTYPE.set("TO");
        NHR_MSGTEXT = text(f[9]);
        Route r = ctx.route("", KindMail);
        NHR.FOR_DESCRIPTION.set(ctx.target(r.id) ? ctx.target(r.id)->description : "");
        if (!ctx.store(KindMail, r)) return;
        size_t start = 0;
        const std::string& cc = f[8];
        while (start < cc.size()) {
            size_t p = cc.find(';', start);
            std::string one = cc.substr(start, p == std::string::npos ? std::string::npos : p - start);
            size_t eq = one.find('=');
            if (eq != std::string::npos) ctx.addCarbonCopy(id, one.substr(0, eq), one.substr(eq + 1), "CC");
            if (p == std::string::npos) break;
            start = p + 1;
        }
    }

    std::ifstream in_;
};

const bool registered = registerParser(TestReaderName, [] { return std::make_unique<TestParser>(); });

} // namespace

bool testReaderRegistered() { return registered; }

} // namespace qb::test
