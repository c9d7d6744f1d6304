#include "core/exception.hpp"

#include "core/constants.hpp"
#include "core/scope_guard.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace core = zav::libs::core;

namespace {

// A location whose file is shown as "/src/a.cpp", whatever the source tree.
core::source_location at_line(long _line)
{
    static const std::string file = core::constants::source_directory + "/src/a.cpp";
    return core::source_location(_line, file, "void zav::a()");
}

}  // namespace

TEST(ExceptionTest, TextsNameFileLineAndMessage)
{
    const core::check_failed_exception check("x > 0", at_line(7));
    EXPECT_STREQ(check.what(), "/src/a.cpp:7 check failed: x > 0");
    EXPECT_EQ(check.get_string_error(), "check failed: x > 0");

    const core::exception plain("Cannot connect", at_line(42));
    EXPECT_STREQ(plain.what(), "/src/a.cpp:42 Cannot connect");
    EXPECT_EQ(core::exception_to_string(plain), "/src/a.cpp:42 Cannot connect");

    const core::located_exception bare(at_line(3));
    EXPECT_STREQ(bare.what(), "/src/a.cpp:3") << "no trailing blank";

    // what() reflects the most derived describe() even through the base.
    const core::located_exception& as_base = plain;
    EXPECT_STREQ(as_base.what(), "/src/a.cpp:42 Cannot connect");
}

TEST(ExceptionTest, CheckThrowsWithTheExpressionText)
{
    const std::vector<int> empty;
    EXPECT_NO_THROW(CORE_CHECK(1 + 1 == 2));
    try {
        CORE_CHECK(empty.size());
        FAIL() << "a zero size must fail the check";
    } catch (const core::check_failed_exception& e) {
        EXPECT_EQ(e.get_string_error(), "check failed: empty.size()");
        EXPECT_EQ(e.get_source_location().short_file(), "/tests/unit/core/exception_test.cpp");
        EXPECT_EQ(e.get_source_location().line(), __LINE__ - 5);
    }
    int evaluations = 0;
    CORE_CHECK(++evaluations);
    EXPECT_EQ(evaluations, 1) << "the expression is evaluated once";
}

TEST(ExceptionTest, ScopeGuardRunsOnce)
{
    int runs = 0;
    {
        const core::scope_guard guard = core::make_scope_guard([&] { ++runs; });
        EXPECT_EQ(runs, 0);
    }
    EXPECT_EQ(runs, 1);

    core::scope_guard reset = core::make_scope_guard([&] { ++runs; });
    reset.reset();
    EXPECT_EQ(runs, 2);
    reset.reset();
    EXPECT_EQ(runs, 2) << "a null handle runs nothing";

    core::scope_guard moved_from = core::make_scope_guard([&] { ++runs; });
    core::scope_guard moved_to = std::move(moved_from);
    moved_from.reset();
    EXPECT_EQ(runs, 2);
    moved_to.reset();
    EXPECT_EQ(runs, 3);
}
