// Command line and types table parsing.
#include <gtest/gtest.h>

#include "core/command_line.h"
#include "core/format.h"
#include "core/types_table.h"

using namespace carver;

namespace {

Command parse_ok(const std::vector<std::string>& args) {
    Command c;
    std::string err;
    EXPECT_TRUE(parse_command_line(args, c, err)) << err;
    return c;
}

std::string parse_err(const std::vector<std::string>& args) {
    Command c;
    std::string err;
    EXPECT_FALSE(parse_command_line(args, c, err));
    EXPECT_EQ(err.find('\n'), std::string::npos);
    return err;
}

TEST(CommandLine, AcceptsEveryFormOfTheOutputFolder) {
    const std::string sel = "fileopt,everything,disable,jpg,enable,png,enable,search";
    Command split = parse_ok({"/d", "/w s/temp", "/cmd", "/dev/sdb", sel});
    EXPECT_EQ(split.out_dir, "/w s/temp");
    EXPECT_EQ(split.device, "/dev/sdb");
    EXPECT_EQ(split.enabled, (std::set<std::string>{"jpg", "png"}));

    EXPECT_EQ(parse_ok({"/d", "\"/w s/temp\"", "/cmd", "/dev/sdb", sel}).out_dir, "/w s/temp");
    EXPECT_EQ(parse_ok({"/d", "\"/w", "s/temp\"", "/cmd", "/dev/sdb", sel}).out_dir, "/w s/temp");
    Command whole = parse_ok({"/d \"/w s/temp\" /cmd /dev/sdb " + sel});
    EXPECT_EQ(whole.out_dir, "/w s/temp");
    EXPECT_EQ(whole.device, "/dev/sdb");
    EXPECT_EQ(whole.enabled, split.enabled);
}

TEST(CommandLine, SelectionEnablesTheNamedKeys) {
    auto sel = [](const std::string& s) { return parse_ok({"/d", "o", "/cmd", "img", s}).enabled; };
    EXPECT_EQ(sel("fileopt,everything,enable,search").size(), 24u);
    for (const Format* f : all_formats())
        EXPECT_TRUE(sel("fileopt,everything,enable,search").count(std::string(f->key)));
    EXPECT_TRUE(sel("fileopt,everything,disable,search").empty());
    // Keys without a parser are accepted; they carve nothing.
    EXPECT_EQ(sel("fileopt,everything,disable,rar,enable,zip,enable,search"),
              (std::set<std::string>{"rar", "zip"}));
    EXPECT_EQ(sel("fileopt,everything,enable,jpg,disable,search").count("jpg"), 0u);
}

TEST(CommandLine, RejectsMalformedLinesWithAOneLineReason) {
    EXPECT_NE(parse_err({}).find("usage"), std::string::npos);
    parse_err({"/d", "o", "/cmd", "img"});
    parse_err({"/x", "o", "/cmd", "img", "fileopt,everything,enable,search"});
    parse_err({"/d", "o", "/cmd", "img", "fileopt,everything,enable,search", "extra"});
    parse_err({"/d", "\"\"", "/cmd", "img", "fileopt,everything,enable,search"});
    parse_err({"/d", "o", "/cmd", "img", "fileopt,everything,enable"});
    parse_err({"/d", "o", "/cmd", "img", "fileopt,everything,enable,jpg,search"});
    parse_err({"/d", "o", "/cmd", "img", "everything,enable,search"});
    parse_err({"/d", "o", "/cmd", "img", "fileopt,jpg,on,search"});
    parse_err({"/d", "o", "/cmd", "img", "fileopt,everything,disable,,enable,search"});
    EXPECT_NE(parse_err({"/d", "o", "/cmd", "img", "fileopt,everything,disable,heic,enable,search"})
                  .find("heic"),
              std::string::npos);
    parse_err({"/d", "o", "/cmd", "img", "fileopt,everything,disable,JPG,enable,search"});
}

TEST(TypesTable, ParsesEntriesAndRequiresEveryParser) {
    std::string text = "# comment\n";
    for (const Format* f : all_formats()) text += std::string(f->key) + "\t" + std::string(f->key) + " 1000\n";
    TypeTable t;
    std::string err;
    ASSERT_TRUE(t.parse(text + "txt txt 77  # trailing\n", err)) << err;
    ASSERT_NE(t.find("txt"), nullptr);
    EXPECT_EQ(t.find("txt")->max_size, 77u);
    EXPECT_EQ(t.find("jpg")->ext, "jpg");

    EXPECT_FALSE(t.parse("jpg jpg 100\n", err));  // other parsers missing
    EXPECT_NE(err.find("no entry"), std::string::npos);
    EXPECT_FALSE(t.parse(text + "bad line\n", err));
    EXPECT_FALSE(t.parse(text + "x x 0\n", err));
    EXPECT_FALSE(t.parse(text + "x x 12z\n", err));
    EXPECT_FALSE(t.parse(text + "x ../x 12\n", err));
    EXPECT_FALSE(t.load("/nonexistent/types.tsv", err));
}

}  // namespace
