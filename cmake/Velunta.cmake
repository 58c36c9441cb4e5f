# Shared settings for Velunta's libraries, programs and tests.

# velunta_add_library(NAME SOURCES… [LIBS …]): a static library of one
# subsystem, with src/ as the include root.
function(velunta_add_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC "${PROJECT_SOURCE_DIR}/src")
    target_link_libraries(${name} PUBLIC Qt6::Core ${ARG_LIBS})
endfunction()

# velunta_add_test(NAME SOURCES… [LIBS …] [LABELS …] [TIMEOUT s] [GUI]): a GoogleTest
# program registered with CTest under its labels (unit, media, integration,
# e2e, slow); GUI gives it a QApplication instead of a QCoreApplication. Tests get a private XDG home so they never touch the user's.
function(velunta_add_test name)
    cmake_parse_arguments(ARG "GUI" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
    if(ARG_GUI)
        add_executable(${name} ${ARG_SOURCES} $<TARGET_OBJECTS:velunta_testmain_gui>)
        target_link_libraries(${name} PRIVATE Qt6::Widgets)
    else()
        add_executable(${name} ${ARG_SOURCES} $<TARGET_OBJECTS:velunta_testmain>)
    endif()
    target_include_directories(${name} PRIVATE "${PROJECT_SOURCE_DIR}/src" "${PROJECT_SOURCE_DIR}/tests")
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock velunta_testsupport)
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 300)
    endif()
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}" TIMEOUT ${ARG_TIMEOUT}
        ENVIRONMENT "VELUNTA_APP=${VELUNTA_CONTENTS_DIR}/MacOS/Velunta;VELUNTA_SOURCE_DIR=${PROJECT_SOURCE_DIR};VELUNTA_BUILD_DIR=${CMAKE_BINARY_DIR};ASAN_OPTIONS=detect_leaks=0")
endfunction()
