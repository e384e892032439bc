// SPDX-License-Identifier: GPL-3.0-or-later
// The chip information block on standard output.
#include <array>
#include <cstdio>

#include "Si468x.h"

namespace {

// GET_SYS_STATE image codes.
constexpr std::array<const char *, 8> IMAGE_NAMES{
    "Bootloader", "FMHD", "DAB",        "TDMB or data only DAB",
    "FMHD Demod", "AMHD", "AMHD Demod", "DAB Demod",
};

const char *Si468x_image_name(uint8_t image) {
    return image < IMAGE_NAMES.size() ? IMAGE_NAMES[image] : "unknown";
}

} // namespace

void Si468x_print_chip_info(const Si468x_ChipInfo *info) {
    std::printf("Chip info ---------------------------- \n");
    std::printf("%-44s%u\n", "Chip Mask Revision:", info->chip_rev);
    std::printf("%-44s%u\n", "ROM ID:", info->rom_id);
    std::printf("%-44s%u\n", "Part Number:", info->part);
    std::printf("%-44s%s\n",
                "Firmware image running the sysstate CMD:", Si468x_image_name(info->image));
    std::printf("%-44s%u.%u.%u\n", "Revision number:", info->rev_ext, info->rev_branch,
                info->rev_int);
    std::printf("%-44s%u\n", "No SVN info:", info->no_svn);
    std::printf("%-44s%u\n", "Mixed revisions:", info->mixed_rev);
    std::printf("%-44s%u\n", "Local modifications:", info->local_mod);
    std::printf("%-44s%u\n", "Build location:", info->location);
    std::printf("%-44s%lu\n", "SVN ID:", static_cast<unsigned long>(info->svn_id));
}
