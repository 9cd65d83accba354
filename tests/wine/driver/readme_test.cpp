// The README shows the Windows example the tests build and run; the two
// must not drift apart.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "wine_session.h"

namespace {

std::string read_text(const std::string& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

TEST(Readme, ShowsTheImportLibraryExampleAsBuilt) {
    std::string example = read_text(wine_paths().source_dir + "/examples/windows/by_import.c");
    size_t body = example.find("#include <stdio.h>");
    ASSERT_NE(body, std::string::npos);
    // As an indented block: every line four spaces in, blank lines bare.
    std::string block;
    std::istringstream lines(example.substr(body));
    for (std::string line; std::getline(lines, line);) block += (line.empty() ? "" : "    " + line) + "\n";
    std::string readme = read_text(wine_paths().source_dir + "/README.md");
    EXPECT_NE(readme.find(block), std::string::npos) << "README.md lacks:\n" << block;
}

}  // namespace
