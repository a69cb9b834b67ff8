# Warnings and sanitizers for every target of the project.
function(pixhold_warnings target)
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    return()
  endif()
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow=local
                                           -Wnon-virtual-dtor -Wcast-qual -Wformat=2)
  if(PIXHOLD_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

if(PIXHOLD_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
