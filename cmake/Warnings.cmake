# SPDX-License-Identifier: GPL-3.0-or-later
# The project's own code builds warning-free with g++ and clang++.
function(tunelark_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()
