// SPDX-License-Identifier: GPL-3.0-or-later
// The embedded remote as the browser gets it: every file the pages ask for is
// in the binary, byte for byte the file in the source tree, and nothing in
// them needs what the service's Content-Security-Policy forbids ("default-src
// 'self'": no inline script or style, no other origin).
#include "WebAssets.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>

namespace {

std::string source_file(const std::string &name) {
    std::ifstream in(std::string(TUNELARK_SOURCE_DIR) + "/daemon/web/" + name, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::string body(std::string_view path) {
    const WebAsset *asset = tunelark_web_asset(path);
    return asset ? std::string(asset->body) : std::string();
}

std::vector<std::string> matches(const std::string &text, const std::regex &pattern) {
    std::vector<std::string> found;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), pattern);
         it != std::sregex_iterator(); ++it)
        found.push_back((*it)[1]);
    return found;
}

TEST(WebAssets, EachPathServesItsSourceFileWhole) {
    const std::pair<const char *, const char *> files[] = {
        {"/", "index.html"},
        {"/pairing.html", "pairing.html"},
        {"/app.js", "app.js"},
        {"/app.css", "app.css"},
        {"/manifest.webmanifest", "manifest.webmanifest"},
        {"/icon.svg", "icon.svg"},
        {"/icon-512.png", "icon-512.png"},
    };
    for (const auto &[path, file] : files) {
        std::string expected = source_file(file);
        ASSERT_FALSE(expected.empty()) << file;
        EXPECT_EQ(body(path), expected) << path;
    }
    EXPECT_EQ(tunelark_web_asset("/index.html"), nullptr);
    EXPECT_EQ(tunelark_web_asset("/app.js/"), nullptr);
}

TEST(WebAssets, EveryReferenceOfThePagesAndTheManifestIsEmbeddedWithItsType) {
    const std::regex attribute(R"re(\b(?:src|href)="([^"]*)")re");
    const std::regex manifest_icon(R"re("src":\s*"([^"]*)")re");
    std::vector<std::string> references = matches(body("/manifest.webmanifest"), manifest_icon);
    for (const char *page : {"/", "/pairing.html"}) {
        for (const std::string &ref : matches(body(page), attribute))
            references.push_back(ref);
    }
    ASSERT_GE(references.size(), 10u);
    for (const std::string &ref : references) {
        const WebAsset *asset = tunelark_web_asset(ref);
        ASSERT_NE(asset, nullptr) << ref;
        std::string ext = ref.substr(ref.rfind('.') + 1);
        std::string type(asset->content_type);
        EXPECT_TRUE((ext == "js" && type == "text/javascript; charset=utf-8") ||
                    (ext == "css" && type == "text/css; charset=utf-8") ||
                    (ext == "svg" && type == "image/svg+xml") ||
                    (ext == "png" && type == "image/png") ||
                    (ext == "webmanifest" && type == "application/manifest+json"))
            << ref << " served as " << type;
    }
}

TEST(WebAssets, NothingNeedsInlineCodeAnotherOriginOrMarkupFromData) {
    for (const char *page : {"/", "/pairing.html"}) {
        std::string html = body(page);
        EXPECT_FALSE(std::regex_search(
            html, std::regex(R"(<style|\sstyle=|\son[a-z]+=|javascript:)", std::regex::icase)))
            << page;
        for (const std::string &script : matches(html, std::regex(R"(<script([^>]*)>)")))
            EXPECT_NE(script.find("src=\"/"), std::string::npos) << page << ": inline script";
    }
    std::string js = body("/app.js"), css = body("/app.css");
    EXPECT_EQ(css.find("url("), std::string::npos);
    for (const char *banned : {"http:", "https:", "eval(", "new Function", "innerHTML", "outerHTML",
                               "insertAdjacentHTML", "document.write", ".style."}) {
        EXPECT_EQ(js.find(banned), std::string::npos) << "app.js uses " << banned;
    }
}

} // namespace
