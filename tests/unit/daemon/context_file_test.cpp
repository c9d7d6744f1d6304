#include "daemon/context_file.hpp"

#include "store/corrupt_state_file_error.hpp"

#include "support/failing_file_system.hpp"
#include "support/files.hpp"
#include "support/positions.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

using zav::test::ms;

namespace {

// The context both pinned files below hold.
zav::context_file::contexts pinned_contexts()
{
    const auto pinned = zav::test::pinned_positions();
    const auto& a = pinned[0];
    const auto& b = pinned[1];
    zav::context_file::contexts contexts;
    auto& context = contexts[zav::timestamp(ms(1714564801500))];
    context.not_processed_positions = {b};
    context.processed_positions = {a};
    context.processed_filtered_positions = {a};
    return contexts;
}

bool same(const zav::context_file::contexts& _a, const zav::context_file::contexts& _b)
{
    if (_a.size() != _b.size()) return false;
    for (auto i = _a.begin(), j = _b.begin(); i != _a.end(); ++i, ++j)
        if (i->first != j->first || i->second.not_processed_positions != j->second.not_processed_positions ||
            i->second.processed_positions != j->second.processed_positions ||
            i->second.processed_filtered_positions != j->second.processed_filtered_positions)
            return false;
    return true;
}

}  // namespace

TEST(ContextFileTest, ReadsTheBinaryRecordAndTheTextArchiveOfEarlierVersions)
{
    trackmend_test::temporary_directory dir("context");
    const auto path = (dir / "runner.bin").string();
    EXPECT_FALSE(zav::context_file::load(path)) << "a missing file is no error";

    auto contexts = pinned_contexts();
    contexts[zav::timestamp(ms(-3))];  // an empty context under a second key
    zav::context_file::save(path, contexts);
    const auto content = trackmend_test::read_file(path);
    EXPECT_EQ(content.substr(0, 4), "TMRC");
    EXPECT_EQ(content.substr(4, 4), std::string("\x02\0\0\0", 4)) << "version 2, with a checksum";
    EXPECT_EQ(content.substr(16, 4), std::string("\x02\0\0\0", 4)) << "two contexts";
    ASSERT_TRUE(zav::context_file::load(path));
    EXPECT_TRUE(same(*zav::context_file::load(path), contexts));

    // Version 1: the same body without length and checksum.
    trackmend_test::write_file(path,
                               std::string("TMRC\x01\0\0\0", 8) + content.substr(16, content.size() - 20));
    ASSERT_TRUE(zav::context_file::load(path));
    EXPECT_TRUE(same(*zav::context_file::load(path), contexts));

    trackmend_test::write_file(
        path,
        "22 serialization::archive 18 0 0 1 0 0 0 0 0 1714564801500 0 0 0 0 1 0 0 0 8 3 T 2 0 1 1 5 aa:bb "
        "1714564801500 0 1 0 0 1 3 0 1 1 p 0 1 0 1 0 7 2 T1 0 1714564800007 1 10 1 -5 0 1 1 A 0 1 0 1 0 7 2 "
        "T1 0 "
        "1714564800007 1 10 1 -5 0 1 1 A 0 1 0\n");
    ASSERT_TRUE(zav::context_file::load(path));
    EXPECT_TRUE(same(*zav::context_file::load(path), pinned_contexts()));

    // Damaged files stop the daemon and stay as they are. A context's x
    // changed still parses: only the checksum tells.
    std::string other_x = content;
    other_x[content.find(std::string("\x01\x0a\0\0\0", 5)) + 1] = 11;
    std::string unknown_version = content;
    unknown_version[4] = 3;
    for (const std::string& bad :
         {std::string("garbage"), content.substr(0, content.size() - 1), other_x, unknown_version}) {
        trackmend_test::write_file(path, bad);
        try {
            zav::context_file::load(path);
            ADD_FAILURE() << bad.size() << " bytes were read";
        } catch (const zav::corrupt_state_file_error& e) {
            EXPECT_NE(e.get_string_error().find("State file " + path), std::string::npos) << e.what();
            EXPECT_NE(e.get_string_error().find("carry-over context"), std::string::npos) << e.what();
        }
        EXPECT_EQ(trackmend_test::read_file(path), bad) << bad.size() << " bytes: not kept as they were";
    }
}

TEST(ContextFileTest, ContextsSavedFromTheirRecordsMakeTheSameFile)
{
    // The daemon saves each context from the record it encoded when it first
    // saved it; the file must not depend on that.
    trackmend_test::temporary_directory dir("context");
    auto contexts = pinned_contexts();
    contexts[zav::timestamp(ms(1714564799000))] = contexts.begin()->second;
    contexts[zav::timestamp(ms(1714564802000))];
    const auto from_contexts = (dir / "contexts.bin").string();
    zav::context_file::save(from_contexts, contexts);

    zav::context_file::records records;
    // Encoded out of key order, as the daemon does (the new context first).
    for (auto i = contexts.rbegin(); i != contexts.rend(); ++i)
        records.emplace(i->first, zav::context_file::encode(i->first, i->second));
    const auto from_records = (dir / "records.bin").string();
    zav::context_file::save(from_records, records);
    EXPECT_EQ(trackmend_test::read_file(from_records), trackmend_test::read_file(from_contexts));
    ASSERT_TRUE(zav::context_file::load(from_records));
    EXPECT_TRUE(same(*zav::context_file::load(from_records), contexts));
}

TEST(ContextFileTest, AFailedStepOfASaveKeepsThePreviousContextsWhole)
{
    trackmend_test::temporary_directory dir("context");
    const auto path = (dir / "runner.bin").string();
    const auto previous = pinned_contexts();
    zav::context_file::contexts next;
    next[zav::timestamp(ms(1714564900000))];
    using step = trackmend_test::failing_file_system::step;
    for (const step failing : {step::create, step::write, step::sync, step::close, step::rename}) {
        SCOPED_TRACE(trackmend_test::failing_file_system::name(failing));
        zav::context_file::save(path, previous);
        trackmend_test::failing_file_system disk(failing);
        EXPECT_ANY_THROW(zav::context_file::save(path, next, disk));
        const auto loaded = zav::context_file::load(path);
        ASSERT_TRUE(loaded);
        EXPECT_TRUE(same(*loaded, previous));
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1)
            << "no temporary file left";
    }
}
