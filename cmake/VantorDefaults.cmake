# Compiler settings shared by every target of the project.
#
# vantor_defaults(<target>) turns on the project's warnings (as errors), the
# sanitizers when VANTOR_SANITIZE is on, and the Windows character-set macros.

if(VANTOR_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

if(WIN32)
  add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
  # One self-contained .exe: no libstdc++, libgcc or winpthread DLLs beside it.
  add_link_options(-static -static-libgcc -static-libstdc++)
endif()

function(vantor_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Werror)
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()
