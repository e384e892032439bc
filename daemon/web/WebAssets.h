// SPDX-License-Identifier: GPL-3.0-or-later
// The web remote's files, embedded in the service's binary so that the page
// needs nothing but the radio on a LAN with no internet.
//
// Paths as the browser asks for them:
//   /                       the remote (index.html), for a paired browser
//   /pairing.html           how to pair: what `/` shows without a valid cookie
//   /app.css, /app.js       the remote's style and script (also used by the pairing page)
//   /manifest.webmanifest   for "add to home screen"
//   /icon.svg, /icon-192.png, /icon-512.png
// None holds a secret: the service may serve every one without a cookie.
#pragma once

#include <span>
#include <string_view>

struct WebAsset {
    std::string_view path;
    std::string_view content_type;
    std::string_view body;
};

// The asset served at `path` (query already removed), nullptr for unknown.
const WebAsset *tunelark_web_asset(std::string_view path);

// Every asset, for listings and tests.
std::span<const WebAsset> tunelark_web_assets();
