// The inputs that the fuzzers once found faults with, run again through the
// same targets: each must be read to its end without a crash or an exception.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "core/access.h"
#include "core/globals.h"
#include "core/tables.h"
#include "core/ui.h"
#include "fuzz/targets.h"

namespace fs = std::filesystem;

namespace {

TEST(FuzzRegressions, SavedReproducersRunThroughTheirTargets) {
    const fs::path root = fs::path(QB_SOURCE_DIR) / "tests" / "data" / "fuzz";
    ASSERT_TRUE(fs::is_directory(root));
    int files = 0;
    for (const auto& dir : fs::directory_iterator(root)) {
        if (!dir.is_directory()) continue;
        const qb::fuzz::Target* t = qb::fuzz::findTarget(dir.path().filename().string());
        ASSERT_NE(t, nullptr) << "no fuzz target named " << dir.path().filename();
        for (const auto& f : fs::directory_iterator(dir.path())) {
            std::ifstream in(f.path(), std::ios::binary);
            const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            SCOPED_TRACE(f.path().string());
            EXPECT_NO_THROW(t->run(reinterpret_cast<const uint8_t*>(data.data()), data.size()));
            ++files;
        }
    }
    // The targets work in a home of their own; leave nothing of it open.
    for (qb::Table* t : qb::allTables()) qb::OP_CLOSE(qb::OpForceClose, t->number());
    qb::Mem = qb::MemGlobals{};
    qb::setUi(nullptr);
    EXPECT_GT(files, 0);
}

} // namespace
