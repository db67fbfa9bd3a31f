# kelvrin_add_library(name folder SOURCES ... [DEPS ...] [PRIVATE_DEPS ...])
#   One static library per folder of src/; headers are included as "folder/file.h".
function(kelvrin_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  if(ARG_DEPS)
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  endif()
  if(ARG_PRIVATE_DEPS)
    target_link_libraries(${name} PRIVATE ${ARG_PRIVATE_DEPS})
  endif()
endfunction()

# kelvrin_add_test_suite(name SOURCES ... [DEPS ...] [LABELS ...] [TIMEOUT s])
#   A GoogleTest executable whose tests are registered one by one with CTest.
#   Every suite carries the label "core" unless LABELS says otherwise.
function(kelvrin_add_test_suite name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;DEPS;LABELS" ${ARGN})
  if(NOT ARG_LABELS)
    set(ARG_LABELS core)
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gmock GTest::gtest_main Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(${name} PRIVATE
    KELVRIN_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    KELVRIN_BINARY_DIR="${PROJECT_BINARY_DIR}")
  # gtest_discover_tests cannot pass a list as a property value, so the labels
  # are set by a CTest include script once the tests are known.
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    TEST_LIST ${name}_TESTS
    PROPERTIES TIMEOUT ${ARG_TIMEOUT})
  set(labels_script ${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake)
  file(WRITE ${labels_script}
    "foreach(t IN LISTS ${name}_TESTS)\n"
    "  set_tests_properties(\"\${t}\" PROPERTIES LABELS \"${ARG_LABELS}\")\n"
    "endforeach()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${labels_script})
endfunction()

# kelvrin_add_qt_test(name SOURCES ... [DEPS ...] [TIMEOUT s])
#   A QtTest executable registered with CTest as one test, labelled "gui".
#   It runs on the offscreen platform, so it needs no display.
function(kelvrin_add_qt_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;DEPS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} Qt6::Test)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(${name} PRIVATE
    KELVRIN_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    KELVRIN_BINARY_DIR="${PROJECT_BINARY_DIR}")
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    LABELS gui
    TIMEOUT ${ARG_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()
