# Compiler warnings and sanitizers, applied per target to the project's own code only.

set(NORVANE_WARNINGS
    -Wall -Wextra -Wpedantic -Wconversion -Wsign-conversion -Wshadow -Wformat=2
    -Wnon-virtual-dtor -Woverloaded-virtual -Wimplicit-fallthrough)

# norvane_target_defaults(<target>): warnings and sanitizer flags for one of our targets.
function(norvane_target_defaults target)
    target_compile_options(${target} PRIVATE
        $<$<COMPILE_LANGUAGE:CXX>:${NORVANE_WARNINGS}>
        $<$<COMPILE_LANGUAGE:C>:-Wall -Wextra>)
    if(NORVANE_WARNINGS_AS_ERRORS)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()

# Sanitizers apply to every target of the build (they must agree across a link).
if(NORVANE_SANITIZE)
    set(_san "")
    foreach(s IN LISTS NORVANE_SANITIZE)
        list(APPEND _san "-fsanitize=${s}")
    endforeach()
    add_compile_options(${_san} -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(${_san})
endif()

# Fuzz builds instrument all of the driver's code for coverage; the fuzz programs link libFuzzer.
if(NORVANE_BUILD_FUZZ)
    add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()
