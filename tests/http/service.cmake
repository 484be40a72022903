# The web server's service side: unit tests of routing, responses, the
# request parser and the site configuration; a stand-alone server for the
# real-client tests and the benchmarks; the real-client tests themselves.
add_executable(http_test_server ${CMAKE_CURRENT_LIST_DIR}/http_test_server.cpp)
target_compile_options(http_test_server PRIVATE ${VT_WARNINGS})
target_link_libraries(http_test_server PRIVATE vantrel_http vt_test_server_loop)

vt_add_gtest(http_service_tests
  ${CMAKE_CURRENT_LIST_DIR}/http_request_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/http_response_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/http_route_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/http_service_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/http_session_test.cpp
)
target_link_libraries(http_service_tests PRIVATE vantrel_http)

# Real clients (curl, http.client, urllib, headless Chromium) against the
# stand-alone server on 127.0.0.1.
add_test(NAME http_clients
         COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/http_clients_test.py $<TARGET_FILE:http_test_server>)
add_test(NAME http_confinement
         COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/http_confinement_test.py $<TARGET_FILE:http_test_server>)
add_test(NAME http_browser
         COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/http_browser_test.py $<TARGET_FILE:http_test_server>)
# Responses that must arrive whole although the client sent more than the head.
add_test(NAME http_close
         COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/http_close_test.py $<TARGET_FILE:http_test_server>)
# System calls per small request, counted under strace: a guard, not a timing.
add_test(NAME http_syscalls
         COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/http_syscalls_test.py $<TARGET_FILE:http_test_server>)
set_tests_properties(http_clients http_confinement http_browser http_close http_syscalls PROPERTIES TIMEOUT 300)
# The count means something only for the release build; LeakSanitizer
# cannot run under strace.
set_tests_properties(http_syscalls PROPERTIES LABELS syscalls)
set_tests_properties(http_browser PROPERTIES SKIP_RETURN_CODE 77)
