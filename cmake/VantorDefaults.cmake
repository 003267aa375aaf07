# Compiler settings shared by every target of the project.
#
# vantor_defaults(<target>) turns on the project's warnings, the sanitizers
# when VANTOR_SANITIZE is on, and the Windows character-set macros.
#
# Warnings are errors for the project's own builds through CMake's switch
# CMAKE_COMPILE_WARNING_AS_ERROR, which the dev, windows and fuzz presets set
# (and so the test scripts). A plain configuration, or a packager's, leaves it
# off, so a newer compiler's new warning never stops a build; on the command
# line, --compile-no-warning-as-error turns it off again.

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
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow)
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()
