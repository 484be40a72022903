# The POP3 side of the email server: the line parsers and the message
# output rules as unit tests; the protocol driven by python's poplib, raw
# sockets and the real clients against the email_test_server harness.
if(NOT TARGET vantrel_email)
  return()
endif()

vt_add_gtest(pop3_unit_tests
  ${CMAKE_CURRENT_LIST_DIR}/pop3_parse_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/pop3_message_rules_test.cpp)
target_link_libraries(pop3_unit_tests PRIVATE vantrel_email)
