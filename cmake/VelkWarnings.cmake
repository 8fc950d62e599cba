# SPDX-License-Identifier: MIT
# Warning flags shared by every target of the project.
add_library(velk_warnings INTERFACE)
target_compile_options(velk_warnings INTERFACE -Wall -Wextra -Wpedantic
  $<$<BOOL:${VELK_WERROR}>:-Werror>)
