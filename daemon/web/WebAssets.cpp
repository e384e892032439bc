// SPDX-License-Identifier: GPL-3.0-or-later
#include "WebAssets.h"

const WebAsset *tunelark_web_asset(std::string_view path) {
    for (const WebAsset &asset : tunelark_web_assets()) {
        if (asset.path == path)
            return &asset;
    }
    return nullptr;
}
