// SPDX-License-Identifier: GPL-3.0-or-later
// `tunelarkd --pair`: the pairing addresses and a QR code a phone's camera
// opens.
#pragma once

#include <string>
#include <vector>

#include "Options.h"

namespace tunelark {

// http://<host>:<port>/pair?token=... for each listening address; a wildcard
// address stands for each of the machine's own addresses of its family.
std::vector<std::string> pairing_urls(const std::vector<ListenAddress> &listen,
                                      const std::string &token);
// The text as a QR code of half blocks, two modules a character row; empty
// when it cannot be encoded.
std::string qr_code_text(const std::string &text);

} // namespace tunelark
