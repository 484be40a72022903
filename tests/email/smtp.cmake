# The SMTP side of the email server: the command parsers and the end-of-data
# scanner as unit tests; the protocol, real clients and hostile input
# against the email_test_server harness on loopback.
if(NOT TARGET vantrel_email)
  return()
endif()

vt_add_gtest(smtp_unit_tests
  ${CMAKE_CURRENT_LIST_DIR}/smtp_parse_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/end_of_data_scanner_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/message_file_test.cpp)
target_link_libraries(smtp_unit_tests PRIVATE vantrel_email)
