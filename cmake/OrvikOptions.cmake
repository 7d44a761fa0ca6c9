# Warnings and sanitizers shared by every target of the project.
function(orvik_apply_options target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  if(ORVIK_SANITIZE STREQUAL "address")
    target_compile_options(${target} PUBLIC -fsanitize=address,undefined -fno-omit-frame-pointer
                                              -fno-sanitize-recover=undefined)
    target_link_options(${target} PUBLIC -fsanitize=address,undefined)
  elseif(ORVIK_SANITIZE STREQUAL "thread")
    target_compile_options(${target} PUBLIC -fsanitize=thread -fno-omit-frame-pointer)
    target_link_options(${target} PUBLIC -fsanitize=thread)
  elseif(NOT ORVIK_SANITIZE STREQUAL "")
    message(FATAL_ERROR "ORVIK_SANITIZE must be empty, 'address' or 'thread'")
  endif()
endfunction()
