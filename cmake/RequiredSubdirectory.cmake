# SPDX-License-Identifier: GPL-3.0-or-later
# tunelark_required_subdirectory(<dir>): add_subdirectory for a folder the
# build cannot do without. A folder lost in a merge or a partial checkout
# stops the configuration instead of leaving its programs or tests out
# without a word.
function(tunelark_required_subdirectory dir)
  if(NOT EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
    message(FATAL_ERROR "${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt is missing")
  endif()
  add_subdirectory(${dir})
endfunction()
