# The SMTP side of the email server: the command parsers, the end-of-data
# scanner and the hop count as unit tests; the protocol, real clients and
# hostile input against the email_test_server harness on loopback.
vt_add_gtest(smtp_unit_tests
  ${CMAKE_CURRENT_LIST_DIR}/smtp_parse_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/end_of_data_scanner_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/message_file_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/hop_count_test.cpp)
target_link_libraries(smtp_unit_tests PRIVATE vantrel_email)

# Local delivery and its log lines, on a mail directory in a scratch folder.
vt_add_gtest(smtp_delivery_unit_tests ${CMAKE_CURRENT_LIST_DIR}/smtp_delivery_unit_test.cpp)
target_link_libraries(smtp_delivery_unit_tests PRIVATE vantrel_email)

# The protocol against the harness: exact replies, what is stored, real
# clients, hostile input. A client program that is not installed skips.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
foreach(script smtp_dialogue_test smtp_delivery_test smtp_clients_test smtp_hostile_test)
  add_test(NAME ${script}
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/${script}.py $<TARGET_FILE:email_test_server>)
  set_tests_properties(${script} PROPERTIES TIMEOUT 300)
endforeach()
# Acknowledged mail through crashes, stops, a full disk (a tmpfs it
# mounts, so it runs as root or skips that case) and restarts.
add_test(NAME mail_durability_test
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/mail_durability_test.py $<TARGET_FILE:email_test_server>)
set_tests_properties(mail_durability_test PROPERTIES TIMEOUT 600)

# Mail over TLS: off, on with real clients, and required with the hostile
# cases, against the same harness.
add_test(NAME mail_tls_test
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/mail_tls_test.py $<TARGET_FILE:email_test_server>)
set_tests_properties(mail_tls_test PROPERTIES TIMEOUT 300)
