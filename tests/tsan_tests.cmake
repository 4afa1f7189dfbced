# The concurrency tests of the ThreadSanitizer flavour (scripts/build.sh
# tsan, which configures with VEMLA_TSAN=ON): there the library, the test
# server and these tests all compile with -fsanitize=thread, since
# ThreadSanitizer cannot share a build with AddressSanitizer.
#
# vemla_add_tsan_test(name test_sources...): one test executable, linked
# against the library's static core and the test server's.
function(vemla_add_tsan_test name)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE vemla_core vemla_test_server_core GTest::gtest GTest::gtest_main)
  vemla_add_warnings(${name})
  gtest_discover_tests(${name} TEST_PREFIX "tsan." DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 300
    ENVIRONMENT "TSAN_OPTIONS=halt_on_error=1 suppressions=${CMAKE_CURRENT_SOURCE_DIR}/tsan.supp")
endfunction()

vemla_add_tsan_test(tests_active_object_tsan common/active_object_test.cpp)
vemla_add_tsan_test(tests_connection_state_tsan basecall_service/client_connection_state_concurrency_test.cpp)
vemla_add_tsan_test(tests_engine_tsan basecall_service/engine_concurrency_test.cpp vemla/client_concurrency_test.cpp)
