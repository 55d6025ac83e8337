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

# norvane_add_layer(<folder> [SOURCES <files...>] [DEPENDS <folders...>])
# One library per folder of src/, named norvane_<folder>, linked to the folders below it that it
# may use. Its include root holds its own folder only (a link to it), so that a file including a
# folder its layer does not depend on fails to compile instead of passing review. A folder of
# headers only becomes an interface library.
function(norvane_add_layer folder)
    cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
    set(root ${PROJECT_BINARY_DIR}/layers/${folder})
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${folder} ${root}/${folder} SYMBOLIC)
    set(target norvane_${folder})
    list(TRANSFORM ARG_DEPENDS PREPEND norvane_)
    if(NOT ARG_SOURCES)
        add_library(${target} INTERFACE)
        target_include_directories(${target} INTERFACE ${root})
        target_link_libraries(${target} INTERFACE ${ARG_DEPENDS})
        return()
    endif()
    add_library(${target} STATIC ${ARG_SOURCES})
    target_include_directories(${target} PUBLIC ${root})
    target_link_libraries(${target} PUBLIC ${ARG_DEPENDS})
    # Linked into the plug-in module: position-independent, nothing exported by default.
    set_target_properties(${target} PROPERTIES
        POSITION_INDEPENDENT_CODE ON
        CXX_VISIBILITY_PRESET hidden
        VISIBILITY_INLINES_HIDDEN ON)
    norvane_target_defaults(${target})
endfunction()
