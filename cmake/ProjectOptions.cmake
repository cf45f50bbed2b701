# One INTERFACE target that every target links: language standard, warnings and
# the Qt strictness defines.
add_library(qdipc_options INTERFACE)
target_compile_features(qdipc_options INTERFACE cxx_std_20)
target_compile_options(qdipc_options INTERFACE
    $<$<CXX_COMPILER_ID:GNU,Clang>:-Wall -Wextra>
    $<$<CXX_COMPILER_ID:MSVC>:/W4 /utf-8>)
target_compile_definitions(qdipc_options INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_NO_CAST_TO_ASCII
    QT_NO_CAST_FROM_BYTEARRAY
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_NO_URL_CAST_FROM_STRING
    QT_STRICT_ITERATORS
    QT_USE_QSTRINGBUILDER)
target_include_directories(qdipc_options INTERFACE ${PROJECT_SOURCE_DIR})

if(QDIPC_SANITIZE)
    target_compile_options(qdipc_options INTERFACE
        -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(qdipc_options INTERFACE -fsanitize=address,undefined)
endif()

# A compiler cache, where one is installed, makes rebuilds of unchanged sources
# (other build folders, other work trees) nearly free.
find_program(QDIPC_CCACHE ccache)
if(QDIPC_CCACHE AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
    set(CMAKE_CXX_COMPILER_LAUNCHER ${QDIPC_CCACHE})
    set(CMAKE_C_COMPILER_LAUNCHER ${QDIPC_CCACHE})
endif()
