# The POP3 side of the email server: the line parsers and the message
# output rules as unit tests; the protocol driven by python's poplib, raw
# sockets and the real clients against the email_test_server harness.
vt_add_gtest(pop3_unit_tests
  ${CMAKE_CURRENT_LIST_DIR}/pop3_parse_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/pop3_message_rules_test.cpp)
target_link_libraries(pop3_unit_tests PRIVATE vantrel_email)

# The dialogue against the harness from store.cmake, which runs the email
# service on ports the system picks.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
foreach(script pop3_login_test pop3_commands_test pop3_clients_test)
  add_test(NAME ${script}
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/${script}.py $<TARGET_FILE:email_test_server>)
  set_tests_properties(${script} PROPERTIES TIMEOUT 300)
endforeach()
