#include "core/source_location.hpp"

#include "core/constants.hpp"

#include <gtest/gtest.h>

#include <string>

using zav::libs::core::source_location;

TEST(SourceLocationTest, ShortFunctionKeepsTheQualifiedName)
{
    const auto short_function = [](std::string_view _pretty) {
        return std::string(source_location(1, "f", _pretty).short_function());
    };
    EXPECT_EQ(short_function(
                  "static std::pair<std::vector<zav::position>, std::vector<zav::position> > "
                  "zav::positions_post_processor::cut_positions(zav::positions_post_processor::positions)"),
              "zav::positions_post_processor::cut_positions");
    EXPECT_EQ(short_function("void zav::libs::core::events_loop_impl::run()"),
              "zav::libs::core::events_loop_impl::run");
    EXPECT_EQ(short_function("void zav::a::b::c() const"), "zav::a::b::c");
    EXPECT_EQ(short_function("void zav::f<zav::T>(int)"), "zav::T>")
        << "the last zav:: before the parenthesis";
    EXPECT_EQ(short_function("main(int, char**)::<lambda()>"), "main(int, char**)::<lambda()>");
    EXPECT_EQ(short_function("int f"), "int f");
    EXPECT_EQ(short_function("f()"), "f()");
    EXPECT_EQ(short_function(""), "");
    // The search starts at most five characters before the end.
    EXPECT_EQ(short_function("zav::("), "zav::");

    // Test bodies live outside namespace zav: their names stay whole.
    const source_location here = CORE_SOURCE_LOCATION;
    EXPECT_EQ(here.short_function(), here.function());
}

TEST(SourceLocationTest, DirectoryPrefixIsRemovedByLength)
{
    const std::string& root = zav::libs::core::constants::source_directory;
    ASSERT_FALSE(root.empty());
    EXPECT_NE(root.back(), '/');
    EXPECT_EQ(source_location::remove_directory_prefix(root + "/src/a.cpp"), "/src/a.cpp");
    // The characters are not compared.
    EXPECT_EQ(source_location::remove_directory_prefix(std::string(root.size(), 'x') + "/b.cpp"), "/b.cpp");
    EXPECT_EQ(source_location::remove_directory_prefix(root.substr(0, root.size() - 1)), "");
    EXPECT_EQ(source_location::remove_directory_prefix(""), "");

    const source_location here = CORE_SOURCE_LOCATION;
    EXPECT_EQ(here.short_file(), "/tests/unit/core/source_location_test.cpp");
    EXPECT_EQ(here.line(), __LINE__ - 2);

    const source_location unknown;
    EXPECT_EQ(unknown.line(), 0);
    EXPECT_EQ(unknown.file(), "unknown file");
    EXPECT_EQ(unknown.function(), "unknown function");
}
