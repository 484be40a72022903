# Message screening and notices: the scanner and the notice texts (pure
# units), the screening steps on message files, and the relay client
# against a fake relay host.
vt_add_gtest(email_screening_tests
  ${CMAKE_CURRENT_LIST_DIR}/message_scanner_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mail_notices_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/relay_dialogue_test.cpp
)
target_link_libraries(email_screening_tests PRIVATE vantrel_email)

# The screening steps on message files, against a live mail directory.
vt_add_gtest(email_message_screening_tests
  ${CMAKE_CURRENT_LIST_DIR}/message_screening_test.cpp
)
target_link_libraries(email_message_screening_tests PRIVATE vantrel_email)

# Relaying and screening end to end: the harness from store.cmake runs the
# service, the tests play the relay host and use python's mail clients.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
foreach(script relay_test screening_clients_test)
  add_test(NAME email_${script}
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/${script}.py $<TARGET_FILE:email_test_server>)
  set_tests_properties(email_${script} PROPERTIES TIMEOUT 300)
endforeach()
